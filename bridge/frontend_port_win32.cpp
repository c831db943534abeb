#include "bridge/frontend_port.hpp"

#include <windows.h>

#include "bridge/fmq_types.hpp"

namespace marquo {
namespace {

HWND AsWindow(TControlWindow aWindow) { return reinterpret_cast<HWND>(aWindow); }

class TWindowMessageFrontendPort : public TFrontendPort {
public:
  TControlWindow FindControlWindow() override {
    // Any window class: the title alone identifies the frontend.
    return reinterpret_cast<TControlWindow>(
        FindWindowW(nullptr, reinterpret_cast<const wchar_t *>(kControlWindowTitle)));
  }

  bool PostSearchText(TControlWindow aWindow, int, const std::u16string &aText) override {
    // The frontend reads the text by its atom and deletes the atom; the
    // bridge never does.
    const ATOM atom = GlobalAddAtomW(reinterpret_cast<const wchar_t *>(aText.c_str()));
    // Atom names are limited to 255 characters. A zero atom would reach the
    // frontend as a request without text, so nothing is posted.
    if (atom == 0)
      return false;
    PostMessageW(AsWindow(aWindow), WM_FMQCONTROL, FMQ_REQUEST_SEARCH, static_cast<LPARAM>(atom));
    return true;
  }

  void PostFunctionCode(TControlWindow aWindow, std::int32_t aCode) override {
    PostMessageW(AsWindow(aWindow), WM_FMQCONTROL, FMQ_REQUEST_FUNCTION, static_cast<LPARAM>(aCode));
  }
};

} // namespace

std::unique_ptr<TFrontendPort> CreateFrontendPort() {
  return std::make_unique<TWindowMessageFrontendPort>();
}

} // namespace marquo
