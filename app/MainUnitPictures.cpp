// Pictures of the windows for the documentation, drawn by the widgets themselves so they work on
// the offscreen platform.
#include <QComboBox>
#include <QDir>
#include <QPixmap>

#include "app/MainUnit.h"
#include "ui/HistoryWindow.h"
#include "ui/MBRUnit.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/SelfTestWindow.h"

namespace dv {

std::string ProgramVersion() { return DISKVIGIL_VERSION; }

std::vector<std::string> RenderWindows(TMainForm& mainForm, const QString& folder) {
  std::vector<std::string> written;
  if (!QDir().mkpath(folder)) return written;
  const auto save = [&](QWidget* window, const QString& name) {
    if (window == nullptr) return;
    window->ensurePolished();
    const QString path = QDir(folder).filePath(name);
    if (window->grab().save(path, "PNG")) written.push_back(path.toStdString());
  };
  save(&mainForm, "main-window.png");
  save(mainForm.SMARTForm(), "smart-window.png");
  save(mainForm.SMTPForm(), "smtp-window.png");
  // The MBR window after a reading of the selected drive; a drive whose sector 0 cannot be read
  // leaves it as it was made.
  mainForm.FillMBRForm();
  save(mainForm.MBRForm(), "mbr-window.png");
  // The History window of the selected drive over the last year, at a size that shows it.
  THistoryForm& history = mainForm.HistoryForm();
  history.resize(760, 380);
  history.RangeCB->setCurrentIndex(history.RangeCB->count() - 1);
  save(&history, "history-window.png");
  // The Self-Tests window with both logs of the selected drive.
  TSelfTestForm& selfTests = mainForm.SelfTestForm();
  selfTests.resize(620, 440);
  save(&selfTests, "selftest-window.png");
  return written;
}

}  // namespace dv
