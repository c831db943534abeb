// The Windows event loop is the thread's message loop. Each target is a
// hidden message-only window: its timers are window timers (SetTimer /
// KillTimer) and its posted work travels as a message posted to itself
// (PostMessageW). Because everything arrives through window procedures, the
// targets work just as well when another part of the program pumps the
// messages; Run and RunUntil are only one way of doing it.
#include "loop/event_loop.hpp"

#include <windows.h>

#include <algorithm>
#include <deque>
#include <map>
#include <stdexcept>
#include <utility>

namespace marquo {

namespace {

constexpr UINT kPostedWork = WM_APP + 1;
constexpr wchar_t kTargetClass[] = L"MarquoLoopTarget";

// Timer messages can be produced a little before the deadline we computed
// (the system timer has a coarse tick); one that comes earlier than this is
// left alone, and the window timer, which repeats, delivers again later.
constexpr ULONGLONG kEarlySlackMs = 16;

LRESULT CALLBACK TargetProc(HWND aWnd, UINT aMsg, WPARAM aWParam, LPARAM aLParam);

void RegisterTargetClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = TargetProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kTargetClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered)
    throw std::runtime_error("RegisterClassExW failed for the event loop's window class");
}

class Win32Loop;

class Win32Target final : public EventTarget {
public:
  Win32Target(Win32Loop &aLoop, TimerHandler aHandler);
  ~Win32Target() override;

  void Arm(unsigned aNumber, LoopDuration anInterval) override;
  void Disarm(unsigned aNumber) override;
  bool IsArmed(unsigned aNumber) const override { return FDeadlines.count(aNumber) != 0; }
  void Post(Work aWork) override;

  void OnTimer(UINT_PTR anId);
  void OnPostedWork();

private:
  static UINT_PTR TimerId(unsigned aNumber) { return static_cast<UINT_PTR>(aNumber) + 1; }

  Win32Loop &FLoop;
  const TimerHandler FHandler;
  HWND FWnd = nullptr;
  std::map<unsigned, ULONGLONG> FDeadlines; // armed timers and their due time
  std::deque<Work> FPosted;
};

class Win32Loop final : public EventLoop {
public:
  std::unique_ptr<EventTarget> CreateTarget(EventTarget::TimerHandler aTimerHandler) override {
    return std::make_unique<Win32Target>(*this, std::move(aTimerHandler));
  }

  void Run() override {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  void Quit() override { PostQuitMessage(0); }

  bool RunUntil(const std::function<bool()> &aDone, LoopDuration anInterval) override {
    const ULONGLONG end =
        GetTickCount64() +
        static_cast<ULONGLONG>(std::max<LoopDuration::rep>(anInterval.count(), 0));
    while (!aDone()) {
      MSG msg;
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          // Left for whoever runs the outer loop.
          PostQuitMessage(static_cast<int>(msg.wParam));
          return aDone();
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        continue;
      }
      const ULONGLONG now = GetTickCount64();
      if (now >= end)
        return aDone();
      MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
    }
    return true;
  }
};

Win32Target::Win32Target(Win32Loop &aLoop, TimerHandler aHandler)
    : FLoop(aLoop), FHandler(std::move(aHandler)) {
  RegisterTargetClass();
  FWnd = CreateWindowExW(0, kTargetClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
  if (!FWnd)
    throw std::runtime_error("CreateWindowExW failed for an event loop target");
  SetWindowLongPtrW(FWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Target::~Win32Target() {
  SetWindowLongPtrW(FWnd, GWLP_USERDATA, 0);
  for (const auto &[number, deadline] : FDeadlines)
    KillTimer(FWnd, TimerId(number));
  // Messages still queued for the window are discarded with it.
  DestroyWindow(FWnd);
}

void Win32Target::Arm(unsigned aNumber, LoopDuration anInterval) {
  const auto ms = std::clamp<LoopDuration::rep>(anInterval.count(), 0, USER_TIMER_MAXIMUM);
  if (!SetTimer(FWnd, TimerId(aNumber), static_cast<UINT>(ms), nullptr))
    throw std::runtime_error("SetTimer failed");
  FDeadlines[aNumber] = GetTickCount64() + static_cast<ULONGLONG>(ms);
}

void Win32Target::Disarm(unsigned aNumber) {
  if (FDeadlines.erase(aNumber) != 0)
    KillTimer(FWnd, TimerId(aNumber));
}

void Win32Target::Post(Work aWork) {
  FPosted.push_back(std::move(aWork));
  if (!PostMessageW(FWnd, kPostedWork, 0, 0)) {
    FPosted.pop_back();
    throw std::runtime_error("PostMessageW failed");
  }
}

void Win32Target::OnTimer(UINT_PTR anId) {
  const unsigned number = static_cast<unsigned>(anId - 1);
  const auto it = FDeadlines.find(number);
  if (it == FDeadlines.end()) {
    KillTimer(FWnd, anId);
    return;
  }
  if (GetTickCount64() + kEarlySlackMs < it->second)
    return;
  // Disarmed before the handler runs, so the handler may arm it again.
  FDeadlines.erase(it);
  KillTimer(FWnd, anId);
  // A copy, because the handler may destroy this target.
  const TimerHandler handler = FHandler;
  if (handler)
    FLoop.Guard([&] { handler(number); });
}

void Win32Target::OnPostedWork() {
  if (FPosted.empty())
    return;
  Work work = std::move(FPosted.front());
  FPosted.pop_front();
  if (work)
    FLoop.Guard(work);
}

LRESULT CALLBACK TargetProc(HWND aWnd, UINT aMsg, WPARAM aWParam, LPARAM aLParam) {
  // No exception may unwind into the system: the handlers are guarded by
  // the loop, and this catches what the bookkeeping itself might throw.
  try {
    auto *target = reinterpret_cast<Win32Target *>(GetWindowLongPtrW(aWnd, GWLP_USERDATA));
    if (target && aMsg == WM_TIMER) {
      target->OnTimer(aWParam);
      return 0;
    }
    if (target && aMsg == kPostedWork) {
      target->OnPostedWork();
      return 0;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(aWnd, aMsg, aWParam, aLParam);
}

} // namespace

std::unique_ptr<EventLoop> CreateEventLoop() { return std::make_unique<Win32Loop>(); }

} // namespace marquo
