// Loads arbitrary bytes as a document data file: every outcome is either a
// load or an EDataError, never a crash, a hang or an out-of-bounds access.
#include <QTemporaryFile>

#include "DataError.h"
#include "MemTable.h"
#include "ReadXml.h"
#include "ReportDataset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryFile* file = [] {
    auto* f = new QTemporaryFile;
    f->open();
    return f;
  }();
  file->resize(0);
  file->seek(0);
  file->write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  file->flush();

  using namespace tessaly;
  TMemTable header("header"), lines("ligne"), descs("ligne_description");
  QLocale fr(QLocale::French, QLocale::France);
  for (TMemTable* t : {&header, &lines, &descs}) t->SetLocale(fr);
  TReportDataset h("h", &header), l("l", &lines), d("d", &descs);
  descs.SetMasterSource(&lines);
  TLectureXmlContext ctx{file->fileName(), &header, &lines, &descs, &h, &l, &d};
  try {
    LectureXml(ctx);
    // Walk what was loaded, as a report would.
    for (TMemTable* t : {&header, &lines, &descs}) {
      if (!t->Active()) continue;
      for (t->First(); !t->Eof(); t->Next())
        for (int i = 0; i < t->FieldCount(); ++i) (void)t->Field(i).AsVariant();
    }
  } catch (const EDataError&) {
  }
  return 0;
}
