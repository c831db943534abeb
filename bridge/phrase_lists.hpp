// The five lists of trigger phrases, each bound to the action it selects.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace marquo {

enum class TPhraseList { plFind, plList, plVolume, plFunction, plRun };

struct TPhraseListInfo {
  TPhraseList list;
  std::u16string_view field;  // the edit field that holds the list
  std::u16string_view label;  // its label on the window
  std::u16string_view action; // the action a match selects
  std::u16string_view defaultText;
};

// In the order the lists are tried: a later list is tried on what the
// earlier ones left of the phrase.
inline constexpr std::array<TPhraseListInfo, 5> kPhraseLists = {{
    {TPhraseList::plFind, u"EditFind", u"Find Game", u"find", u"Find,Search,\"Find Game\""},
    {TPhraseList::plList, u"EditList", u"Find List", u"list", u"Playlist,List,Find Playlist"},
    {TPhraseList::plVolume, u"EditVolume", u"Volume", u"volume", u"\"Set Volume\",Volume"},
    {TPhraseList::plFunction, u"EditFunction", u"Function", u"do", u"Function,Do"},
    {TPhraseList::plRun, u"EditRun", u"Run Batch", u"run", u"Run,Batch"},
}};

// Where the command handling reads the lists from, afresh for every message,
// so an edit takes effect with the next message.
class TPhraseLists {
public:
  virtual ~TPhraseLists() = default;
  virtual std::u16string ListText(TPhraseList aList) = 0;
};

// The lists as a new window shows them.
class TDefaultPhraseLists : public TPhraseLists {
public:
  std::u16string ListText(TPhraseList aList) override {
    return std::u16string(kPhraseLists[static_cast<std::size_t>(aList)].defaultText);
  }
};

} // namespace marquo
