// The POSIX frontend channel and local actions against the real system: a
// datagram socket standing in for the frontend, shell scripts in a temporary
// program folder, and a private PulseAudio server with a null sink.
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bridge/bridge_platform.hpp"
#include "bridge/command_handler.hpp"
#include "bridge/frontend_port.hpp"
#include "bridge/local_system.hpp"
#include "bridge/recording_platform.hpp"
#include "common/utf.hpp"

extern char **environ;

namespace marquo {
namespace {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it at the end of the test.
class TTempFolder {
public:
  TTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "marquo-test-XXXXXX").string();
    FPath = mkdtemp(pattern.data());
  }
  ~TTempFolder() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
  }
  const fs::path &path() const { return FPath; }
  // The folder as the bridge writes program folders: with a final separator.
  std::u16string ProgramFolder() const { return Utf8ToUtf16(FPath.string() + "/"); }

private:
  fs::path FPath;
};

// Sets an environment variable for the test's duration.
class TScopedEnv {
public:
  TScopedEnv(const char *aName, const std::string &aValue) : FName(aName) {
    if (const char *old = std::getenv(aName))
      FOld = old;
    setenv(aName, aValue.c_str(), 1);
  }
  ~TScopedEnv() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }

private:
  const char *FName;
  std::optional<std::string> FOld;
};

bool WaitFor(const std::function<bool()> &aCondition, std::chrono::seconds aLimit) {
  const auto deadline = std::chrono::steady_clock::now() + aLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (aCondition())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return aCondition();
}

// The frontend's end of the channel: a datagram socket at the endpoint path.
class TFrontendEndpoint {
public:
  explicit TFrontendEndpoint(const fs::path &aPath) {
    FSocket = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", aPath.c_str());
    bound = bind(FSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    timeval timeout{5, 0};
    setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~TFrontendEndpoint() { close(FSocket); }

  std::string Receive() {
    char buffer[4096];
    const ssize_t length = recv(FSocket, buffer, sizeof buffer, 0);
    return length < 0 ? std::string("<nothing>") : std::string(buffer, static_cast<std::size_t>(length));
  }

  bool bound = false;

private:
  int FSocket = -1;
};

TEST(PosixFrontendPort, DatagramsCarryTheRequestTextAndTheFunctionCode) {
  TTempFolder runtime;
  TScopedEnv env("XDG_RUNTIME_DIR", runtime.path().string());
  const std::unique_ptr<TFrontendPort> port = CreateFrontendPort();
  EXPECT_EQ(port->FindControlWindow(), kNoControlWindow) << "no socket yet";

  TFrontendEndpoint frontend(runtime.path() / "FMQControlForm");
  ASSERT_TRUE(frontend.bound);
  const TControlWindow window = port->FindControlWindow();
  ASSERT_NE(window, kNoControlWindow);

  // Through the real handler, so the whole path from payload to datagram is
  // the one the bridge takes.
  TRecordingLog log;
  TDefaultPhraseLists lists;
  const std::unique_ptr<TLocalSystem> system = CreateLocalSystem();
  TCommandHandler handler(log, lists, *port, *system, runtime.ProgramFolder());
  handler.MQTTMsg("t", R"({"data":["{\"action\":\"process\",\"what\":\"Find Game Castle Quest\"}"]})",
                  0, false);
  EXPECT_EQ(frontend.Receive(), "1034 10 { \"FN\":1, \"SS\":\"game castle quest\" }");
  handler.MQTTMsg("t", R"({"data":["{\"action\":\"do\",\"what\":\"shutdown\"}"]})", 0, false);
  EXPECT_EQ(frontend.Receive(), "1034 8 58");
  // Non-ASCII subjects travel as UTF-8.
  port->PostSearchText(window, 2, u"caf\u00e9");
  EXPECT_EQ(frontend.Receive(), "1034 10 caf\xC3\xA9");
}

TEST(PosixFrontendPort, AFileThatIsNoSocketIsNoFrontend) {
  TTempFolder runtime;
  TScopedEnv env("XDG_RUNTIME_DIR", runtime.path().string());
  std::ofstream(runtime.path() / "FMQControlForm") << "not a socket";
  EXPECT_EQ(CreateFrontendPort()->FindControlWindow(), kNoControlWindow);
}

TEST(PosixFrontendPort, PostingToAGoneFrontendNeitherBlocksNorFails) {
  TTempFolder runtime;
  TScopedEnv env("XDG_RUNTIME_DIR", runtime.path().string());
  const std::unique_ptr<TFrontendPort> port = CreateFrontendPort();
  TControlWindow window;
  {
    TFrontendEndpoint frontend(runtime.path() / "FMQControlForm");
    window = port->FindControlWindow();
    ASSERT_NE(window, kNoControlWindow);
  }
  EXPECT_TRUE(port->PostSearchText(window, 1, u"x"));
  port->PostFunctionCode(window, 7);
}

class PosixLaunchBatch : public testing::Test {
protected:
  TTempFolder folder;
  TRecordingLog log;
  TDefaultPhraseLists lists;
  TRecordingPlatform frontend;
  std::unique_ptr<TLocalSystem> system = CreateLocalSystem();
  TCommandHandler handler{log, lists, frontend, *system, folder.ProgramFolder()};

  void WriteScript(const fs::path &aPath, const std::string &aBody) {
    fs::create_directories(aPath.parent_path());
    std::ofstream(aPath) << aBody;
  }
};

TEST_F(PosixLaunchBatch, RunsInTheProgramFolderDetachedAndLeavesNoZombie) {
  // The script records its working folder, whether its standard input is
  // empty (/dev/null), where its standard output goes, and its session: the
  // leader of a new session has the session's id as its own.
  WriteScript(folder.path() / "launch" / "mark.sh",
              "pwd > where.tmp\n"
              "if [ -t 0 ] || ! read -r line; then echo empty; fi > stdin.tmp\n"
              "cut -d' ' -f6 /proc/$$/stat > sid.tmp\n"
              "out=$(readlink /proc/$$/fd/1); echo \"$out\" > stdout.tmp\n"
              "echo $$ > pid.tmp\n"
              "mv where.tmp where\n");
  handler.MQTTMsg("t", R"({"data":["{\"action\":\"process\",\"what\":\"Run Mark\"}"]})", 0, false);
  EXPECT_EQ(Utf16ToUtf8(log.lines.back()), "running: " + (folder.path() / "launch" / "mark.sh").string());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(folder.path() / "where"); }, std::chrono::seconds(20)));

  std::string where, sid, pid, input;
  std::ifstream(folder.path() / "where") >> where;
  std::ifstream(folder.path() / "stdin.tmp") >> input;
  EXPECT_EQ(input, "empty") << "standard input is /dev/null";
  std::string output;
  std::ifstream(folder.path() / "stdout.tmp") >> output;
  EXPECT_EQ(output, "/dev/null") << "standard output is /dev/null";
  std::ifstream(folder.path() / "sid.tmp") >> sid;
  std::ifstream(folder.path() / "pid.tmp") >> pid;
  EXPECT_EQ(fs::canonical(where), fs::canonical(folder.path()));
  EXPECT_EQ(sid, pid) << "the script leads a session of its own";
  // Nothing is left for this process to reap: the script was never its child.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(PosixLaunchBatch, RefusedAndMissingNamesRunNothing) {
  // A script right beside the launch folder that a crafted name would reach.
  WriteScript(folder.path() / "evil.sh", "touch ran\n");
  WriteScript(folder.path() / "launch" / "placeholder.sh", "touch ran\n");
  handler.RunLaunchBatch(u"../evil");
  handler.RunLaunchBatch(u"missing");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fs::exists(folder.path() / "ran"));
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(Utf16ToUtf8(log.lines[0]), "refused launch name: ../evil");
  EXPECT_EQ(Utf16ToUtf8(log.lines[1]), "running: " + (folder.path() / "launch" / "missing.sh").string());
}

TEST_F(PosixLaunchBatch, CustomBatchRunsFromTheProgramFolder) {
  WriteScript(folder.path() / "customvoice.sh", "touch custom-ran\n");
  frontend.frontendRunning = true;
  handler.MQTTMsg("t", R"({"data":["{\"action\":\"do\",\"what\":\"custom\"}"]})", 0, false);
  EXPECT_TRUE(WaitFor([&] { return fs::exists(folder.path() / "custom-ran"); }, std::chrono::seconds(20)));
}

// A private sound server with one null sink, as the default sink.
class TPulseServer {
public:
  TPulseServer() {
    socketPath = (FFolder.path() / "native").string();
    const std::string home = "HOME=" + FFolder.path().string();
    const std::string runtime = "XDG_RUNTIME_DIR=" + FFolder.path().string();
    const std::string protocol = "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socketPath;
    const char *argv[] = {"pulseaudio",        "-n",
                          "--daemonize=no",    "--exit-idle-time=-1",
                          "--use-pid-file=no", "--log-target=stderr",
                          "--log-level=error", "--load=module-null-sink sink_name=marquo_test",
                          protocol.c_str(),    nullptr};
    const char *envp[] = {home.c_str(), runtime.c_str(), "PATH=/usr/bin:/bin", nullptr};
    started = posix_spawnp(&FPid, "pulseaudio", nullptr, nullptr, const_cast<char **>(argv),
                           const_cast<char **>(envp)) == 0;
    started = started && WaitFor([&] { return !Pactl("info").empty(); }, std::chrono::seconds(15));
  }
  ~TPulseServer() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
  }

  // Runs pactl against this server and returns what it printed.
  std::string Pactl(const std::string &anArgs) const {
    const std::string command = "pactl --server=unix:" + socketPath + " " + anArgs + " 2>/dev/null";
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
      char buffer[512];
      while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
      pclose(pipe);
    }
    return output;
  }

  // The default sink's volume of its first channel, in raw units.
  long Volume() const {
    const std::string text = Pactl("get-sink-volume @DEFAULT_SINK@");
    const std::size_t colon = text.find(':', text.find("front-left"));
    return colon == std::string::npos ? -1 : std::strtol(text.c_str() + colon + 1, nullptr, 10);
  }

  bool started = false;
  std::string socketPath;

private:
  TTempFolder FFolder;
  pid_t FPid = -1;
};

TEST(PosixMasterVolume, SetsTheDefaultSinkToAPercentOfNormal) {
  TPulseServer server;
  ASSERT_TRUE(server.started) << "pulseaudio (Debian packages pulseaudio, pulseaudio-utils) did not start";
  TScopedEnv env("PULSE_SERVER", "unix:" + server.socketPath);

  struct Row {
    int percent;
    long expected; // raw units: 65536 is the normal level
  };
  const Row rows[] = {{40, 26214}, {100, 65536}, {0, 0}, {33, 21626},
                      // Outside 0..100 nothing changes: the level stays at 33 %.
                      {150, 21626}, {-1, 21626}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.percent);
    SetMasterVolume(row.percent);
    EXPECT_EQ(server.Volume(), row.expected);
  }
}

TEST(PosixMasterVolume, NoSoundServerChangesNothingAndReturns) {
  TTempFolder nowhere;
  TScopedEnv env("PULSE_SERVER", "unix:" + (nowhere.path() / "none").string());
  const auto start = std::chrono::steady_clock::now();
  SetMasterVolume(50);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
} // namespace marquo
