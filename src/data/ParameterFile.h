// The per-job parameter file written by the parent application: who prints
// (agency, user, rights), what (the data file), what to attach to a mail,
// and for a batch run the list of PDF files to produce.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace tessaly {

inline const QString kDroitConfiguration = QStringLiteral("Impression_Configuration");

struct TParametresJob {
  QString Agence;
  QString Utilisateur;
  QStringList Droits;
  QString FichierXml;
  QStringList PiecesJointes;
};

// Reads the job's values in five steps, calling `step` after each one (the
// splash window advances its progress bar). Never raises: a missing file,
// section or key gives the defaults.
TParametresJob LectureFichierParametres(const QString& path, const std::function<void()>& step = {});

struct TListeExport {
  QStringList Rapports;  // template of each entry
  QStringList Xml;       // data file of each entry
  QStringList Exports;   // PDF file to produce for each entry
  int Count() const { return static_cast<int>(Rapports.size()); }
};

// The `Export` section: entries with any of their three values empty are
// skipped, the others keep their order.
TListeExport LectureListeExport(const QString& path);

}  // namespace tessaly
