// Reads arbitrary bytes as a parameter file: never a crash or a hang, and
// every value falls back to its default.
#include <QTemporaryFile>

#include "IniFile.h"
#include "ParameterFile.h"

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
  TParametresJob job = LectureFichierParametres(file->fileName());
  TListeExport list = LectureListeExport(file->fileName());
  if (list.Rapports.size() != list.Xml.size() || list.Xml.size() != list.Exports.size()) __builtin_trap();
  (void)job;
  return 0;
}
