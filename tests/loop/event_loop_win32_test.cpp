// The Windows loop delivers everything through window procedures, so its
// targets work when another part of the program pumps the messages, as the
// main window's own message loop does.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loop/event_loop.hpp"

namespace {

TEST(Win32EventLoopTest, TargetsWorkUnderAForeignMessagePump) {
  auto loop = marquo::CreateEventLoop();
  std::vector<std::string> log;
  auto target = loop->CreateTarget([&](unsigned aNumber) {
    log.push_back("timer " + std::to_string(aNumber));
    PostQuitMessage(0);
  });
  target->Post([&] { log.push_back("work"); });
  target->Arm(2, std::chrono::milliseconds(20));
  // A safety net, so a lost timer ends the test instead of hanging it.
  const UINT_PTR guard = SetTimer(nullptr, 0, 10000, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr)
      break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  KillTimer(nullptr, guard);
  EXPECT_EQ(log, (std::vector<std::string>{"work", "timer 2"}));
}

} // namespace
