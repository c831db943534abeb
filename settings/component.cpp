#include "settings/component.hpp"

#include <algorithm>
#include <cassert>
#include <stdexcept>

namespace marquo {

namespace {

char16_t AsciiLower(char16_t aUnit) {
  return aUnit >= u'A' && aUnit <= u'Z' ? static_cast<char16_t>(aUnit + (u'a' - u'A')) : aUnit;
}

bool AsciiSameText(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return AsciiLower(x) == AsciiLower(y); });
}

} // namespace

TPublishedProperty::TPublishedProperty(std::u16string aName, TTextGetter aGet, TTextSetter aSet)
    : FName(std::move(aName)), FKind(TPropertyKind::pkText), FGetText(std::move(aGet)),
      FSetText(std::move(aSet)) {}

TPublishedProperty::TPublishedProperty(std::u16string aName, TPropertyKind aKind,
                                       TOrdinalGetter aGet, TOrdinalSetter aSet)
    : FName(std::move(aName)), FKind(aKind), FGetOrdinal(std::move(aGet)),
      FSetOrdinal(std::move(aSet)) {
  assert(aKind != TPropertyKind::pkText);
}

std::u16string TPublishedProperty::GetText() const {
  return FGetText ? FGetText() : std::u16string();
}

void TPublishedProperty::SetText(const std::u16string &aValue) const {
  if (FSetText) {
    FSetText(aValue);
  }
}

std::int32_t TPublishedProperty::GetOrdinal() const { return FGetOrdinal ? FGetOrdinal() : 0; }

void TPublishedProperty::SetOrdinal(std::int32_t aValue) const {
  if (FSetOrdinal) {
    FSetOrdinal(aValue);
  }
}

TComponent::TComponent(TComponent *anOwner) : FOwner(anOwner) {}

TComponent::~TComponent() { DestroyComponents(); }

void TComponent::DestroyComponents() {
  FComponentState.Include(TComponentStateItem::csDestroying);
  for (const auto &component : FComponents) {
    component->FComponentState.Include(TComponentStateItem::csDestroying);
  }
  // The last created goes first; each is taken out of the list before it is
  // freed, so a component that looks at its owner's list while it is being
  // freed sees only components that still exist.
  while (!FComponents.empty()) {
    std::unique_ptr<TComponent> last = std::move(FComponents.back());
    FComponents.pop_back();
    last.reset();
  }
}

TComponent &TComponent::InsertComponent(std::unique_ptr<TComponent> aComponent) {
  if (!aComponent || aComponent->FOwner != this) {
    throw std::invalid_argument("InsertComponent: the component is not owned by this owner");
  }
  FComponents.push_back(std::move(aComponent));
  return *FComponents.back();
}

const TPublishedProperty *TComponent::FindProperty(std::u16string_view aName) const {
  for (const auto &property : FProperties) {
    if (AsciiSameText(property.Name(), aName)) {
      return &property;
    }
  }
  return nullptr;
}

void TComponent::Publish(TPublishedProperty aProperty) {
  for (auto &property : FProperties) {
    if (AsciiSameText(property.Name(), aProperty.Name())) {
      property = std::move(aProperty);
      return;
    }
  }
  FProperties.push_back(std::move(aProperty));
}

void TComponent::PublishText(std::u16string aName, TPublishedProperty::TTextGetter aGet,
                             TPublishedProperty::TTextSetter aSet) {
  Publish(TPublishedProperty(std::move(aName), std::move(aGet), std::move(aSet)));
}

void TComponent::PublishInteger(std::u16string aName, TPublishedProperty::TOrdinalGetter aGet,
                                TPublishedProperty::TOrdinalSetter aSet) {
  Publish(TPublishedProperty(std::move(aName), TPropertyKind::pkInteger, std::move(aGet),
                             std::move(aSet)));
}

void TComponent::PublishBoolean(std::u16string aName, std::function<bool()> aGet,
                                std::function<void(bool)> aSet) {
  Publish(TPublishedProperty(
      std::move(aName), TPropertyKind::pkBoolean,
      [get = std::move(aGet)]() -> std::int32_t { return get() ? 1 : 0; },
      [set = std::move(aSet)](std::int32_t aValue) { set(aValue != 0); }));
}

TForm::TForm(TComponent *anOwner) : TComponent(anOwner) {}

void TForm::Loaded() {
  // A component's FinishLoad may create further components; index rather
  // than iterate so the list may grow meanwhile.
  for (std::size_t i = 0; i < Components().size(); ++i) {
    Components()[i]->FinishLoad();
  }
}

void TForm::DoCreate() { OnCreate(*this); }

void TForm::DoDestroy() { OnDestroy(*this); }

} // namespace marquo
