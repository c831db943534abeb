#include "tools/probe.hpp"

#include "common/utf.hpp"
#include "json/json_value.hpp"

namespace marquo {
namespace {

constexpr const char *kUsage = "usage: marquo-probe json TEXT\n";

// json TEXT: "none" when TEXT does not parse, otherwise the root's kind and
// its text form, one line each.
int ProbeJson(const std::u16string &aText, ProbeOutput &anOutput) {
  const JsonValuePtr root = ParseJson(aText);
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

} // namespace

int RunProbe(const std::vector<std::u16string> &anArgs, ProbeOutput &anOutput) {
  if (anArgs.size() == 2 && anArgs[0] == u"json")
    return ProbeJson(anArgs[1], anOutput);
  anOutput.err += kUsage;
  return 2;
}

} // namespace marquo
