// TStringList: an ordered list of UTF-16 strings, each with an attached
// number. The MQTT codec takes topic lists in this form (the attached number
// of a SUBSCRIBE item carries the requested QoS in its low two bits) and hands
// received topic lists out in it; the client keeps its recorded subscriptions
// in one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace marquo {

struct TStringListItem {
  std::u16string Text;
  // A plain number stored beside the text; wide enough for a pointer-sized
  // slot, so any 32-bit value fits unchanged.
  std::intptr_t Value = 0;

  bool operator==(const TStringListItem &) const = default;
};

using TStringList = std::vector<TStringListItem>;

} // namespace marquo
