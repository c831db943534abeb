// TIniVal: a component that saves the values of its owner's components to a
// settings file and loads them back, with no configuration per component.
//
// The owner's Name is the section and each component's Name is the key. The
// value is whichever of the published properties "Text" (text), "Value"
// (text or integer), "Checked" (Boolean or integer) and "ItemIndex"
// (integer) the component has; properties of other kinds under these names
// are skipped. All of one component's properties share its one key, written
// in the order Text, Value, Checked, ItemIndex, so the file keeps the last
// and each property reads that same text back.
//
// File name. FinishLoad puts the program folder in front of IniFileName (or
// of the component's own Name when IniFileName is empty); the configured name
// is always taken as relative to the program folder. A name assigned later is
// used as given. EffectiveFileName() then trims characters up to U+0020 from
// both ends and appends ".ini" when the text contains no "." at all (a "."
// in a folder name counts).
//
// Automatic mode (Automatic, the default): FinishLoad hooks the owner form's
// creation and destruction events, so the values are loaded right after the
// form's own creation handler and saved right before its own destruction
// handler. The saved handlers are called with the form as sender.
//
// Load and Save each open, use and release their own TIniFile. Load changes
// nothing when the file is missing, and a missing key or a text that is not
// an integer where one is read leaves that property unchanged: the current
// value is the default of every read. Save raises EIniFileException ("Unable
// to write to " + file name) at the first write that fails; the keys written
// before it stay written and the rest are not written.
#pragma once

#include <string>

#include "settings/component.hpp"

namespace marquo {

class TIniVal : public TComponent {
public:
  explicit TIniVal(TComponent *anOwner);

  bool Automatic() const { return FAutomatic; }
  void SetAutomatic(bool aValue) { FAutomatic = aValue; }
  // After FinishLoad this is the resolved full path.
  const std::u16string &IniFileName() const { return FIniFileName; }
  void SetIniFileName(std::u16string aValue) { FIniFileName = std::move(aValue); }

  // Resolves the file name against the folder of the running executable and
  // installs the automatic mode; does nothing while designing.
  void FinishLoad() override;
  // The same with aProgramFolder (ending in a path separator) as the program
  // folder, for callers that keep their files elsewhere, such as tests.
  void FinishLoad(const std::u16string &aProgramFolder);

  std::u16string EffectiveFileName() const;
  void Load();
  void Save();

  void ChainedFormCreate(TComponent &Sender);
  void ChainedFormDestroy(TComponent &Sender);

private:
  bool FAutomatic = true;
  std::u16string FIniFileName;
  TNotifyEvent FormOnCreate;
  TNotifyEvent FormOnDestroy;
};

} // namespace marquo
