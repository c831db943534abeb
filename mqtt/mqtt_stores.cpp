#include "mqtt/mqtt_stores.hpp"

#include <algorithm>
#include <utility>

namespace marquo {
namespace {

template <class T> using TEntries = std::vector<std::unique_ptr<T>>;

template <class T> T *ItemAt(const TEntries<T> &aList, std::size_t anIndex) {
  return anIndex < aList.size() ? aList[anIndex].get() : nullptr;
}

template <class T> T *FirstWithId(const TEntries<T> &aList, std::uint16_t anID) {
  const auto it = std::find_if(aList.begin(), aList.end(),
                               [anID](const std::unique_ptr<T> &e) { return e->ID == anID; });
  return it == aList.end() ? nullptr : it->get();
}

template <class T> T *LastWithId(const TEntries<T> &aList, std::uint16_t anID) {
  const auto it = std::find_if(aList.rbegin(), aList.rend(),
                               [anID](const std::unique_ptr<T> &e) { return e->ID == anID; });
  return it == aList.rend() ? nullptr : it->get();
}

template <class T> std::unique_ptr<T> TakeOut(TEntries<T> &aList, const T *anEntry) {
  const auto it = std::find_if(aList.begin(), aList.end(), [anEntry](const std::unique_ptr<T> &e) {
    return e.get() == anEntry;
  });
  if (it == aList.end())
    return nullptr;
  std::unique_ptr<T> taken = std::move(*it);
  aList.erase(it);
  return taken;
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
  if (const TMQTTPacket *last = LastWithId(FList, anID))
    Remove(last);
}

TMQTTPacket *TMQTTPacketStore::GetPacket(std::uint16_t anID) const {
  return FirstWithId(FList, anID);
}

std::unique_ptr<TMQTTPacket> TMQTTPacketStore::Remove(const TMQTTPacket *aPacket) {
  std::unique_ptr<TMQTTPacket> taken = TakeOut(FList, aPacket);
  if (taken) {
    if (const auto it = FHeld.find(taken->ID); it != FHeld.end() && --it->second == 0)
      FHeld.erase(it);
  }
  return taken;
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
  FBytes += aTopic.size() + aMessage.size();
  FList.push_back(std::move(message));
  return *FList.back();
}

void TMQTTMessageStore::DelMsg(std::uint16_t anID) {
  if (const TMQTTMessage *last = LastWithId(FList, anID))
    Remove(last);
}

TMQTTMessage *TMQTTMessageStore::GetMsg(std::uint16_t anID) const {
  return FirstWithId(FList, anID);
}

std::unique_ptr<TMQTTMessage> TMQTTMessageStore::Remove(const TMQTTMessage *aMsg) {
  std::unique_ptr<TMQTTMessage> taken = TakeOut(FList, aMsg);
  if (taken)
    FBytes -= taken->Topic.size() + taken->Message.size();
  return taken;
}

std::unique_ptr<TMQTTPacket> TMQTTPacketStore::SetItem(std::size_t anIndex,
                                                       std::unique_ptr<TMQTTPacket> aPacket) {
  if (anIndex >= FList.size() || !aPacket)
    return aPacket;
  const std::uint16_t newID = aPacket->ID;
  std::unique_ptr<TMQTTPacket> replaced = std::exchange(FList[anIndex], std::move(aPacket));
  if (const auto it = FHeld.find(replaced->ID); it != FHeld.end() && --it->second == 0)
    FHeld.erase(it);
  ++FHeld[newID];
  return replaced;
}

void TMQTTPacketStore::Assign(const TMQTTPacketStore &From) {
  if (&From == this)
    return;
  Clear();
  for (const auto &entry : From.FList) {
    auto copy = std::make_unique<TMQTTPacket>(*entry);
    ++FHeld[copy->ID];
    FList.push_back(std::move(copy));
  }
}

std::unique_ptr<TMQTTMessage> TMQTTMessageStore::SetItem(std::size_t anIndex,
                                                         std::unique_ptr<TMQTTMessage> aMsg) {
  if (anIndex >= FList.size() || !aMsg)
    return aMsg;
  FBytes += aMsg->Topic.size() + aMsg->Message.size();
  std::unique_ptr<TMQTTMessage> replaced = std::exchange(FList[anIndex], std::move(aMsg));
  FBytes -= replaced->Topic.size() + replaced->Message.size();
  return replaced;
}

void TMQTTMessageStore::Assign(const TMQTTMessageStore &From) {
  if (&From == this)
    return;
  Clear();
  for (const auto &entry : From.FList) {
    FBytes += entry->Topic.size() + entry->Message.size();
    FList.push_back(std::make_unique<TMQTTMessage>(*entry));
  }
}

} // namespace marquo
