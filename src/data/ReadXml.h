// Loader of the document data file: a self-describing XML file whose
// record elements (attribute `table`) carry typed field elements. It builds
// the header, line and line-description tables, declares field aliases to
// the report datasets and returns the template name the file asks for.
#pragma once

#include <QString>

namespace tessaly {

class TMemTable;
class TReportDataset;

struct TLectureXmlContext {
  QString DataFilePath;
  TMemTable* Header = nullptr;
  TMemTable* Lines = nullptr;
  TMemTable* Descriptions = nullptr;  // detail of Lines
  TReportDataset* HeaderDataset = nullptr;
  TReportDataset* LinesDataset = nullptr;
  TReportDataset* DescriptionsDataset = nullptr;
};

// Loads the data file into the tables; returns the root's `template`
// attribute, or an empty text when the file does not exist (the tables
// then keep their state). Every error raises EDataError; a file that is not
// well-formed XML raises before any table is touched, with line and column.
QString LectureXml(TLectureXmlContext& context);

}  // namespace tessaly
