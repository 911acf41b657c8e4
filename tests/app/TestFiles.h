// Small helpers for tests that write files into a temporary folder.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace testfiles {

inline QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  QString path = dir.filePath(name);
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  f.open(QIODevice::WriteOnly | QIODevice::Truncate);
  f.write(bytes);
  return path;
}

// Text written in ISO-8859-1, as the parent application writes data files.
inline QString WriteLatin1(const QTemporaryDir& dir, const QString& name, const QString& text) {
  return Write(dir, name, text.toLatin1());
}

}  // namespace testfiles
