#include "ui/MBRUnit.h"

namespace dv {

TMBRForm::TMBRForm(QWidget* parent) : TSecondaryForm(parent) { setWindowTitle("MBR"); }

}  // namespace dv
