// Native error codes of the statement layer: the SQL lexer, the statement
// parsers, expression evaluation and statement execution. The codes of the
// values, files and components are in sdb/SDBErrors.h.
#pragma once

namespace sdb {

// Lexer.
inline constexpr int kSqlErrMissingParen = 30059;        // "Missing symbol ')' ..."
inline constexpr int kSqlErrUnexpectedParen = 30060;     // "Unexpected symbol ')' found ..."
inline constexpr int kSqlErrUnterminatedString = 30061;  // "Unterminated string ..."
inline constexpr int kSqlErrInvalidNumeric = 30062;      // "Invalid numeric symbol '%s' ..."
inline constexpr int kSqlErrParamNotFound = 30358;       // "Value for parameter '%s' not found"

// Dispatch.
inline constexpr int kSqlErrNoCommand = 30145;           // "Blank SQL command"
inline constexpr int kSqlErrNoToken = 30146;
inline constexpr int kSqlErrCreateObject = 30147;        // "Object type keyword expected ..."
inline constexpr int kSqlErrCreateEnd = 30148;           // "Unexpected end of SQL command ..."
inline constexpr int kSqlErrDropObject = 30149;
inline constexpr int kSqlErrDropEnd = 30150;
inline constexpr int kSqlErrAlterObject = 30151;
inline constexpr int kSqlErrAlterEnd = 30152;
inline constexpr int kSqlErrRenameEnd = 30353;
inline constexpr int kSqlErrNotSqlToken = 30153;         // "SQL token expected ..." (not a keyword)
inline constexpr int kSqlErrUnknownStatement = 30154;    // ... (a keyword that starts no statement)
inline constexpr int kSqlErrEndExpected = 20260;         // "End of SQL command expected ..."

// Statements.
inline constexpr int kSqlErrUnexpectedEnd = 30161;       // "Unexpected end of SQL command ..."
inline constexpr int kSqlErrTopInteger = 30158;          // "Integer expected ..." (TOP row count)
inline constexpr int kSqlErrTopFirstRow = 30159;         // (TOP first row number)
inline constexpr int kSqlErrBooleanWhere = 30066;        // "Boolean expression expected ..."
inline constexpr int kSqlErrBooleanHaving = 30069;
inline constexpr int kSqlErrBooleanOn = 30070;
inline constexpr int kSqlErrInsertInto = 30206;          // "Token '%s' expected ..." (INTO)
inline constexpr int kSqlErrInsertTable = 30207;         // "Table name expected ..."
inline constexpr int kSqlErrFieldName = 2156;            // "Field name expected ..."
inline constexpr int kSqlErrParenOrComma = 30212;        // "')' or ',' symbol expected ..."
inline constexpr int kSqlErrLeftParen = 30214;           // "'(' symbol expected ..."
inline constexpr int kSqlErrUpdateTable = 30217;
inline constexpr int kSqlErrUpdateSet = 30220;
inline constexpr int kSqlErrUpdateEquals = 30221;
inline constexpr int kSqlErrUpdateComma = 30222;
inline constexpr int kSqlErrValueCount = 20259;          // "Number of field names does not equal ..."
inline constexpr int kSqlErrEmptyValue = 30357;          // "Error parsing parameter '%s' ..."

// Errors of this parser with no fixed code elsewhere.
inline constexpr int kSqlErrFromExpected = 30160;        // "Token 'FROM' expected ..."
inline constexpr int kSqlErrTooDeep = 30162;             // nesting limit
inline constexpr int kSqlErrTokenExpected = 30163;       // "Token '%s' expected ..."
inline constexpr int kSqlErrTableName = 30164;           // "Table name expected ..."
inline constexpr int kSqlErrExpression = 30166;          // "Expression expected ..."
inline constexpr int kSqlErrDataType = 30167;            // "Unknown data type '%s' ..."
inline constexpr int kSqlErrInteger = 30170;             // "Integer expected ..."
inline constexpr int kSqlErrIndexName = 30171;           // "Index name expected ..."
inline constexpr int kSqlErrPseudonym = 30172;           // "Pseudonym expected ..."
inline constexpr int kSqlErrQuoted = 30173;              // "Quoted string expected ..."

// Deepest nesting the parsers accept, counting parentheses, subqueries,
// unary operators and the nodes of left-deep chains (a + b + ..., joins,
// set operations); deeper input is refused instead of exhausting the stack
// here or in whatever walks the tree later.
inline constexpr int kSqlMaxParseDepth = 200;

// Expression evaluation (message texts are in docs/sql-grammar.md); the
// value conversions (kEvalErrIncompatible, kEvalErrConvert, kEvalErrRange)
// are raised by values themselves and are named in sdb/SDBErrors.h.
inline constexpr int kEvalErrUnknownColumn = 30180;   // "Unknown column '%s' at line %d, column %d"
inline constexpr int kEvalErrAmbiguousColumn = 30181; // "Ambiguous column name '%s' at line %d, column %d"
inline constexpr int kEvalErrDivByZero = 30182;       // "Division by zero at line %d, column %d"
inline constexpr int kEvalErrOverflow = 30183;        // "Arithmetic overflow at line %d, column %d"
inline constexpr int kEvalErrSubqueryRows = 30184;    // "Subquery returns more than one row ..."
inline constexpr int kEvalErrSubqueryColumns = 30185; // "Subquery must return exactly one column ..."
inline constexpr int kEvalErrAggregate = 30186;       // "Aggregate function '%s' is not allowed here ..."
inline constexpr int kEvalErrArgument = 30187;        // "Invalid argument for function '%s' ..."
inline constexpr int kEvalErrNoHost = 30188;          // "'%s' cannot be evaluated here ..."
inline constexpr int kEvalErrMime = 30189;            // "Invalid MIME encoded text ..."
inline constexpr int kEvalErrLikeEscape = 30190;      // "Invalid escape sequence in LIKE pattern ..."
inline constexpr int kEvalErrNotBoolean = 30191;      // "Boolean value expected, but %s found ..."

// Statement execution.
inline constexpr int kExecErrUpdateLocked = 20223;         // "Table is locked" (UPDATE, DELETE)
inline constexpr int kExecErrInsertLocked = 20224;         // "Table is locked" (INSERT from a query)
inline constexpr int kExecErrQueryLocked = 20225;          // "Table is locked" (queries)
inline constexpr int kExecErrCannotUnlockQuery = 20226;    // "Cannot unlock table"
inline constexpr int kExecErrCannotUnlockAfter = 20227;    // "Cannot unlock table"
inline constexpr int kExecErrParamUndefined = 30356;       // "Parameter Value undefined (FieldName='%s', Type='%s')"
inline constexpr int kExecErrSearchNotApplicable = 30193;  // "Search condition is not applicable"
inline constexpr int kExecErrHavingNotApplicable = 30194;  // "'Having' condition is not applicable"
inline constexpr int kExecErrSecondPrimaryKey = 30196;     // "Table '%s' already has a primary key (%s): ..."

}  // namespace sdb
