#include "mqtt/mqtt_stores.hpp"

#include <algorithm>

namespace marquo {
namespace {

template <class T> T *ItemAt(const std::vector<std::unique_ptr<T>> &aList, std::size_t anIndex) {
  return anIndex < aList.size() ? aList[anIndex].get() : nullptr;
}

template <class T>
T *FirstWithId(const std::vector<std::unique_ptr<T>> &aList, std::uint16_t anID) {
  const auto it = std::find_if(aList.begin(), aList.end(),
                               [anID](const std::unique_ptr<T> &e) { return e->ID == anID; });
  return it == aList.end() ? nullptr : it->get();
}

template <class T>
bool DeleteLastWithId(std::vector<std::unique_ptr<T>> &aList, std::uint16_t anID) {
  const auto it = std::find_if(aList.rbegin(), aList.rend(),
                               [anID](const std::unique_ptr<T> &e) { return e->ID == anID; });
  if (it == aList.rend())
    return false;
  aList.erase(std::next(it).base());
  return true;
}

} // namespace

TMQTTPacket *TMQTTPacketStore::GetItem(std::size_t anIndex) const { return ItemAt(FList, anIndex); }

TMQTTPacket &TMQTTPacketStore::AddPacket(std::uint16_t anID, TMemoryStream &aMsg,
                                         std::uint32_t aRetry, std::uint32_t aCount) {
  auto packet = std::make_unique<TMQTTPacket>();
  packet->ID = anID;
  packet->Counter = aCount;
  packet->Retries = static_cast<std::int32_t>(aRetry);
  aMsg.Seek(0);
  packet->Msg.Write(aMsg.Read(aMsg.Remaining()));
  FList.push_back(std::move(packet));
  ++FHeld[anID];
  return *FList.back();
}

void TMQTTPacketStore::DelPacket(std::uint16_t anID) {
  if (!DeleteLastWithId(FList, anID))
    return;
  if (const auto it = FHeld.find(anID); it != FHeld.end() && --it->second == 0)
    FHeld.erase(it);
}

TMQTTPacket *TMQTTPacketStore::GetPacket(std::uint16_t anID) const {
  return FirstWithId(FList, anID);
}

TMQTTMessage *TMQTTMessageStore::GetItem(std::size_t anIndex) const {
  return ItemAt(FList, anIndex);
}

TMQTTMessage &TMQTTMessageStore::AddMsg(std::uint16_t anID, const std::string &aTopic,
                                        const std::string &aMessage, TMQTTQOSType aQos,
                                        std::uint32_t aRetry, std::uint32_t aCount,
                                        bool aRetained) {
  auto message = std::make_unique<TMQTTMessage>();
  message->ID = anID;
  message->Topic = aTopic;
  message->Message = aMessage;
  message->Qos = aQos;
  message->Retries = static_cast<std::int32_t>(aRetry);
  message->Counter = aCount;
  message->Retained = aRetained;
  FList.push_back(std::move(message));
  return *FList.back();
}

void TMQTTMessageStore::DelMsg(std::uint16_t anID) { DeleteLastWithId(FList, anID); }

TMQTTMessage *TMQTTMessageStore::GetMsg(std::uint16_t anID) const {
  return FirstWithId(FList, anID);
}

} // namespace marquo
