// What the bridge posts to the frontend's control window: the window's
// title, the message number and the two kinds of request it carries.
#pragma once

#include <cstdint>

namespace marquo {

// The title of the frontend's top-level control window.
inline constexpr char16_t kControlWindowTitle[] = u"FMQControlForm";

// The control message, WM_USER + 10.
inline constexpr std::uint32_t WM_FMQCONTROL = 1024 + 10;

// wParam of the control message: lParam is a global atom naming a request text.
inline constexpr std::uintptr_t FMQ_REQUEST_SEARCH = 10;
// wParam of the control message: lParam is a function code.
inline constexpr std::uintptr_t FMQ_REQUEST_FUNCTION = 8;

} // namespace marquo
