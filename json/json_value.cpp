#include "json/json_value.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace marquo {
namespace {

void AppendAscii(std::u16string &aOut, std::string_view aText) {
  for (char c : aText)
    aOut.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

void AppendInteger(std::u16string &aOut, std::int64_t aValue) {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, aValue);
  AppendAscii(aOut, std::string_view(buf, static_cast<std::size_t>(result.ptr - buf)));
}

// An amount of 1/10000 units, in decimal with at most four decimals and
// neither trailing zeros nor a trailing point: 15000 is "1.5", -2500 "-0.25".
void AppendCurrency(std::u16string &aOut, std::int64_t aUnits) {
  // The magnitude is taken unsigned so that the most negative amount has one.
  const std::uint64_t magnitude =
      aUnits < 0 ? 0 - static_cast<std::uint64_t>(aUnits) : static_cast<std::uint64_t>(aUnits);
  if (aUnits < 0)
    aOut.push_back(u'-');
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof buf, magnitude / 10000);
  AppendAscii(aOut, std::string_view(buf, static_cast<std::size_t>(result.ptr - buf)));
  std::uint64_t fraction = magnitude % 10000;
  if (fraction == 0)
    return;
  char digits[4];
  for (int i = 3; i >= 0; --i, fraction /= 10)
    digits[i] = static_cast<char>('0' + fraction % 10);
  std::size_t length = 4;
  while (digits[length - 1] == '0')
    --length;
  aOut.push_back(u'.');
  AppendAscii(aOut, std::string_view(digits, length));
}

// The general decimal form with 15 significant digits: fixed notation while
// the value has at most 15 digits before the point and is at least 0.00001
// in magnitude, otherwise a mantissa, "E" and the exponent (1E20, 1.5E-7).
void AppendDouble(std::u16string &aOut, double aValue) {
  if (std::isnan(aValue)) {
    AppendAscii(aOut, "NAN");
    return;
  }
  if (std::isinf(aValue)) {
    AppendAscii(aOut, aValue < 0 ? "-INF" : "INF");
    return;
  }
  // Zero is written without a sign: "-0" would read back as the integer 0,
  // whose text is "0".
  if (aValue == 0) {
    aOut.push_back(u'0');
    return;
  }
  // Scientific notation with 14 decimals gives exactly the 15 rounded
  // significant digits and the decimal exponent of the first one.
  char buf[40];
  const auto result =
      std::to_chars(buf, buf + sizeof buf, aValue, std::chars_format::scientific, 14);
  const std::string_view text(buf, static_cast<std::size_t>(result.ptr - buf));
  const std::size_t e = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e))
    if (c >= '0' && c <= '9')
      digits.push_back(c);
  int exponent = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  exponent);
  while (digits.size() > 1 && digits.back() == '0')
    digits.pop_back();

  if (aValue < 0)
    aOut.push_back(u'-');
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      AppendAscii(aOut, "0.");
      AppendAscii(aOut, std::string(static_cast<std::size_t>(-exponent - 1), '0'));
      AppendAscii(aOut, digits);
    } else {
      const auto whole = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= whole) {
        AppendAscii(aOut, digits);
        AppendAscii(aOut, std::string(whole - digits.size(), '0'));
      } else {
        AppendAscii(aOut, std::string_view(digits).substr(0, whole));
        aOut.push_back(u'.');
        AppendAscii(aOut, std::string_view(digits).substr(whole));
      }
    }
  } else {
    aOut.push_back(static_cast<char16_t>(digits[0]));
    if (digits.size() > 1) {
      aOut.push_back(u'.');
      AppendAscii(aOut, std::string_view(digits).substr(1));
    }
    aOut.push_back(u'E');
    AppendInteger(aOut, exponent);
  }
}

// A string inside a container: quoted, with U+0000, '"' and '\' escaped so
// that the text reads back as the same string; nothing else is changed.
void AppendQuoted(std::u16string &aOut, std::u16string_view aText) {
  aOut.push_back(u'"');
  for (char16_t unit : aText) {
    switch (unit) {
    case u'\0':
      aOut += u"\\u0000";
      break;
    case u'"':
      aOut += u"\\\"";
      break;
    case u'\\':
      aOut += u"\\\\";
      break;
    default:
      aOut.push_back(unit);
    }
  }
  aOut.push_back(u'"');
}

// Marks a container as being written for as long as it is.
class ProcessingGuard {
public:
  explicit ProcessingGuard(bool &aFlag) : FFlag(aFlag) { FFlag = true; }
  ~ProcessingGuard() { FFlag = false; }
  ProcessingGuard(const ProcessingGuard &) = delete;
  ProcessingGuard &operator=(const ProcessingGuard &) = delete;

private:
  bool &FFlag;
};

} // namespace

std::string_view JsonTypeName(JsonType aType) {
  switch (aType) {
  case JsonType::stNull:
    return "stNull";
  case JsonType::stBoolean:
    return "stBoolean";
  case JsonType::stDouble:
    return "stDouble";
  case JsonType::stCurrency:
    return "stCurrency";
  case JsonType::stInt:
    return "stInt";
  case JsonType::stObject:
    return "stObject";
  case JsonType::stArray:
    return "stArray";
  case JsonType::stString:
    return "stString";
  }
  return "?";
}

// ---- JsonArray -------------------------------------------------------------

void JsonArray::Add(JsonValuePtr aValue) {
  // An element is never absent; a missing value stands for a JSON null.
  FArray.push_back(aValue ? std::move(aValue) : JsonValue::NewNull());
}

JsonValuePtr JsonArray::GetO(std::int32_t anIndex) const {
  if (anIndex < 0 || anIndex >= Length())
    return nullptr;
  return FArray[static_cast<std::size_t>(anIndex)];
}

std::u16string JsonArray::GetS(std::int32_t anIndex) const {
  const JsonValuePtr element = GetO(anIndex);
  return element ? element->AsString() : std::u16string();
}

// ---- JsonTable -------------------------------------------------------------

void JsonTable::PutO(const std::u16string &aName, JsonValuePtr aValue) {
  FMembers.insert_or_assign(aName, aValue ? std::move(aValue) : JsonValue::NewNull());
}

JsonValuePtr JsonTable::GetO(const std::u16string &aName) const {
  const auto it = FMembers.find(aName);
  return it == FMembers.end() ? nullptr : it->second;
}

// ---- JsonValue -------------------------------------------------------------

JsonValue::JsonValue(Private, JsonType aType) : FDataType(aType) {
  if (aType == JsonType::stObject)
    FTable = std::make_unique<JsonTable>();
  else if (aType == JsonType::stArray)
    FArray = std::make_unique<JsonArray>();
}

JsonValue::~JsonValue() = default;

JsonValuePtr JsonValue::NewNull() { return std::make_shared<JsonValue>(Private{}, JsonType::stNull); }

JsonValuePtr JsonValue::NewBoolean(bool aValue) {
  auto value = std::make_shared<JsonValue>(Private{}, JsonType::stBoolean);
  value->FO.c_boolean = aValue;
  return value;
}

JsonValuePtr JsonValue::NewDouble(double aValue) {
  auto value = std::make_shared<JsonValue>(Private{}, JsonType::stDouble);
  value->FO.c_double = aValue;
  return value;
}

JsonValuePtr JsonValue::NewCurrency(std::int64_t aUnits) {
  auto value = std::make_shared<JsonValue>(Private{}, JsonType::stCurrency);
  value->FO.c_currency = aUnits;
  return value;
}

JsonValuePtr JsonValue::NewInt(std::int64_t aValue) {
  auto value = std::make_shared<JsonValue>(Private{}, JsonType::stInt);
  value->FO.c_int = aValue;
  return value;
}

JsonValuePtr JsonValue::NewObject() {
  return std::make_shared<JsonValue>(Private{}, JsonType::stObject);
}

JsonValuePtr JsonValue::NewArray() { return std::make_shared<JsonValue>(Private{}, JsonType::stArray); }

JsonValuePtr JsonValue::NewString(std::u16string aText) {
  auto value = std::make_shared<JsonValue>(Private{}, JsonType::stString);
  value->FOString = std::move(aText);
  return value;
}

std::u16string JsonValue::AsString() const {
  switch (FDataType) {
  case JsonType::stNull:
    return {};
  case JsonType::stString:
    return FOString;
  default: {
    std::u16string text;
    AppendText(text);
    return text;
  }
  }
}

void JsonValue::AppendText(std::u16string &aOut) const {
  switch (FDataType) {
  case JsonType::stNull:
    aOut += u"null";
    break;
  case JsonType::stBoolean:
    aOut += FO.c_boolean ? u"true" : u"false";
    break;
  case JsonType::stDouble:
    AppendDouble(aOut, FO.c_double);
    break;
  case JsonType::stCurrency:
    AppendCurrency(aOut, FO.c_currency);
    break;
  case JsonType::stInt:
    AppendInteger(aOut, FO.c_int);
    break;
  case JsonType::stString:
    AppendQuoted(aOut, FOString);
    break;
  case JsonType::stArray: {
    ProcessingGuard guard(FProcessing);
    aOut.push_back(u'[');
    bool first = true;
    for (const JsonValuePtr &element : FArray->FArray) {
      if (element->FProcessing)
        continue;
      if (!first)
        aOut.push_back(u',');
      first = false;
      element->AppendText(aOut);
    }
    aOut.push_back(u']');
    break;
  }
  case JsonType::stObject: {
    ProcessingGuard guard(FProcessing);
    aOut.push_back(u'{');
    bool first = true;
    for (const auto &[name, member] : FTable->Members()) {
      if (member->FProcessing)
        continue;
      if (!first)
        aOut.push_back(u',');
      first = false;
      AppendQuoted(aOut, name);
      aOut.push_back(u':');
      member->AppendText(aOut);
    }
    aOut.push_back(u'}');
    break;
  }
  }
}

JsonValuePtr JsonValue::GetO(std::u16string_view aName) const {
  return ParseString(aName, true, this);
}

std::shared_ptr<JsonArray> JsonValue::GetA(std::u16string_view aName) const {
  JsonValuePtr member = GetO(aName);
  if (!member || member->FDataType != JsonType::stArray)
    return nullptr;
  // The array shares ownership of the value that holds it.
  JsonArray *array = member->FArray.get();
  return std::shared_ptr<JsonArray>(std::move(member), array);
}

std::u16string JsonValue::GetS(std::u16string_view aName) const {
  const JsonValuePtr member = GetO(aName);
  return member ? member->AsString() : std::u16string();
}

JsonValuePtr ParseJson(std::u16string_view aText) { return JsonValue::ParseString(aText, true, nullptr); }

} // namespace marquo
