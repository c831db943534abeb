// The delivery stores: the search directions the client relies on (the
// first entry with an identifier is found, the last one is deleted) and
// copies that own their bytes.
#include <gtest/gtest.h>

#include "mqtt/mqtt_stores.hpp"

namespace {

using marquo::TMemoryStream;
using marquo::TMQTTMessageStore;
using marquo::TMQTTPacketStore;
using marquo::TMQTTQOSType;

TEST(PacketStore, FindsTheFirstAndDeletesTheLastWithAnIdentifier) {
  TMQTTPacketStore store;
  TMemoryStream a("a"), b("b"), c("c");
  store.AddPacket(7, a, 0, 1);
  store.AddPacket(8, b, 0, 2);
  store.AddPacket(7, c, 0, 3);
  EXPECT_EQ(store.GetPacket(7)->Counter, 1u);
  EXPECT_EQ(a.Position(), 1u) << "the source is left at its end";
  store.DelPacket(7);
  ASSERT_EQ(store.Count(), 2u);
  EXPECT_EQ(store.GetItem(1)->Msg.Bytes(), "b");
  EXPECT_TRUE(store.HoldsID(7));
  store.DelPacket(7);
  store.DelPacket(99); // nothing to delete
  EXPECT_FALSE(store.HoldsID(7));
  EXPECT_EQ(store.GetItem(5), nullptr);

  // A replaced entry comes back to the caller; the identifiers follow.
  auto fresh = std::make_unique<marquo::TMQTTPacket>();
  fresh->ID = 9;
  auto replaced = store.SetItem(0, std::move(fresh));
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(replaced->ID, 8);
  EXPECT_FALSE(store.HoldsID(8));
  EXPECT_TRUE(store.HoldsID(9));
}

TEST(PacketStore, AssignCopiesEntriesThatOwnTheirBytes) {
  TMQTTPacketStore from, to;
  TMemoryStream bytes("32 bytes");
  from.AddPacket(1, bytes, 2, 3).Publishing = false;
  to.AddPacket(5, bytes, 0, 0);
  to.Assign(from);
  from.Clear();
  ASSERT_EQ(to.Count(), 1u);
  EXPECT_EQ(to.GetItem(0)->Msg.Bytes(), "32 bytes");
  EXPECT_EQ(to.GetItem(0)->Retries, 2);
  EXPECT_FALSE(to.GetItem(0)->Publishing);
  EXPECT_FALSE(to.HoldsID(5));
  EXPECT_TRUE(to.HoldsID(1));
}

TEST(MessageStore, CountsTheBytesItHoldsThroughEveryChange) {
  TMQTTMessageStore store;
  store.AddMsg(12, "t", "hello", TMQTTQOSType::qtEXACTLY_ONCE, 0, 0, true);
  store.AddMsg(12, "tt", "x", TMQTTQOSType::qtEXACTLY_ONCE, 0, 0, false);
  EXPECT_EQ(store.Bytes(), 9u);
  EXPECT_TRUE(store.GetMsg(12)->Retained) << "the first with the identifier is found";
  store.DelMsg(12); // the last goes
  EXPECT_EQ(store.Bytes(), 6u);
  TMQTTMessageStore copy;
  copy.Assign(store);
  EXPECT_EQ(copy.Bytes(), 6u);
  auto taken = store.Remove(store.GetMsg(12));
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->Message, "hello");
  EXPECT_EQ(store.Bytes(), 0u);
  EXPECT_EQ(store.Remove(nullptr), nullptr);
}

} // namespace
