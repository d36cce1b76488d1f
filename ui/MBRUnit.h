// The MBR window. It is created at start and lives to the end; what it shows comes later.
#pragma once

#include "ui/SecondaryForm.h"

namespace dv {

class TMBRForm : public TSecondaryForm {
  Q_OBJECT
 public:
  explicit TMBRForm(QWidget* parent = nullptr);
};

}  // namespace dv
