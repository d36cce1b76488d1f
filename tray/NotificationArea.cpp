#include "tray/NotificationArea.h"

namespace dv {

QString CutToChars(const QString& text, int maxChars) {
  if (maxChars <= 0) return {};
  if (text.size() <= maxChars) return text;
  int keep = maxChars;
  if (text.at(keep - 1).isHighSurrogate()) --keep;
  return text.left(keep);
}

}  // namespace dv
