// A stand-in for the frontend channel and the local actions that carries
// nothing out and records what it was asked to do, in order. The tests use
// it, and so does marquo-probe to show what a payload would do.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "bridge/activity_log.hpp"
#include "bridge/frontend_port.hpp"
#include "bridge/local_system.hpp"

namespace marquo {

struct TRecordedAction {
  enum Kind { kSearch, kFunction, kVolume, kStart };
  Kind kind;
  std::int32_t number = 0; // request number, function code or percent
  std::u16string text;     // request text, or the started path

  bool operator==(const TRecordedAction &) const = default;
};

class TRecordingPlatform : public TFrontendPort, public TLocalSystem {
public:
  // Whether FindControlWindow finds the frontend.
  bool frontendRunning = true;
  // Decides FileExists; by default, the paths in existingFiles exist.
  std::function<bool(const std::u16string &)> fileExists;
  std::set<std::u16string> existingFiles;
  // Whether PostSearchText accepts a text (the platform may refuse one).
  bool acceptSearchText = true;

  std::vector<TRecordedAction> actions;

  TControlWindow FindControlWindow() override { return frontendRunning ? 1 : kNoControlWindow; }
  bool PostSearchText(TControlWindow, int aNumber, const std::u16string &aText) override {
    if (!acceptSearchText)
      return false;
    actions.push_back({TRecordedAction::kSearch, aNumber, aText});
    return true;
  }
  void PostFunctionCode(TControlWindow, std::int32_t aCode) override {
    actions.push_back({TRecordedAction::kFunction, aCode, {}});
  }
  void SetMasterVolume(int aPercent) override {
    actions.push_back({TRecordedAction::kVolume, aPercent, {}});
  }
  bool FileExists(const std::u16string &aPath) override {
    return fileExists ? fileExists(aPath) : existingFiles.count(aPath) != 0;
  }
  void StartHidden(const std::u16string &aPath, const std::u16string &) override {
    actions.push_back({TRecordedAction::kStart, 0, aPath});
  }
};

// An activity log that keeps its lines, with a fixed time stamp.
class TRecordingLog : public TActivityLog {
public:
  explicit TRecordingLog(std::u16string aStamp = u"-") : FStamp(std::move(aStamp)) {}

  std::vector<std::u16string> lines;

  void AppendLine(const std::u16string &aLine) override { lines.push_back(aLine); }
  std::u16string TimeStamp() override { return FStamp; }

private:
  std::u16string FStamp;
};

} // namespace marquo
