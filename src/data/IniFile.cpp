#include "IniFile.h"

#include <QFile>
#include <QStringDecoder>
#include <algorithm>

#include "LocaleConvert.h"

namespace tessaly {

namespace {

// INI files written by Windows programs are in the ANSI code page; files
// written here are UTF-8. Take UTF-8 when the bytes are valid UTF-8.
QString DecodeText(const QByteArray& bytes) {
  if (bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes.mid(3));
  if (bytes.startsWith("\xFF\xFE")) {
    QStringDecoder dec(QStringDecoder::Utf16LE);
    return dec(bytes.mid(2));
  }
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(bytes);
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(bytes);
}

}  // namespace

TIniFile::TIniFile(const QString& path) : FPath(path) {
  QFile f(path);
  if (path.isEmpty() || !f.open(QIODevice::ReadOnly)) return;
  FExists = true;
  // A parameter file is a few hundred bytes; a huge file is not one of
  // ours: read a bounded prefix rather than exhaust memory.
  const qint64 kMaxBytes = 16 * 1024 * 1024;
  QString text = DecodeText(f.read(qMin(f.size(), kMaxBytes)));
  Section* current = nullptr;
  for (QStringView raw : QStringView(text).split('\n')) {
    QString line = raw.trimmed().toString();
    if (line.isEmpty() || line.startsWith(';')) continue;
    if (line.startsWith('[')) {
      qsizetype close = line.indexOf(']');
      QString name = (close < 0 ? line.mid(1) : line.mid(1, close - 1)).trimmed();
      current = const_cast<Section*>(Find(name));
      if (!current) {
        FSections.push_back(Section{name, {}});
        current = &FSections.back();
      }
      continue;
    }
    qsizetype eq = line.indexOf('=');
    if (eq < 0 || !current) continue;
    QString key = line.left(eq).trimmed();
    QString value = line.mid(eq + 1).trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.mid(1, value.size() - 2);
    bool seen = false;
    for (const auto& e : current->entries)
      if (e.key.compare(key, Qt::CaseInsensitive) == 0) seen = true;
    if (!seen) current->entries.push_back(Entry{key, value});
  }
}

const TIniFile::Section* TIniFile::Find(const QString& section) const {
  for (const auto& s : FSections)
    if (s.name.compare(section, Qt::CaseInsensitive) == 0) return &s;
  return nullptr;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const {
  if (const Section* s = Find(section))
    for (const auto& e : s->entries)
      if (e.key.compare(key, Qt::CaseInsensitive) == 0) return e.value;
  return defaultValue;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
  QString v = ReadString(section, key, QString());
  if (v.isEmpty()) return defaultValue;
  auto i = TextToInteger(v);
  return i ? *i : defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QStringList TIniFile::Sections() const {
  QStringList out;
  for (const auto& s : FSections) out << s.name;
  return out;
}

QStringList TIniFile::Keys(const QString& section) const {
  QStringList out;
  if (const Section* s = Find(section))
    for (const auto& e : s->entries) out << e.key;
  return out;
}

std::vector<int> TIniFile::NumberedKeys(const QString& section, const QString& prefix, int maxNumber) const {
  std::vector<int> out;
  const Section* s = Find(section);
  if (!s) return out;
  for (const auto& e : s->entries) {
    if (e.key.size() <= prefix.size() || !e.key.startsWith(prefix, Qt::CaseInsensitive)) continue;
    QString digits = e.key.mid(prefix.size());
    if (digits.startsWith('0') || digits.size() > 10) continue;
    bool allDigits = true;
    for (QChar c : digits) allDigits = allDigits && c >= '0' && c <= '9';
    if (!allDigits) continue;
    qint64 n = digits.toLongLong();
    if (n >= 1 && n <= maxNumber) out.push_back(static_cast<int>(n));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool TIniFile::SectionExists(const QString& section) const { return Find(section) != nullptr; }

}  // namespace tessaly
