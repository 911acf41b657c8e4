#include <QApplication>

#include "FicheModule.h"

int main(int argc, char** argv) {
  tessaly::PlateformeSansEcran();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  return tessaly::TessalyMain(QApplication::arguments());
}
