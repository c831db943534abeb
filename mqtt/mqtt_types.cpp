#include "mqtt/mqtt_types.hpp"

#include <iterator>

namespace marquo {

std::u16string ConnAckCodeText(std::uint8_t aCode) {
  // "UNAVILABLE" is how the client's log has always spelled it; log readers
  // match on the text, so it stays.
  static constexpr std::u16string_view kNames[] = {
      u"ACCEPTED",  u"PROTOCOL UNACCEPTABLE", u"IDENTIFIER REJECTED", u"SERVER UNAVILABLE",
      u"BAD LOGIN", u"NOT AUTHORISED"};
  if (aCode < std::size(kNames))
    return std::u16string(kNames[aCode]);
  std::u16string text = u"RESERVED ";
  for (char digit : std::to_string(aCode))
    text.push_back(static_cast<char16_t>(digit));
  return text;
}

std::string_view MessageTypeName(TMQTTMessageType aType) {
  static constexpr std::string_view kNames[] = {
      "mtBROKERCONNECT", "mtCONNECT",  "mtCONNACK",    "mtPUBLISH",   "mtPUBACK",      "mtPUBREC",
      "mtPUBREL",        "mtPUBCOMP",  "mtSUBSCRIBE",  "mtSUBACK",    "mtUNSUBSCRIBE", "mtUNSUBACK",
      "mtPINGREQ",       "mtPINGRESP", "mtDISCONNECT", "mtReserved15"};
  return kNames[static_cast<unsigned>(aType) & 0x0F];
}

std::string_view QosName(TMQTTQOSType aQos) {
  static constexpr std::string_view kNames[] = {"qtAT_MOST_ONCE", "qtAT_LEAST_ONCE",
                                                "qtEXACTLY_ONCE", "qtReserved3"};
  return kNames[static_cast<unsigned>(aQos) & 0x03];
}

} // namespace marquo
