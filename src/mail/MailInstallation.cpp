#include "MailInstallation.h"

#include <QCoreApplication>
#include <QDir>

#include "IniFile.h"

namespace tessaly {

namespace {
QString& DossierFixe() {
  static QString dossier;
  return dossier;
}
}  // namespace

QString DossierApplication() {
  if (!DossierFixe().isEmpty()) return DossierFixe();
  return QCoreApplication::applicationDirPath();
}

void SetDossierApplication(const QString& dossier) { DossierFixe() = dossier; }

QString FichierAutoritesMail() {
  const QDir dossier(DossierApplication());
  const TIniFile ini(dossier.filePath(QStringLiteral("Tessaly.ini")));
  const QString chemin = ini.ReadString(QStringLiteral("Mail"), QStringLiteral("CAFile"), QString());
  if (chemin.isEmpty()) return QString();
  return QDir::cleanPath(dossier.absoluteFilePath(chemin));
}

}  // namespace tessaly
