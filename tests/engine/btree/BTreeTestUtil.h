// Shared fixtures of the B-tree tests: a page cache over pages held in
// memory, and a tiny table of records for record-key trees.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <algorithm>
#include <string>
#include <vector>

#include "common/SDBBytes.h"
#include "sdb/SDBException.h"
#include "storage/table/SDBBTree.h"
#include "storage/file/SDBPageCache.h"

namespace sdbtest {

using namespace sdb;

class TMemoryPageManager : public TSDBPageManager {
 public:
  explicit TMemoryPageManager(uint16_t pageSize = 256) : TSDBPageManager(pageSize, 100000) {}
  int32_t GetPageCount() override { return NextPage; }
  std::map<int32_t, std::vector<uint8_t>> Disk;
  int32_t NextPage = 1;
  int Freed = 0;
  // Raw access to the stored bytes of a committed page's data area.
  uint8_t* StoredData(int32_t pageNo) { return Disk.at(pageNo).data() + kSDBPageHeaderSize; }

 protected:
  int32_t InternalAddPage() override { return NextPage++; }
  void InternalRemovePage(int32_t n) override {
    ++Freed;
    Disk.erase(n);
  }
  bool InternalReadPage(TSDBPage& page) override {
    auto it = Disk.find(page.PageNo());
    if (it == Disk.end()) return false;
    std::memcpy(page.Buffer(), it->second.data(), page.Size());
    return true;
  }
  void InternalWritePage(TSDBPage& page) override {
    Disk[page.PageNo()].assign(page.Buffer(), page.Buffer() + page.Size());
  }
  bool IsSystemPage(int32_t) const override { return false; }
};

inline int NativeOf(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const ESDBException& e) {
    if (message) *message = e.RawMessage();
    return e.NativeError();
  }
  return 0;
}

// Records of a test table kept by identifier; the record source of
// record-key trees.
class TRecordStore : public TSDBIndexRecordSource {
 public:
  bool ReadRecordForIndex(int, const TSDBPageItemID& id, std::vector<uint8_t>& buf) override {
    ++Reads;
    auto it = Records.find(id);
    if (it == Records.end()) return false;
    buf = it->second;
    return true;
  }
  std::map<TSDBPageItemID, std::vector<uint8_t>> Records;
  int Reads = 0;
};

inline std::vector<uint8_t> Ref6(int32_t pageNo, uint16_t item) {
  std::vector<uint8_t> r(6);
  TSDBPageItemID{pageNo, item}.Save(r.data());
  return r;
}

// A test record of `size` bytes: null bitmap byte, "Num" (int32) at 1,
// "Name" (up to 60 characters) at 5; nullopt = NULL.
inline std::vector<uint8_t> Record(std::optional<int32_t> num, std::optional<std::string> name, size_t size) {
  std::vector<uint8_t> r(size, 0);
  if (num)
    PutLEI32(r.data() + 1, *num);
  else
    r[0] |= 1;
  if (name)
    std::memcpy(r.data() + 5, name->data(), std::min<size_t>(name->size(), 60));
  else
    r[0] |= 2;
  return r;
}

}  // namespace sdbtest
