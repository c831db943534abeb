#include "tools/probe.hpp"

#include "tools/probe_commands.hpp"

namespace marquo {
namespace {

struct ProbeCommand {
  std::u16string_view name;
  const char *usage; // the arguments, as the usage line shows them
  int (*run)(const ProbeArgs &, ProbeOutput &);
};

// One row per command, in the order the usage lists them.
const ProbeCommand kCommands[] = {
    {u"json", "json TEXT", ProbeJson},
    {u"resolve", "resolve [--no-frontend] PAYLOAD", ProbeResolve},
    {u"parse", "parse HEX...", ProbeParse},
};

void AppendUsage(ProbeOutput &anOutput) {
  const char *lead = "usage: ";
  for (const ProbeCommand &command : kCommands) {
    anOutput.err += lead;
    anOutput.err += "marquo-probe ";
    anOutput.err += command.usage;
    anOutput.err += '\n';
    lead = "       ";
  }
}

} // namespace

int RunProbe(const std::vector<std::u16string> &anArgs, ProbeOutput &anOutput) {
  if (!anArgs.empty()) {
    for (const ProbeCommand &command : kCommands) {
      if (anArgs[0] != command.name)
        continue;
      const int status = command.run(ProbeArgs(anArgs.begin() + 1, anArgs.end()), anOutput);
      if (status != kProbeBadArguments)
        return status;
      break;
    }
  }
  AppendUsage(anOutput);
  return kProbeBadArguments;
}

} // namespace marquo
