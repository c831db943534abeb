// Topic splitting, filter matching and the DUP bit, each checked against a
// table of cases that are named after the mistake they would catch.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "mqtt/memory_stream.hpp"
#include "mqtt/mqtt_topics.hpp"

namespace marquo {
namespace {

struct MatchRow {
  const char *name;
  std::string_view filter;
  std::string_view topic;
  bool matches;
};

TEST(TopicMatches, NeitherMissesACoveredTopicNorAcceptsAnUncoveredOne) {
  const MatchRow rows[] = {
      {"a lone hash fails to cover an ordinary topic", "#", "a/b/c", true},
      {"a lone hash fails to cover the empty topic", "#", "", true},
      {"a lone hash fails to cover a topic of two empty levels", "#", "/", true},
      {"a trailing hash fails to cover its parent level", "a/#", "a", true},
      {"a trailing hash fails to cover an empty child level", "a/#", "a/", true},
      {"a trailing hash fails to cover several child levels", "a/#", "a/b/c", true},
      {"a trailing hash ignores the levels before it", "a/#", "b", false},
      {"a plus fails to cover an ordinary level", "a/+", "a/b", true},
      {"a plus fails to cover an empty level", "a/+", "a/", true},
      {"a plus stands for no level at all", "a/+", "a", false},
      {"a plus stands for more than one level", "a/+", "a/b/c", false},
      {"a lone plus fails to cover the empty topic", "+", "", true},
      {"a lone plus stands for two levels", "+", "a/b", false},
      {"a plus sharing its level with text acts as a wildcard", "a+", "ab", false},
      {"a plus sharing its level with text fails to match itself", "a+", "a+", true},
      {"a hash sharing its level with text acts as a wildcard", "a#", "ab", false},
      {"a hash sharing its level with text fails to match itself", "a#", "a#", true},
      {"a hash before the last level acts as a wildcard", "a/#/c", "a/b/c", false},
      {"a hash before the last level fails to match itself", "a/#/c", "a/#/c", true},
      {"a dollar topic is kept from a lone hash", "#", "$SYS/broker/uptime", true},
      {"a dollar topic is kept from a leading plus", "+/broker", "$SYS/broker", true},
      {"a plus in the middle fails to cover its level", "sport/+/player1", "sport/tennis/player1",
       true},
      {"a plus in the middle lets extra levels through", "sport/+/player1",
       "sport/tennis/player1/ranking", false},
      {"a plus before a hash fails to let the hash cover nothing", "a/+/#", "a/b", true},
      {"a plus before a hash fails to let the hash cover several levels", "a/+/#", "a/b/c/d", true},
      {"a plus before a hash fails to cover an empty level", "a/+/#", "a/", true},
      {"a plus before a hash stands for no level at all", "a/+/#", "a", false},
      {"a plus before a hash ignores the levels before it", "a/+/#", "b/x/y", false},
      {"the empty filter fails to match the empty topic", "", "", true},
      {"the empty filter matches a non-empty topic", "", "a", false},
      {"the empty filter matches a topic of two empty levels", "", "/", false},
      {"a non-empty filter matches the empty topic", "a", "", false},
      {"empty levels are skipped or merged", "a//b", "a/b", false},
      {"empty levels fail to match themselves", "a//b", "a//b", true},
      {"a trailing slash is ignored", "a/b", "a/b/", false},
      {"levels are compared without regard to case", "Sport/Tennis", "sport/tennis", false},
      {"a filter matches a topic it only begins with", "ab", "abc", false},
      {"multi-byte characters are not compared byte for byte", "caf\xC3\xA9/+", "caf\xC3\xA9/x",
       true},
  };
  for (const MatchRow &row : rows) {
    SCOPED_TRACE(std::string(row.name) + ": filter \"" + std::string(row.filter) + "\", topic \"" +
                 std::string(row.topic) + "\"");
    EXPECT_EQ(TopicMatches(row.filter, row.topic), row.matches);
  }
}

struct SplitRow {
  const char *name;
  std::string_view topic;
  std::vector<std::string> levels;
};

TEST(SplitTopic, NeverLosesInventsOrMergesALevel) {
  const SplitRow rows[] = {
      {"the empty topic loses its single level", "", {""}},
      {"a lone slash loses one of its two empty levels", "/", {"", ""}},
      {"a doubled slash loses the empty level between", "a//b", {"a", "", "b"}},
      {"a topic without a slash is split anyway", "abc", {"abc"}},
      {"ordinary levels are split in the wrong places", "a/b/c", {"a", "b", "c"}},
      {"a leading slash loses the empty first level", "/a", {"", "a"}},
      {"a trailing slash loses the empty last level", "a/", {"a", ""}},
      {"wildcards and dollars are treated as more than text", "$SYS/+/#", {"$SYS", "+", "#"}},
      {"multi-byte characters are broken up", "caf\xC3\xA9/x", {"caf\xC3\xA9", "x"}},
  };
  for (const SplitRow &row : rows) {
    SCOPED_TRACE(std::string(row.name) + ": topic \"" + std::string(row.topic) + "\"");
    EXPECT_EQ(SplitTopic(row.topic), row.levels);
  }
}

struct DupRow {
  const char *name;
  std::string before;
  std::size_t position;
  bool dup;
  std::string after;
};

TEST(DupFlag, ChangesOnlyTheDupBitAndKeepsThePosition) {
  const DupRow rows[] = {
      {"setting the bit leaves it clear", std::string("\x32\x02xy"), 4, true,
       std::string("\x3A\x02xy")},
      {"clearing the bit leaves it set", std::string("\x3A\x02xy"), 4, false,
       std::string("\x32\x02xy")},
      {"setting a bit already set disturbs it", std::string("\x3A\x00", 2), 2, true,
       std::string("\x3A\x00", 2)},
      {"clearing the bit disturbs the other bits", std::string("\xFF"), 1, false,
       std::string("\xF7")},
      {"setting the bit disturbs the other bits", std::string("\x00", 1), 1, true,
       std::string("\x08")},
      {"an empty stream grows a byte", std::string(), 0, true, std::string()},
      {"the position is moved from the middle",
       std::string("\x30\x03"
                   "abc"),
       3, true,
       std::string("\x38\x03"
                   "abc")},
      {"the position is moved from the start", std::string("\x30\x00", 2), 0, true,
       std::string("\x38\x00", 2)},
  };
  for (const DupRow &row : rows) {
    SCOPED_TRACE(row.name);
    TMemoryStream stream(row.before);
    stream.Seek(row.position);
    SetDupFlag(stream, row.dup);
    EXPECT_EQ(stream.Bytes(), row.after);
    EXPECT_EQ(stream.Position(), row.position);
  }
}

} // namespace
} // namespace marquo
