// The commands of marquo-probe, one source file each. A command gets the
// arguments after its name and returns the exit status: 0 when it ran,
// kProbeBadArguments when the arguments do not fit (the caller then prints
// the usage).
#pragma once

#include <string>
#include <vector>

#include "tools/probe.hpp"

namespace marquo {

constexpr int kProbeBadArguments = 2;

using ProbeArgs = std::vector<std::u16string>;

int ProbeJson(const ProbeArgs &anArgs, ProbeOutput &anOutput); // probe_json.cpp
int ProbeResolve(const ProbeArgs &anArgs, ProbeOutput &anOutput); // probe_resolve.cpp
int ProbeParse(const ProbeArgs &anArgs, ProbeOutput &anOutput); // probe_parse.cpp
int ProbeMqtt(const ProbeArgs &anArgs, ProbeOutput &anOutput);  // probe_mqtt.cpp

} // namespace marquo
