#include "ui/SMTPUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

#include "ui/LazyIcon.h"
#include "ui/UpDown.h"

namespace dv {

namespace {

constexpr int kSmtpClientWidth = 300;
constexpr int kSmtpClientHeight = 131;
// Two columns: labels and fields on the left, labels and fields on the right.
constexpr int kLeftLabelX = 4;
constexpr int kLeftFieldX = 44;
constexpr int kRightLabelX = 172;
constexpr int kRightFieldX = 224;
constexpr int kLeftFieldWidth = 121;
constexpr int kFieldHeight = 21;
// The tops of the six rows.
constexpr int kRowTop[] = {2, 24, 46, 68, 92, 112};
constexpr int kLabelDrop = 4;     // a label's text sits level with its field's text
constexpr int kCheckBoxDrop = 2;  // likewise a check box beside a field
constexpr int kLeftLabelRoom = kLeftFieldX - kLeftLabelX - 2;
constexpr int kRightLabelRoom = kRightFieldX - kRightLabelX - 2;
constexpr int kSmallestFace = 8;

// A label in the room left of its field; a face wider than the one the layout was drawn for is
// made smaller rather than run under the field.
QLabel* MakeFieldLabel(const QString& text, QWidget* parent, int x, int row, int room) {
  auto* label = new QLabel(text, parent);
  QFont face = parent->font();
  while (face.pixelSize() > kSmallestFace && QFontMetrics(face).horizontalAdvance(text) > room) {
    face.setPixelSize(face.pixelSize() - 1);
  }
  label->setFont(face);
  label->setGeometry(x, kRowTop[row] + kLabelDrop, room, QFontMetrics(face).height());
  return label;
}

QLineEdit* MakeEdit(const QString& text, QWidget* parent, int x, int row, int width) {
  auto* edit = new QLineEdit(text, parent);
  edit->setGeometry(x, kRowTop[row], width, kFieldHeight);
  return edit;
}

QCheckBox* MakeCheckBox(const QString& text, QWidget* parent, int x, int row, int width) {
  auto* box = new QCheckBox(text, parent);
  box->setGeometry(x, kRowTop[row] + kCheckBoxDrop, width, 17);
  return box;
}

}  // namespace

TSMTPForm::TSMTPForm(QWidget* parent) : TSecondaryForm(parent) {
  setWindowTitle("SMTP Reports & Warnings");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kSmtpClientWidth, kSmtpClientHeight);
  // The layout is drawn for a small 11-pixel face.
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);

  // Row 1: the server.
  SMTPHostNL = MakeFieldLabel("Host:", this, kLeftLabelX, 0, kLeftLabelRoom);
  SMTPHostE = MakeEdit(QString(), this, kLeftFieldX, 0, kLeftFieldWidth);
  SMTPPortNL = MakeFieldLabel("Port:", this, kRightLabelX, 0, kRightLabelRoom);
  SMTPPortE = MakeEdit("25", this, kRightFieldX, 0, 35);
  // Row 2: the credentials.
  SMTPLoginNL = MakeFieldLabel("Login:", this, kLeftLabelX, 1, kLeftLabelRoom);
  SMTPLoginE = MakeEdit(QString(), this, kLeftFieldX, 1, kLeftFieldWidth);
  SMTPPswNL = MakeFieldLabel("Password:", this, kRightLabelX, 1, kRightLabelRoom);
  SMTPPswE = MakeEdit(QString(), this, kRightFieldX, 1, 65);
  SMTPPswE->setEchoMode(QLineEdit::Password);
  // A masked edit shows "*" whatever the style's own mask character is.
  SMTPPswE->setStyleSheet("lineedit-password-character: 42");
  // Row 3: the sender and the authentication switch.
  SMTPFromNL = MakeFieldLabel("From:", this, kLeftLabelX, 2, kLeftLabelRoom);
  SMTPFromE = MakeEdit(QString(), this, kLeftFieldX, 2, kLeftFieldWidth);
  AuthenticationCB = MakeCheckBox("Authentication", this, kRightLabelX, 2, 120);
  // Row 4: the recipients, over the whole width.
  SMTPMailNL = MakeFieldLabel("E-Mail:", this, kLeftLabelX, 3, kLeftLabelRoom);
  SMTPMailE = MakeEdit(QString(), this, kLeftFieldX, 3, kSmtpClientWidth - 4 - kLeftFieldX);
  // Row 5: periodic reports, their delay and the test button; the security at the right.
  SMTPReportsCB = MakeCheckBox("Reports", this, kLeftLabelX, 4, 66);
  SMTPDelayE = MakeEdit(QString::number(kReportDelayDefault), this, 72, 4, 32);
  SMTPDelayE->setReadOnly(true);
  SMTPDelayUD = new UpDown(kReportDelayMinimum, kReportDelayMaximum, kReportDelayStep,
                           kReportDelayDefault, this);
  SMTPDelayUD->setGeometry(104, kRowTop[4], 15, kFieldHeight);
  SMTPDelayUD->SetAssociate(SMTPDelayE);
  SMTPDelayUD->setFocusPolicy(Qt::TabFocus);
  SMTPDelayNL = MakeFieldLabel("min", this, 122, 4, 20);
  SendSMTPRepSB = new QToolButton(this);
  SendSMTPRepSB->setIcon(
      LazyIcon([] { return QApplication::style()->standardIcon(QStyle::SP_ArrowForward); }));
  SendSMTPRepSB->setToolTip("Send Test Report");
  SendSMTPRepSB->setAutoRaise(true);
  SendSMTPRepSB->setGeometry(144, kRowTop[4] - 1, 23, 22);
  SMTPSecurityNL = MakeFieldLabel("Security:", this, kRightLabelX, 4, kRightLabelRoom);
  SMTPSecurityCB = new QComboBox(this);
  SMTPSecurityCB->addItems({"None", "STARTTLS", "TLS"});
  SMTPSecurityCB->setGeometry(kRightFieldX, kRowTop[4], kSmtpClientWidth - 4 - kRightFieldX,
                              kFieldHeight);
  SMTPSecurityCB->setToolTip("Connection security: none, STARTTLS after the greeting, or TLS");
  // Row 6: warnings.
  SMTPWarningsCB = MakeCheckBox("Warnings", this, kLeftLabelX, 5, 80);

  setTabOrder(SMTPHostE, SMTPPortE);
  setTabOrder(SMTPPortE, SMTPMailE);
  setTabOrder(SMTPMailE, SMTPPswE);
  setTabOrder(SMTPPswE, SMTPFromE);
  setTabOrder(SMTPFromE, SMTPReportsCB);
  setTabOrder(SMTPReportsCB, SMTPDelayE);
  setTabOrder(SMTPDelayE, SMTPDelayUD);
  setTabOrder(SMTPDelayUD, SMTPWarningsCB);
  setTabOrder(SMTPWarningsCB, AuthenticationCB);
  setTabOrder(AuthenticationCB, SMTPLoginE);
  setTabOrder(SMTPLoginE, SMTPSecurityCB);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }

  // toggled() fires only on a real change, from a click or from code alike.
  connect(SMTPReportsCB, &QCheckBox::toggled, this, [this] { SMTPReportsCBClick(); });
  connect(SMTPDelayUD, &UpDown::clicked, this, [this] { SMTPDelayUDClick(); });
  connect(SendSMTPRepSB, &QToolButton::clicked, this, [this] { SendSMTPRepSBClick(); });
}

void TSMTPForm::SMTPReportsCBClick() {
  if (onReportsSwitched) onReportsSwitched(SMTPReportsCB->isChecked());
}

void TSMTPForm::SMTPDelayUDClick() {
  if (onDelayClicked) onDelayClicked(SMTPDelayUD->Position());
}

void TSMTPForm::SendSMTPRepSBClick() {
  if (onSendTestReport) onSendTestReport();
}

MailSettings TSMTPForm::Settings() const {
  MailSettings settings;
  settings.host = SMTPHostE->text().toStdString();
  settings.port = SMTPPortE->text().toStdString();
  settings.login = SMTPLoginE->text().toStdString();
  settings.password = SMTPPswE->text().toStdString();
  settings.from = SMTPFromE->text().toStdString();
  settings.mail = SMTPMailE->text().toStdString();
  settings.authentication = AuthenticationCB->isChecked();
  settings.security = Security();
  return settings;
}

int TSMTPForm::Security() const { return std::max(0, SMTPSecurityCB->currentIndex()); }

void TSMTPForm::SetSecurity(int security) {
  SMTPSecurityCB->setCurrentIndex(security >= 0 && security < SMTPSecurityCB->count() ? security
                                                                                      : 0);
}

}  // namespace dv
