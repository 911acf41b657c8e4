#include "Accessible.h"

#include <QLabel>

namespace tessaly::ui {

QString NomAccessible(const QString& caption) {
  QString s = caption.trimmed();
  if (s.endsWith(QLatin1Char(':'))) s.chop(1);
  return s.trimmed();
}

void Etiqueter(QLabel* label, QWidget* field) {
  label->setBuddy(field);
  field->setAccessibleName(NomAccessible(label->text()));
}

}  // namespace tessaly::ui
