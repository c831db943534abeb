// Helpers shared by the JSON reader tests.
//
// GoogleTest prints UTF-16 text as a list of numbers, which makes a failure
// hard to read, so the helpers here turn text and whole value trees into
// plain ASCII. Describe() walks a tree through the public accessors only, so
// that the parser tests do not depend on the compact text form, which has
// tests of its own.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "json/json_value.hpp"

namespace {

using namespace std::string_view_literals;

// The text in double quotes, with '"' and '\' escaped by a backslash and
// every unit outside printable ASCII written as \uXXXX (lower-case hex), so
// that two different texts never look the same.
inline std::string Show(std::u16string_view aText) {
  std::string out = "\"";
  for (char16_t unit : aText) {
    if (unit == u'"' || unit == u'\\') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(unit));
      out += buffer;
    }
  }
  out += '"';
  return out;
}

// A canonical, implementation-independent picture of a value tree:
//   none, null, true, false, int:<n>, cur:<units>, dbl:<shortest round-trip>,
//   "<text>" (as Show), [a,b,...] and {"name":value,...} in table order.
inline std::string Describe(const marquo::JsonValue *aValue) {
  using marquo::JsonType;
  if (aValue == nullptr) return "none";
  switch (aValue->DataType()) {
  case JsonType::stNull:
    return "null";
  case JsonType::stBoolean:
    return aValue->AsBoolean() ? "true" : "false";
  case JsonType::stInt:
    return "int:" + std::to_string(aValue->AsInt());
  case JsonType::stCurrency:
    return "cur:" + std::to_string(aValue->AsCurrency());
  case JsonType::stDouble: {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, aValue->AsDouble());
    return "dbl:" + std::string(buffer, result.ptr);
  }
  case JsonType::stString:
    return Show(aValue->AsString());
  case JsonType::stArray: {
    const marquo::JsonArray *array = aValue->AsArray();
    if (array == nullptr) return "[<no array>]";
    std::string out = "[";
    for (std::int32_t i = 0; i < array->Length(); ++i) {
      if (i > 0) out += ',';
      out += Describe(array->GetO(i).get());
    }
    return out + "]";
  }
  case JsonType::stObject: {
    const marquo::JsonTable *table = aValue->AsObject();
    if (table == nullptr) return "{<no table>}";
    std::string out = "{";
    bool first = true;
    for (const auto &[name, member] : table->Members()) {
      if (!first) out += ',';
      first = false;
      out += Show(name) + ":" + Describe(member.get());
    }
    return out + "}";
  }
  }
  return "<kind " + std::to_string(static_cast<int>(aValue->DataType())) + ">";
}

inline std::string Describe(const marquo::JsonValuePtr &aValue) { return Describe(aValue.get()); }

// Compares two texts and, on a mismatch, shows both readably.
inline ::testing::AssertionResult SameText(std::u16string_view anActual,
                                           std::u16string_view anExpected) {
  if (anActual == anExpected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "text is " << Show(anActual) << ", expected " << Show(anExpected);
}

// ASCII to UTF-16, for building inputs programmatically.
inline std::u16string U16(std::string_view anAscii) {
  return std::u16string(anAscii.begin(), anAscii.end());
}

// aCount copies of anOpen, then anInner, then aCount copies of aClose.
inline std::u16string Nest(int aCount, std::u16string_view anOpen, std::u16string_view anInner,
                           std::u16string_view aClose) {
  std::u16string out;
  for (int i = 0; i < aCount; ++i) out += anOpen;
  out += anInner;
  for (int i = 0; i < aCount; ++i) out += aClose;
  return out;
}

// One input and the tree it must give ("none" when the parse must fail).
struct ParseCase {
  const char *name;
  std::u16string_view input;
  const char *expected;
};

template <std::size_t N> void ExpectParseResults(const ParseCase (&aRows)[N]) {
  for (const ParseCase &row : aRows) {
    SCOPED_TRACE(std::string(row.name) + ", input " + Show(row.input));
    EXPECT_EQ(Describe(marquo::ParseJson(row.input)), row.expected);
  }
}

} // namespace
