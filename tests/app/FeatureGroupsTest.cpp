// The AAM and APM groups of the main window: what a read shows in each of its three cases, how the
// order of its steps decides the current-level label, Set followed by a read, moving the bar, and
// the reads that showing a drive runs.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QtTest/QtTest>
#include <map>
#include <utility>
#include <vector>

#include "kit/QtTestMain.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

// A feature state as IDENTIFY reports it: the level word holds the current level in its low byte
// and the recommended one in its high byte.
FeatureState Feature(bool supported, bool enabled, uint16_t levelWord = 0xFFFF) {
  FeatureState state;
  state.Supported = supported;
  state.Enabled = enabled;
  state.CurrentLevel = static_cast<uint8_t>(levelWord & 0xFF);
  state.RecommendedLevel = static_cast<uint8_t>(levelWord >> 8);
  return state;
}

// Stands in for the drives' feature sets: answers reads from `states` and takes a Set as a drive
// would, recording every call in order.
struct FakeFeatures {
  struct Call {
    int driveNumber;
    DriveFeature feature;
    bool set;
    int level;
    bool enable;
    bool operator==(const Call&) const = default;
  };

  void Install(MainFormContext& context) {
    context.readFeature = [this](DriveSystem&, int driveNumber, DriveFeature feature) {
      calls.push_back({driveNumber, feature, false, 0, false});
      const auto it = states.find({driveNumber, feature});
      return it == states.end() ? FeatureState{} : it->second;
    };
    context.setFeature = [this](DriveSystem&, int driveNumber, DriveFeature feature, uint8_t level,
                                bool enable) {
      calls.push_back({driveNumber, feature, true, level, enable});
      FeatureState& state = states[{driveNumber, feature}];
      if (!state.Supported) return false;
      state.Enabled = enable;
      if (enable) state.CurrentLevel = level;
      return true;
    };
  }

  std::map<std::pair<int, DriveFeature>, FeatureState> states;
  std::vector<Call> calls;
};

FakeFeatures::Call ReadCall(int driveNumber, DriveFeature feature) {
  return {driveNumber, feature, false, 0, false};
}

FakeFeatures::Call SetCall(int driveNumber, DriveFeature feature, int level, bool enable) {
  return {driveNumber, feature, true, level, enable};
}

// Two listed drives, numbers 0 and 1, at positions 1 and 2.
std::unique_ptr<SimulatedDriveSystem> SeagateAndWd10Ears() {
  return DrivesFromJson({DriveJson(0, "ST3500418AS"), DriveJson(1, "WDC WD10EARS-00Y5B1")});
}

std::unique_ptr<TMainForm> Start(WindowTestKit& kit, FakeFeatures& features) {
  MainFormContext context = kit.Context();
  features.Install(context);
  auto form = std::make_unique<TMainForm>(std::move(context));
  kit.startup = form->FormCreate();
  form->CreateMBRForm();
  return form;
}

// Whether a control inside the never-enabled panel is enabled in its own right.
bool OwnEnabled(QCheckBox* box) { return box->isEnabledTo(box->parentWidget()); }

}  // namespace

class FeatureGroupsTest : public QObject {
  Q_OBJECT
 private slots:
  void groupsStartAsDesigned();
  void showingADriveReadsAamThenApm();
  void enabledFeatureShowsItsLevels();
  void levelWithoutValueEndsAsDotsOrZeroByWhereTheBarWas();
  void unsupportedFeatureGreysTheWholeGroup();
  void supportedButDisabledKeepsTheRecommendedLabel();
  void setSendsTheBarsLevelThenReadsAgain();
  void nothingHappensWithoutASelectedDrive();
};

void FeatureGroupsTest::groupsStartAsDesigned() {
  WindowTestKit kit(SeagateAndWd10Ears());
  TMainForm form(kit.Context());  // before start-up: the design-time state
  QCOMPARE(form.AAMGB->title(), QString("AAM"));
  QCOMPARE(form.APMGB->title(), QString("APM"));
  QCOMPARE(form.AAMGB->size(), QSize(221, 45));
  QCOMPARE(form.AAMGB->parentWidget(), form.InformationGB);
  QCOMPARE(form.APMGB->parentWidget(), form.InformationGB);
  QCOMPARE(form.APMGB->y() - form.AAMGB->y(), 48);
  for (QSlider* bar : {form.AAMLevelTB, form.APMLevelTB}) {
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 254);  // 255 cannot be chosen
    QCOMPARE(bar->tickInterval(), 16);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->geometry(), QRect(24, 16, 93, 25));
    QCOMPARE(bar->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, bar), 12);
  }
  QVERIFY(!form.AAMPanel->isEnabled() && !form.APMPanel->isEnabled());
  QVERIFY(!form.AAMCB->isChecked() && !form.AAMCB->isEnabled());
  QCOMPARE(form.AAMCB->parentWidget(), form.AAMPanel);
  QCOMPARE(form.CurrentAAMLevelL->text(), QString("..."));
  QCOMPARE(form.RecommendedAPMLevelL->text(), QString("..."));
  QCOMPARE(form.AAMGetSB->toolTip(), QString("Get AAM"));
  QCOMPARE(form.AAMSetSB->toolTip(), QString("Set AAM"));
  QVERIFY(form.APMGetSB->toolTip().isEmpty() && form.APMSetSB->toolTip().isEmpty());
  QCOMPARE(form.APMSetSB->geometry(), QRect(192, 12, 23, 22));
}

void FeatureGroupsTest::showingADriveReadsAamThenApm() {
  WindowTestKit kit(SeagateAndWd10Ears());
  FakeFeatures features;
  auto form = Start(kit, features);
  QCOMPARE(kit.startup, StartupResult::Running);
  const std::vector<FakeFeatures::Call> atStart{ReadCall(0, DriveFeature::AAM),
                                                ReadCall(0, DriveFeature::APM)};
  QCOMPARE(features.calls, atStart);

  features.calls.clear();
  PickDrive(*form, 1);
  const std::vector<FakeFeatures::Call> onPick{ReadCall(1, DriveFeature::AAM),
                                               ReadCall(1, DriveFeature::APM)};
  QCOMPARE(features.calls, onPick);

  features.calls.clear();
  form->HDDRefreshSBClick();  // a new enumeration shows the first drive again
  QCOMPARE(features.calls, atStart);
}

void FeatureGroupsTest::enabledFeatureShowsItsLevels() {
  WindowTestKit kit(SeagateAndWd10Ears());
  FakeFeatures features;
  features.states[{0, DriveFeature::AAM}] = Feature(true, true, 0x80FE);
  features.states[{0, DriveFeature::APM}] = Feature(true, true, 0xC880);
  auto form = Start(kit, features);

  QCOMPARE(form->CurrentAAMLevelL->text(), QString("254"));
  QCOMPARE(form->RecommendedAAMLevelL->text(), QString("128"));
  QCOMPARE(form->AAMLevelTB->value(), 254);
  QVERIFY(form->AAMCB->isChecked() && OwnEnabled(form->AAMCB));
  for (QWidget* control : std::initializer_list<QWidget*>{form->AAMLevelTB, form->CurrentAAMLevelL,
                                                          form->RecommendedAAMLevelL,
                                                          form->AAMGetSB, form->AAMSetSB}) {
    QVERIFY(control->isEnabled());
  }
  QCOMPARE(form->CurrentAPMLevelL->text(), QString("128"));
  QCOMPARE(form->RecommendedAPMLevelL->text(), QString("200"));
  QCOMPARE(form->APMLevelTB->value(), 128);
  QVERIFY(form->APMCB->isChecked() && OwnEnabled(form->APMCB));
}

void FeatureGroupsTest::levelWithoutValueEndsAsDotsOrZeroByWhereTheBarWas() {
  WindowTestKit kit(SeagateAndWd10Ears());
  FakeFeatures features;
  // APM level 0 on drive 0, with the bar still at its design position 0: the change handler
  // never runs, so the label keeps "...".
  features.states[{0, DriveFeature::APM}] = Feature(true, true, 0x8000);
  features.states[{1, DriveFeature::APM}] = Feature(true, true, 0x8064);
  auto form = Start(kit, features);
  QCOMPARE(form->CurrentAPMLevelL->text(), QString("..."));
  QCOMPARE(form->RecommendedAPMLevelL->text(), QString("..."));
  QCOMPARE(form->APMLevelTB->value(), 0);

  PickDrive(*form, 1);
  QCOMPARE(form->APMLevelTB->value(), 100);
  QCOMPARE(form->CurrentAPMLevelL->text(), QString("100"));

  // Back to level 0 from 100: moving the bar to 0 writes "0" over the "...".
  PickDrive(*form, 0);
  QCOMPARE(form->APMLevelTB->value(), 0);
  QCOMPARE(form->CurrentAPMLevelL->text(), QString("0"));
  QCOMPARE(form->RecommendedAPMLevelL->text(), QString("..."));
  QVERIFY(form->APMCB->isChecked());

  // For AAM, 0 is a level and only 255 is not.
  features.states[{0, DriveFeature::AAM}] = Feature(true, true, 0x8000);
  form->AAMGet->trigger();
  QCOMPARE(form->CurrentAAMLevelL->text(), QString("0"));
  QCOMPARE(form->RecommendedAAMLevelL->text(), QString("128"));
  features.states[{0, DriveFeature::AAM}] = Feature(true, true, 0x80C0);
  form->AAMGet->trigger();
  features.states[{0, DriveFeature::AAM}] = Feature(true, true, 0xFFFF);
  form->AAMGet->trigger();
  QCOMPARE(form->CurrentAAMLevelL->text(), QString("0"));
  QCOMPARE(form->RecommendedAAMLevelL->text(), QString("..."));
}

void FeatureGroupsTest::unsupportedFeatureGreysTheWholeGroup() {
  WindowTestKit kit(SeagateAndWd10Ears());
  FakeFeatures features;
  features.states[{0, DriveFeature::AAM}] = Feature(true, true, 0x80C8);
  features.states[{1, DriveFeature::AAM}] = Feature(false, false);
  auto form = Start(kit, features);
  QCOMPARE(form->AAMLevelTB->value(), 200);

  // The bar moves to 0 first, then the label is set: it ends as "...", not "0".
  PickDrive(*form, 1);
  QVERIFY(!form->AAMCB->isChecked() && !OwnEnabled(form->AAMCB));
  QCOMPARE(form->AAMLevelTB->value(), 0);
  QCOMPARE(form->CurrentAAMLevelL->text(), QString("..."));
  QCOMPARE(form->RecommendedAAMLevelL->text(), QString("..."));
  for (QWidget* control : std::initializer_list<QWidget*>{form->AAMLevelTB, form->CurrentAAMLevelL,
                                                          form->RecommendedAAMLevelL,
                                                          form->AAMGetSB, form->AAMSetSB}) {
    QVERIFY(!control->isEnabled());
  }
  // The actions stay usable: showing a drive with the feature brings the group back.
  QVERIFY(form->AAMGet->isEnabled());
  PickDrive(*form, 0);
  QVERIFY(form->AAMGetSB->isEnabled() && form->AAMSetSB->isEnabled());
  QCOMPARE(form->CurrentAAMLevelL->text(), QString("200"));
}

void FeatureGroupsTest::supportedButDisabledKeepsTheRecommendedLabel() {
  WindowTestKit kit(SeagateAndWd10Ears());
  FakeFeatures features;
  features.states[{0, DriveFeature::AAM}] = Feature(true, true, 0x80FE);
  features.states[{0, DriveFeature::APM}] = Feature(true, true, 0xFE80);
  features.states[{1, DriveFeature::AAM}] = Feature(true, false, 0x0101);
  features.states[{1, DriveFeature::APM}] = Feature(true, false, 0x0101);
  auto form = Start(kit, features);
  PickDrive(*form, 1);

  QVERIFY(!form->AAMCB->isChecked());
  QVERIFY(OwnEnabled(form->AAMCB));   // AAM: enabled (inside its disabled panel)
  QVERIFY(!OwnEnabled(form->APMCB));  // APM: disabled
  for (QSlider* bar : {form->AAMLevelTB, form->APMLevelTB}) {
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isEnabled());
  }
  for (QLabel* current : {form->CurrentAAMLevelL, form->CurrentAPMLevelL}) {
    QCOMPARE(current->text(), QString("..."));
    QVERIFY(!current->isEnabled());
  }
  // The recommended labels are not touched: they still show the previous drive's values.
  QCOMPARE(form->RecommendedAAMLevelL->text(), QString("128"));
  QCOMPARE(form->RecommendedAPMLevelL->text(), QString("254"));
  QVERIFY(form->RecommendedAAMLevelL->isEnabled());
  for (QToolButton* button : {form->AAMGetSB, form->AAMSetSB, form->APMGetSB, form->APMSetSB}) {
    QVERIFY(button->isEnabled());
  }
}

void FeatureGroupsTest::setSendsTheBarsLevelThenReadsAgain() {
  WindowTestKit kit(SeagateAndWd10Ears());
  FakeFeatures features;
  features.states[{0, DriveFeature::APM}] = Feature(true, true, 0x80FE);
  features.states[{1, DriveFeature::AAM}] = Feature(true, false, 0x8080);
  auto form = Start(kit, features);
  features.calls.clear();

  // Moving the bar changes the current-level label and nothing else.
  form->APMLevelTB->setValue(128);
  QCOMPARE(form->CurrentAPMLevelL->text(), QString("128"));
  QCOMPARE(form->RecommendedAPMLevelL->text(), QString("128"));
  QVERIFY(features.calls.empty());

  form->APMSetSB->click();
  const std::vector<FakeFeatures::Call> enable{SetCall(0, DriveFeature::APM, 128, true),
                                               ReadCall(0, DriveFeature::APM)};
  QCOMPARE(features.calls, enable);
  const FeatureState written = features.states[{0, DriveFeature::APM}];
  QCOMPARE(int{written.CurrentLevel}, 128);
  QCOMPARE(form->CurrentAPMLevelL->text(), QString("128"));

  // A supported but disabled feature: its box is clear and its bar at 0, so Set disables.
  PickDrive(*form, 1);
  features.calls.clear();
  form->AAMSetSB->click();
  const std::vector<FakeFeatures::Call> disable{SetCall(1, DriveFeature::AAM, 0, false),
                                                ReadCall(1, DriveFeature::AAM)};
  QCOMPARE(features.calls, disable);

  // A refused request shows nothing but what the drive reads afterwards.
  features.calls.clear();
  features.states[{1, DriveFeature::APM}] = Feature(false, false);
  form->APMSet->trigger();
  QCOMPARE(features.calls.size(), size_t{2});
  QCOMPARE(form->CurrentAPMLevelL->text(), QString("..."));
}

void FeatureGroupsTest::nothingHappensWithoutASelectedDrive() {
  WindowTestKit kit(SeagateAndWd10Ears());
  FakeFeatures features;
  features.states[{0, DriveFeature::AAM}] = Feature(true, true, 0x80FE);
  auto form = Start(kit, features);
  form->HDDCB->setCurrentIndex(-1);
  features.calls.clear();
  for (QAction* action : {form->AAMGet, form->AAMSet, form->APMGet, form->APMSet}) {
    action->trigger();
  }
  QVERIFY(features.calls.empty());
  QCOMPARE(form->CurrentAAMLevelL->text(), QString("254"));
  QVERIFY(form->AAMCB->isChecked());
}

DISKVIGIL_QTEST_MAIN(FeatureGroupsTest)
#include "FeatureGroupsTest.moc"
