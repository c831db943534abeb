// The client's delivery stores: outbound packets that wait for their
// acknowledgement (TMQTTPacketStore, the client's InFlight) and inbound
// QoS 2 messages that wait for the broker's release (TMQTTMessageStore,
// its Releasables).
//
// A store owns its entries and keeps them in insertion order. Look-ups by
// identifier search from the front; deletion by identifier searches from
// the back and removes one entry at most.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mqtt/memory_stream.hpp"
#include "mqtt/mqtt_types.hpp"

namespace marquo {

using TStamp = std::chrono::system_clock::time_point;

// One stored outbound packet, with the bytes as they were sent.
struct TMQTTPacket {
  std::uint16_t ID = 0;
  TStamp Stamp = std::chrono::system_clock::now();
  // Delivery ticks left before the next retry; 0: not counting.
  std::uint32_t Counter = 0;
  // Countdown expiries so far.
  std::int32_t Retries = 0;
  // True while the first acknowledgement is awaited; false once a PUBREC
  // has arrived and the PUBCOMP is awaited.
  bool Publishing = true;
  TMemoryStream Msg;

  // Copies every field, the bytes of Msg included.
  void Assign(const TMQTTPacket &From) { *this = From; }
};

// One stored inbound message.
struct TMQTTMessage {
  std::uint16_t ID = 0;
  TStamp Stamp = std::chrono::system_clock::now();
  TStamp LastUsed = Stamp;
  TMQTTQOSType Qos = TMQTTQOSType::qtAT_MOST_ONCE;
  bool Retained = false;
  std::uint32_t Counter = 0;
  std::int32_t Retries = 0;
  std::string Topic;   // UTF-8
  std::string Message; // payload bytes

  void Assign(const TMQTTMessage &From) { *this = From; }
};

class TMQTTPacketStore {
public:
  TStamp Stamp = std::chrono::system_clock::now();

  std::size_t Count() const { return FList.size(); }
  // Puts aPacket at anIndex and hands back the entry it replaces; outside
  // 0 ... Count() - 1 nothing changes and aPacket comes back.
  std::unique_ptr<TMQTTPacket> SetItem(std::size_t anIndex, std::unique_ptr<TMQTTPacket> aPacket);
  // Empties the store, then appends a copy of each entry of From, in order.
  void Assign(const TMQTTPacketStore &From);
  // The entry at anIndex, or nullptr outside 0 ... Count() - 1.
  TMQTTPacket *GetItem(std::size_t anIndex) const;
  void Clear() {
    FList.clear();
    FHeld.clear();
  }
  // A new entry holding all bytes of aMsg (rewound first, left at its end).
  TMQTTPacket &AddPacket(std::uint16_t anID, TMemoryStream &aMsg, std::uint32_t aRetry,
                         std::uint32_t aCount);
  // Removes and frees the last entry with anID, if any.
  void DelPacket(std::uint16_t anID);
  // The first entry with anID, or nullptr.
  TMQTTPacket *GetPacket(std::uint16_t anID) const;
  // Whether an entry has anID; constant time, because the search for a
  // free packet identifier asks this for every candidate.
  bool HoldsID(std::uint16_t anID) const { return FHeld.contains(anID); }
  // Takes aPacket out of the store without freeing it; nullptr when it is
  // not there.
  std::unique_ptr<TMQTTPacket> Remove(const TMQTTPacket *aPacket);

private:
  std::vector<std::unique_ptr<TMQTTPacket>> FList;
  std::unordered_map<std::uint16_t, std::uint32_t> FHeld; // entries per identifier
};

class TMQTTMessageStore {
public:
  TStamp Stamp = std::chrono::system_clock::now();

  std::size_t Count() const { return FList.size(); }
  std::unique_ptr<TMQTTMessage> SetItem(std::size_t anIndex, std::unique_ptr<TMQTTMessage> aMsg);
  void Assign(const TMQTTMessageStore &From);
  TMQTTMessage *GetItem(std::size_t anIndex) const;
  void Clear() {
    FList.clear();
    FBytes = 0;
  }
  TMQTTMessage &AddMsg(std::uint16_t anID, const std::string &aTopic, const std::string &aMessage,
                       TMQTTQOSType aQos, std::uint32_t aRetry, std::uint32_t aCount,
                       bool aRetained);
  void DelMsg(std::uint16_t anID);
  TMQTTMessage *GetMsg(std::uint16_t anID) const;
  std::unique_ptr<TMQTTMessage> Remove(const TMQTTMessage *aMsg);
  // The topic and payload bytes the entries hold, so the owner can bound
  // what a peer may make it keep.
  std::size_t Bytes() const { return FBytes; }

private:
  std::vector<std::unique_ptr<TMQTTMessage>> FList;
  std::size_t FBytes = 0;
};

} // namespace marquo
