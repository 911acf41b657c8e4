#include "ParameterFile.h"

#include "IniFile.h"

namespace tessaly {

TParametresJob LectureFichierParametres(const QString& path, const std::function<void()>& step) {
  auto advance = [&] {
    if (step) step();
  };
  TParametresJob job;
  TIniFile ini(path);
  job.Agence = ini.ReadString(QStringLiteral("Configuration"), QStringLiteral("Agence"), QString());
  advance();
  job.Utilisateur = ini.ReadString(QStringLiteral("Configuration"), QStringLiteral("Utilisateur"), QString());
  advance();
  if (ini.ReadBool(QStringLiteral("Droits"), kDroitConfiguration, false)) job.Droits << kDroitConfiguration;
  advance();
  job.FichierXml = ini.ReadString(QStringLiteral("FichierXml"), QStringLiteral("Path"), QString());
  advance();
  int n = ini.ReadInteger(QStringLiteral("PiecesJointes"), QStringLiteral("Nombre"), 0);
  // Only numbers that have a key can give a value: walking those keeps a
  // huge Nombre from looping for nothing.
  for (int i : ini.NumberedKeys(QStringLiteral("PiecesJointes"), QStringLiteral("Fichier"), n)) {
    QString f = ini.ReadString(QStringLiteral("PiecesJointes"), QStringLiteral("Fichier%1").arg(i), QString());
    if (!f.isEmpty()) job.PiecesJointes << f;
  }
  advance();
  return job;
}

TListeExport LectureListeExport(const QString& path) {
  TListeExport list;
  TIniFile ini(path);
  const QString section = QStringLiteral("Export");
  int n = ini.ReadInteger(section, QStringLiteral("Nombre"), 0);
  // An entry needs all three keys, so the "Rapport" keys give the numbers.
  for (int i : ini.NumberedKeys(section, QStringLiteral("Rapport"), n)) {
    QString r = ini.ReadString(section, QStringLiteral("Rapport%1").arg(i), QString());
    QString x = ini.ReadString(section, QStringLiteral("Xml%1").arg(i), QString());
    QString e = ini.ReadString(section, QStringLiteral("Export%1").arg(i), QString());
    if (r.isEmpty() || x.isEmpty() || e.isEmpty()) continue;
    list.Rapports << r;
    list.Xml << x;
    list.Exports << e;
  }
  return list;
}

}  // namespace tessaly
