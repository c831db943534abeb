// The activity log the command handling writes to (the main window's log
// box, or a console in a tool). Lines are only ever appended.
#pragma once

#include <string>

namespace marquo {

class TActivityLog {
public:
  virtual ~TActivityLog() = default;

  // Appends aLine as the log's new last line.
  virtual void AppendLine(const std::u16string &aLine) = 0;
  // The current local date and time in the form the log's stamped lines
  // begin with.
  virtual std::u16string TimeStamp() = 0;
};

} // namespace marquo
