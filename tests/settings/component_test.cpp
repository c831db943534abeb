// The component model: what an owner frees and in which order, how
// properties are found by name, and when two event bindings are the same.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/component.hpp"
#include "tests/settings/settings_fixture.hpp"

namespace {

using marquo::CreateComponent;
using marquo::TComponent;
using marquo::TComponentStateItem;
using marquo::TForm;
using marquo::TNotifyEvent;
using marquo::TPropertyKind;

// Notes, while it is being freed, whether it and the components created
// before it were all already marked as being destroyed.
class Recorder : public TComponent {
public:
  Recorder(TComponent *anOwner, std::u16string aName, std::vector<std::u16string> &aLog)
      : TComponent(anOwner), FLog(aLog) {
    SetName(std::move(aName));
  }
  ~Recorder() override {
    bool allMarked = ComponentState().Contains(TComponentStateItem::csDestroying);
    for (const auto &sibling : Owner()->Components()) {
      allMarked =
          allMarked && sibling->ComponentState().Contains(TComponentStateItem::csDestroying);
    }
    FLog.push_back(Name() + (allMarked ? u" marked" : u" unmarked") + u" siblings " +
                   std::u16string(1, static_cast<char16_t>(u'0' + Owner()->Components().size())));
  }

private:
  std::vector<std::u16string> &FLog;
};

TEST(ComponentOwnershipTest, OwnerMarksAllThenFreesLastFirst) {
  std::vector<std::u16string> log;
  {
    TForm form(nullptr);
    CreateComponent<Recorder>(form, u"First", log);
    CreateComponent<Recorder>(form, u"Second", log);
    CreateComponent<Recorder>(form, u"Third", log);
    ASSERT_EQ(form.Components().size(), 3u);
    EXPECT_EQ(form.Components()[0]->Name(), u"First");
    EXPECT_EQ(form.Components()[2]->Name(), u"Third");
  }
  EXPECT_EQ(log,
            (std::vector<std::u16string>{u"Third marked siblings 2", u"Second marked siblings 1",
                                         u"First marked siblings 0"}));
}

TEST(ComponentOwnershipTest, InsertRefusesAComponentOfAnotherOwner) {
  TForm form(nullptr);
  TForm other(nullptr);
  EXPECT_THROW(form.InsertComponent(std::make_unique<TComponent>(&other)), std::invalid_argument);
  EXPECT_TRUE(form.Components().empty());
}

class TitledEdit : public marquo::testing::TestEdit {
public:
  TitledEdit(TComponent *anOwner, std::u16string aName) : TestEdit(anOwner, std::move(aName)) {
    // Replaces the ancestor's "Text" with an integer of the same name.
    PublishInteger(
        u"text", [this] { return Number; }, [this](std::int32_t aValue) { Number = aValue; });
  }
  std::int32_t Number = 4;
};

TEST(ComponentPropertyTest, LookupIgnoresCaseAndSeesTheNewestDefinition) {
  TForm form(nullptr);
  auto &item = CreateComponent<marquo::testing::TestMenuItem>(form, u"sh1", u"show");
  item.Checked = true;
  const auto *checked = item.FindProperty(u"CHECKED");
  ASSERT_NE(checked, nullptr);
  EXPECT_EQ(checked->Kind(), TPropertyKind::pkBoolean);
  EXPECT_EQ(checked->GetOrdinal(), 1);
  checked->SetOrdinal(2);
  EXPECT_TRUE(item.Checked);
  checked->SetOrdinal(0);
  EXPECT_FALSE(item.Checked);
  EXPECT_EQ(item.FindProperty(u"Text"), nullptr);

  auto &titled = CreateComponent<TitledEdit>(form, u"Titled");
  const auto *text = titled.FindProperty(u"Text");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Kind(), TPropertyKind::pkInteger);
  EXPECT_EQ(text->GetOrdinal(), 4);
}

struct Target {
  int Calls = 0;
  void First(TComponent &) { ++Calls; }
  void Second(TComponent &) { ++Calls; }
};

TEST(ComponentEventTest, SameMethodNeedsTheSameFunctionAndObject) {
  Target a;
  Target b;
  const TNotifyEvent aFirst = TNotifyEvent::Bind<&Target::First>(a);
  EXPECT_TRUE(SameMethod(aFirst, TNotifyEvent::Bind<&Target::First>(a)));
  EXPECT_FALSE(SameMethod(aFirst, TNotifyEvent::Bind<&Target::First>(b)));
  EXPECT_FALSE(SameMethod(aFirst, TNotifyEvent::Bind<&Target::Second>(a)));
  EXPECT_FALSE(SameMethod(aFirst, TNotifyEvent()));
  EXPECT_TRUE(SameMethod(TNotifyEvent(), TNotifyEvent()));

  TForm form(nullptr);
  TNotifyEvent empty;
  empty(form); // an empty binding is simply not called
  aFirst(form);
  EXPECT_EQ(a.Calls, 1);
}

} // namespace
