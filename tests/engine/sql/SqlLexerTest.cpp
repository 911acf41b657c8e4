#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdb/SDBException.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLErrors.h"

using namespace sdb;

namespace {

struct TokenView {
  TTokenType Type;
  std::string Text;
};

std::vector<TokenView> Tokens(const TSDBLexer& lex, size_t command = 0) {
  std::vector<TokenView> out;
  for (const TToken& t : lex.Commands.at(command).Tokens) out.push_back({t.TokenType, t.Text});
  return out;
}

std::vector<std::string> Texts(const std::string& sql) {
  TSDBLexer lex(sql, false, nullptr);
  std::vector<std::string> out;
  for (const auto& t : Tokens(lex)) out.push_back(t.Text);
  return out;
}

// Runs the lexer and returns the error it raised (code and message).
std::pair<int, std::string> LexError(const std::string& sql, const TSDBSQLParams* params = nullptr) {
  try {
    TSDBLexer lex(sql, false, params);
  } catch (const ESDBException& e) {
    return {e.NativeError(), e.RawMessage()};
  }
  return {0, ""};
}

const char* const kExistenceLines[] = {
    "SELECT * FROM Parametres",          " WHERE `Agence` = :Agence ",
    " AND `Utilisateur` = :Utilisateur ", " AND `Section` = :Section ",
    " AND `Cle` = :Cle ",                " AND `ValeurType` = :ValeurType ",
};

TSDBSQLParams SettingsParams() {
  TSDBSQLParams p;
  p.Add("Agence", TSDBVariant::FromString("A1"));
  p.Add("Utilisateur", TSDBVariant::FromString("U1"));
  p.Add("Section", TSDBVariant::FromString("Mail"));
  p.Add("Cle", TSDBVariant::FromString("Port"));
  p.Add("ValeurType", TSDBVariant::FromString("ENTIER"));
  return p;
}

}  // namespace

TEST(SqlLexer, ReservedWordTable) {
  EXPECT_EQ(kReservedWordCount, 292);
  EXPECT_STREQ(SDBReservedWordText(rwABSOLUTE), "ABSOLUTE");
  EXPECT_STREQ(SDBReservedWordText(rwEND_EXEC), "END-EXEC");
  EXPECT_STREQ(SDBReservedWordText(rwLAST_AUTOINC), "LASTAUTOINC");
  EXPECT_STREQ(SDBReservedWordText(rwRNDUP), "RNDUP");
  EXPECT_EQ(SDBFindReservedWord("END-EXEC"), rwEND_EXEC);
  EXPECT_EQ(SDBFindReservedWord("SECTION"), rwSECTION);
  EXPECT_EQ(SDBFindReservedWord("ABSOLUTE"), rwNone);
  // Every entry but the first is found under its own spelling.
  for (int i = 1; i < kReservedWordCount; ++i)
    EXPECT_EQ(SDBFindReservedWord(SDBReservedWordText(static_cast<TReservedWord>(i))), i);
}

TEST(SqlLexer, MultiLineSettingsStatementKeepsTokensAndLines) {
  TSDBSQLParams params = SettingsParams();
  std::string multi, single;
  for (const char* l : kExistenceLines) {
    multi += std::string(l) + "\r\n";
    single += std::string(l) + " ";
  }
  TSDBLexer a(multi, false, &params), b(single, false, &params);
  ASSERT_EQ(a.NumCommands(), 1);
  ASSERT_EQ(b.NumCommands(), 1);
  const auto& ta = a.Commands[0].Tokens;
  const auto& tb = b.Commands[0].Tokens;
  ASSERT_EQ(ta.size(), tb.size());
  for (size_t i = 0; i < ta.size(); ++i) {
    EXPECT_EQ(ta[i].TokenType, tb[i].TokenType) << i;
    EXPECT_EQ(ta[i].Text, tb[i].Text) << i;
  }
  // Line 3 is " AND `Utilisateur` = :Utilisateur ": AND at column 2,
  // the backquoted name at 6, "=" at 20, the parameter at 22 (carriage
  // returns do not count).
  std::vector<const TToken*> line3;
  for (const auto& t : ta)
    if (t.LineNum == 3) line3.push_back(&t);
  ASSERT_EQ(line3.size(), 4u);
  EXPECT_TRUE(line3[0]->Is(rwAND));
  EXPECT_EQ(line3[0]->ColumnNum, 2);
  EXPECT_EQ(line3[1]->Text, "Utilisateur");
  EXPECT_EQ(line3[1]->ColumnNum, 6);
  EXPECT_EQ(line3[2]->ColumnNum, 20);
  EXPECT_EQ(line3[3]->TokenType, tktParameter);
  EXPECT_EQ(line3[3]->ColumnNum, 22);
  ASSERT_TRUE(line3[3]->ParamValue);
  EXPECT_EQ(line3[3]->ParamValue->AsString(), "U1");
}

TEST(SqlLexer, BackquotedSectionIsAWordPlainSectionIsReserved) {
  TSDBLexer absolute("ABSOLUTE absolute", false, nullptr);
  EXPECT_EQ(absolute.Commands[0].Tokens[0].TokenType, tktString);
  EXPECT_EQ(absolute.Commands[0].Tokens[1].TokenType, tktString);
  TSDBLexer lex("`Section` Section `sel\\`ect` `a``b`", false, nullptr);
  const auto& t = lex.Commands[0].Tokens;
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].TokenType, tktString);
  EXPECT_EQ(t[0].Text, "Section");
  EXPECT_EQ(t[1].TokenType, tktReservedWord);
  EXPECT_EQ(t[1].ReservedWord, rwSECTION);
  EXPECT_EQ(t[2].Text, "sel`ect");  // a backslash takes the next character literally
  EXPECT_EQ(t[3].Text, "a`b");
}

TEST(SqlLexer, ParameterNamesIgnoreCaseAndTakeFirstMatch) {
  TSDBSQLParams p;
  p.Add("Agence", TSDBVariant::FromString("first"));
  p.Add("AGENCE", TSDBVariant::FromString("second"));
  TSDBLexer lex(":Agence :AGENCE :agence :'Agence' :[agence]", false, &p);
  for (const TToken& t : lex.Commands[0].Tokens) {
    EXPECT_EQ(t.TokenType, tktParameter);
    ASSERT_TRUE(t.ParamValue);
    EXPECT_EQ(t.ParamValue->AsString(), "first");
  }
  EXPECT_EQ(lex.Commands[0].Tokens[1].Text, "AGENCE");
  // Each token owns its copy of the value.
  p[0].Value = TSDBVariant::FromString("changed");
  EXPECT_EQ(lex.Commands[0].Tokens[0].ParamValue->AsString(), "first");
}

TEST(SqlLexer, PositionalParametersAndMissingOnes) {
  TSDBSQLParams p;
  p.Add("x", TSDBVariant::FromInt(1));
  p.Add("y", TSDBVariant::FromInt(2));
  TSDBLexer lex("a=? AND b=?", false, &p);
  const auto& t = lex.Commands[0].Tokens;
  EXPECT_EQ(t[2].Text, "Param1");
  EXPECT_EQ(t[2].ParamValue->AsInt64(), 1);
  EXPECT_EQ(t[6].Text, "Param2");
  EXPECT_EQ(t[6].ParamValue->AsInt64(), 2);

  auto [code, msg] = LexError("? ? ?", &p);
  EXPECT_EQ(code, kSqlErrParamNotFound);
  EXPECT_EQ(msg, "Value for parameter 'Param3' not found");
  std::tie(code, msg) = LexError("SELECT :nothere", &p);
  EXPECT_EQ(msg, "Value for parameter 'nothere' not found");
  // Without the no-params flag a parameter needs a list.
  EXPECT_EQ(LexError(":a").first, kSqlErrParamNotFound);
  TSDBLexer plain(":a ?", true, nullptr);
  EXPECT_EQ(plain.Commands[0].Tokens[0].TokenType, tktString);
  EXPECT_EQ(plain.Commands[0].Tokens[0].Text, ":a");
  EXPECT_EQ(plain.Commands[0].Tokens[1].Text, "?");
}

TEST(SqlLexer, QuotedTokens) {
  TSDBLexer lex("'it''s' \"say \"\"hi\"\"\" [a]]b] x'' 'a;b' ''", false, nullptr);
  auto t = Tokens(lex);
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[0].Type, tktQuotedString);
  EXPECT_EQ(t[0].Text, "it's");
  EXPECT_EQ(t[1].Type, tktQuotedString);
  EXPECT_EQ(t[1].Text, "say \"hi\"");
  EXPECT_EQ(t[2].Type, tktBracketedString);
  EXPECT_EQ(t[2].Text, "a]b");
  EXPECT_EQ(t[3].Type, tktString);
  EXPECT_EQ(t[3].Text, "x''");
  EXPECT_EQ(t[4].Text, "a;b");  // ";" inside quotes does not end the command
  EXPECT_EQ(t[5].Type, tktQuotedString);
  EXPECT_EQ(t[5].Text, "");
}

TEST(SqlLexer, SplittingRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Texts("a-b"), (V{"a", "-", "b"}));
  EXPECT_EQ(Texts("a - -1"), (V{"a", "-", "-", "1"}));
  EXPECT_EQ(Texts("1-2"), (V{"1", "-", "2"}));
  EXPECT_EQ(Texts("1.5E-3+2e+1"), (V{"1.5E-3", "+", "2e+1"}));
  EXPECT_EQ(Texts("t.col"), (V{"t", ".", "col"}));
  EXPECT_EQ(Texts("a||b<=c<>d>=e<f>g"), (V{"a", "||", "b", "<=", "c", "<>", "d", ">=", "e", "<", "f", ">", "g"}));
  EXPECT_EQ(Texts("f(x,y)*2/3=z"), (V{"f", "(", "x", ",", "y", ")", "*", "2", "/", "3", "=", "z"}));
  EXPECT_EQ(Texts("a--comment\nb/* c\n d */c"), (V{"a", "b", "c"}));

  TSDBLexer lex("1 1.5 .5 1E3 a.b", true, nullptr);
  auto t = Tokens(lex);
  EXPECT_EQ(t[0].Type, tktInt);
  EXPECT_EQ(t[1].Type, tktFloat);
  EXPECT_EQ(t[2].Type, tktFloat);
  EXPECT_EQ(t[2].Text, ".5");
  EXPECT_EQ(t[3].Type, tktFloat);
  EXPECT_EQ(t[5].Type, tktDot);
}

TEST(SqlLexer, CommandsAndPositions) {
  TSDBLexer lex("SELECT 1;; \n  SELECT 2;", false, nullptr);
  ASSERT_EQ(lex.NumCommands(), 2);
  EXPECT_EQ(lex.CurrentCommandNo(), -1);
  const TToken* tok = nullptr;
  EXPECT_FALSE(lex.GetCurrentToken(tok));
  ASSERT_TRUE(lex.GetNextCommand());
  ASSERT_TRUE(lex.GetCurrentToken(tok));
  EXPECT_TRUE(tok->Is(rwSELECT));
  ASSERT_TRUE(lex.LookNextToken(tok));
  EXPECT_EQ(tok->Text, "1");
  EXPECT_EQ(lex.GetCurrentTokenNo(), 0);
  ASSERT_TRUE(lex.GetNextToken(tok));
  EXPECT_EQ(tok->Text, "1");
  EXPECT_FALSE(lex.GetNextToken(tok));
  EXPECT_FALSE(lex.LookNextToken(tok));
  lex.SetCurrentTokenNo(0);
  ASSERT_TRUE(lex.GetNextSpecifiedToken(tok, {tktInt}));
  EXPECT_EQ(tok->Text, "1");
  ASSERT_TRUE(lex.GetNextCommand());
  ASSERT_TRUE(lex.GetCurrentToken(tok));
  EXPECT_EQ(tok->LineNum, 2);
  EXPECT_EQ(tok->ColumnNum, 3);
  EXPECT_FALSE(lex.GetNextCommand());

  EXPECT_EQ(TSDBLexer("  ;; -- nothing\n", false, nullptr).NumCommands(), 0);

  // Commands built by program.
  lex.AddCommand();
  TToken star;
  star.TokenType = tktString;
  star.Text = "*";
  lex.AddToken(star);
  EXPECT_EQ(lex.NumCommands(), 3);
  EXPECT_EQ(lex.CurrentCommandNo(), 2);
  ASSERT_TRUE(lex.GetCurrentToken(tok));
  EXPECT_EQ(tok->Text, "*");
}

TEST(SqlLexer, TestDumpNamesReservedWords) {
  TSDBLexer lex("select x from t", false, nullptr);
  const std::string dump = lex.Test();
  EXPECT_NE(dump.find("ReservedWord = SELECT"), std::string::npos) << dump;
  EXPECT_NE(dump.find("ReservedWord = FROM"), std::string::npos);
  EXPECT_NE(dump.find("\"x\""), std::string::npos);
}

TEST(SqlLexer, Errors) {
  struct Case {
    const char* Sql;
    int Code;
    const char* Message;
  };
  const Case cases[] = {
      {"SELECT 12abc", kSqlErrInvalidNumeric, "Invalid numeric symbol 'a' at line 1, column 10"},
      {"SELECT 1.2.3", kSqlErrInvalidNumeric, "Invalid numeric symbol '.' at line 1, column 11"},
      {"SELECT 1e", kSqlErrInvalidNumeric, "Invalid numeric symbol 'e' at line 1, column 9"},
      {"SELECT (a,\n (b)", kSqlErrMissingParen, "Missing symbol ')' at line 1, column 8"},
      {"SELECT ((a)", kSqlErrMissingParen, "Missing symbol ')' at line 1, column 8"},
      {"SELECT (a;)", kSqlErrMissingParen, "Missing symbol ')' at line 1, column 8"},
      {"SELECT a)", kSqlErrUnexpectedParen, "Unexpected symbol ')' found at line 1, column 9"},
      {"SELECT 'abc", kSqlErrUnterminatedString, "Unterminated string at line 1, column 8"},
      {"SELECT x;\n  [abc", kSqlErrUnterminatedString, "Unterminated string at line 2, column 3"},
      {"SELECT `a\\", kSqlErrUnterminatedString, "Unterminated string at line 1, column 8"},
  };
  for (const Case& c : cases) {
    auto [code, msg] = LexError(c.Sql);
    EXPECT_EQ(code, c.Code) << c.Sql;
    EXPECT_EQ(msg, c.Message) << c.Sql;
  }
}
