// The platform's channel to the frontend's control window.
//
// Windows: the top-level window titled "FMQControlForm" (FindWindowW); a
// search text travels as a global atom (GlobalAddAtomW) in a posted control
// message, a function code as the message's lParam (PostMessageW).
//
// POSIX: the control endpoint is the Unix-domain datagram socket
// "FMQControlForm" in $XDG_RUNTIME_DIR (/tmp when that is unset); it is found
// when a socket exists at that path. Each post is one datagram of UTF-8
// text, "1034 10 " + the request text, or "1034 8 " + the decimal code.
//
// Posting never blocks and never waits for the frontend; whether the
// frontend received a post is not known.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace marquo {

// A found control window (Windows: its HWND); kNoControlWindow when none.
using TControlWindow = std::uintptr_t;
inline constexpr TControlWindow kNoControlWindow = 0;

class TFrontendPort {
public:
  virtual ~TFrontendPort() = default;

  // Looks the control window up afresh.
  virtual TControlWindow FindControlWindow() = 0;
  // Posts the text of search request number aNumber to a found window (the
  // number is also inside the text; the platform needs only the text). False
  // when the text could not be handed to the platform at all (Windows: the
  // atom table refused it, for instance because it is longer than an atom
  // name may be); nothing is posted then.
  virtual bool PostSearchText(TControlWindow aWindow, int aNumber, const std::u16string &aText) = 0;
  // Posts a function code to a found window.
  virtual void PostFunctionCode(TControlWindow aWindow, std::int32_t aCode) = 0;
};

// The platform's real channel.
std::unique_ptr<TFrontendPort> CreateFrontendPort();

} // namespace marquo
