// Topic names and topic filters as the client sees them: splitting a topic
// into its levels, deciding whether a subscription filter covers a topic, and
// marking a stored packet as a repeat before it is sent again.
//
// Topics and filters are UTF-8 byte strings; every comparison here works on
// bytes and is case-sensitive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marquo {

class TMemoryStream;

// The levels of aTopic, split at every "/". There is always at least one
// level, so the empty topic gives one empty level, "/" gives two and "a//b"
// gives "a", "" and "b".
std::vector<std::string> SplitTopic(std::string_view aTopic);

// Whether the filter aFilter covers the topic aTopic. A level that is exactly
// "+" matches any one level, the empty one included; a last level that is
// exactly "#" matches the rest of the topic, including nothing at all, so
// "a/#" covers "a". Wildcards that share a level with other text, and a "#"
// that is not the last level, are ordinary text. Topics starting with "$" are
// matched like any other.
bool TopicMatches(std::string_view aFilter, std::string_view aTopic);

// Sets or clears the DUP bit (0x08) of the packet's first byte in place,
// leaving the stream's position where it was. An empty stream is left alone.
void SetDupFlag(TMemoryStream &aMsg, bool aDup);

} // namespace marquo
