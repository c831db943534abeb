#include "tools/probe.hpp"

#include <stdexcept>
#include <utility>

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
    {u"json", "json TEXT|-", ProbeJson},
    {u"resolve", "resolve [--no-frontend] PAYLOAD|-", ProbeResolve},
    {u"parse", "parse HEX|-...", ProbeParse},
    {u"mqtt",
     "mqtt [--host H] [--port P] [--user U] [--password W] [--id ID] [--keepalive S]\n"
     "                         [--no-clean] [--will TOPIC MESSAGE QOS RETAIN] [--sub FILTER QOS]...\n"
     "                         [--pub TOPIC MESSAGE QOS RETAIN]... [--count N] [--seconds S]",
     ProbeMqtt},
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

std::string ReadWholeStream(std::FILE *aStream) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, aStream);
    bytes.append(buffer, got);
    if (got < sizeof buffer)
      break;
  }
  if (std::ferror(aStream))
    throw std::runtime_error("cannot read the input");
  return bytes;
}

void WriteProbeLine(ProbeOutput &anOutput, std::string_view aLine) {
  if (anOutput.stream) {
    std::string text(aLine);
    text += '\n';
    anOutput.stream(text);
  } else {
    anOutput.out += aLine;
    anOutput.out += '\n';
  }
}

std::string ReadProbeInput(const ProbeOutput &anOutput) {
  return anOutput.input ? anOutput.input() : std::string();
}

int RunProbe(const std::vector<std::u16string> &anArgs, ProbeOutput &anOutput, ProbeInput anInput) {
  anOutput.input = std::move(anInput);
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
