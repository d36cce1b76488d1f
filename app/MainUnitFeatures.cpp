// The AAM and APM groups of the main window: their controls, the Get and Set actions and the track
// bars' change handlers. The two groups are twins; what differs between them comes from the
// feature passed to the shared code.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QProxyStyle>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <initializer_list>

#include "app/MainUnit.h"
#include "ui/Controls.h"
#include "ui/LazyIcon.h"

namespace dv {

namespace {

constexpr int kLevelMaximum = 254;  // 255 is not a level the user can send
constexpr int kLevelTickInterval = 16;
constexpr int kLevelThumbLength = 12;

// One group's controls, so the twin handlers share their code.
struct FeatureGroup {
  QCheckBox* checkBox;
  QSlider* levelBar;
  QLabel* currentLevel;
  QLabel* recommendedLevel;
  QToolButton* getButton;
  QToolButton* setButton;
  QAction* get;
};

FeatureGroup GroupOf(TMainForm& form, DriveFeature feature) {
  if (feature == DriveFeature::AAM) {
    return {form.AAMCB,
            form.AAMLevelTB,
            form.CurrentAAMLevelL,
            form.RecommendedAAMLevelL,
            form.AAMGetSB,
            form.AAMSetSB,
            form.AAMGet};
  }
  return {form.APMCB,
          form.APMLevelTB,
          form.CurrentAPMLevelL,
          form.RecommendedAPMLevelL,
          form.APMGetSB,
          form.APMSetSB,
          form.APMGet};
}

// The program's style with a short track bar thumb, so the bar's 93 pixels give room to its 255
// positions.
class ShortThumbStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_SliderLength) return kLevelThumbLength;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

// The controls of one group box, at the same places in both groups.
struct BuiltGroup {
  QWidget* panel;
  QCheckBox* checkBox;
  QSlider* levelBar;
  QLabel* currentLevel;
  QLabel* recommendedLevel;
  QToolButton* getButton;
  QToolButton* setButton;
};

QToolButton* MakeGroupButton(QGroupBox* group, QStyle::StandardPixmap pixmap, int left) {
  auto* button = new QToolButton(group);
  button->setIcon(LazyIcon([pixmap] { return QApplication::style()->standardIcon(pixmap); }));
  button->setAutoRaise(true);
  button->setGeometry(left, 12, 23, 22);
  return button;
}

BuiltGroup BuildGroup(QGroupBox* group, QStyle* barStyle) {
  BuiltGroup built{};
  // The panel is never enabled: it keeps the user from toggling the check box, which only shows
  // the drive's state (and decides enable or disable at Set).
  built.panel = new QWidget(group);
  built.panel->setGeometry(8, 16, 16, 16);
  built.panel->setEnabled(false);
  built.checkBox = new QCheckBox(built.panel);
  built.checkBox->setGeometry(0, 0, 13, 17);

  built.levelBar = new QSlider(Qt::Horizontal, group);
  built.levelBar->setStyle(barStyle);
  built.levelBar->setGeometry(24, 16, 93, 25);
  built.levelBar->setRange(0, kLevelMaximum);
  built.levelBar->setTickInterval(kLevelTickInterval);
  built.levelBar->setTickPosition(QSlider::TicksBelow);
  built.levelBar->setValue(0);

  built.currentLevel = new QLabel(kNoValue, group);
  built.currentLevel->setGeometry(116, 16, 24, 16);
  built.recommendedLevel = new QLabel(kNoValue, group);
  built.recommendedLevel->setGeometry(140, 16, 26, 16);

  built.getButton = MakeGroupButton(group, QStyle::SP_BrowserReload, 168);
  built.setButton = MakeGroupButton(group, QStyle::SP_DialogApplyButton, 192);
  return built;
}

}  // namespace

void TMainForm::BuildFeatureGroups() {
  // Widgets do not own a style they are given; the window does.
  auto* barStyle = new ShortThumbStyle;
  barStyle->setParent(this);
  const BuiltGroup aam = BuildGroup(AAMGB, barStyle);
  AAMPanel = aam.panel;
  AAMCB = aam.checkBox;
  AAMLevelTB = aam.levelBar;
  CurrentAAMLevelL = aam.currentLevel;
  RecommendedAAMLevelL = aam.recommendedLevel;
  AAMGetSB = aam.getButton;
  AAMSetSB = aam.setButton;
  AAMGetSB->setToolTip("Get AAM");
  AAMSetSB->setToolTip("Set AAM");

  const BuiltGroup apm = BuildGroup(APMGB, barStyle);
  APMPanel = apm.panel;
  APMCB = apm.checkBox;
  APMLevelTB = apm.levelBar;
  CurrentAPMLevelL = apm.currentLevel;
  RecommendedAPMLevelL = apm.recommendedLevel;
  APMGetSB = apm.getButton;
  APMSetSB = apm.setButton;

  AAMGet = new QAction("Get AAM", this);
  AAMSet = new QAction("Set AAM", this);
  APMGet = new QAction("Get APM", this);
  APMSet = new QAction("Set APM", this);
  connect(AAMGet, &QAction::triggered, this, [this] { AAMGetExecute(); });
  connect(AAMSet, &QAction::triggered, this, [this] { AAMSetExecute(); });
  connect(APMGet, &QAction::triggered, this, [this] { APMGetExecute(); });
  connect(APMSet, &QAction::triggered, this, [this] { APMSetExecute(); });
  // The buttons run their actions but keep their own enabled state: a drive without the feature
  // disables the buttons, never the actions that ShowHDDInfo runs.
  connect(AAMGetSB, &QToolButton::clicked, AAMGet, &QAction::trigger);
  connect(AAMSetSB, &QToolButton::clicked, AAMSet, &QAction::trigger);
  connect(APMGetSB, &QToolButton::clicked, APMGet, &QAction::trigger);
  connect(APMSetSB, &QToolButton::clicked, APMSet, &QAction::trigger);
  // valueChanged comes only with a real change of position, from the user or from code.
  connect(AAMLevelTB, &QSlider::valueChanged, this, [this] { AAMLevelTBChange(); });
  connect(APMLevelTB, &QSlider::valueChanged, this, [this] { APMLevelTBChange(); });
}

void TMainForm::AAMGetExecute() { GetFeature(DriveFeature::AAM); }
void TMainForm::APMGetExecute() { GetFeature(DriveFeature::APM); }
void TMainForm::AAMSetExecute() { SetFeatureFromControls(DriveFeature::AAM); }
void TMainForm::APMSetExecute() { SetFeatureFromControls(DriveFeature::APM); }

void TMainForm::AAMLevelTBChange() {
  CurrentAAMLevelL->setText(QString::number(AAMLevelTB->value()));
}

void TMainForm::APMLevelTBChange() {
  CurrentAPMLevelL->setText(QString::number(APMLevelTB->value()));
}

void TMainForm::GetFeature(DriveFeature feature) {
  const int position = SelectedPosition();
  if (!drives_.IsListed(position)) return;
  const Drive& drive = drives_.At(position);
  const int driveNumber = drive.DriveNumber;
  // AAM and APM are ATA features, read with IDENTIFY DEVICE: an NVMe controller's number names
  // another drive on that path, so nothing is sent and the group shows "not supported".
  FeatureState state;
  if (!drive.IsNvme()) {
    state = context_.readFeature ? context_.readFeature(*context_.driveSystem, driveNumber, feature)
                                 : ReadFeature(*context_.driveSystem, driveNumber, feature);
  }

  // The steps run in this order on purpose: moving the bar rewrites the current-level label
  // through its change handler, so what the label ends with depends on where the bar was.
  const FeatureGroup g = GroupOf(*this, feature);
  if (!state.Supported) {
    g.checkBox->setChecked(false);
    g.checkBox->setEnabled(false);
    g.levelBar->setValue(0);
    g.levelBar->setEnabled(false);
    g.currentLevel->setText(kNoValue);
    g.recommendedLevel->setText(kNoValue);
    g.currentLevel->setEnabled(false);
    g.recommendedLevel->setEnabled(false);
    g.getButton->setEnabled(false);
    g.setButton->setEnabled(false);
  } else if (state.Enabled) {
    g.checkBox->setChecked(true);
    g.checkBox->setEnabled(true);
    for (QWidget* control : std::initializer_list<QWidget*>{
             g.levelBar, g.currentLevel, g.recommendedLevel, g.getButton, g.setButton}) {
      control->setEnabled(true);
    }
    if (FeatureLevelShown(feature, state.CurrentLevel)) {
      g.currentLevel->setText(QString::number(state.CurrentLevel));
      g.levelBar->setValue(state.CurrentLevel);
      g.recommendedLevel->setText(QString::number(state.RecommendedLevel));
    } else {
      g.currentLevel->setText(kNoValue);
      g.recommendedLevel->setText(kNoValue);
      g.levelBar->setValue(0);
    }
  } else {
    g.checkBox->setChecked(false);
    // The AAM box stays enabled (greyed only by its panel); the APM box does not.
    g.checkBox->setEnabled(feature == DriveFeature::AAM);
    g.levelBar->setValue(0);
    g.levelBar->setEnabled(false);
    g.currentLevel->setText(kNoValue);
    g.currentLevel->setEnabled(false);
    g.getButton->setEnabled(true);
    g.setButton->setEnabled(true);
  }
}

void TMainForm::SetFeatureFromControls(DriveFeature feature) {
  const int position = SelectedPosition();
  if (!drives_.IsListed(position)) return;
  const Drive& drive = drives_.At(position);
  if (drive.IsNvme()) return;  // SET FEATURES would reach another drive
  const int driveNumber = drive.DriveNumber;
  const FeatureGroup g = GroupOf(*this, feature);
  const bool enable = g.checkBox->isChecked();
  const auto level = static_cast<uint8_t>(g.levelBar->value());
  // The result is not shown: the read that follows shows what the drive now reports.
  if (context_.setFeature) {
    context_.setFeature(*context_.driveSystem, driveNumber, feature, level, enable);
  } else {
    SetFeature(*context_.driveSystem, driveNumber, feature, level, enable);
  }
  g.get->trigger();
}

}  // namespace dv
