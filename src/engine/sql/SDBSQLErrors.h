// Native error codes raised by the SQL lexer and statement parsers.
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

}  // namespace sdb
