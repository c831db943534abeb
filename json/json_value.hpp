// JSON values: the tree a parse produces and the reads the command handling
// makes on it.
//
// Ownership. Values are shared by reference counting (std::shared_ptr): the
// caller of a parse holds the root, every container holds its members, and a
// value is freed together with its table or array when the last reference
// goes. Arrays handed out by GetA share ownership of the value that holds
// them, so they stay valid even if the caller lets go of the root first.
//
// Text is UTF-16 throughout. "None" is an empty pointer, which is different
// from a value of kind stNull.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace marquo {

class JsonValue;
class JsonArray;
class JsonTable;
struct JsonTokenizer;

using JsonValuePtr = std::shared_ptr<JsonValue>;

enum class JsonType : std::uint8_t {
  stNull = 0,
  stBoolean = 1,
  stDouble = 2,
  stCurrency = 3, // signed 64-bit count of 1/10000 units
  stInt = 4,
  stObject = 5,
  stArray = 6,
  stString = 7,
};

// The enumeration name of a kind ("stNull" ... "stString"), for diagnostics.
std::string_view JsonTypeName(JsonType aType);

// The elements of an array value, in the order they were added. Elements are
// never absent; a JSON null is a value of kind stNull.
class JsonArray {
public:
  void Add(JsonValuePtr aValue);
  // The element at anIndex, or none when anIndex is negative or not below the
  // element count.
  JsonValuePtr GetO(std::int32_t anIndex) const;
  // The element's text form (JsonValue::AsString), or empty text when there is
  // no such element or it is null.
  std::u16string GetS(std::int32_t anIndex) const;
  std::int32_t Length() const { return static_cast<std::int32_t>(FArray.size()); }

private:
  friend class JsonValue;
  std::vector<JsonValuePtr> FArray;
};

// The members of an object value, keyed by name. Names compare by exact
// UTF-16 code units; putting a name twice replaces the first value. Members
// are enumerated in code-unit order of their names.
class JsonTable {
public:
  void PutO(const std::u16string &aName, JsonValuePtr aValue);
  JsonValuePtr GetO(const std::u16string &aName) const; // none when absent
  std::size_t Count() const { return FMembers.size(); }
  const std::map<std::u16string, JsonValuePtr> &Members() const { return FMembers; }

private:
  std::map<std::u16string, JsonValuePtr> FMembers;
};

class JsonValue {
  struct Private {}; // keeps construction to the factories below

public:
  JsonValue(Private, JsonType aType);
  JsonValue(const JsonValue &) = delete;
  JsonValue &operator=(const JsonValue &) = delete;
  ~JsonValue();

  static JsonValuePtr NewNull();
  static JsonValuePtr NewBoolean(bool aValue);
  static JsonValuePtr NewDouble(double aValue);
  static JsonValuePtr NewCurrency(std::int64_t aUnits); // 1/10000 units
  static JsonValuePtr NewInt(std::int64_t aValue);
  static JsonValuePtr NewObject(); // with an empty table
  static JsonValuePtr NewArray();  // with an empty array
  static JsonValuePtr NewString(std::u16string aText);

  // Parses aText with the lenient grammar. With aPartial on, text after a
  // complete top-level value is ignored; with it off, such text makes the
  // result none. With aReceiver set, the text is read as a member name to be
  // looked up in aReceiver (see GetO). None when the parse fails.
  static JsonValuePtr ParseString(std::u16string_view aText, bool aPartial,
                                  const JsonValue *aReceiver);
  // Runs the parse state machine over aText with a fresh tokenizer state.
  static JsonValuePtr ParseEx(JsonTokenizer &aTokenizer, std::u16string_view aText,
                              const JsonValue *aReceiver);

  JsonType DataType() const { return FDataType; }
  bool AsBoolean() const { return FO.c_boolean; }
  double AsDouble() const { return FO.c_double; }
  std::int64_t AsCurrency() const { return FO.c_currency; }
  std::int64_t AsInt() const { return FO.c_int; }
  JsonArray *AsArray() const { return FArray.get(); }  // none unless stArray
  JsonTable *AsObject() const { return FTable.get(); } // none unless stObject

  // Empty text for null, the text itself for a string, and the compact text
  // form for every other kind.
  std::u16string AsString() const;

  // The member named aName (a plain name such as "data"), or none when this
  // value is not an object or has no such member. The name is read like a
  // bare word, so a name that is exactly "null", "true" or "false" (or one of
  // them followed by digits) gives that literal's value, not a member.
  JsonValuePtr GetO(std::u16string_view aName) const;
  // The member named aName when it is an array, else none.
  std::shared_ptr<JsonArray> GetA(std::u16string_view aName) const;
  // The member named aName as text (AsString), or empty text when it is absent.
  std::u16string GetS(std::u16string_view aName) const;

private:
  void AppendText(std::u16string &aOut) const;

  JsonType FDataType;
  union {
    bool c_boolean;
    double c_double;
    std::int64_t c_currency;
    std::int64_t c_int;
  } FO{};
  std::unique_ptr<JsonTable> FTable; // c_object
  std::unique_ptr<JsonArray> FArray; // c_array
  std::u16string FOString;
  // Set while this value is being turned into text, so that a container that
  // (through editing, never through parsing) holds itself is written once
  // instead of recursing without end.
  mutable bool FProcessing = false;
};

// Parses aText leniently, ignoring whatever follows a complete value.
// None when the text is malformed.
JsonValuePtr ParseJson(std::u16string_view aText);

} // namespace marquo
