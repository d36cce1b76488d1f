// "Get MBR": the partition reading of the selected drive, shown in the MBR window.
#include "app/MainUnit.h"
#include "ui/Dialogs.h"
#include "ui/MBRUnit.h"

namespace dv {

bool TMainForm::FillMBRForm() {
  const int position = SelectedPosition();
  if (!drives_.IsListed(position) || MBRForm() == nullptr) return false;
  const Drive& drive = drives_.At(position);
  const MbrReading reading = context_.readMbr ? context_.readMbr(*context_.driveSystem, drive)
                                              : ReadMbr(*context_.driveSystem, drive);
  // Without sector 0 there is nothing to show, and the window keeps what it showed before.
  if (!reading.read) return false;
  mbrForm_->ShowReading(reading, drive.UserSectors);
  return true;
}

void TMainForm::MBRReadSBClick() {
  if (FillMBRForm()) context_.dialogs->ShowModal(*mbrForm_);
}

}  // namespace dv
