#include "bridge/command_handler.hpp"

#include "bridge/bridge_platform.hpp"
#include "bridge/phrase_match.hpp"
#include "json/json_value.hpp"

namespace marquo {
namespace {

// A refused name comes from the network and goes into a log line of its
// own; written with its control characters as \u escapes, it stays on that
// one line and shows what was really sent.
std::u16string ControlCharactersEscaped(std::u16string_view aText) {
  std::u16string text;
  for (char16_t unit : aText) {
    if (unit < 0x20 || unit == 0x7F)
      AppendUnicodeEscape(text, unit);
    else
      text.push_back(unit);
  }
  return text;
}

} // namespace

TCommandHandler::TCommandHandler(TActivityLog &aLog, TPhraseLists &aLists, TFrontendPort &aPort,
                                 TLocalSystem &aSystem, std::u16string aProgramFolder)
    : FLog(aLog), FLists(aLists), FSystem(aSystem), FChannel(aPort),
      FProgramFolder(std::move(aProgramFolder)) {
  FChannel.OnCustom = [this] { RunCustomBatch(); };
}

void TCommandHandler::MQTTMsg(std::string_view /*aTopic*/, std::string_view aMessage,
                              int /*aQos*/, bool /*aRetained*/) {
  // Every message is logged before anything is parsed, so even a message
  // that is dropped below has left its trace.
  const std::u16string payload = PayloadToText(aMessage);
  FLog.AppendLine(FLog.TimeStamp() + u" :" + payload);

  // The envelope is doubly encoded: element 0 of "data" is itself JSON,
  // usually as a string, though an object there reads the same.
  const JsonValuePtr envelope = ParseJson(payload);
  if (!envelope)
    return;
  const std::shared_ptr<JsonArray> data = envelope->GetA(u"data");
  if (!data)
    return;
  const JsonValuePtr command = ParseJson(data->GetS(0));
  if (!command)
    return;

  // One lookup serves the whole dispatch of this message.
  const TControlWindow window = FChannel.FindControlWindow();

  std::u16string action = command->GetS(u"action");
  std::u16string subject = command->GetS(u"what");

  if (action == u"process") {
    subject = TrimBlanks(subject);
    for (const TPhraseListInfo &info : kPhraseLists) {
      std::u16string rest = MatchPhrase(FLists.ListText(info.list), subject);
      if (!rest.empty()) {
        action = info.action;
        subject = std::move(rest);
      }
    }
    // The subject is logged as the match left it, usually with a blank in
    // front.
    FLog.AppendLine(u"processed " + action + u" -> " + subject);
    subject = TrimBlanks(subject);
  }

  Dispatch(action, subject, window);
}

void TCommandHandler::Dispatch(std::u16string_view anAction, const std::u16string &aSubject,
                               TControlWindow aWindow) {
  if (anAction == u"find" || anAction == u"list") {
    const int number = anAction == u"find" ? kFindGameRequest : kFindListRequest;
    // A request the platform refused would otherwise vanish without a trace.
    if (!FChannel.PostSearchRequest(aWindow, number, aSubject))
      FLog.AppendLine(u"not sent to the frontend: " + SearchRequestText(number, aSubject));
  } else if (anAction == u"volume") {
    const std::int32_t percent = ReadVolumeNumber(aSubject);
    if (percent >= 0)
      FSystem.SetMasterVolume(percent);
  } else if (anAction == u"run") {
    RunLaunchBatch(aSubject);
  } else if (anAction == u"do") {
    if (aWindow != kNoControlWindow)
      FChannel.PostFunctionCommand(aWindow, aSubject);
  }
}

bool TCommandHandler::IsPlainLaunchName(std::u16string_view aName) {
  return !aName.empty() && aName != u".." &&
         aName.find_first_of(std::u16string_view(u"\\/:\0", 4)) == std::u16string_view::npos;
}

void TCommandHandler::RunLaunchBatch(const std::u16string &aBatName) {
  // The name comes from the network: only a plain file name keeps the batch
  // file inside the launch folder.
  if (!IsPlainLaunchName(aBatName)) {
    FLog.AppendLine(std::u16string(kRefusedLaunchLine) + ControlCharactersEscaped(aBatName));
    return;
  }
  const std::u16string path =
      FProgramFolder + u"launch" + std::u16string(kPathSeparator) + aBatName +
      std::u16string(kBatchExtension);
  FLog.AppendLine(u"running: " + path);
  if (FSystem.FileExists(path))
    FSystem.StartHidden(path, FProgramFolder);
}

std::u16string TCommandHandler::CustomBatchPath() const {
  return FProgramFolder + u"customvoice" + std::u16string(kBatchExtension);
}

void TCommandHandler::RunCustomBatch() {
  // No existence test here: a missing custom batch simply does not start.
  FSystem.StartHidden(CustomBatchPath(), FProgramFolder);
}

} // namespace marquo
