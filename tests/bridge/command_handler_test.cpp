#include "bridge/command_handler.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "bridge/bridge_platform.hpp"
#include "bridge/recording_platform.hpp"
#include "common/utf.hpp"

namespace marquo {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;

const std::u16string kFolder = u"C:\\Cab\\Bridge\\";

// The voice service's envelope: a JSON string holding the command object.
std::string Envelope(const std::string &anAction, const std::string &aWhat) {
  return "{\"data\":[\"{\\\"action\\\":\\\"" + anAction + "\\\",\\\"what\\\":\\\"" + aWhat +
         "\\\"}\"]}";
}

// Phrase lists that start as the defaults and can be edited per test.
class TEditableLists : public TPhraseLists {
public:
  std::map<TPhraseList, std::u16string> texts;
  std::u16string ListText(TPhraseList aList) override {
    const auto it = texts.find(aList);
    return it != texts.end() ? it->second : TDefaultPhraseLists().ListText(aList);
  }
};

std::u16string LaunchPath(const std::u16string &aName) {
  return kFolder + u"launch" + std::u16string(kPathSeparator) + aName +
         std::u16string(kBatchExtension);
}

class CommandHandlerTest : public testing::Test {
protected:
  TRecordingLog log{u"STAMP"};
  TEditableLists lists;
  TRecordingPlatform platform;
  TCommandHandler handler{log, lists, platform, platform, kFolder};

  void Handle(const std::string &aPayload) { handler.MQTTMsg("voice/topic", aPayload, 0, false); }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto &line : log.lines)
      lines.push_back(Utf16ToUtf8(line));
    return lines;
  }
};

using TAction = TRecordedAction;

} // namespace

// Readable failure messages for recorded actions.
void PrintTo(const TRecordedAction &anAction, std::ostream *aStream) {
  static const char *const kKinds[] = {"search", "function", "volume", "start"};
  *aStream << kKinds[anAction.kind] << ' ' << anAction.number << " \"" << Utf16ToUtf8(anAction.text)
           << '"';
}

namespace {

TEST_F(CommandHandlerTest, SpokenPhrasesResolveToOneAction) {
  struct Row {
    const char *name;
    std::string action;
    std::string what;
    std::string processed; // the "processed" log line, empty when none is expected
    std::vector<TAction> actions;
  };
  const Row rows[] = {
      {"volume keeps the blank in the log and trims for the action", "process", "Set Volume 40",
       "processed volume ->  40", {{TAction::kVolume, 40, u""}}},
      {"first find item wins and the subject is lower-cased", "process", "Find Game Castle Quest",
       "processed find ->  game castle quest",
       {{TAction::kSearch, 1, u"{ \"FN\":1, \"SS\":\"game castle quest\" }"}}},
      {"the list list cannot match what the find list left", "process", "Find Playlist Classics",
       "processed find ->  playlist classics",
       {{TAction::kSearch, 1, u"{ \"FN\":1, \"SS\":\"playlist classics\" }"}}},
      {"a playlist phrase", "process", "Playlist Classics", "processed list ->  classics",
       {{TAction::kSearch, 2, u"{ \"FN\":2, \"SS\":\"classics\" }"}}},
      {"a phrase equal to an item is no match", "process", "Volume",
       "processed process -> Volume", {}},
      {"function word reaches the frontend", "process", "Function Launch",
       "processed do ->  launch", {{TAction::kFunction, 7, u""}}},
      {"exit", "process", "Function Exit", "processed do ->  exit", {{TAction::kFunction, 15, u""}}},
      {"custom runs the custom batch", "process", "Do custom", "processed do ->  custom",
       {{TAction::kStart, 0, kFolder + u"customvoice" + std::u16string(kBatchExtension)}}},
      {"unknown function word does nothing", "process", "Function Dance", "processed do ->  dance",
       {}},
      {"the subject is trimmed before matching", "process", "  Set Volume 7  ",
       "processed volume ->  7", {{TAction::kVolume, 7, u""}}},
      {"nothing matches an empty subject", "process", "", "processed process -> ", {}},
      {"an unreadable volume does nothing", "process", "Volume loud",
       "processed volume ->  loud", {}},
      // Not through "process": used exactly as received.
      {"direct volume", "volume", "40", "", {{TAction::kVolume, 40, u""}}},
      {"direct volume above 100 is passed on", "volume", "150", "", {{TAction::kVolume, 150, u""}}},
      {"direct negative volume does nothing", "volume", "-5", "", {}},
      {"direct volume that is no number", "volume", "abc", "", {}},
      {"direct volume is not trimmed", "volume", " 40 ", "", {}},
      {"direct find keeps its case", "find", "Castle Quest", "",
       {{TAction::kSearch, 1, u"{ \"FN\":1, \"SS\":\"Castle Quest\" }"}}},
      {"direct list with an empty subject", "list", "", "",
       {{TAction::kSearch, 2, u"{ \"FN\":2, \"SS\":\"\" }"}}},
      {"function words are case-sensitive", "do", "Launch", "", {}},
      {"quit posts the exit code", "do", "quit", "", {{TAction::kFunction, 15, u""}}},
      {"actions are case-sensitive", "Process", "Set Volume 40", "", {}},
      {"an unknown action does nothing", "dance", "now", "", {}},
      {"an empty action does nothing", "", "find x", "", {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    log.lines.clear();
    platform.actions.clear();
    const std::string payload = Envelope(row.action, row.what);
    Handle(payload);
    std::vector<std::string> expected = {"STAMP :" + payload};
    if (!row.processed.empty())
      expected.push_back(row.processed);
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(platform.actions, row.actions);
  }
}

TEST_F(CommandHandlerTest, RunLooksForTheLaunchBatchWithOrWithoutTheFrontend) {
  for (bool running : {true, false}) {
    SCOPED_TRACE(running ? "frontend running" : "frontend not running");
    log.lines.clear();
    platform.actions.clear();
    platform.frontendRunning = running;
    platform.existingFiles = {LaunchPath(u"backglass")};
    const std::string payload = Envelope("process", "Run Backglass");
    Handle(payload);
    EXPECT_THAT(Lines(), ElementsAre("STAMP :" + payload, "processed run ->  backglass",
                                     "running: " + Utf16ToUtf8(LaunchPath(u"backglass"))));
    EXPECT_THAT(platform.actions, ElementsAre(TAction{TAction::kStart, 0, LaunchPath(u"backglass")}));
  }
}

TEST_F(CommandHandlerTest, MissingLaunchBatchIsLoggedButNotStarted) {
  Handle(Envelope("run", "nothing"));
  EXPECT_EQ(Lines().back(), "running: " + Utf16ToUtf8(LaunchPath(u"nothing")));
  EXPECT_THAT(platform.actions, IsEmpty());
}

TEST_F(CommandHandlerTest, LaunchNamesThatCouldLeaveTheLaunchFolderAreRefused) {
  struct Row {
    const char *name;
    std::u16string batName;
    std::u16string shown; // in the log line
  };
  const Row rows[] = {
      {"empty", u"", u""},
      {"parent folder", u"..", u".."},
      {"backslash path", u"..\\..\\Windows\\x", u"..\\..\\Windows\\x"},
      {"slash path", u"../x", u"../x"},
      {"plain folder part", u"sub\\x", u"sub\\x"},
      {"drive", u"C:x", u"C:x"},
      {"absolute", u"C:\\temp\\x", u"C:\\temp\\x"},
      {"embedded U+0000 would cut the extension off", std::u16string(u"x\0y", 3), u"x\\u0000y"},
      {"a line break cannot forge a log line", u"a/b\r\nrunning: C:\\x.bat",
       u"a/b\\u000d\\u000arunning: C:\\x.bat"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    log.lines.clear();
    platform.fileExists = [](const std::u16string &) { return true; };
    handler.RunLaunchBatch(row.batName);
    EXPECT_THAT(log.lines, ElementsAre(std::u16string(kRefusedLaunchLine) + row.shown));
    EXPECT_THAT(platform.actions, IsEmpty());
  }
}

TEST_F(CommandHandlerTest, LaunchNamesThatStayInTheLaunchFolderRun) {
  platform.fileExists = [](const std::u16string &) { return true; };
  for (const std::u16string name : {u"backglass", u"two words", u"a.b", u"...x", u"caf\u00e9"}) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    platform.actions.clear();
    handler.RunLaunchBatch(name);
    EXPECT_THAT(platform.actions, ElementsAre(TAction{TAction::kStart, 0, LaunchPath(name)}));
  }
}

TEST_F(CommandHandlerTest, FunctionCommandsNeedTheFrontend) {
  platform.frontendRunning = false;
  for (const char *word : {"launch", "custom"}) {
    Handle(Envelope("do", word));
  }
  EXPECT_THAT(platform.actions, IsEmpty());
}

TEST_F(CommandHandlerTest, SearchRequestsWithoutTheFrontendPostNothing) {
  platform.frontendRunning = false;
  Handle(Envelope("process", "Find Game Castle Quest"));
  EXPECT_THAT(platform.actions, IsEmpty());
  EXPECT_EQ(log.lines.size(), 2u); // the payload and the "processed" line, no failure
}

TEST_F(CommandHandlerTest, ASearchTheFrontendCannotBeGivenIsLogged) {
  platform.acceptSearchText = false;
  Handle(Envelope("find", "x"));
  EXPECT_THAT(Lines().back(), "not sent to the frontend: { \"FN\":1, \"SS\":\"x\" }");
}

TEST_F(CommandHandlerTest, MalformedMessagesAreLoggedAndDropped) {
  struct Row {
    const char *name;
    std::string payload;
  };
  const Row rows[] = {
      {"empty object", "{}"},
      {"plain word", "hello"},
      {"unterminated object", "{\"data\":[\"x\""},
      {"data is not an array", "{\"data\":\"x\"}"},
      {"member names are case-sensitive", "{\"Data\":[\"{\\\"action\\\":\\\"volume\\\"}\"]}"},
      {"empty data array", "{\"data\":[]}"},
      {"null element", "{\"data\":[null]}"},
      {"element that does not parse", "{\"data\":[\"{\\\"action\\\"\"]}"},
      {"command that is a string", "{\"data\":[\"hello\"]}"},
      {"command without an action", "{\"data\":[\"{\\\"what\\\":\\\"40\\\"}\"]}"},
      {"empty payload", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    log.lines.clear();
    Handle(row.payload);
    EXPECT_EQ(Lines(), std::vector<std::string>{"STAMP :" + row.payload});
    EXPECT_THAT(platform.actions, IsEmpty());
  }
  // The handler goes on with the next message as if nothing had happened.
  Handle(Envelope("volume", "30"));
  EXPECT_THAT(platform.actions, ElementsAre(TAction{TAction::kVolume, 30, u""}));
}

TEST_F(CommandHandlerTest, CommandObjectMayStandInDataItself) {
  Handle("{\"data\":[{\"action\":\"volume\",\"what\":\"40\"}]}");
  Handle("{\"data\":[{\"action\":\"volume\",\"what\":40}]} trailing text");
  EXPECT_THAT(platform.actions,
              ElementsAre(TAction{TAction::kVolume, 40, u""}, TAction{TAction::kVolume, 40, u""}));
}

TEST_F(CommandHandlerTest, PhraseListsAreReadAfreshForEveryMessage) {
  // Without quotes the blank splits "Set Volume" into two items, so "set"
  // matches first and leaves " volume 40", which reads as no number.
  lists.texts[TPhraseList::plVolume] = u"Set Volume,Volume";
  Handle(Envelope("process", "Set Volume 40"));
  EXPECT_EQ(Lines().back(), "processed volume ->  volume 40");
  EXPECT_THAT(platform.actions, IsEmpty());

  lists.texts[TPhraseList::plVolume] = u"Loudness";
  Handle(Envelope("process", "Loudness 20"));
  EXPECT_THAT(platform.actions, ElementsAre(TAction{TAction::kVolume, 20, u""}));
}

TEST_F(CommandHandlerTest, TheLastMatchingListDecides) {
  // What the function list leaves starts with a blank; a run item that
  // starts with one too matches it, so the run list decides.
  lists.texts[TPhraseList::plRun] = u"\" backglass\"";
  platform.existingFiles = {LaunchPath(u"now")};
  Handle(Envelope("process", "Do backglass now"));
  EXPECT_EQ(Lines()[1], "processed run ->  now");
  EXPECT_THAT(platform.actions, ElementsAre(TAction{TAction::kStart, 0, LaunchPath(u"now")}));
}

TEST_F(CommandHandlerTest, PayloadBytesAreSingleByteCharactersNotUtf8) {
  // 0xE9 is é in Windows-1252 and in the usual ANSI code pages.
  Handle(Envelope("find", "caf\xE9"));
  ASSERT_EQ(platform.actions.size(), 1u);
  EXPECT_EQ(platform.actions[0].text, u"{ \"FN\":1, \"SS\":\"caf\u00e9\" }");
}

} // namespace
} // namespace marquo
