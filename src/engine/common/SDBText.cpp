#include "sdb/SDBText.h"

#include "sdb/SDBCollation.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

namespace {
bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}
}  // namespace

bool SDBUtf8ToAnsi(std::string_view Utf8, std::string& Ansi, std::string* Bad) {
  // Plain ASCII is the same bytes in both encodings: keys, names, passwords
  // and most values take this path, without a detour through UTF-16.
  if (IsAscii(Utf8)) {
    Ansi.assign(Utf8);
    return true;
  }
  const std::u16string wide = SDBUtf8ToWide(Utf8);
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    // One character at a time: a surrogate pair is one character.
    const size_t n = (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) ? 2 : 1;
    const std::u16string_view ch(wide.data() + i, n);
    const std::string b = SDBWideToAnsi(ch);
    // SDBWideToAnsi writes '?' for a character it cannot map.
    if (n == 2 || (b == "?" && ch[0] != u'?') || ch[0] == 0xFFFD) {
      if (Bad) *Bad = SDBWideToUtf8(ch);
      return false;
    }
    out += b;
    i += n - 1;
  }
  Ansi = std::move(out);
  return true;
}

std::string SDBAnsiToUtf8(std::string_view Ansi) { return SDBWideToUtf8(SDBAnsiToWide(Ansi)); }

std::string SDBColumnText(std::string_view Utf8, std::string_view Column) {
  std::string bytes, bad;
  if (!SDBUtf8ToAnsi(Utf8, bytes, &bad))
    throw ESDBException(kSDBErrTextCharacter,
                        "Column '%s' cannot hold the character '%s': it stores Windows-1252 text (Western "
                        "European letters, digits and signs)",
                        {std::string(Column), bad});
  return bytes;
}

std::string SDBNameToAnsi(std::string_view Utf8Name) {
  // Most names are plain ASCII, the same in both encodings.
  if (IsAscii(Utf8Name)) return std::string(Utf8Name);
  std::string bytes, bad;
  if (!SDBUtf8ToAnsi(Utf8Name, bytes, &bad))
    throw ESDBException(kSDBErrNameCharacter,
                        "The name '%s' cannot hold the character '%s': names are stored in Windows-1252 (Western "
                        "European letters, digits and signs)",
                        {std::string(Utf8Name), bad});
  return bytes;
}

std::string SDBNameFromAnsi(std::string_view AnsiName) {
  if (IsAscii(AnsiName)) return std::string(AnsiName);
  return SDBAnsiToUtf8(AnsiName);
}

TSDBVariant SDBTextValue(std::string_view Utf8, TSDBBaseFieldType AnsiType) {
  std::string ansi;
  if (SDBUtf8ToAnsi(Utf8, ansi)) return TSDBVariant::FromString(ansi, AnsiType);
  return TSDBVariant::FromWideString(SDBUtf8ToWide(Utf8),
                                     AnsiType == bftClob ? bftWideClob : AnsiType == bftChar ? bftWideChar : bftWideVarchar);
}

std::string SDBValueUtf8(const TSDBVariant& Value) {
  if (Value.IsNull()) return {};
  if (SDBIsWideTextType(Value.DataType())) return SDBWideToUtf8(Value.AsWideString());
  if (SDBIsAnsiTextType(Value.DataType())) return SDBAnsiToUtf8(Value.AsString());
  if (SDBIsBytesType(Value.DataType())) return Value.AsBytes();
  return Value.AsString();
}

TSDBVariant SDBColumnValue(const TSDBVariant& Value, TSDBBaseFieldType Type, std::string_view Column) {
  if (!Value.IsNull() && SDBIsAnsiTextType(Type) && SDBIsWideTextType(Value.DataType()))
    return TSDBVariant::FromString(SDBColumnText(SDBWideToUtf8(Value.AsWideString()), Column), Type);
  return Value.ConvertedTo(Type);
}

std::string SDBPasswordBytes(std::string_view Utf8Password) {
  std::string bytes, bad;
  if (!SDBUtf8ToAnsi(Utf8Password, bytes, &bad))
    throw ESDBException(kSDBErrPasswordCharacter,
                        "The password cannot hold the character '%s': a database password may use only the "
                        "characters of Windows-1252 (Western European letters, digits and signs)",
                        {bad});
  return bytes;
}

}  // namespace sdb
