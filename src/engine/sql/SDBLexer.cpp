#include "sql/SDBLexer.h"

#include <algorithm>
#include <unordered_map>

#include "sdb/SDBException.h"
#include "sql/SDBSQLErrors.h"
#include "common/SDBNames.h"

namespace sdb {

namespace {

const char* const kReservedWordTexts[kReservedWordCount] = {
    "ABSOLUTE", "ACTION", "ADD", "ALL", "ALLOCATE", "ALTER", "AND", "ANY", "ARE", "AS", "ASC",
    "ASSERTION", "AT", "AUTHORIZATION", "AVG", "BEGIN", "BETWEEN", "BIT", "BIT_LENGTH", "BOTH",
    "BY", "CASCADE", "CASCADED", "CASE", "CAST", "CATALOG", "CHAR", "CHARACTER", "CHAR_LENGTH",
    "CHARACTER_LENGTH", "CHECK", "CLOSE", "COALESCE", "COLLATE", "COLLATION", "COLUMN", "COMMIT",
    "CONNECT", "CONNECTION", "CONSTRAINT", "CONSTRAINTS", "CONTINUE", "CONVERT", "CORRESPONDING",
    "COUNT", "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP",
    "CURRENT_USER", "CURSOR", "DATE", "DAY", "DEALLOCATE", "DEC", "DECIMAL", "DECLARE", "DEFAULT",
    "DEFERRABLE", "DEFERRED", "DELETE", "DESC", "DESCRIBE", "DESCRIPTOR", "DIAGNOSTICS",
    "DISCONNECT", "DISTINCT", "DOMAIN", "DOUBLE", "DROP", "ELSE", "END", "END-EXEC", "ESCAPE",
    "EXCEPT", "EXCEPTION", "EXEC", "EXECUTE", "EXISTS", "EXTERNAL", "EXTRACT", "FALSE", "FETCH",
    "FIRST", "FLOAT", "FOR", "FOREIGN", "FOUND", "FROM", "FULL", "GET", "GLOBAL", "GO", "GOTO",
    "GRANT", "GROUP", "HAVING", "HOUR", "IDENTITY", "IMMEDIATE", "IN", "INDICATOR", "INITIALLY",
    "INNER", "INPUT", "INSENSITIVE", "INSERT", "INT", "INTEGER", "INTERSECT", "INTERVAL", "INTO",
    "IS", "ISOLATION", "JOIN", "KEY", "LANGUAGE", "LAST", "LEADING", "LEFT", "LEVEL", "LIKE",
    "LOCAL", "LOWER", "MATCH", "MAX", "MEMORY", "MIN", "MINUS", "MINUTE", "MODULE", "MONTH",
    "NAMES", "NATIONAL", "NATURAL", "NCHAR", "NEXT", "NO", "NOT", "NULL", "NULLIF", "NUMERIC",
    "OCTET_LENGTH", "OF", "ON", "ONLY", "OPEN", "OPTION", "OR", "ORDER", "OUTER", "OUTPUT",
    "OVERLAPS", "PAD", "PARTIAL", "POSITION", "PRECISION", "PREPARE", "PRESERVE", "PRIMARY",
    "PRIOR", "PRIVILEGES", "PROCEDURE", "PUBLIC", "READ", "REAL", "REFERENCES", "RELATIVE",
    "RESTRICT", "REVOKE", "RIGHT", "ROLLBACK", "ROWS", "SCHEMA", "SCROLL", "SECOND", "SECTION",
    "SELECT", "SESSION", "SESSION_USER", "SET", "SIZE", "SMALLINT", "SOME", "SPACE", "SQL",
    "SQLCODE", "SQLERROR", "SQLSTATE", "SUBSTRING", "SUM", "SYSTEM_USER", "TABLE", "TEMPORARY",
    "THEN", "TIME", "TIMESTAMP", "TIMEZONE_HOUR", "TIMEZONE_MINUTE", "TO", "TOP", "TRAILING",
    "TRANSACTION", "TRANSLATE", "TRANSLATION", "TRIM", "TRUE", "UNION", "UNIQUE", "UNKNOWN",
    "UPDATE", "UPPER", "USAGE", "USER", "USING", "VALUE", "VALUES", "VARCHAR", "VARYING", "VIEW",
    "WHEN", "WHENEVER", "WHERE", "WITH", "WORK", "WRITE", "YEAR", "ZONE", "PASSWORD",
    "BLOBBLOCKSIZE", "BLOBCOMPRESSIONMODE", "BLOBCOMPRESSIONALGORITHM", "LASTAUTOINC", "MODIFY",
    "NEW", "INDEX", "NOCASE", "LTRIM", "RTRIM", "POS", "LENGTH", "SYSDATE", "NOW", "TODATE",
    "TOSTRING", "AUTOINDEXES", "NOAUTOINDEXES", "INCREMENT", "LASTVALUE", "MAXVALUE", "MINVALUE",
    "CYCLED", "NOMAXVALUE", "NOMINVALUE", "NOCYCLED", "INITIALVALUE", "STARTVALUE", "RENAME",
    "START", "FLUSH", "AUTOINC", "MIMETOBIN", "ROWNUM", "IF", "TRUNCATE", "ABS", "ACOS", "ASIN",
    "ATAN", "CEIL", "COS", "EXP", "FLOOR", "LOG", "POWER", "RAND", "ROUND", "SIGN", "SIN", "SQR",
    "SQRT", "HALFEVEN", "HALFPOS", "HALFNEG", "HALFDOWN", "HALFUP", "RNDNEG", "RNDPOS", "RNDDOWN",
    "RNDUP",
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
// Characters that end the word or number being built and start a token of
// their own ("+", "-" and "." have their own rules).
bool StartsNewToken(char c) {
  switch (c) {
    case '>': case '<': case '=': case '(': case ')': case ',': case '/': case '*':
    case ':': case '?': case '|': case ';':
      return true;
    default:
      return false;
  }
}

}  // namespace

const char* SDBReservedWordText(TReservedWord rw) {
  if (rw >= kReservedWordCount) return "";
  return kReservedWordTexts[rw];
}

TReservedWord SDBFindReservedWord(std::string_view upper) {
  static const std::unordered_map<std::string_view, TReservedWord> table = [] {
    std::unordered_map<std::string_view, TReservedWord> m;
    // The first entry (ABSOLUTE) stays in the table but is never recognised.
    for (int i = 1; i < kReservedWordCount; ++i)
      m.emplace(kReservedWordTexts[i], static_cast<TReservedWord>(i));
    return m;
  }();
  auto it = table.find(upper);
  return it == table.end() ? rwNone : it->second;
}

const char* SDBTokenTypeName(TTokenType type) {
  static const char* const names[] = {"tktNone", "tktString", "tktQuotedString", "tktBracketedString",
                                      "tktInt", "tktFloat", "tktReservedWord", "tktParameter",
                                      "tktLeftParenthesis", "tktRightParenthesis", "tktComma", "tktDot"};
  return type <= tktDot ? names[type] : "?";
}

const TSDBSQLParam* TSDBSQLParams::FindParam(std::string_view name) const {
  for (const auto& p : FParamList)
    if (SDBSameName(p.Name, name)) return &p;
  return nullptr;
}

TSDBLexer::TSDBLexer(std::string sql, bool noParams, const TSDBSQLParams* params)
    : FSQL(std::move(sql)), FSQLParams(params), FNoParams(noParams) {
  Tokenize();
}

namespace {

// One pass over the text; keeps the reading position (line and column of
// the next character) and the token being built.
class TTokenizer {
 public:
  TTokenizer(const std::string& sql, bool noParams, const TSDBSQLParams* params,
             std::vector<TSQLCommand>& commands)
      : S(sql), NoParams(noParams), Params(params), Commands(commands) {}

  void Run() {
    const size_t n = S.size();
    while (I < n) {
      const char c = S[I];
      const int cl = Line, cc = Col;
      if (c == ';') {
        Finish();
        EndCommand(cl, cc);
        Step();
        continue;
      }
      if (c == '-' && I + 1 < n && S[I + 1] == '-') {
        Finish();
        while (I < n && S[I] != '\n') Step();
        continue;
      }
      if (c == '/' && I + 1 < n && S[I + 1] == '*') {
        Finish();
        Step();
        Step();
        while (I < n && !(S[I] == '*' && I + 1 < n && S[I + 1] == '/')) Step();
        if (I < n) {
          Step();
          Step();
        }
        continue;
      }
      if (IsBlank(c)) {
        Finish();
        Step();
        continue;
      }
      if (Building && Continue(c, cl, cc)) continue;
      StartToken(c, cl, cc);
    }
    Finish();
    EndCommand(Line, Col);
  }

 private:
  enum TBuild { bWord, bNumber, bDot, bLess, bGreater, bBar };

  // Moves past one character, following the position rule: a carriage
  // return changes nothing, a line feed starts the next line.
  void Step() {
    const char c = S[I++];
    if (c == '\r') return;
    if (c == '\n') {
      ++Line;
      Col = 1;
    } else {
      ++Col;
    }
  }

  // A token is being built and `c` (not a blank, comment or ";") follows:
  // appends it and returns true, or finishes the token and returns false so
  // that `c` starts a new one.
  bool Continue(char c, int cl, int cc) {
    switch (Kind) {
      case bWord:
        if (StartsNewToken(c) || c == '+' || c == '-' || c == '.') break;
        Append(c);
        return true;
      case bNumber: {
        const char prev = Tok.Text.back();
        const bool afterE = prev == 'E' || prev == 'e';
        if (IsDigit(c)) {
          Append(c);
          return true;
        }
        if (c == '.') {
          if (SeenDot || SeenExp) InvalidNumeric(c, cl, cc);
          SeenDot = true;
          Append(c);
          return true;
        }
        if (c == 'E' || c == 'e') {
          if (SeenExp) InvalidNumeric(c, cl, cc);
          SeenExp = true;
          Append(c);
          return true;
        }
        if ((c == '+' || c == '-') && afterE) {
          Append(c);
          return true;
        }
        if (c == '+' || c == '-' || StartsNewToken(c)) break;
        InvalidNumeric(c, cl, cc);
      }
      case bDot:
        if (IsDigit(c)) {
          Tok.TokenType = tktInt;
          Kind = bNumber;
          SeenDot = true;
          SeenExp = false;
          Append(c);
          return true;
        }
        break;
      case bLess:
        if (c == '=' || c == '>') {
          Append(c);
          Finish();
          return true;
        }
        break;
      case bGreater:
      case bBar:
        if ((Kind == bGreater && c == '=') || (Kind == bBar && c == '|')) {
          Append(c);
          Finish();
          return true;
        }
        break;
    }
    Finish();
    return false;
  }

  void Append(char c) {
    Tok.Text += c;
    LastLine = Line;
    LastCol = Col;
    Step();
  }

  [[noreturn]] void InvalidNumeric(char c, int line, int col) {
    throw ESDBException(kSqlErrInvalidNumeric, "Invalid numeric symbol '%s' at line %d, column %d",
                        {std::string(1, c), int64_t{line}, int64_t{col}});
  }

  void Begin(TTokenType type, TBuild kind, int cl, int cc) {
    Tok = TToken{};
    Tok.TokenType = type;
    Tok.LineNum = cl;
    Tok.ColumnNum = cc;
    Kind = kind;
    Building = true;
    SeenDot = SeenExp = false;
  }

  void StartToken(char c, int cl, int cc) {
    const size_t n = S.size();
    switch (c) {
      case '\'': case '"': case '[': case '`': {
        Begin(c == '[' ? tktBracketedString : c == '`' ? tktString : tktQuotedString, bWord, cl, cc);
        Tok.Backquoted = c == '`';
        ReadQuoted(c == '[' ? ']' : c, c == '`');
        Push();
        return;
      }
      case ':':
        if (I + 1 < n && (S[I + 1] == '\'' || S[I + 1] == '"' || S[I + 1] == '[' || S[I + 1] == '`')) {
          // A quoted parameter name; the ":" stays in front.
          Begin(tktString, bWord, cl, cc);
          Tok.Text = ":";
          Step();
          const char open = S[I];
          ReadQuoted(open == '[' ? ']' : open, open == '`');
          QuotedParam = true;
          Push();
          return;
        }
        break;
      case '(':
        Begin(tktLeftParenthesis, bWord, cl, cc);
        Append(c);
        ++Depth;
        OpenParens.emplace_back(cl, cc);
        Push();
        return;
      case ')':
        Begin(tktRightParenthesis, bWord, cl, cc);
        Append(c);
        if (--Depth < 0)
          throw ESDBException(kSqlErrUnexpectedParen, "Unexpected symbol ')' found at line %d, column %d",
                              {int64_t{cl}, int64_t{cc}});
        OpenParens.pop_back();
        Push();
        return;
      case ',':
        Begin(tktComma, bWord, cl, cc);
        Append(c);
        Push();
        return;
      case '-': case '+': case '*': case '/': case '=': case '?':
        Begin(tktString, bWord, cl, cc);
        Append(c);
        Finish();
        return;
      case '.':
        Begin(tktDot, bDot, cl, cc);
        Append(c);
        return;
      case '<':
        Begin(tktString, bLess, cl, cc);
        Append(c);
        return;
      case '>':
        Begin(tktString, bGreater, cl, cc);
        Append(c);
        return;
      case '|':
        Begin(tktString, bBar, cl, cc);
        Append(c);
        return;
      default:
        break;
    }
    if (IsDigit(c)) {
      Begin(tktInt, bNumber, cl, cc);
    } else {
      Begin(tktString, bWord, cl, cc);
    }
    Append(c);
  }

  // Reads a quoted token whose opening character is at the reading
  // position, up to its closing character.
  void ReadQuoted(char close, bool backslash) {
    const size_t n = S.size();
    Step();  // the opening character
    while (I < n) {
      const char ch = S[I];
      if (backslash && ch == '\\') {
        Step();
        if (I >= n) break;
        Tok.Text += S[I];
        Step();
        continue;
      }
      if (ch == close) {
        if (I + 1 < n && S[I + 1] == close) {
          Tok.Text += close;
          Step();
          Step();
          continue;
        }
        Step();
        return;
      }
      Tok.Text += ch;
      Step();
    }
    throw ESDBException(kSqlErrUnterminatedString, "Unterminated string at line %d, column %d",
                        {int64_t{Tok.LineNum}, int64_t{Tok.ColumnNum}});
  }

  void Finish() {
    if (!Building) return;
    if (Kind == bNumber) {
      const char last = Tok.Text.back();
      if (last == 'E' || last == 'e' || last == '+' || last == '-')
        InvalidNumeric(last, LastLine, LastCol);
      if (Tok.Text.find_first_of(".Ee") != std::string::npos) Tok.TokenType = tktFloat;
    }
    Push();
  }

  // Classifies a finished token and adds it to the command.
  void Push() {
    Building = false;
    if (Tok.TokenType == tktString && !NoParams && !Tok.Text.empty() && !(Tok.Backquoted) &&
        (Tok.Text[0] == ':' || Tok.Text == "?")) {
      BindParameter();
    } else if (Tok.TokenType == tktString && !Tok.Backquoted && !QuotedParam) {
      std::string upper = Tok.Text;
      for (char& ch : upper) ch = SDBUpperNameChar(ch);
      const TReservedWord rw = SDBFindReservedWord(upper);
      if (rw != rwNone) {
        Tok.TokenType = tktReservedWord;
        Tok.ReservedWord = rw;
      }
    }
    QuotedParam = false;
    Current.Tokens.push_back(std::move(Tok));
    Tok = TToken{};
  }

  void BindParameter() {
    std::string name;
    const TSDBSQLParam* param = nullptr;
    const bool positional = Tok.Text == "?";
    if (positional) {
      ++Positional;
      name = "Param" + std::to_string(Positional);
      if (Params && static_cast<size_t>(Positional) <= Params->Count())
        param = &(*Params)[static_cast<size_t>(Positional) - 1];
    } else {
      name = Tok.Text.substr(1);
      if (Params) param = Params->FindParam(name);
    }
    if (!param) throw ESDBException(kSqlErrParamNotFound, "Value for parameter '%s' not found", {name});
    Tok.TokenType = tktParameter;
    Tok.Text = std::move(name);
    Tok.ParamValue = param->Value;
    Tok.ParamNo = ParamCount++;
    Tok.ParamPosition = positional ? Positional : 0;
  }

  void EndCommand(int line, int col) {
    if (Depth > 0) {
      const auto [pl, pc] = OpenParens.back();
      throw ESDBException(kSqlErrMissingParen, "Missing symbol ')' at line %d, column %d",
                          {int64_t{pl}, int64_t{pc}});
    }
    if (!Current.Tokens.empty()) {
      Current.EndLineNum = line;
      Current.EndColumnNum = col;
      Commands.push_back(std::move(Current));
    }
    Current = TSQLCommand{};
    Depth = 0;
    OpenParens.clear();
  }

  const std::string& S;
  bool NoParams;
  const TSDBSQLParams* Params;
  std::vector<TSQLCommand>& Commands;

  size_t I = 0;
  int Line = 1, Col = 1;
  int LastLine = 1, LastCol = 1;  // position of the last character appended
  TSQLCommand Current;
  int Depth = 0;
  std::vector<std::pair<int, int>> OpenParens;
  int Positional = 0;
  int ParamCount = 0;

  bool Building = false;
  TBuild Kind = bWord;
  TToken Tok;
  bool SeenDot = false, SeenExp = false;
  bool QuotedParam = false;
};

}  // namespace

void TSDBLexer::Tokenize() {
  TTokenizer(FSQL, FNoParams, FSQLParams, Commands).Run();
  FCurrentCommandNo = -1;
}

bool TSDBLexer::GetNextCommand() {
  if (FCurrentCommandNo + 1 >= NumCommands()) return false;
  ++FCurrentCommandNo;
  Commands[static_cast<size_t>(FCurrentCommandNo)].CurrentTokenNo = 0;
  return true;
}

TSQLCommand* TSDBLexer::CurrentCommand() {
  if (FCurrentCommandNo < 0 || FCurrentCommandNo >= NumCommands()) return nullptr;
  return &Commands[static_cast<size_t>(FCurrentCommandNo)];
}

const TSQLCommand* TSDBLexer::CurrentCommand() const {
  if (FCurrentCommandNo < 0 || FCurrentCommandNo >= NumCommands()) return nullptr;
  return &Commands[static_cast<size_t>(FCurrentCommandNo)];
}

bool TSDBLexer::GetCurrentToken(const TToken*& token) const {
  token = nullptr;
  const TSQLCommand* cmd = CurrentCommand();
  if (!cmd || cmd->CurrentTokenNo < 0 || cmd->CurrentTokenNo >= cmd->NumTokens()) return false;
  token = &cmd->Tokens[static_cast<size_t>(cmd->CurrentTokenNo)];
  return true;
}

bool TSDBLexer::GetNextToken(const TToken*& token) {
  TSQLCommand* cmd = CurrentCommand();
  if (cmd && cmd->CurrentTokenNo < cmd->NumTokens()) ++cmd->CurrentTokenNo;
  return GetCurrentToken(token);
}

bool TSDBLexer::LookNextToken(const TToken*& token) const {
  token = nullptr;
  const TSQLCommand* cmd = CurrentCommand();
  if (!cmd || cmd->CurrentTokenNo + 1 >= cmd->NumTokens()) return false;
  token = &cmd->Tokens[static_cast<size_t>(cmd->CurrentTokenNo) + 1];
  return true;
}

bool TSDBLexer::GetNextSpecifiedToken(const TToken*& token, std::initializer_list<TTokenType> kinds) {
  while (GetNextToken(token))
    if (std::find(kinds.begin(), kinds.end(), token->TokenType) != kinds.end()) return true;
  return false;
}

int TSDBLexer::GetCurrentTokenNo() const {
  const TSQLCommand* cmd = CurrentCommand();
  return cmd ? cmd->CurrentTokenNo : 0;
}

void TSDBLexer::SetCurrentTokenNo(int no) {
  TSQLCommand* cmd = CurrentCommand();
  if (cmd) cmd->CurrentTokenNo = std::clamp(no, 0, cmd->NumTokens());
}

void TSDBLexer::AddCommand() {
  Commands.emplace_back();
  FCurrentCommandNo = NumCommands() - 1;
}

void TSDBLexer::AddToken(const TToken& token) {
  if (Commands.empty()) AddCommand();
  TSQLCommand& cmd = Commands.back();
  cmd.Tokens.push_back(token);
  cmd.EndLineNum = token.LineNum;
  cmd.EndColumnNum = token.ColumnNum + static_cast<int>(token.Text.size());
}

std::string SDBValueText(const TSDBVariant& v);

std::string TSDBLexer::Test() const {
  std::string out;
  for (size_t c = 0; c < Commands.size(); ++c) {
    const TSQLCommand& cmd = Commands[c];
    out += "Command " + std::to_string(c + 1) + ": " + std::to_string(cmd.NumTokens()) + " token(s)\n";
    for (const TToken& t : cmd.Tokens) {
      out += "  " + std::to_string(t.LineNum) + ":" + std::to_string(t.ColumnNum) + " " +
             SDBTokenTypeName(t.TokenType);
      if (t.TokenType == tktReservedWord) {
        out += " ReservedWord = ";
        out += SDBReservedWordText(t.ReservedWord);
      } else {
        out += " Text = \"" + t.Text + "\"";
      }
      if (t.Backquoted) out += " (backquoted)";
      if (t.ParamValue) out += " Value = " + SDBValueText(*t.ParamValue);
      out += "\n";
    }
  }
  return out;
}

}  // namespace sdb
