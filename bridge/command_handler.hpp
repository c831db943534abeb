// The handling of one voice command message: log it, unwrap its JSON
// envelope, resolve a spoken phrase against the phrase lists and carry out
// at most one action, on the frontend or on the local machine.
//
// The handler keeps no state between messages and never throws for a
// malformed message: such a message is logged and dropped, and the next one
// is handled normally.
#pragma once

#include <string>
#include <string_view>

#include "bridge/activity_log.hpp"
#include "bridge/frontend_channel.hpp"
#include "bridge/local_system.hpp"
#include "bridge/phrase_lists.hpp"

namespace marquo {

// The log line that replaces "running: " when a launch name is refused; the
// name follows it.
inline constexpr std::u16string_view kRefusedLaunchLine = u"refused launch name: ";

class TCommandHandler {
public:
  // The handler uses, and does not own, the log, the lists and the platform
  // parts; they must outlive it. aProgramFolder ends in a path separator.
  TCommandHandler(TActivityLog &aLog, TPhraseLists &aLists, TFrontendPort &aPort,
                  TLocalSystem &aSystem, std::u16string aProgramFolder);

  // The client's message event: aMessage is the payload. The topic, QoS and
  // retain flag do not matter: every delivered message is handled alike.
  void MQTTMsg(std::string_view aTopic, std::string_view aMessage, int aQos, bool aRetained);

  // Runs launch\NAME.bat (launch/NAME.sh on POSIX) from the program folder
  // when it exists, after the log line "running: " + its path. A name that
  // could reach outside the launch folder is refused with a log line.
  void RunLaunchBatch(const std::u16string &aBatName);
  // Runs customvoice.bat (customvoice.sh) from the program folder.
  void RunCustomBatch();

  // The path RunCustomBatch starts.
  std::u16string CustomBatchPath() const;

  // True when aName may name a batch file in the launch folder: not empty,
  // no path separator, no drive colon, not "..", no U+0000.
  static bool IsPlainLaunchName(std::u16string_view aName);

private:
  void Dispatch(std::u16string_view anAction, const std::u16string &aSubject,
                TControlWindow aWindow);

  TActivityLog &FLog;
  TPhraseLists &FLists;
  TLocalSystem &FSystem;
  TFrontendChannel FChannel;
  std::u16string FProgramFolder;
};

} // namespace marquo
