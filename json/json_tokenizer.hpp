// The state of one lenient JSON parse. Every parse (ParseJson, and each
// member lookup by name) starts with a fresh tokenizer and discards it when
// it returns; nothing carries over from one parse to the next.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "json/json_value.hpp"

namespace marquo {

enum class JsonParseState : std::uint8_t {
  tsEatws = 0,
  tsStart = 1,
  tsFinish = 2,
  tsNull = 3,
  tsCommentStart = 4,
  tsComment = 5,
  tsCommentEol = 6,
  tsCommentEnd = 7,
  tsString = 8,
  tsStringEscape = 9,
  tsIdentifier = 10,
  tsEscapeUnicode = 11,
  tsEscapeHexadecimal = 12,
  tsBoolean = 13,
  tsNumber = 14,
  tsArray = 15,
  tsArrayAdd = 16,
  tsArraySep = 17,
  tsObjectFieldStart = 18,
  tsObjectField = 19,
  tsObjectUnquotedField = 20,
  tsObjectFieldEnd = 21,
  tsObjectValue = 22,
  tsObjectValueAdd = 23,
  tsObjectSep = 24,
};

// Any code but teSuccess makes the parse give no value; the codes say why,
// for tests and debugging only.
enum class JsonParseError : std::uint8_t {
  teSuccess = 0,
  teDepth = 2,
  teParseEof = 3,
  teParseArray = 8,
  teParseObjectKeyName = 9,
  teParseObjectKeySep = 10,
  teParseObjectValueSep = 11,
  teParseString = 12,
  teParseComment = 13,
  // A member name with a path or index form ("a.b", "a[0]"): those are not
  // supported, and a lookup must not silently answer for a shorter name.
  teParseName = 14,
};

// The growable text a token is collected in.
class JsonTextBuffer {
public:
  void Clear() { FText.clear(); }
  void Append(char16_t aUnit) { FText.push_back(aUnit); }
  void RemoveLast() {
    if (!FText.empty())
      FText.pop_back();
  }
  // Removes trailing line feeds, carriage returns and spaces (not tabs).
  void RemoveTrailingBlanks() {
    while (!FText.empty() && (FText.back() == u'\n' || FText.back() == u'\r' ||
                              FText.back() == u' '))
      FText.pop_back();
  }
  const std::u16string &Text() const { return FText; }

private:
  std::u16string FText;
};

struct JsonParseLevel {
  JsonParseState state = JsonParseState::tsEatws;
  JsonParseState saved_state = JsonParseState::tsStart;
  JsonValuePtr current;
  std::u16string field_name;

  void Reset() {
    state = JsonParseState::tsEatws;
    saved_state = JsonParseState::tsStart;
    current.reset();
    field_name.clear();
  }
};

struct JsonTokenizer {
  static constexpr int kLevels = 32;

  JsonTextBuffer pb;
  int depth = 0; // index of the active level
  int is_double = 0;
  int floatcount = -1;
  int st_pos = 0;
  std::size_t char_offset = 0;
  JsonParseError err = JsonParseError::teSuccess;
  char16_t ucs_char = 0;
  char16_t quote_char = 0;
  std::array<JsonParseLevel, kLevels> stack;
  // The value a level has just completed, on its way to the enclosing
  // container; held by the parse itself rather than by a level.
  JsonValuePtr completed;
};

} // namespace marquo
