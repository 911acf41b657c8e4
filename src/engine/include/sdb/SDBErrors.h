// Native error codes of the session, database and dataset components.
#pragma once

namespace sdb {

inline constexpr int kSDBErrCreateTableHandle = 20001;     // "Error creating table handle"
inline constexpr int kSDBErrInvalidSessionName = 20002;    // "Invalid session name '%s'"
inline constexpr int kSDBErrNoSQLStatementExec = 20034;    // "No SQL statement available" (ExecSQL, no line)
inline constexpr int kSDBErrNoSQLStatementPrepare = 30142; // "No SQL statement available" (Prepare)
inline constexpr int kSDBErrDataSetOpen = 30141;           // "Cannot perform this operation on an open dataset"
inline constexpr int kSDBErrCannotConvert = 20238;         // "Cannot convert database to the new format. ..."
inline constexpr int kSDBErrWrongPassword = 30445;         // raised by the file layer
inline constexpr int kSDBErrPasswordCharacter = 20270;     // "The password cannot hold the character '%s': ..."
inline constexpr int kSDBErrTextCharacter = 20271;         // "Column '%s' cannot hold the character '%s': ..."

// Component errors with no code of their own in the file layer.
inline constexpr int kSDBErrDatabaseFileMissing = 20108;   // "Database file '%s' does not exist"
inline constexpr int kSDBErrDatabaseNameMissing = 20109;   // "Database name missing"
inline constexpr int kSDBErrDuplicateDatabase = 20110;     // "Duplicate database name '%s'"
inline constexpr int kSDBErrDatabaseOpen = 20111;          // "Cannot perform this operation on an open database"
inline constexpr int kSDBErrDatabaseNameBlank = 20112;     // "DatabaseName property is blank"
inline constexpr int kSDBErrFieldNotFound = 20113;         // "Field '%s' not found"
inline constexpr int kSDBErrParamNotFound = 20114;         // "Parameter '%s' not found"
inline constexpr int kSDBErrDataSetClosed = 20115;         // "Cannot perform this operation on a closed dataset"
inline constexpr int kSDBErrTableNameMissing = 20116;      // "Table name missing"
inline constexpr int kSDBErrNotEditing = 20117;            // "Dataset not in edit or insert mode"
inline constexpr int kSDBErrReadOnlyDataSet = 20118;       // "Cannot modify a read-only dataset"
inline constexpr int kSDBErrIndexNotFound = 20119;         // "Index '%s' not found"

}  // namespace sdb
