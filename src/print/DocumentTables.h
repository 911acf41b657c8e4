// What every rendering window (the print manager, the batch exporter, the
// template authors' render tool) prints from: the header, line and
// line-description tables filled from the document data file, the
// one-row configuration table, the four report datasets that expose them to
// templates under their fixed user names, and the building of the
// configuration record and the line start and end rows from the print
// configuration of a document type.
#pragma once

#include <QString>
#include <QStringList>

#include "MemTable.h"
#include "ReportDataset.h"

namespace tessaly {

class TDataModuleSdb;
namespace report {
class TfrxReport;
}

// User names of the four datasets, as templates refer to them.
inline const QString kDatasetHeader = QStringLiteral("Données du dossier");
inline const QString kDatasetLines = QStringLiteral("Données des lignes produits");
inline const QString kDatasetDescriptions = QStringLiteral("Description des lignes produits");
inline const QString kDatasetConfig = QStringLiteral("Données de la configuration");

class TDocumentTables {
 public:
  TDocumentTables();
  TDocumentTables(const TDocumentTables&) = delete;
  TDocumentTables& operator=(const TDocumentTables&) = delete;

  TMemTable Header, Lines, Descriptions, Config;
  TReportDataset DsHeader, DsLines, DsDescriptions, DsConfig;

  // Adds the four datasets to the report (once per report).
  void BindTo(report::TfrxReport& report);

  // Runs the data file loader on `path` into the three data tables and
  // refreshes their datasets. Answers the template name the file gives;
  // empty, with the tables left as they were, when the file does not exist.
  // Raises EDataError on a file that cannot be read or is malformed.
  QString LectureXml(const QString& path);

  // The header's field `name` as text on its first row; `found` tells
  // whether the header has that field at all.
  QString HeaderText(const QString& name, bool* found = nullptr);
  // The line field `name` of every line row in table order, empty texts
  // included (an empty list when the line table has no such field); the
  // cursor is back on the first row afterwards.
  QStringList LineTexts(const QString& name);
  bool LinesHaveField(const QString& name) const;
};

// The print configuration of one document type, as the settings store
// holds it: CGV, QCM and PiedDePage2 still carry "%" for their line breaks.
struct TConfigurationValues {
  QString Logo;  // path of a picture file
  QString CGV, QCM, PiedDePage1, PiedDePage2;
  QString DebutLigne, FinLigne;  // texts of the line start and end rows
  bool Croquis = true, Dimensions = true, Fournisseurs = true;
};

// Opens the settings database at `path` for a group of reads or writes,
// with a message the user can act on: no database known (no Tessaly.ini
// beside the program), a database file that is not there, or the store's
// own reason, each naming the file. Raises EDataError.
void OuvertureParametres(TDataModuleSdb& store, const QString& path);

// Reads the seven configuration keys of `section` (the document type)
// through the settings store; missing rows read empty. Errors of the store
// pass through.
TConfigurationValues LectureValeursConfiguration(TDataModuleSdb& store, const QString& agence,
                                                 const QString& utilisateur, const QString& section);

// Applies "Field=Value" entries (field names or their aliases, letter case
// ignored) as the render tool's --set gives them: the booleans take
// true/false/1/0, the texts are taken as stored. Raises EDataError on an
// unknown field or a bad boolean.
void AppliquerReglages(TConfigurationValues& values, const QStringList& settings);

// Builds the configuration record (one row: the logo when its file exists,
// the texts with "%" decoded where the store encodes line breaks, the three
// flags) and the line start and end rows: rows of the line table with Id -1
// and the text in Modele, the start row first and the end row last. Rows
// with Id -1 already at the first and last place are ours from an earlier
// run and are replaced, so running it again neither duplicates nor loses
// them; an empty text removes its row. The line table is taken out of its
// index order so that the start row stays first and the end row last
// (both would sort first by Id); the product lines keep the order they had.
// A line table without any structure (no data file loaded, or one without
// lines) gets the fields Id, Modele and TotalTVACorse for the two rows; one
// whose rows lack Id or Modele gets no rows. Raises EDataError when the logo
// file cannot be read.
void ConstructionConfiguration(TDocumentTables& tables, const TConfigurationValues& values);

}  // namespace tessaly
