#include <QApplication>

#include "FicheModule.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  return tessaly::TessalyMain(QApplication::arguments());
}
