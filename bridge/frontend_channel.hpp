// The requests the bridge sends to the frontend, built on the platform's
// channel (TFrontendPort).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/frontend_port.hpp"

namespace marquo {

// Search request numbers ("FN").
inline constexpr int kFindGameRequest = 1;
inline constexpr int kFindListRequest = 2;

// The request text for request number aNumber: { "FN":n, "SS":"subject" }.
// The subject is escaped as a JSON string ('"', '\' and control characters),
// so the frontend always receives valid JSON; a subject without those
// characters is inserted unchanged.
std::u16string SearchRequestText(int aNumber, std::u16string_view aSubject);

// Appends aUnit as a JSON \u escape with four lower-case hexadecimal digits.
void AppendUnicodeEscape(std::u16string &aOut, char16_t aUnit);

// What a function word asks for: a function code to post, or the custom
// batch file (kCustomFunction); nothing for an unknown word. Words compare
// exactly, case included.
inline constexpr std::int32_t kCustomFunction = -1;
std::optional<std::int32_t> FunctionCodeOf(std::u16string_view aWord);

class TFrontendChannel {
public:
  explicit TFrontendChannel(TFrontendPort &aPort) : FPort(aPort) {}

  // Raised for the function word "custom", instead of a post.
  std::function<void()> OnCustom;

  TControlWindow FindControlWindow() { return FPort.FindControlWindow(); }

  // Builds the request text and posts it when aWindow was found. Returns
  // false only when a found window could not be given the text.
  bool PostSearchRequest(TControlWindow aWindow, int aNumber, std::u16string_view aSubject);

  // Posts the function code of aWord to a found window; "custom" raises
  // OnCustom instead, and unknown words do nothing.
  void PostFunctionCommand(TControlWindow aWindow, std::u16string_view aWord);

private:
  TFrontendPort &FPort;
};

} // namespace marquo
