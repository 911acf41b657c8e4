// What the mail takes from the installation: the application folder (the
// folder of the executable, where "Devis" and Tessaly.ini live) and the
// authority file trusted for the SMTP server.
#pragma once

#include <QString>

namespace tessaly {

// The folder of the executable, unless one was set (tests).
QString DossierApplication();
// Sets the folder (an empty text goes back to the executable's).
void SetDossierApplication(const QString& dossier);

// [Mail] CAFile= of Tessaly.ini in the application folder: a PEM file of
// the certificate authorities trusted for the SMTP server instead of the
// system's, relative paths taken from the application folder; empty when
// not set.
QString FichierAutoritesMail();

}  // namespace tessaly
