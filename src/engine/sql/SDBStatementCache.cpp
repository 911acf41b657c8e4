#include "sql/SDBStatementCache.h"

#include "sdb/SDBException.h"
#include "sql/SDBSQLErrors.h"

namespace sdb {

bool TSDBParsedText::Complete() {
  ParamNodes.Detach();
  if (!Lex) return false;
  Lex->ParamNodes = nullptr;
  FParams.clear();
  for (const TSQLCommand& cmd : Lex->Commands)
    for (const TToken& t : cmd.Tokens) {
      if (t.TokenType != tktParameter || t.ParamNo < 0) continue;
      if (static_cast<size_t>(t.ParamNo) >= FParams.size()) FParams.resize(static_cast<size_t>(t.ParamNo) + 1);
      TParam& p = FParams[static_cast<size_t>(t.ParamNo)];
      p.Name = t.Text;
      p.Position = t.ParamPosition;
      p.Type = t.ParamValue ? t.ParamValue->DataType() : bftUnknown;
      p.Null = !t.ParamValue || t.ParamValue->IsNull();
    }
  for (const TSDBExprNodeConst* n : ParamNodes.Nodes)
    if (n->ParamNo < 0 || static_cast<size_t>(n->ParamNo) >= FParams.size()) return false;
  return !Lex->ParamValuesRead;
}

bool TSDBParsedText::Bind(const TSDBSQLParams& Params) {
  std::vector<const TSDBSQLParam*> values;
  values.reserve(FParams.size());
  bool same = true;
  for (const TParam& p : FParams) {
    const TSDBSQLParam* v = nullptr;
    if (p.Position > 0) {
      if (static_cast<size_t>(p.Position) <= Params.Count()) v = &Params[static_cast<size_t>(p.Position) - 1];
    } else {
      v = Params.FindParam(p.Name);
    }
    if (!v) throw ESDBException(kSqlErrParamNotFound, "Value for parameter '%s' not found", {p.Name});
    same = same && v->Value.DataType() == p.Type && v->Value.IsNull() == p.Null;
    values.push_back(v);
  }
  if (!same) return false;
  for (TSDBExprNodeConst* n : ParamNodes.Nodes) n->Value = values[static_cast<size_t>(n->ParamNo)]->Value;
  return true;
}

TSDBStatementCache& TSDBStatementCache::Shared() {
  static TSDBStatementCache cache(128);
  return cache;
}

std::string TSDBStatementCache::KeyOf(const std::string& SqlText, bool RequestLive, bool InMemory) {
  std::string key;
  key.reserve(SqlText.size() + 2);
  key += RequestLive ? 'L' : 'l';
  key += InMemory ? 'M' : 'm';
  key += SqlText;
  return key;
}

std::unique_ptr<TSDBParsedText> TSDBStatementCache::Take(const std::string& Key) {
  std::lock_guard<std::mutex> g(FLock);
  auto it = FByKey.find(Key);
  if (it == FByKey.end()) return nullptr;
  std::unique_ptr<TSDBParsedText> t = std::move(*it->second);
  FTexts.erase(it->second);
  FByKey.erase(it);
  return t;
}

void TSDBStatementCache::Put(std::unique_ptr<TSDBParsedText> Text) {
  if (!Text || FCapacity == 0) return;
  // What leaves the cache is destroyed after the lock is released.
  std::unique_ptr<TSDBParsedText> gone;
  std::lock_guard<std::mutex> g(FLock);
  auto it = FByKey.find(Text->Key());
  if (it != FByKey.end()) {
    // Another component ran the same text meanwhile and kept its parse:
    // one of them is enough.
    gone = std::move(*it->second);
    FTexts.erase(it->second);
    FByKey.erase(it);
  } else if (FTexts.size() >= FCapacity) {
    gone = std::move(FTexts.back());
    FByKey.erase(gone->Key());
    FTexts.pop_back();
  }
  FTexts.push_front(std::move(Text));
  FByKey.emplace(FTexts.front()->Key(), FTexts.begin());
}

void TSDBStatementCache::Clear() {
  TList gone;
  std::lock_guard<std::mutex> g(FLock);
  FByKey.clear();
  gone.swap(FTexts);
}

size_t TSDBStatementCache::Count() {
  std::lock_guard<std::mutex> g(FLock);
  return FTexts.size();
}

}  // namespace sdb
