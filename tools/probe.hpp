// marquo-probe: a diagnostic tool that runs the program's own code on input
// given on the command line or on standard input, so a cabinet owner (or a
// test) can see what the bridge would make of it.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace marquo {

// Reads the whole of standard input and returns it as the bytes that came,
// untranslated; throws std::runtime_error when it cannot be read. Each main
// supplies one that reads the process's real standard input; a test supplies
// canned bytes.
using ProbeInput = std::function<std::string()>;

struct ProbeOutput {
  std::string out; // UTF-8, for standard output
  std::string err; // UTF-8, for standard error
  // Where a command reads standard input from, set by RunProbe for the one
  // command it runs; it travels here because this struct is what every
  // command is handed besides its arguments. Only a command given "-" reads
  // it, so a probe whose input is all on the command line never waits on a
  // terminal. Empty reads as empty input.
  ProbeInput input;
  // Where a command that runs for a while (mqtt) writes its standard output
  // as it goes, each line the moment it happens; set by the mains. Without
  // it the lines are collected in out like every other command's.
  std::function<void(std::string_view aText)> stream;
};

// Writes aLine and a line feed through anOutput.stream, or appends them to
// anOutput.out when there is no stream.
void WriteProbeLine(ProbeOutput &anOutput, std::string_view aLine);

// All that is left of aStream, as bytes; throws std::runtime_error on a read
// error. The mains build their ProbeInput on it, after putting standard input
// into binary mode where the platform has a text mode.
std::string ReadWholeStream(std::FILE *aStream);

// Reads standard input through anOutput.input, or nothing when it has none.
std::string ReadProbeInput(const ProbeOutput &anOutput);

// Runs one probe command. anArgs are the arguments after the program name;
// anInput reads standard input for the commands that are given "-" (none
// leaves it empty). Returns the exit status: 0 when the command ran, 2 on
// bad arguments (with a usage line on the error output).
int RunProbe(const std::vector<std::u16string> &anArgs, ProbeOutput &anOutput,
             ProbeInput anInput = {});

} // namespace marquo
