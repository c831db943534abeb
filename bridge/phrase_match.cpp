#include "bridge/phrase_match.hpp"

#include <limits>

#include "bridge/bridge_platform.hpp"

namespace marquo {
namespace {

bool IsBlank(char16_t c) { return c >= 1 && c <= 0x20; }

} // namespace

std::vector<std::u16string> SplitCommaText(std::u16string_view aText) {
  // The list comes from an edit field; like the field, it ends at U+0000.
  aText = aText.substr(0, aText.find(u'\0'));
  std::vector<std::u16string> items;
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < aText.size() && IsBlank(aText[i]))
      ++i;
  };
  skipBlanks();
  while (i < aText.size()) {
    std::u16string item;
    if (aText[i] == u'"') {
      // A quoted item runs to the next quote that is not doubled, or to the
      // end of the text when none closes it.
      for (++i; i < aText.size(); ++i) {
        if (aText[i] != u'"') {
          item.push_back(aText[i]);
        } else if (i + 1 < aText.size() && aText[i + 1] == u'"') {
          item.push_back(u'"');
          ++i;
        } else {
          ++i;
          break;
        }
      }
    } else {
      while (i < aText.size() && aText[i] > 0x20 && aText[i] != u',')
        item.push_back(aText[i++]);
    }
    items.push_back(std::move(item));
    skipBlanks();
    if (i < aText.size() && aText[i] == u',') {
      ++i;
      // A comma that ends the text still closes an (empty) item.
      if (i == aText.size())
        items.emplace_back();
      skipBlanks();
    }
  }
  return items;
}

std::u16string MatchPhrase(std::u16string_view aListText, std::u16string_view aPhrase) {
  const std::u16string phrase = LinguisticLowerCase(aPhrase);
  for (const std::u16string &item : SplitCommaText(LinguisticLowerCase(aListText))) {
    if (!item.empty() && std::u16string_view(phrase).substr(0, item.size()) == item)
      return phrase.substr(item.size());
  }
  return {};
}

std::u16string TrimBlanks(std::u16string_view aText) {
  std::size_t first = 0;
  std::size_t last = aText.size();
  while (first < last && aText[first] <= 0x20)
    ++first;
  while (last > first && aText[last - 1] <= 0x20)
    --last;
  return std::u16string(aText.substr(first, last - first));
}

std::int32_t ReadVolumeNumber(std::u16string_view aText) {
  constexpr std::int32_t kInvalid = -1;
  std::size_t i = 0;
  while (i < aText.size() && aText[i] == u' ')
    ++i;
  bool negative = false;
  if (i < aText.size() && (aText[i] == u'+' || aText[i] == u'-')) {
    negative = aText[i] == u'-';
    ++i;
  }
  unsigned base = 10;
  if (i < aText.size() && (aText[i] == u'$' || aText[i] == u'x' || aText[i] == u'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < aText.size() && aText[i] == u'0' && (aText[i + 1] == u'x' || aText[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i == aText.size())
    return kInvalid;
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  for (; i < aText.size(); ++i) {
    const char16_t c = aText[i];
    unsigned digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f')
      digit = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F')
      digit = c - u'A' + 10;
    else
      return kInvalid;
    magnitude = magnitude * base + digit;
    if (magnitude > limit)
      return kInvalid;
  }
  return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                  : static_cast<std::int32_t>(magnitude);
}

} // namespace marquo
