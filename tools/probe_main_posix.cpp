// The POSIX entry of marquo-probe: arguments arrive as UTF-8 bytes, and
// standard input is read as the bytes it holds.
#include <cstdio>
#include <exception>

#include "common/utf.hpp"
#include "tools/probe.hpp"

int main(int argc, char **argv) {
  try {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i)
      args.push_back(marquo::Utf8ToUtf16(argv[i]));
    marquo::ProbeOutput output;
    output.stream = [](std::string_view aText) {
      std::fwrite(aText.data(), 1, aText.size(), stdout);
      std::fflush(stdout);
    };
    const int status =
        marquo::RunProbe(args, output, [] { return marquo::ReadWholeStream(stdin); });
    std::fwrite(output.out.data(), 1, output.out.size(), stdout);
    std::fwrite(output.err.data(), 1, output.err.size(), stderr);
    return std::fflush(stdout) == 0 ? status : 1;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "marquo-probe: %s\n", e.what());
    return 1;
  }
}
