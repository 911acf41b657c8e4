// SQL lexer: cuts a whole SQL text into commands (separated by ";") and
// tokens in one pass, and binds parameter values to parameter tokens at that
// moment. Statement parsers read the tokens through a reading position that
// they can save and restore to try alternatives.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdb/SDBVariant.h"
#include "sql/SDBSQLParams.h"

namespace sdb {

struct TSDBParamNodeList;

enum TTokenType : uint8_t {
  tktNone,
  tktString,            // a word: identifier, keyword candidate, operator, unbound parameter
  tktQuotedString,      // text between single or double quotes
  tktBracketedString,   // text between square brackets
  tktInt,
  tktFloat,
  tktReservedWord,
  tktParameter,
  tktLeftParenthesis,
  tktRightParenthesis,
  tktComma,
  tktDot,
};

// The reserved words, in table order; rwNone last.
enum TReservedWord : uint16_t {
  rwABSOLUTE, rwACTION, rwADD, rwALL, rwALLOCATE, rwALTER, rwAND, rwANY, rwARE, rwAS, rwASC,
  rwASSERTION, rwAT, rwAUTHORIZATION, rwAVG, rwBEGIN, rwBETWEEN, rwBIT, rwBIT_LENGTH, rwBOTH, rwBY,
  rwCASCADE, rwCASCADED, rwCASE, rwCAST, rwCATALOG, rwCHAR, rwCHARACTER, rwCHAR_LENGTH,
  rwCHARACTER_LENGTH, rwCHECK, rwCLOSE, rwCOALESCE, rwCOLLATE, rwCOLLATION, rwCOLUMN, rwCOMMIT,
  rwCONNECT, rwCONNECTION, rwCONSTRAINT, rwCONSTRAINTS, rwCONTINUE, rwCONVERT, rwCORRESPONDING,
  rwCOUNT, rwCREATE, rwCROSS, rwCURRENT, rwCURRENT_DATE, rwCURRENT_TIME, rwCURRENT_TIMESTAMP,
  rwCURRENT_USER, rwCURSOR, rwDATE, rwDAY, rwDEALLOCATE, rwDEC, rwDECIMAL, rwDECLARE, rwDEFAULT,
  rwDEFERRABLE, rwDEFERRED, rwDELETE, rwDESC, rwDESCRIBE, rwDESCRIPTOR, rwDIAGNOSTICS,
  rwDISCONNECT, rwDISTINCT, rwDOMAIN, rwDOUBLE, rwDROP, rwELSE, rwEND, rwEND_EXEC, rwESCAPE,
  rwEXCEPT, rwEXCEPTION, rwEXEC, rwEXECUTE, rwEXISTS, rwEXTERNAL, rwEXTRACT, rwFALSE, rwFETCH,
  rwFIRST, rwFLOAT, rwFOR, rwFOREIGN, rwFOUND, rwFROM, rwFULL, rwGET, rwGLOBAL, rwGO, rwGOTO,
  rwGRANT, rwGROUP, rwHAVING, rwHOUR, rwIDENTITY, rwIMMEDIATE, rwIN, rwINDICATOR, rwINITIALLY,
  rwINNER, rwINPUT, rwINSENSITIVE, rwINSERT, rwINT, rwINTEGER, rwINTERSECT, rwINTERVAL, rwINTO,
  rwIS, rwISOLATION, rwJOIN, rwKEY, rwLANGUAGE, rwLAST, rwLEADING, rwLEFT, rwLEVEL, rwLIKE,
  rwLOCAL, rwLOWER, rwMATCH, rwMAX, rwMEMORY, rwMIN, rwMINUS, rwMINUTE, rwMODULE, rwMONTH, rwNAMES,
  rwNATIONAL, rwNATURAL, rwNCHAR, rwNEXT, rwNO, rwNOT, rwNULL, rwNULLIF, rwNUMERIC, rwOCTET_LENGTH,
  rwOF, rwON, rwONLY, rwOPEN, rwOPTION, rwOR, rwORDER, rwOUTER, rwOUTPUT, rwOVERLAPS, rwPAD,
  rwPARTIAL, rwPOSITION, rwPRECISION, rwPREPARE, rwPRESERVE, rwPRIMARY, rwPRIOR, rwPRIVILEGES,
  rwPROCEDURE, rwPUBLIC, rwREAD, rwREAL, rwREFERENCES, rwRELATIVE, rwRESTRICT, rwREVOKE, rwRIGHT,
  rwROLLBACK, rwROWS, rwSCHEMA, rwSCROLL, rwSECOND, rwSECTION, rwSELECT, rwSESSION, rwSESSION_USER,
  rwSET, rwSIZE, rwSMALLINT, rwSOME, rwSPACE, rwSQL, rwSQLCODE, rwSQLERROR, rwSQLSTATE,
  rwSUBSTRING, rwSUM, rwSYSTEM_USER, rwTABLE, rwTEMPORARY, rwTHEN, rwTIME, rwTIMESTAMP,
  rwTIMEZONE_HOUR, rwTIMEZONE_MINUTE, rwTO, rwTOP, rwTRAILING, rwTRANSACTION, rwTRANSLATE,
  rwTRANSLATION, rwTRIM, rwTRUE, rwUNION, rwUNIQUE, rwUNKNOWN, rwUPDATE, rwUPPER, rwUSAGE, rwUSER,
  rwUSING, rwVALUE, rwVALUES, rwVARCHAR, rwVARYING, rwVIEW, rwWHEN, rwWHENEVER, rwWHERE, rwWITH,
  rwWORK, rwWRITE, rwYEAR, rwZONE, rwPASSWORD, rwBLOBBLOCKSIZE, rwBLOBCOMPRESSIONMODE,
  rwBLOBCOMPRESSIONALGORITHM, rwLAST_AUTOINC, rwMODIFY, rwNEW, rwINDEX, rwNOCASE, rwLTRIM, rwRTRIM,
  rwPOS, rwLENGTH, rwSYSDATE, rwNOW, rwTODATE, rwTOSTRING, rwAUTOINDEXES, rwNOAUTOINDEXES,
  rwINCREMENT, rwLASTVALUE, rwMAXVALUE, rwMINVALUE, rwCYCLED, rwNOMAXVALUE, rwNOMINVALUE,
  rwNOCYCLED, rwINITIALVALUE, rwSTARTVALUE, rwRENAME, rwSTART, rwFLUSH, rwAUTOINC, rwMIMETOBIN,
  rwROWNUM, rwIF, rwTRUNCATE, rwABS, rwACOS, rwASIN, rwATAN, rwCEIL, rwCOS, rwEXP, rwFLOOR, rwLOG,
  rwPOWER, rwRAND, rwROUND, rwSIGN, rwSIN, rwSQR, rwSQRT, rwHALFEVEN, rwHALFPOS, rwHALFNEG,
  rwHALFDOWN, rwHALFUP, rwRNDNEG, rwRNDPOS, rwRNDDOWN, rwRNDUP, rwNone
};
inline constexpr int kReservedWordCount = rwNone;  // 292

// Upper-case spelling of a reserved word ("END-EXEC", "LASTAUTOINC").
const char* SDBReservedWordText(TReservedWord rw);
// The reserved word whose spelling equals `upper` (already upper-cased);
// rwNone for any other word, and for ABSOLUTE, which is never recognised.
TReservedWord SDBFindReservedWord(std::string_view upper);
// "tktString" etc.
const char* SDBTokenTypeName(TTokenType type);

struct TToken {
  TTokenType TokenType = tktNone;
  TReservedWord ReservedWord = rwNone;
  std::string Text;
  // Bound value of a parameter token (a copy owned by the token).
  std::optional<TSDBVariant> ParamValue;
  // A parameter token's number among the parameters of the whole text
  // (0, 1, ... in text order) and, for "?", its 1-based position in the
  // parameter list (0 for a named parameter).
  int ParamNo = -1;
  int ParamPosition = 0;
  int LineNum = 0;
  int ColumnNum = 0;
  // Backquoted words never become reserved words; the parser keeps that.
  bool Backquoted = false;

  bool Is(TReservedWord rw) const { return TokenType == tktReservedWord && ReservedWord == rw; }
  // A word (tktString) whose text is exactly `symbol` (operators such as
  // "=", "*", "||").
  bool IsSymbol(std::string_view symbol) const {
    return TokenType == tktString && !Backquoted && Text == symbol;
  }
};

struct TSQLCommand {
  std::vector<TToken> Tokens;
  int CurrentTokenNo = 0;
  // Where the command ends: the position of its ";" or of the end of the
  // text (reported by "Unexpected end of SQL command" errors).
  int EndLineNum = 1;
  int EndColumnNum = 1;
  int NumTokens() const { return static_cast<int>(Tokens.size()); }
};

class TSDBLexer {
 public:
  // Cuts `sql` into commands and tokens and binds the parameters from
  // `params` (may be null: then any parameter is an error). With `noParams`
  // the ":" and "?" words stay plain words. Raises ESDBException on the
  // first lexical error.
  TSDBLexer(std::string sql, bool noParams, const TSDBSQLParams* params);

  int NumCommands() const { return static_cast<int>(Commands.size()); }
  int CurrentCommandNo() const { return FCurrentCommandNo; }
  const std::string& SQL() const { return FSQL; }

  // Makes the next command current; false when there is none.
  bool GetNextCommand();
  // The current command (null before the first GetNextCommand).
  TSQLCommand* CurrentCommand();
  const TSQLCommand* CurrentCommand() const;

  // Token access on the current command; all return false (and null) past
  // the end of the command or when there is no current command.
  bool GetCurrentToken(const TToken*& token) const;
  bool GetNextToken(const TToken*& token);
  bool LookNextToken(const TToken*& token) const;
  bool GetNextSpecifiedToken(const TToken*& token, std::initializer_list<TTokenType> kinds);
  int GetCurrentTokenNo() const;
  void SetCurrentTokenNo(int no);

  // Build a command by program: AddCommand appends an empty command and
  // makes it current, AddToken appends a copy of `token` to it.
  void AddCommand();
  void AddToken(const TToken& token);

  // Text dump of all commands and tokens, for diagnostics.
  std::string Test() const;

  // Nesting depth of the statement parsers working on this lexer (they
  // share it so that subqueries and expressions count together).
  int ParseDepth = 0;
  // Tokens consumed by the parsers of the current command, backtracking
  // included; bounded so that no input can make parsing run away.
  int64_t ParseSteps = 0;
  // Where the parsers list the parameter nodes they make (may be null), so
  // that a parsed text can later take other values without a new parse.
  TSDBParamNodeList* ParamNodes = nullptr;
  // Set when a parser used a parameter's value itself (a table name, a row
  // count, a default's text) rather than putting it into a parameter node:
  // the parsed statements then hold only for these values.
  bool ParamValuesRead = false;

  std::vector<TSQLCommand> Commands;

 private:
  void Tokenize();

  std::string FSQL;
  const TSDBSQLParams* FSQLParams;
  bool FNoParams;
  int FCurrentCommandNo = -1;
};

}  // namespace sdb
