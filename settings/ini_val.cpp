#include "settings/ini_val.hpp"

#include "common/file_system.hpp"
#include "settings/ini_file.hpp"

namespace marquo {

namespace {

constexpr std::u16string_view kText = u"Text";
constexpr std::u16string_view kValue = u"Value";
constexpr std::u16string_view kChecked = u"Checked";
constexpr std::u16string_view kItemIndex = u"ItemIndex";

bool IsOrdinal(const TPublishedProperty &aProperty) {
  return aProperty.Kind() == TPropertyKind::pkBoolean ||
         aProperty.Kind() == TPropertyKind::pkInteger;
}

} // namespace

TIniVal::TIniVal(TComponent *anOwner) : TComponent(anOwner) {
  PublishBoolean(
      u"Automatic", [this] { return FAutomatic; }, [this](bool aValue) { FAutomatic = aValue; });
  PublishText(
      u"IniFileName", [this] { return FIniFileName; },
      [this](const std::u16string &aValue) { FIniFileName = aValue; });
}

void TIniVal::FinishLoad() {
  if (ComponentState().Contains(TComponentStateItem::csDesigning)) {
    return;
  }
  FinishLoad(ProgramFolder());
}

void TIniVal::FinishLoad(const std::u16string &aProgramFolder) {
  if (ComponentState().Contains(TComponentStateItem::csDesigning)) {
    return;
  }
  FIniFileName = aProgramFolder + (FIniFileName.empty() ? Name() : FIniFileName);

  auto *form = dynamic_cast<TForm *>(Owner());
  if (FAutomatic && form != nullptr) {
    const TNotifyEvent create = TNotifyEvent::Bind<&TIniVal::ChainedFormCreate>(*this);
    // A second run must not chain the handler to itself.
    if (!SameMethod(form->OnCreate, create)) {
      FormOnCreate = form->OnCreate;
      form->OnCreate = create;
      FormOnDestroy = form->OnDestroy;
      form->OnDestroy = TNotifyEvent::Bind<&TIniVal::ChainedFormDestroy>(*this);
    }
  }
}

std::u16string TIniVal::EffectiveFileName() const {
  std::u16string_view name(FIniFileName);
  while (!name.empty() && name.front() <= u' ') {
    name.remove_prefix(1);
  }
  while (!name.empty() && name.back() <= u' ') {
    name.remove_suffix(1);
  }
  std::u16string result(name);
  if (result.find(u'.') == std::u16string::npos) {
    result += u".ini";
  }
  return result;
}

void TIniVal::Load() {
  const std::u16string fileName = EffectiveFileName();
  if (Owner() == nullptr || !FileExists(fileName)) {
    return;
  }
  TIniFile ini(fileName);
  const std::u16string &section = Owner()->Name();
  // Index rather than iterate: a property setter may, in principle, make
  // its owner create components.
  for (std::size_t i = 0; i < Owner()->Components().size(); ++i) {
    const TComponent &component = *Owner()->Components()[i];
    const std::u16string &key = component.Name();
    if (const auto *text = component.FindProperty(kText);
        text != nullptr && text->Kind() == TPropertyKind::pkText) {
      text->SetText(ini.ReadString(section, key, text->GetText()));
    }
    if (const auto *value = component.FindProperty(kValue); value != nullptr) {
      if (value->Kind() == TPropertyKind::pkText) {
        value->SetText(ini.ReadString(section, key, value->GetText()));
      } else if (value->Kind() == TPropertyKind::pkInteger) {
        value->SetOrdinal(ini.ReadInteger(section, key, value->GetOrdinal()));
      }
    }
    // "Checked" is read as an ordinal: false or true for the Boolean
    // properties that carry the name; a text property of that name is left
    // alone.
    if (const auto *checked = component.FindProperty(kChecked);
        checked != nullptr && IsOrdinal(*checked)) {
      checked->SetOrdinal(ini.ReadBool(section, key, checked->GetOrdinal() != 0) ? 1 : 0);
    }
    if (const auto *index = component.FindProperty(kItemIndex);
        index != nullptr && index->Kind() == TPropertyKind::pkInteger) {
      index->SetOrdinal(ini.ReadInteger(section, key, index->GetOrdinal()));
    }
  }
}

void TIniVal::Save() {
  if (Owner() == nullptr) {
    return;
  }
  TIniFile ini(EffectiveFileName());
  const std::u16string &section = Owner()->Name();
  for (std::size_t i = 0; i < Owner()->Components().size(); ++i) {
    const TComponent &component = *Owner()->Components()[i];
    const std::u16string &key = component.Name();
    if (const auto *text = component.FindProperty(kText);
        text != nullptr && text->Kind() == TPropertyKind::pkText) {
      ini.WriteString(section, key, text->GetText());
    }
    if (const auto *value = component.FindProperty(kValue); value != nullptr) {
      if (value->Kind() == TPropertyKind::pkText) {
        ini.WriteString(section, key, value->GetText());
      } else if (value->Kind() == TPropertyKind::pkInteger) {
        ini.WriteInteger(section, key, value->GetOrdinal());
      }
    }
    if (const auto *checked = component.FindProperty(kChecked);
        checked != nullptr && IsOrdinal(*checked)) {
      ini.WriteBool(section, key, checked->GetOrdinal() != 0);
    }
    if (const auto *index = component.FindProperty(kItemIndex);
        index != nullptr && index->Kind() == TPropertyKind::pkInteger) {
      ini.WriteInteger(section, key, index->GetOrdinal());
    }
  }
}

void TIniVal::ChainedFormCreate(TComponent &Sender) {
  FormOnCreate(Sender);
  if (FAutomatic) {
    Load();
  }
}

void TIniVal::ChainedFormDestroy(TComponent &Sender) {
  if (FAutomatic) {
    Save();
  }
  FormOnDestroy(Sender);
}

} // namespace marquo
