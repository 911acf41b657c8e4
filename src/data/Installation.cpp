#include "Installation.h"

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
  QString dossier = DossierFixe().isEmpty() ? QCoreApplication::applicationDirPath() : DossierFixe();
  if (!dossier.endsWith(QLatin1Char('/')) && !dossier.endsWith(QDir::separator())) dossier += QDir::separator();
  return dossier;
}

void SetDossierApplication(const QString& dossier) { DossierFixe() = dossier; }

TTessalyIni LectureTessalyIni() {
  const QString dossier = DossierApplication();
  const TIniFile ini(dossier + QStringLiteral("Tessaly.ini"));
  TTessalyIni r;
  if (!ini.Exists()) return r;
  r.Existe = true;
  const QString base = ini.ReadString(QStringLiteral("Database"), QStringLiteral("Fichier"), QString());
  r.FichierBDD = base.isEmpty() ? dossier + QStringLiteral("Tessaly.sdb") : base;
  r.DocumentsRoot = dossier + ini.ReadString(QStringLiteral("Templates"), QStringLiteral("Documents"), QString());
  r.RapportsRoot = dossier + ini.ReadString(QStringLiteral("Templates"), QStringLiteral("Rapports"), QString());
  const QString autorites = ini.ReadString(QStringLiteral("Mail"), QStringLiteral("CAFile"), QString());
  if (!autorites.isEmpty()) r.FichierAutoritesMail = QDir::cleanPath(QDir(dossier).absoluteFilePath(autorites));
  return r;
}

}  // namespace tessaly
