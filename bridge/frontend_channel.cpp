#include "bridge/frontend_channel.hpp"

#include <array>
#include <utility>

namespace marquo {

void AppendUnicodeEscape(std::u16string &aOut, char16_t aUnit) {
  constexpr char16_t kHex[] = u"0123456789abcdef";
  aOut += u"\\u";
  for (int shift = 12; shift >= 0; shift -= 4)
    aOut.push_back(kHex[(aUnit >> shift) & 0xF]);
}

namespace {

void AppendJsonEscaped(std::u16string &aOut, std::u16string_view aText) {
  for (char16_t unit : aText) {
    switch (unit) {
    case u'"':
      aOut += u"\\\"";
      break;
    case u'\\':
      aOut += u"\\\\";
      break;
    case u'\b':
      aOut += u"\\b";
      break;
    case u'\f':
      aOut += u"\\f";
      break;
    case u'\n':
      aOut += u"\\n";
      break;
    case u'\r':
      aOut += u"\\r";
      break;
    case u'\t':
      aOut += u"\\t";
      break;
    default:
      if (unit < 0x20) {
        AppendUnicodeEscape(aOut, unit);
      } else {
        aOut.push_back(unit);
      }
    }
  }
}

// The function words in the order they are compared; the first equal word
// decides.
constexpr std::array<std::pair<std::u16string_view, std::int32_t>, 14> kFunctionWords = {{
    {u"launch", 7},
    {u"system", 16},
    {u"home", 9},
    {u"exit", 15},
    {u"quit", 15},
    {u"info", 10},
    {u"help", 21},
    {u"record", 17},
    {u"restart", 59},
    {u"special", 24},
    {u"lockdown", 22},
    {u"close", 11},
    {u"custom", kCustomFunction},
    {u"shutdown", 58},
}};

} // namespace

std::u16string SearchRequestText(int aNumber, std::u16string_view aSubject) {
  std::u16string text = u"{ \"FN\":";
  for (char c : std::to_string(aNumber))
    text.push_back(static_cast<char16_t>(c));
  text += u", \"SS\":\"";
  AppendJsonEscaped(text, aSubject);
  text += u"\" }";
  return text;
}

std::optional<std::int32_t> FunctionCodeOf(std::u16string_view aWord) {
  for (const auto &[word, code] : kFunctionWords) {
    if (word == aWord)
      return code;
  }
  return std::nullopt;
}

bool TFrontendChannel::PostSearchRequest(TControlWindow aWindow, int aNumber,
                                         std::u16string_view aSubject) {
  const std::u16string text = SearchRequestText(aNumber, aSubject);
  if (aWindow == kNoControlWindow)
    return true;
  return FPort.PostSearchText(aWindow, aNumber, text);
}

void TFrontendChannel::PostFunctionCommand(TControlWindow aWindow, std::u16string_view aWord) {
  const std::optional<std::int32_t> code = FunctionCodeOf(aWord);
  if (!code)
    return;
  if (*code == kCustomFunction) {
    if (OnCustom)
      OnCustom();
    return;
  }
  FPort.PostFunctionCode(aWindow, *code);
}

} // namespace marquo
