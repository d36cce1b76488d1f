// The Icons group: per position a text and a background colour swatch and a show/hide box, and
// the temperature icon each row stands for (row k, icon k - 1).
#include <QCheckBox>
#include <QColorDialog>

#include "app/MainUnit.h"
#include "app/TemperatureIcons.h"
#include "ui/ColorSwatch.h"
#include "ui/Dialogs.h"

namespace dv {

void TMainForm::PaintSwatchesAndIcons() {
  for (int position = 1; position <= kMaxDrives; ++position) {
    HDDTempTrayFI[position - 1]->Paint(drives_.At(position).TrayFontColor);
  }
  for (int position = 1; position <= kMaxDrives; ++position) {
    HDDTempTrayBI[position - 1]->Paint(drives_.At(position).TrayBackColor);
  }
  for (int position = 1; position <= kMaxDrives; ++position) {
    context_.icons->SetFontColor(position - 1, drives_.At(position).TrayFontColor);
    context_.icons->SetBackColor(position - 1, drives_.At(position).TrayBackColor);
  }
}

void TMainForm::TempTrayFIClick(int position) {
  Drive& drive = drives_.At(position);
  ColorChooser().setCurrentColor(ColorFromBgr(drive.TrayFontColor));
  if (const auto chosen = context_.dialogs->ChooseColor(ColorChooser())) {
    drive.TrayFontColor = BgrFromColor(*chosen);
  }
  HDDTempTrayFI[position - 1]->Paint(drive.TrayFontColor);
  context_.icons->SetFontColor(position - 1, drive.TrayFontColor);
}

void TMainForm::TempTrayBIClick(int position) {
  Drive& drive = drives_.At(position);
  ColorChooser().setCurrentColor(ColorFromBgr(drive.TrayBackColor));
  if (const auto chosen = context_.dialogs->ChooseColor(ColorChooser())) {
    drive.TrayBackColor = BgrFromColor(*chosen);
  }
  HDDTempTrayBI[position - 1]->Paint(drive.TrayBackColor);
  context_.icons->SetBackColor(position - 1, drive.TrayBackColor);
}

void TMainForm::TempTrayCBClick(int position) {
  const int row = position - 1;
  bool anotherTicked = false;
  for (int other = 0; other < kMaxDrives; ++other) {
    if (other != row && HDDTempTrayCB[other]->isChecked()) anotherTicked = true;
  }
  // The last visible icon cannot be hidden: the main window would be out of reach.
  if (!anotherTicked) HDDTempTrayCB[row]->setChecked(true);
  const bool on = HDDTempTrayCB[row]->isChecked();
  drives_.At(position).TrayIconOn = on;
  context_.icons->SetVisible(row, on);
}

void TMainForm::ApplyAtLeastOneIconRule() {
  for (int position = 1; position <= drives_.DriveCount; ++position) {
    if (drives_.At(position).TrayIconOn) return;
  }
  HDDTempTrayCB[0]->setChecked(true);
  // The pass at the end of the enumeration skipped this icon while it was off; without this it
  // would show its design text until the next pass.
  UpdateTrayIcon(1);
}

}  // namespace dv
