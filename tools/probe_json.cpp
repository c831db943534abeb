#include "bridge/bridge_platform.hpp"
#include "common/utf.hpp"
#include "json/json_value.hpp"
#include "tools/probe_commands.hpp"

namespace marquo {

// json TEXT|-: "none" when the text does not parse, otherwise the root's kind
// and its text form, one line each. TEXT is taken as the characters typed;
// "-" takes standard input as a payload's bytes and reads them the way the
// bridge reads a payload (PayloadToText), so the bytes after a NUL, and each
// byte's meaning in the payload code page, are tried as the bridge meets them.
int ProbeJson(const ProbeArgs &anArgs, ProbeOutput &anOutput) {
  if (anArgs.size() != 1)
    return kProbeBadArguments;
  const JsonValuePtr root =
      ParseJson(anArgs[0] == u"-" ? PayloadToText(ReadProbeInput(anOutput)) : anArgs[0]);
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
