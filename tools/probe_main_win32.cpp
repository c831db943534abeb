// The Windows entry of marquo-probe. The command line is taken as UTF-16
// (wmain), so no character is lost to the ANSI code page; the output is
// written as UTF-8 bytes with bare line feeds, the same bytes the POSIX build
// writes. Standard input is read in binary mode, so a payload's CR LF, a
// Ctrl-Z (0x1A) or a NUL byte reaches the command as it was sent.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>

#include "tools/probe.hpp"

int wmain(int argc, wchar_t **argv) {
  try {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i)
      args.emplace_back(reinterpret_cast<const char16_t *>(argv[i]));
    marquo::ProbeOutput output;
    output.stream = [](std::string_view aText) {
      std::fwrite(aText.data(), 1, aText.size(), stdout);
      std::fflush(stdout);
    };
    const int status = marquo::RunProbe(args, output, [] {
      _setmode(_fileno(stdin), _O_BINARY);
      return marquo::ReadWholeStream(stdin);
    });
    std::fwrite(output.out.data(), 1, output.out.size(), stdout);
    std::fwrite(output.err.data(), 1, output.err.size(), stderr);
    return std::fflush(stdout) == 0 ? status : 1;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "marquo-probe: %s\n", e.what());
    return 1;
  }
}
