#include "common/utf.hpp"
#include "json/json_value.hpp"
#include "tools/probe_commands.hpp"

namespace marquo {

// json TEXT: "none" when TEXT does not parse, otherwise the root's kind and
// its text form, one line each.
int ProbeJson(const ProbeArgs &anArgs, ProbeOutput &anOutput) {
  if (anArgs.size() != 1)
    return kProbeBadArguments;
  const JsonValuePtr root = ParseJson(anArgs[0]);
  if (!root) {
    anOutput.out += "none\n";
    return 0;
  }
  anOutput.out += JsonTypeName(root->DataType());
  anOutput.out += '\n';
  anOutput.out += Utf16ToUtf8(root->AsString());
  anOutput.out += '\n';
  return 0;
}

} // namespace marquo
