// The installation Tessaly runs in: the application folder (the folder of
// the executable, where Tessaly.ini, the "Devis" folder and the default
// settings database live) and what Tessaly.ini says. Tessaly.ini is read,
// never written; a missing file gives empty values.
#pragma once

#include <QString>

namespace tessaly {

// The application folder, always ending with a separator: the folder of
// the executable, unless another one was set (tests run windows on an
// installation they make in a temporary folder).
QString DossierApplication();
// Sets the application folder; an empty text goes back to the executable's.
void SetDossierApplication(const QString& dossier);

struct TTessalyIni {
  bool Existe = false;
  // [Database] Fichier: the value as written when it is not empty, else
  // the application folder followed by "Tessaly.sdb".
  QString FichierBDD;
  // [Templates] Documents and Rapports: the application folder followed by
  // the value (folders relative to the application folder, written with a
  // trailing separator; empty: the application folder itself).
  QString DocumentsRoot, RapportsRoot;
  // [Mail] CAFile: a PEM file of the authorities trusted for the SMTP
  // server instead of the system's; relative to the application folder.
  // Empty when not set.
  QString FichierAutoritesMail;
};

// Reads Tessaly.ini in the application folder. When the file does not
// exist every value is empty.
TTessalyIni LectureTessalyIni();

}  // namespace tessaly
