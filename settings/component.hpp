// The component model the window and its parts are built on: named
// components owned by a component, the published properties that the
// settings component reads and writes by name, method-pointer events and the
// form, which raises the creation and destruction events.
//
// Ownership. A component created with CreateComponent belongs to its owner:
// the owner keeps it in creation order (Components()) and frees it when the
// owner itself is freed. Before freeing any of them the owner marks itself
// and every owned component csDestroying; it then frees them from the last
// created to the first, so a component never outlives one created before it.
// A component without an owner belongs to whoever holds its unique_ptr.
// Components are neither copied nor moved: owners, events and properties
// refer to them by address.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marquo {

class TComponent;

// An event binding: a callback and the object it is bound to (a method
// pointer). An empty binding is not called. Two bindings are the same
// (SameMethod) when they name the same member function of the same object,
// which is what lets a component tell whether it has already hooked an event.
template <class... TArgs> class TMethod {
public:
  using TCode = void (*)(void *aData, TArgs... args);

  TMethod() = default;
  TMethod(TCode aCode, void *aData) : FCode(aCode), FData(aData) {}

  // Binds aMember (a member function taking TArgs) of anObject.
  template <auto aMember, class T> static TMethod Bind(T &anObject) {
    return TMethod(&Thunk<aMember, T>, &anObject);
  }

  explicit operator bool() const { return FCode != nullptr; }
  // Calls the bound function; does nothing for an empty binding.
  void operator()(TArgs... args) const {
    if (FCode != nullptr) {
      FCode(FData, args...);
    }
  }

  TCode Code() const { return FCode; }
  void *Data() const { return FData; }

private:
  template <auto aMember, class T> static void Thunk(void *aData, TArgs... args) {
    (static_cast<T *>(aData)->*aMember)(args...);
  }

  TCode FCode = nullptr;
  void *FData = nullptr;
};

// True when both bindings have the same callback and the same bound object;
// two empty bindings are the same.
template <class... TArgs> bool SameMethod(const TMethod<TArgs...> &a, const TMethod<TArgs...> &b) {
  return a.Code() == b.Code() && a.Data() == b.Data();
}

// The single parameter is the object that raises the event.
using TNotifyEvent = TMethod<TComponent & /*Sender*/>;

enum class TComponentStateItem : std::uint8_t {
  csDesigning = 1,  // placed in a designer, not running
  csDestroying = 2, // its owner (or it) is being freed
};

class TComponentState {
public:
  bool Contains(TComponentStateItem anItem) const {
    return (FBits & static_cast<std::uint8_t>(anItem)) != 0;
  }
  void Include(TComponentStateItem anItem) { FBits |= static_cast<std::uint8_t>(anItem); }
  void Exclude(TComponentStateItem anItem) {
    FBits &= static_cast<std::uint8_t>(~static_cast<std::uint8_t>(anItem));
  }

private:
  std::uint8_t FBits = 0;
};

// The kinds of published property the settings component knows: text
// (UTF-16), 32-bit signed integer, and Boolean (an ordinal of 0 or 1).
enum class TPropertyKind : std::uint8_t { pkText, pkInteger, pkBoolean };

// One published property of a component, reached through its getter and
// setter. Text properties use GetText/SetText; integer and Boolean properties
// use GetOrdinal/SetOrdinal (a Boolean reads as 0 or 1 and is set to true by
// any value other than 0). Calling the accessors of the other kind is a
// programming error and does nothing (the getters give empty text or 0).
class TPublishedProperty {
public:
  using TTextGetter = std::function<std::u16string()>;
  using TTextSetter = std::function<void(const std::u16string &)>;
  using TOrdinalGetter = std::function<std::int32_t()>;
  using TOrdinalSetter = std::function<void(std::int32_t)>;

  TPublishedProperty(std::u16string aName, TTextGetter aGet, TTextSetter aSet);
  TPublishedProperty(std::u16string aName, TPropertyKind aKind, TOrdinalGetter aGet,
                     TOrdinalSetter aSet);

  const std::u16string &Name() const { return FName; }
  TPropertyKind Kind() const { return FKind; }

  std::u16string GetText() const;
  void SetText(const std::u16string &aValue) const;
  std::int32_t GetOrdinal() const;
  void SetOrdinal(std::int32_t aValue) const;

private:
  std::u16string FName;
  TPropertyKind FKind;
  TTextGetter FGetText;
  TTextSetter FSetText;
  TOrdinalGetter FGetOrdinal;
  TOrdinalSetter FSetOrdinal;
};

class TComponent {
public:
  // anOwner is a back reference only; ownership is taken by CreateComponent.
  explicit TComponent(TComponent *anOwner);
  virtual ~TComponent();

  TComponent(const TComponent &) = delete;
  TComponent &operator=(const TComponent &) = delete;

  const std::u16string &Name() const { return FName; }
  void SetName(std::u16string aName) { FName = std::move(aName); }

  TComponent *Owner() const { return FOwner; }
  // The owned components, in the order in which they were created.
  const std::vector<std::unique_ptr<TComponent>> &Components() const { return FComponents; }

  TComponentState &ComponentState() { return FComponentState; }
  const TComponentState &ComponentState() const { return FComponentState; }

  // The published property called aName (ASCII letters compared without
  // regard to case, as the framework's lookup does), searched through the
  // properties of the component's class and its ancestors; nullptr when
  // there is none. A class that publishes a name again replaces the
  // ancestor's property of that name. The pointer is valid as long as the
  // component.
  const TPublishedProperty *FindProperty(std::u16string_view aName) const;

  // Run once by whoever creates an owner from its design (a form from its
  // resource), after all of the owner's components exist with their
  // design-time values and before the owner's creation event. The default
  // does nothing.
  virtual void FinishLoad() {}

  // Makes aComponent, whose Owner() must be this component, one of the owned
  // components, at the end of the creation order. Returns it.
  TComponent &InsertComponent(std::unique_ptr<TComponent> aComponent);

protected:
  void PublishText(std::u16string aName, TPublishedProperty::TTextGetter aGet,
                   TPublishedProperty::TTextSetter aSet);
  void PublishInteger(std::u16string aName, TPublishedProperty::TOrdinalGetter aGet,
                      TPublishedProperty::TOrdinalSetter aSet);
  void PublishBoolean(std::u16string aName, std::function<bool()> aGet,
                      std::function<void(bool)> aSet);

  // Frees the owned components as described at the top of this header. A
  // derived owner whose components refer to its own members calls this in
  // its destructor so that they go first; the base destructor calls it too.
  void DestroyComponents();

private:
  void Publish(TPublishedProperty aProperty);

  TComponent *FOwner;
  std::u16string FName;
  TComponentState FComponentState;
  std::vector<std::unique_ptr<TComponent>> FComponents;
  std::vector<TPublishedProperty> FProperties;
};

// Creates a T (whose constructor takes the owner first) owned by anOwner and
// returns it; anOwner frees it.
template <class T, class... TArgs> T &CreateComponent(TComponent &anOwner, TArgs &&...args) {
  auto component = std::make_unique<T>(&anOwner, std::forward<TArgs>(args)...);
  T &result = *component;
  anOwner.InsertComponent(std::move(component));
  return result;
}

// A window that owns the components placed on it. Whoever builds a form
// creates its components in design order, then calls Loaded() (each
// component's FinishLoad, in order), then DoCreate() (the creation event).
// Before freeing the form it calls DoDestroy() (the destruction event) while
// every component and handler still exists; the destructor does not raise
// it, because the objects its handlers are bound to may already be gone.
class TForm : public TComponent {
public:
  explicit TForm(TComponent *anOwner);

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;

  void Loaded();
  void DoCreate();
  void DoDestroy();
};

} // namespace marquo
