// Statement classes of the SQL dialect. The constructor of each class takes
// the lexer (positioned on the command's first token) and the query
// component, and parses the command into the object's fields; parse errors
// are raised from the constructor. Execution is added on top of these
// structures by the statement processor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBFieldTypes.h"
#include "sql/SDBExpression.h"
#include "sql/SDBLexer.h"

namespace sdb {

class TSDBQuery;  // the query component that runs the statement

class TSDBSQLCommand {
 public:
  TSDBSQLCommand(TSDBLexer* lex, TSDBQuery* query);
  virtual ~TSDBSQLCommand();
  TSDBSQLCommand(const TSDBSQLCommand&) = delete;
  TSDBSQLCommand& operator=(const TSDBSQLCommand&) = delete;

  virtual const char* ClassName() const = 0;
  // Appends a readable tree of the statement, one item a line.
  virtual void Dump(std::string& out, int indent) const = 0;
  std::string DumpText() const {
    std::string s;
    Dump(s, 0);
    return s;
  }

  TSDBLexer* LLex;
  const TToken* Token = nullptr;  // current token while parsing
  TSDBQuery* LQuery;
  int64_t RowsAffected = 0;
  bool IntoMemory = false;  // the target (or INTO) table is an in-memory table
};

// A column named in a list (GROUP BY, USING, CORRESPONDING BY ...).
struct TSDBFieldRef {
  std::string TableName;
  std::string FieldName;
  int LineNum = 0;  // where the name stands in the command, for messages
  int ColumnNum = 0;
};

struct TSDBOrderBySpec {
  std::string TableName;
  std::string FieldName;  // empty when the column is given by position
  int FieldNo = 0;        // 1-based position in the select list, 0 for a name
  bool Descending = false;
  int LineNum = 0;  // where the item stands in the statement, for messages
  int ColumnNum = 0;
};

// Queries that produce a result.
class TSDBSQLCursorCommand : public TSDBSQLCommand {
 public:
  using TSDBSQLCommand::TSDBSQLCommand;
  int OrderBySpecsCount() const { return static_cast<int>(OrderBySpecs.size()); }

  std::string IntoDatabase;  // INTO [MEMORY] [database "."] table
  std::string IntoTable;
  std::vector<TSDBOrderBySpec> OrderBySpecs;

 protected:
  void DumpInto(std::string& out, int indent) const;
  void DumpOrderBy(std::string& out, int indent) const;
};

struct TSDBSelectListItem {
  bool IsExpression = false;  // false: a plain (possibly qualified) column, or table.*
  bool AllTableFields = false;  // table.*
  std::string TableName;
  std::string FieldName;
  std::string Pseudonym;  // the result name (explicit, or derived and made unique)
  std::unique_ptr<TSDBExpression> ValueExpr;
  int LineNum = 0;  // where the item stands in the command, for messages
  int ColumnNum = 0;
};

enum TSDBTableReferenceType : uint8_t { attTable, attJoinedTable, attSubQuery };
enum TSDBJoinType : uint8_t { ajtCross, ajtInner, ajtLeftOuter, ajtRightOuter, ajtFullOuter };

struct TSDBTableReference {
  TSDBTableReference();
  ~TSDBTableReference();
  void Dump(std::string& out, int indent) const;

  TSDBTableReferenceType TableType = attTable;
  std::string DatabaseName;
  std::string TableName;
  std::string Pseudonym;
  std::string Password;
  bool InMemory = false;
  bool NaturalJoin = false;
  TSDBJoinType JoinType = ajtCross;
  std::unique_ptr<TSDBTableReference> LeftTable;
  std::unique_ptr<TSDBTableReference> RightTable;
  std::vector<std::string> UsingFields;
  std::unique_ptr<TSDBExpression> SearchCondition;  // ON condition of a join
  std::unique_ptr<TSDBSQLUnion> SubQuery;
};

class TSDBSQLSelect : public TSDBSQLCursorCommand {
 public:
  TSDBSQLSelect(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBSQLSelect"; }
  void Dump(std::string& out, int indent) const override;

  bool All = false;
  bool Distinct = false;
  int64_t TopRowCount = -1;
  int64_t FirstRowNo = -1;
  bool AllFields = false;
  std::vector<TSDBSelectListItem> SelectList;
  std::vector<std::unique_ptr<TSDBTableReference>> FromTables;
  std::unique_ptr<TSDBExpression> SearchCondition;
  std::vector<TSDBFieldRef> GroupByFields;
  std::unique_ptr<TSDBExpression> HavingCondition;
};

enum TSDBQueryExprNodeType : uint8_t { qntSelect, qntUnion, qntExcept, qntIntersect };

struct TSDBQueryExprNode {
  void Dump(std::string& out, int indent) const;
  TSDBQueryExprNodeType NodeType = qntSelect;
  bool All = false;
  bool Corresponding = false;
  std::vector<std::string> CorrespondingFields;  // CORRESPONDING BY (...)
  std::unique_ptr<TSDBQueryExprNode> Left;
  std::unique_ptr<TSDBQueryExprNode> Right;
  std::unique_ptr<TSDBSQLSelect> Select;  // NodeType == qntSelect
};

// A query: one SELECT or a tree of UNION / EXCEPT / INTERSECT of SELECTs.
// As a statement nothing may follow it; as a subquery it stops before the
// first token that cannot continue it.
class TSDBSQLUnion : public TSDBSQLCursorCommand {
 public:
  TSDBSQLUnion(TSDBLexer* lex, TSDBQuery* query, bool subquery = false);
  const char* ClassName() const override { return "TSDBSQLUnion"; }
  void Dump(std::string& out, int indent) const override;
  // The single SELECT when the tree has no set operator, else null.
  TSDBSQLSelect* SingleSelect() const {
    return Root && Root->NodeType == qntSelect ? Root->Select.get() : nullptr;
  }

  std::unique_ptr<TSDBQueryExprNode> Root;
};

class TSDBSQLInsert : public TSDBSQLCommand {
 public:
  TSDBSQLInsert(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBSQLInsert"; }
  void Dump(std::string& out, int indent) const override;

  std::string TableName;
  std::string DatabaseFileName;
  std::string Password;
  std::vector<std::string> FieldNames;
  std::vector<std::vector<std::unique_ptr<TSDBExpression>>> FieldValues;  // one list per row
  std::unique_ptr<TSDBSQLUnion> InternalSelecter;  // INSERT ... query
};

// Common part of UPDATE and DELETE: the target table and the WHERE clause,
// kept both parsed and as tokens (the executor selects the rows by running
// "select * from <table reference> <WHERE tokens>").
class TSDBSQLTableModifier : public TSDBSQLCommand {
 public:
  using TSDBSQLCommand::TSDBSQLCommand;
  std::string DatabaseFileName;
  std::string TableName;
  std::string Password;
  std::string FTablePseudonym;
  std::unique_ptr<TSDBExpression> SearchCondition;
  std::vector<TToken> TableReferenceTokens;
  std::vector<TToken> WhereTokens;  // from WHERE to the end, WHERE included

 protected:
  void DumpTarget(std::string& out, int indent) const;
};

class TSDBSQLUpdate : public TSDBSQLTableModifier {
 public:
  TSDBSQLUpdate(TSDBLexer* lex, TSDBQuery* query);
  ~TSDBSQLUpdate() override;
  const char* ClassName() const override { return "TSDBSQLUpdate"; }
  void Dump(std::string& out, int indent) const override;

  std::vector<TSDBFieldRef> FieldNames;
  std::vector<std::unique_ptr<TSDBExpression>> FieldValues;
  bool IsFieldValuesSubquery = false;
  std::unique_ptr<TSDBExpression> FieldValuesSubqueryExpr;  // (a, b) = (SELECT ...)
  // Built by the executor: the inner query and its lexer.
  std::unique_ptr<TSDBSQLUnion> InternalSelecter;
  std::unique_ptr<TSDBLexer> FSelectLexer;
};

class TSDBSQLDelete : public TSDBSQLTableModifier {
 public:
  TSDBSQLDelete(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBSQLDelete"; }
  void Dump(std::string& out, int indent) const override;
};

// A column as CREATE TABLE and ALTER TABLE declare it.
struct TSDBColumnDef {
  TSDBColumnDef();
  ~TSDBColumnDef();
  TSDBColumnDef(TSDBColumnDef&&) noexcept;
  TSDBColumnDef& operator=(TSDBColumnDef&&) noexcept;
  void Dump(std::string& out, int indent) const;

  std::string Name;
  std::string TypeName;  // as written, upper case
  TSDBAdvancedFieldType AdvancedType = aftUnknown;
  TSDBBaseFieldType BaseType = bftUnknown;
  int Size = 0;       // declared size (0 when none)
  int Precision = 0;  // second number of "(size, precision)"
  bool NotNull = false;
  bool PrimaryKey = false;
  bool Unique = false;
  std::unique_ptr<TSDBExpression> DefaultValue;
  std::string DefaultText;  // the default expression as SQL text
  // BLOB options (-1 / empty when not given).
  int BlobBlockSize = -1;
  std::string BlobCompressionAlgorithm;
  int BlobCompressionMode = -1;
  // Auto-increment options.
  bool HasIncrement = false, HasInitialValue = false, HasMinValue = false, HasMaxValue = false;
  int64_t AutoincIncrement = 1;
  int64_t AutoincInitialValue = 0;
  int64_t AutoincMinValue = 0;
  int64_t AutoincMaxValue = 0;
  bool AutoincCycled = false;
};

// Names of one table as DDL statements give them.
struct TSDBDDLTableName {
  std::string DatabaseFileName;
  std::string TableName;
  std::string Password;
  bool InMemory = false;
  void Dump(std::string& out, int indent) const;
};

class TSDBDDLCreateTable : public TSDBSQLCommand {
 public:
  TSDBDDLCreateTable(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBDDLCreateTable"; }
  void Dump(std::string& out, int indent) const override;

  TSDBDDLTableName Table;
  bool IfNotExists = false;
  std::vector<TSDBColumnDef> Columns;
  std::vector<std::string> PrimaryKeyFields;           // PRIMARY KEY (...) or a column's PRIMARY KEY
  std::vector<std::vector<std::string>> UniqueFields;  // UNIQUE (...), one list per constraint
};

class TSDBDDLDropTable : public TSDBSQLCommand {
 public:
  TSDBDDLDropTable(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBDDLDropTable"; }
  void Dump(std::string& out, int indent) const override;
  TSDBDDLTableName Table;
  bool IfExists = false;
};

enum TSDBAlterActionType : uint8_t { aatAdd, aatDrop, aatModify, aatRename };

struct TSDBAlterAction {
  TSDBAlterActionType ActionType = aatAdd;
  TSDBColumnDef Column;    // ADD, MODIFY
  std::string FieldName;   // DROP, RENAME (old name)
  std::string NewName;     // RENAME
};

class TSDBDDLAlterTable : public TSDBSQLCommand {
 public:
  TSDBDDLAlterTable(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBDDLAlterTable"; }
  void Dump(std::string& out, int indent) const override;
  TSDBDDLTableName Table;
  std::vector<TSDBAlterAction> Actions;
};

class TSDBDDLRenameTable : public TSDBSQLCommand {
 public:
  TSDBDDLRenameTable(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBDDLRenameTable"; }
  void Dump(std::string& out, int indent) const override;
  TSDBDDLTableName Table;
  std::string NewTableName;
};

class TSDBDDLTruncateTable : public TSDBSQLCommand {
 public:
  TSDBDDLTruncateTable(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBDDLTruncateTable"; }
  void Dump(std::string& out, int indent) const override;
  TSDBDDLTableName Table;
};

struct TSDBIndexColumnDef {
  std::string FieldName;
  bool Descending = false;
  bool CaseInsensitive = false;  // NOCASE
};

class TSDBDDLCreateIndex : public TSDBSQLCommand {
 public:
  TSDBDDLCreateIndex(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBDDLCreateIndex"; }
  void Dump(std::string& out, int indent) const override;
  bool Unique = false;
  bool IfNotExists = false;
  std::string IndexName;
  TSDBDDLTableName Table;
  std::vector<TSDBIndexColumnDef> Columns;
};

class TSDBDDLDropIndex : public TSDBSQLCommand {
 public:
  TSDBDDLDropIndex(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBDDLDropIndex"; }
  void Dump(std::string& out, int indent) const override;
  bool IfExists = false;
  std::string IndexName;
  TSDBDDLTableName Table;
};

class TSDBSQLStartTransaction : public TSDBSQLCommand {
 public:
  TSDBSQLStartTransaction(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBSQLStartTransaction"; }
  void Dump(std::string& out, int indent) const override;
};

class TSDBSQLCommit : public TSDBSQLCommand {
 public:
  TSDBSQLCommit(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBSQLCommit"; }
  void Dump(std::string& out, int indent) const override;
  bool Flush = false;  // COMMIT [WORK] FLUSH: write the changes to disk at once
};

class TSDBSQLRollback : public TSDBSQLCommand {
 public:
  TSDBSQLRollback(TSDBLexer* lex, TSDBQuery* query);
  const char* ClassName() const override { return "TSDBSQLRollback"; }
  void Dump(std::string& out, int indent) const override;
};

// Chooses the statement class from the first tokens of the lexer's current
// command and builds (parses) it.
std::unique_ptr<TSDBSQLCommand> SDBCreateSQLCommand(TSDBLexer& lex, TSDBQuery* query);

}  // namespace sdb
