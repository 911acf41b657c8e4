// A second (third, ...) process for the multi-user tests: it runs one
// session on a database file and obeys commands read line by line from its
// standard input, answering each with one line on its standard output:
//   connect FILE MODE NAME [PASSWORD]   MODE: multi | single | exclusive -> ok ID READONLY
//   open TABLE                          -> ok
//   lock TYPE TRIES DELAY               TYPE 0..6 (ltIS .. ltX)          -> ok | fail
//   unlock TYPE                         -> ok | fail
//   lockrec PAGENO ITEMNO TRIES DELAY   -> ok | fail
//   unlockrec PAGENO ITEMNO             -> ok | fail
//   begin | commit | rollback           -> ok
//   put K V | add K D                   -> ok VALUE | fail
//   get K                               -> ok VALUE | ok none
//   count K                             -> ok N
//   stress FILE TABLE SECONDS THREADS ID -> ok INCREMENTS INSERTS (per thread, space-separated)
//   disconnect | quit
// Errors answer "err CODE MESSAGE".
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../MultiUserTestUtil.h"

namespace {

struct TThreadResult {
  int64_t Increments = 0;
  int64_t Inserts = 0;
  std::string Error;
};

// One thread of the stress run: its own session (sharing the process's
// database data with the other threads), incrementing its own counter
// record, sometimes inside a transaction, and now and then inserting a
// record of its own key range.
void StressThread(const std::string& file, const std::string& table, double seconds, int64_t counterKey,
                  TThreadResult& result) {
  try {
    sdb::TSDBLocalSession s;
    sdb::TSDBConnectParams p;
    p.FileName = file;
    p.MultiUser = true;
    p.SessionName = "stress";
    s.Connect(p);
    sdb::TSDBCursor c;
    s.OpenTable(c, table);
    std::mt19937 rnd(static_cast<uint32_t>(counterKey * 7919 + 17));
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      const int what = static_cast<int>(rnd() % 10);
      if (what < 2) {
        if (!sdbmu::Put(c, counterKey + 1000000, 1, false, nullptr, 2250, true)) continue;
        ++result.Inserts;
      } else if (what < 4) {
        s.StartTransaction();
        if (!sdbmu::Put(c, counterKey, 1, true)) {
          s.Rollback();
          continue;
        }
        try {
          s.Commit();
        } catch (const sdb::ESDBException& e) {
          if (e.NativeError() != 20233) throw;
          s.Rollback();
          continue;
        }
        ++result.Increments;
      } else {
        if (!sdbmu::Put(c, counterKey, 1, true)) continue;
        ++result.Increments;
      }
    }
    s.CloseTable(c);
    s.Disconnect();
  } catch (const std::exception& e) {
    result.Error = e.what();
  }
}

std::string Reply(const std::string& cmd, std::istringstream& in, sdb::TSDBLocalSession& s, sdb::TSDBCursor& c) {
  if (cmd == "connect") {
    std::string file, mode, name, password;
    in >> file >> mode >> name >> password;
    sdb::TSDBConnectParams p;
    p.FileName = file;
    p.SessionName = name == "-" ? "" : name;
    p.Password = password;
    p.MultiUser = mode == "multi";
    p.Exclusive = mode == "exclusive";
    s.Connect(p);
    return "ok " + std::to_string(s.SessionID()) + " " + (s.ReadOnly() ? "1" : "0");
  }
  if (cmd == "open") {
    std::string table;
    in >> table;
    s.OpenTable(c, table);
    return "ok";
  }
  if (cmd == "lock" || cmd == "unlock") {
    int type = 0, tries = 1, delay = 10;
    in >> type >> tries >> delay;
    const auto t = static_cast<sdb::TSDBLockType>(type);
    const bool ok = cmd == "lock" ? c.TableData->LockTable(c.SessionID, t, tries, delay)
                                  : c.TableData->UnlockTable(c.SessionID, t);
    return ok ? "ok" : "fail";
  }
  if (cmd == "lockrec" || cmd == "unlockrec") {
    sdb::TSDBPageItemID id;
    int item = 0, tries = 1, delay = 10;
    in >> id.PageNo >> item >> tries >> delay;
    id.PageItemNo = static_cast<uint16_t>(item);
    const bool ok = cmd == "lockrec" ? c.TableData->LockRecord(c.SessionID, id, tries, delay)
                                     : c.TableData->UnlockRecord(c.SessionID, id);
    return ok ? "ok" : "fail";
  }
  if (cmd == "begin") {
    s.StartTransaction();
    return "ok";
  }
  if (cmd == "commit") {
    s.Commit();
    return "ok";
  }
  if (cmd == "rollback") {
    s.Rollback();
    return "ok";
  }
  if (cmd == "put" || cmd == "add") {
    int64_t k = 0, v = 0, stored = 0;
    in >> k >> v;
    if (!sdbmu::Put(c, k, v, cmd == "add", &stored, 50)) return "fail";
    return "ok " + std::to_string(stored);
  }
  if (cmd == "get") {
    int64_t k = 0;
    in >> k;
    auto v = sdbmu::Get(c, k, 50);
    return v ? "ok " + std::to_string(*v) : "ok none";
  }
  if (cmd == "count") {
    int64_t k = 0;
    in >> k;
    return "ok " + std::to_string(sdbmu::CountKey(c, k));
  }
  if (cmd == "stress") {
    std::string file, table;
    double seconds = 1;
    int threads = 2, id = 0;
    in >> file >> table >> seconds >> threads >> id;
    std::vector<TThreadResult> results(static_cast<size_t>(threads));
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i)
      pool.emplace_back(StressThread, file, table, seconds, int64_t{id} * 100 + i, std::ref(results[static_cast<size_t>(i)]));
    for (auto& t : pool) t.join();
    std::string out = "ok";
    for (const auto& r : results) {
      if (!r.Error.empty()) return "err 1 " + r.Error;
      out += " " + std::to_string(r.Increments) + " " + std::to_string(r.Inserts);
    }
    return out;
  }
  if (cmd == "disconnect") {
    if (c.TableData) s.CloseTable(c);
    s.Disconnect();
    return "ok";
  }
  return "err 0 unknown command " + cmd;
}

}  // namespace

int main() {
  sdb::TSDBLocalSession session;
  sdb::TSDBCursor cursor;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd.empty()) continue;
    if (cmd == "quit") break;
    std::string reply;
    try {
      reply = Reply(cmd, in, session, cursor);
    } catch (const sdb::ESDBException& e) {
      reply = "err " + std::to_string(e.NativeError()) + " " + e.RawMessage();
    } catch (const std::exception& e) {
      reply = std::string("err 1 ") + e.what();
    }
    std::cout << reply << std::endl;
  }
  try {
    if (cursor.TableData) session.CloseTable(cursor);
    session.Disconnect();
  } catch (...) {
    return 1;
  }
  return 0;
}
