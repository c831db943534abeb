#include "mqtt/mqtt_topics.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "mqtt/memory_stream.hpp"

namespace marquo {
namespace {

// Hands out the levels of a topic or filter one at a time as views into the
// text, so that matching needs no allocation.
class TLevelCursor {
public:
  explicit TLevelCursor(std::string_view aText) : FText(aText) {}

  // Takes the next level into aLevel; false once every level has been taken.
  bool Next(std::string_view &aLevel) {
    if (FDone)
      return false;
    const std::size_t slash = FText.find('/', FPosition);
    if (slash == std::string_view::npos) {
      aLevel = FText.substr(FPosition);
      FDone = true;
    } else {
      aLevel = FText.substr(FPosition, slash - FPosition);
      FPosition = slash + 1;
    }
    return true;
  }

private:
  std::string_view FText;
  std::size_t FPosition = 0;
  bool FDone = false;
};

// A text of n slashes has n + 1 levels, because even the empty text has one.
std::size_t LevelCount(std::string_view aText) {
  return static_cast<std::size_t>(std::count(aText.begin(), aText.end(), '/')) + 1;
}

} // namespace

std::vector<std::string> SplitTopic(std::string_view aTopic) {
  std::vector<std::string> levels;
  levels.reserve(LevelCount(aTopic));
  TLevelCursor cursor(aTopic);
  std::string_view level;
  while (cursor.Next(level))
    levels.emplace_back(level);
  return levels;
}

bool TopicMatches(std::string_view aFilter, std::string_view aTopic) {
  const std::size_t filterLevels = LevelCount(aFilter);
  const std::size_t topicLevels = LevelCount(aTopic);
  const std::size_t lastSlash = aFilter.rfind('/');
  const std::string_view lastLevel =
      lastSlash == std::string_view::npos ? aFilter : aFilter.substr(lastSlash + 1);
  const bool hashLast = lastLevel == "#";

  // A trailing "#" may stand for no level at all, so the filter may then be
  // one level longer than the topic; without it every level must pair up.
  const bool lengthFits = hashLast ? filterLevels <= topicLevels + 1 : filterLevels == topicLevels;
  if (!lengthFits)
    return false;

  TLevelCursor filterCursor(aFilter);
  TLevelCursor topicCursor(aTopic);
  std::string_view filterLevel;
  std::string_view topicLevel;
  for (std::size_t i = 0; filterCursor.Next(filterLevel); ++i) {
    const bool isLast = i + 1 == filterLevels;
    // The length check above lets the topic run out only where the filter's
    // last level is "#", which then covers the missing level.
    if (!topicCursor.Next(topicLevel))
      return hashLast;
    if (isLast && hashLast)
      return true;
    if (filterLevel == "+")
      continue;
    if (filterLevel != topicLevel)
      return false;
  }
  return true;
}

void SetDupFlag(TMemoryStream &aMsg, bool aDup) {
  if (aMsg.Size() == 0)
    return;
  const std::size_t position = aMsg.Position();
  const auto first = static_cast<std::uint8_t>(aMsg.Bytes()[0]);
  aMsg.Seek(0);
  aMsg.WriteByte(static_cast<std::uint8_t>((first & 0xF7) | (aDup ? 0x08 : 0x00)));
  aMsg.Seek(position);
}

} // namespace marquo
