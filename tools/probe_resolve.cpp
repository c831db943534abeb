#include "bridge/command_handler.hpp"
#include "bridge/recording_platform.hpp"
#include "common/file_system.hpp"
#include "common/utf.hpp"
#include "tools/probe_commands.hpp"

namespace marquo {

// resolve [--no-frontend] PAYLOAD|-: runs the real command handling on
// PAYLOAD (or on the bytes of standard input, for "-") with the default
// phrase lists, records instead of acting, and prints the log lines (time
// stamp "-") followed by one line per action, or "none".
int ProbeResolve(const ProbeArgs &anArgs, ProbeOutput &anOutput) {
  bool frontend = true;
  std::size_t next = 0;
  if (!anArgs.empty() && anArgs[0] == u"--no-frontend") {
    frontend = false;
    next = 1;
  }
  if (anArgs.size() != next + 1)
    return kProbeBadArguments;
  // The command line's UTF-8 bytes are the payload's bytes, exactly as the
  // broker would deliver them; standard input gives them untouched, so a
  // payload may hold any byte, NUL included, and be of any length.
  const std::string payload =
      anArgs[next] == u"-" ? ReadProbeInput(anOutput) : Utf16ToUtf8(anArgs[next]);

  TRecordingLog log;
  TDefaultPhraseLists lists;
  TRecordingPlatform platform;
  platform.frontendRunning = frontend;
  // Whether a launch batch would run depends on this machine's files.
  const std::unique_ptr<TLocalSystem> system = CreateLocalSystem();
  platform.fileExists = [&system](const std::u16string &aPath) { return system->FileExists(aPath); };
  TCommandHandler handler(log, lists, platform, platform, ProgramFolder());
  handler.MQTTMsg("", payload, 0, false);

  std::vector<std::string> actions;
  for (const std::u16string &line : log.lines) {
    anOutput.out += Utf16ToUtf8(line) + '\n';
    if (line.rfind(kRefusedLaunchLine, 0) == 0)
      actions.push_back("refused " + Utf16ToUtf8(line.substr(kRefusedLaunchLine.size())));
  }
  for (const TRecordedAction &action : platform.actions) {
    switch (action.kind) {
    case TRecordedAction::kSearch:
      actions.push_back("search " + std::to_string(action.number) + ' ' + Utf16ToUtf8(action.text));
      break;
    case TRecordedAction::kFunction:
      actions.push_back("function " + std::to_string(action.number));
      break;
    case TRecordedAction::kVolume:
      actions.push_back("volume " + std::to_string(action.number));
      break;
    case TRecordedAction::kStart:
      actions.push_back(action.text == handler.CustomBatchPath() ? std::string("custom")
                                                                 : "run " + Utf16ToUtf8(action.text));
      break;
    }
  }
  if (actions.empty())
    actions.push_back("none");
  for (const std::string &action : actions)
    anOutput.out += action + '\n';
  return 0;
}

} // namespace marquo
