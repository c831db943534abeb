// marquo-probe: a diagnostic tool that runs the program's own code on input
// given on the command line, so a cabinet owner (or a test) can see what the
// bridge would make of it.
#pragma once

#include <string>
#include <vector>

namespace marquo {

struct ProbeOutput {
  std::string out; // UTF-8, for standard output
  std::string err; // UTF-8, for standard error
};

// Runs one probe command. anArgs are the arguments after the program name.
// Returns the exit status: 0 when the command ran, 2 on bad arguments (with a
// usage line on the error output).
int RunProbe(const std::vector<std::u16string> &anArgs, ProbeOutput &anOutput);

} // namespace marquo
