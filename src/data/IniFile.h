// Read-only INI file with the semantics of the Windows profile functions:
// section and key names are matched without letter case, the first
// occurrence wins, values are trimmed (and lose one pair of enclosing
// quotes), and a missing file, section or key gives the caller's default.
// Lines that are neither "[section]" nor "key=value" are ignored.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace tessaly {

class TIniFile {
 public:
  explicit TIniFile(const QString& path);  // never raises; unreadable = empty

  const QString& FileName() const { return FPath; }
  bool Exists() const { return FExists; }

  QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
  // Decimal, or hexadecimal with "$" or "0x"; anything else gives the default.
  int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
  // An integer: non-zero is true; anything else gives the default.
  bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

  QStringList Sections() const;
  QStringList Keys(const QString& section) const;
  // The numbers n (1 <= n <= maxNumber) for which the section has a key
  // spelled `prefix` followed by n in decimal without leading zeros, in
  // ascending order. Lets callers walk "Fichier1".."FichierN" without
  // trusting N.
  std::vector<int> NumberedKeys(const QString& section, const QString& prefix, int maxNumber) const;
  bool SectionExists(const QString& section) const;

 private:
  struct Entry {
    QString key, value;
  };
  struct Section {
    QString name;
    std::vector<Entry> entries;
  };
  const Section* Find(const QString& section) const;

  QString FPath;
  bool FExists = false;
  std::vector<Section> FSections;
};

}  // namespace tessaly
