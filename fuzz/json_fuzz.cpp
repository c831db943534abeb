// libFuzzer target for the JSON reader, which parses payloads straight from
// the network. Besides crashes, leaks and undefined behaviour, it checks the
// promise the text form makes: the text of any parsed value other than a
// plain string reads back to a value with the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "json/json_value.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *aData, std::size_t aSize) {
  // The input's bytes, two by two, are the UTF-16 code units of the text, so
  // every unit value can occur.
  std::u16string text(aSize / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(aData[2 * i] | (aData[2 * i + 1] << 8));

  const marquo::JsonValuePtr value = marquo::ParseJson(text);
  if (!value)
    return 0;

  // The reads the command handling makes.
  if (const auto data = value->GetA(u"data"))
    (void)marquo::ParseJson(data->GetS(0));
  (void)value->GetS(u"action");

  if (value->DataType() != marquo::JsonType::stString &&
      value->DataType() != marquo::JsonType::stNull) {
    const std::u16string form = value->AsString();
    const marquo::JsonValuePtr again = marquo::ParseJson(form);
    if (!again || again->AsString() != form)
      std::abort();
  }
  return 0;
}
