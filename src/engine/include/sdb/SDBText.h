// Text at the engine's boundary. The engine's public text is UTF-8; 8-bit
// columns, passwords and names are held in Windows-1252, the code page of
// the programs that share the files. These are the one conversion between
// the two: a character Windows-1252 cannot hold is refused, never replaced.
#pragma once

#include <string>
#include <string_view>

#include "sdb/SDBVariant.h"

namespace sdb {

// UTF-8 -> Windows-1252. False when Utf8 holds a character without an
// 8-bit form (or is not valid UTF-8); Ansi is then left as it was and Bad,
// when given, receives the first such character (as UTF-8; U+FFFD for an
// invalid sequence).
bool SDBUtf8ToAnsi(std::string_view Utf8, std::string& Ansi, std::string* Bad = nullptr);
// Windows-1252 -> UTF-8 (every byte has a character).
std::string SDBAnsiToUtf8(std::string_view Ansi);

// Text for an 8-bit column named Column: the text in Windows-1252. Raises
// kSDBErrTextCharacter naming the column and the character when the text
// holds one that Windows-1252 cannot hold.
std::string SDBColumnText(std::string_view Utf8, std::string_view Column);

// UTF-8 text as an engine value: an 8-bit text when Windows-1252 holds
// every character, a wide text otherwise (the column it reaches decides
// whether it can be stored).
TSDBVariant SDBTextValue(std::string_view Utf8, TSDBBaseFieldType AnsiType = bftVarchar);
// A value as UTF-8 text: 8-bit texts from Windows-1252, wide texts from
// UTF-16; other values in their text form. Empty for null.
std::string SDBValueUtf8(const TSDBVariant& Value);
// Value converted for a column of type Type named Column. A text reaching
// an 8-bit column must be representable in Windows-1252: otherwise
// kSDBErrTextCharacter names the column and the character.
TSDBVariant SDBColumnValue(const TSDBVariant& Value, TSDBBaseFieldType Type, std::string_view Column);

// A table, field, index or constraint name as the file stores it: in
// Windows-1252. Raises kSDBErrNameCharacter naming the name and the
// character when the name holds one that Windows-1252 cannot hold.
std::string SDBNameToAnsi(std::string_view Utf8Name);
// A stored name back in UTF-8, the form every name has inside the engine.
std::string SDBNameFromAnsi(std::string_view AnsiName);

// A password's bytes as the key is made from them: the text in
// Windows-1252. Raises kSDBErrPasswordCharacter naming the character when
// the password holds one that Windows-1252 cannot hold.
std::string SDBPasswordBytes(std::string_view Utf8Password);

}  // namespace sdb
