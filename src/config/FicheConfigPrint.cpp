#include "FicheConfigPrint.h"

namespace tessaly {

TFicheConfigPrint::TFicheConfigPrint(QWidget* owner, const QString& documentsRoot, const QString&, const QString&)
    : QDialog(owner), FDocumentsRoot(documentsRoot) {
  setWindowTitle(QStringLiteral("Configuration du Tessaly"));
}

}  // namespace tessaly
