// Database file creation, opening, header areas, page I/O and identifiers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "common/SDBBytes.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBPageManager.h"

namespace sdb {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class PageManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("sdb_pm_" + std::to_string(getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    file = (dir / "test.sdb").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(file, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
  }

  // Creates a database with `pages` pages (file grown directly, no free-space manager).
  void CreateDatabase(const TSDBPassword& password = {}, int32_t pages = 6) {
    TSDBDiskPageManager pm;
    pm.CreateAndOpenDatabase(file, password);
    pm.ExtendFile(pages);
    pm.WriteDBHeader();
    pm.CloseDatabase();
  }

  void Open(TSDBDiskPageManager& pm, const std::string& password = "", bool readOnly = false,
            bool* repair = nullptr) {
    bool ro = readOnly, rep = false, multi = true;
    pm.OpenDatabase(file, TSDBPassword{password, craRijndael_128}, ro, rep, false, multi);
    if (repair) *repair = rep;
  }

  static std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + seed);
    return v;
  }

  static int ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const ESDBException& e) {
      return e.NativeError();
    }
    return 0;
  }

  fs::path dir;
  std::string file;
};

TEST_F(PageManagerTest, CreateWritesHeaderAreas) {
  TSDBDiskPageManager pm;
  pm.CreateAndOpenDatabase(file, {});
  EXPECT_EQ(pm.OffsetToFirstPage(), 380);
  pm.CloseDatabase();
  auto bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), 380u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 16), "EMBEDDEDDATABASE");
  EXPECT_EQ(GetLEI16(&bytes[16]), 76);
  EXPECT_DOUBLE_EQ(GetLEDouble(&bytes[18]), 7.92);
  EXPECT_EQ(GetLE16(&bytes[26]), 4096);
  EXPECT_EQ(GetLE16(&bytes[28]), 8);
  EXPECT_EQ(GetLEI32(&bytes[30]), 0);
  EXPECT_EQ(GetLEI32(&bytes[34]), -1);
  EXPECT_EQ(bytes[42], 2);
  EXPECT_EQ(bytes[43], 0);
  EXPECT_EQ(GetLEI16(&bytes[76]), 280);
  for (int i = 78; i < 356; ++i) ASSERT_EQ(bytes[i], 0) << i;  // unencrypted: rest of crypto header zero
  EXPECT_EQ(GetLEI16(&bytes[356]), 20);
  EXPECT_EQ(GetLEI32(&bytes[376]), 0);
}

TEST_F(PageManagerTest, PagesRoundTripAndStateWraps) {
  CreateDatabase();
  TSDBDiskPageManager pm;
  Open(pm);
  std::vector<uint8_t> page(4096);
  SDBInitPageHeader(page.data());
  SDBSetPageType(page.data(), ptTableRecord);
  auto data = Pattern(4056, 7);
  std::memcpy(page.data() + 40, data.data(), data.size());

  struct Case {
    int32_t before, after;
  } cases[] = {{0, 1}, {100, 101}, {0x7FFFFFFB, 0x7FFFFFFC}, {0x7FFFFFFC, 0}, {kSDBMaxInt, 0}, {-5, 0}};
  for (const auto& c : cases) {
    SDBSetPageState(page.data(), c.before);
    pm.InternalWritePage(3, page.data());
    EXPECT_EQ(SDBGetPageState(page.data()), c.after) << c.before;
    std::vector<uint8_t> back(4096);
    ASSERT_TRUE(pm.InternalReadPage(3, back.data()));
    EXPECT_EQ(back, page);
    EXPECT_EQ(pm.InternalReadPageState(3), c.after);  // multi-user: read from disk
  }
  // A page beyond the end cannot be read: false and State MaxInt.
  std::vector<uint8_t> beyond(4096);
  EXPECT_FALSE(pm.InternalReadPage(50, beyond.data()));
  EXPECT_EQ(SDBGetPageState(beyond.data()), kSDBMaxInt);
  EXPECT_EQ(ErrorOf([&] { pm.InternalReadPage(-1, beyond.data()); }), 10471);
  EXPECT_EQ(ErrorOf([&] { pm.InternalWritePage(1, nullptr); }), 20038);
}

TEST_F(PageManagerTest, PageRegionsAndStates) {
  CreateDatabase();
  TSDBDiskPageManager pm;
  Open(pm);
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  pm.WritePageRegion(bytes, 4, 4090, 5);
  uint8_t back[5] = {};
  pm.ReadPageRegion(back, 4, 4090, 5);
  EXPECT_EQ(0, std::memcmp(bytes, back, 5));
  EXPECT_EQ(ErrorOf([&] { pm.ReadPageRegion(back, 4, 4092, 5); }), 10476);
  EXPECT_EQ(ErrorOf([&] { pm.WritePageRegion(bytes, 4, 4092, 5); }), 10477);
  pm.InternalWritePageState(5, 1234);
  EXPECT_EQ(pm.InternalReadPageState(5), 1234);
  pm.SetMultiUser(false);
  EXPECT_EQ(pm.InternalReadPageState(5), kSDBMaxInt);
}

TEST_F(PageManagerTest, SystemPagesFollowBitmapGeometry) {
  CreateDatabase();
  TSDBDiskPageManager pm;
  Open(pm);
  const int32_t pfs = 4056 * 8, eam = 4056 * 4 * 8;
  for (int32_t p : {0, 1, pfs, 2 * pfs, eam, eam + 1, 3 * pfs}) EXPECT_TRUE(pm.IsSystemPage(p)) << p;
  for (int32_t p : {2, 3, pfs - 1, pfs + 1, eam + 2, eam - 1, 2 * eam + 2}) EXPECT_FALSE(pm.IsSystemPage(p)) << p;
  EXPECT_EQ(ErrorOf([&] { pm.CheckPageNoForSystemPages(1); }), 30434);
}

TEST_F(PageManagerTest, EveryCipherRoundTripsAPageAndHidesIt) {
  for (int alg = 0; alg < kSDBCryptoAlgorithmCount; ++alg) {
    SCOPED_TRACE(alg);
    TSDBPassword password{"Secret!", static_cast<TSDBCryptoAlgorithm>(alg)};
    CreateDatabase(password);
    TSDBDiskPageManager pm;
    Open(pm, "Secret!");
    EXPECT_TRUE(pm.Encrypted());
    EXPECT_EQ(pm.Password().CryptoAlgorithm, alg);  // taken from the file
    std::vector<uint8_t> page(4096);
    SDBInitPageHeader(page.data());
    auto data = Pattern(4056, static_cast<uint8_t>(alg));
    std::memcpy(page.data() + 40, data.data(), data.size());
    pm.InternalWritePage(2, page.data());
    EXPECT_EQ(0, std::memcmp(page.data() + 40, data.data(), data.size()));  // buffer stays plaintext
    auto raw = ReadAll(file);
    ASSERT_GE(raw.size(), 380u + 3 * 4096);
    const uint8_t* disk = raw.data() + 380 + 2 * 4096;
    EXPECT_NE(0, std::memcmp(disk + 40, data.data(), data.size()));
    EXPECT_EQ(disk[20], alg);
    std::vector<uint8_t> back(4096);
    ASSERT_TRUE(pm.InternalReadPage(2, back.data()));
    EXPECT_EQ(back, page);
    // System pages are never enciphered.
    pm.InternalWritePage(0, page.data());
    raw = ReadAll(file);
    EXPECT_EQ(0, std::memcmp(raw.data() + 380 + 40, data.data(), data.size()));
  }
}

TEST_F(PageManagerTest, WrongPasswordsAreRefused) {
  CreateDatabase(TSDBPassword{"Tessaly2024", craRijndael_128});
  for (const char* wrong : {"Tessaly2025", "tessaly2024", "Tessaly202", "Tessaly20244", ""}) {
    TSDBDiskPageManager pm;
    EXPECT_EQ(ErrorOf([&] { Open(pm, wrong); }), 30445) << wrong;
    EXPECT_FALSE(pm.IsOpened());
  }
  TSDBDiskPageManager pm;
  Open(pm, "Tessaly2024");
  EXPECT_TRUE(pm.IsOpened());
}

TEST_F(PageManagerTest, DamagedCipherTextFailsTheCrcCheck) {
  CreateDatabase(TSDBPassword{"pw", craTwofish_256});
  {
    TSDBDiskPageManager pm;
    Open(pm, "pw");
    std::vector<uint8_t> page(4096);
    SDBInitPageHeader(page.data());
    pm.InternalWritePage(3, page.data());
  }
  auto raw = ReadAll(file);
  raw[380 + 3 * 4096 + 1000] ^= 0x10;
  WriteAll(file, raw);
  TSDBDiskPageManager pm;
  Open(pm, "pw");
  std::vector<uint8_t> back(4096);
  EXPECT_EQ(ErrorOf([&] { pm.InternalReadPage(3, back.data()); }), 30446);
  pm.SetIgnoreCRCErrors(true);
  EXPECT_TRUE(pm.InternalReadPage(3, back.data()));
}

TEST_F(PageManagerTest, DatabaseAfterLeadingBytesIsFoundAndWorks) {
  CreateDatabase();
  auto db = ReadAll(file);
  // Leading bytes long enough to need several scan windows, holding a
  // signature without a valid header size and one straddling a window edge.
  std::vector<uint8_t> lead(25013, 'x');
  std::memcpy(&lead[500], "EMBEDDEDDATABASE\x4d\x01", 18);
  std::memcpy(&lead[9990], "EMBEDDEDDATABASE\x00\x00", 18);
  std::vector<uint8_t> whole(lead.size() + db.size());
  std::memcpy(whole.data(), lead.data(), lead.size());
  std::memcpy(whole.data() + lead.size(), db.data(), db.size());
  WriteAll(file, whole);

  TSDBDiskPageManager pm;
  Open(pm);
  EXPECT_EQ(pm.OffsetToDBHeader(), 25013);
  EXPECT_EQ(pm.OffsetToFirstPage(), 25013 + 380);
  std::vector<uint8_t> page(4096, 0x5A);
  SDBInitPageHeader(page.data());
  pm.InternalWritePage(2, page.data());
  std::vector<uint8_t> back(4096);
  ASSERT_TRUE(pm.InternalReadPage(2, back.data()));
  EXPECT_EQ(back, page);
  EXPECT_EQ(pm.GetNextObjectID(), 1);
  pm.CloseDatabase();
  auto after = ReadAll(file);
  EXPECT_EQ(0, std::memcmp(after.data(), lead.data(), lead.size()));
}

TEST_F(PageManagerTest, SignatureStraddlingAScanWindowIsFound) {
  CreateDatabase();
  auto db = ReadAll(file);
  for (size_t lead : {9983u, 9984u, 9985u, 9999u, 19966u}) {
    std::vector<uint8_t> bytes(lead + db.size(), 0);
    std::memcpy(bytes.data() + lead, db.data(), db.size());
    WriteAll(file, bytes);
    TSDBDatabaseFile f;
    f.OpenFile(file, amReadOnly, smShareDenyNone);
    int64_t offset = -1;
    EXPECT_TRUE(f.FindSignature(offset));
    EXPECT_EQ(offset, static_cast<int64_t>(lead));
  }
}

TEST_F(PageManagerTest, RepairNeededAfterInterruptedCommitOrOldVersion) {
  struct Case {
    uint8_t writeChangesState;
    double version;
    bool repair;
  } cases[] = {{2, 7.92, false}, {1, 7.92, true}, {2, 2.5, true}, {2, 2.99, false}};
  for (const auto& c : cases) {
    CreateDatabase();
    auto raw = ReadAll(file);
    raw[42] = c.writeChangesState;
    PutLEDouble(&raw[18], c.version);
    WriteAll(file, raw);
    TSDBDiskPageManager pm;
    bool repair = !c.repair;
    Open(pm, "", false, &repair);
    EXPECT_EQ(repair, c.repair) << int(c.writeChangesState) << " " << c.version;
  }
}

// Damaged files: a clear error with its code, never a write to the file.
TEST_F(PageManagerTest, BadFilesFailCleanlyWithoutWrites) {
  CreateDatabase(TSDBPassword{"pw", craRijndael_256});
  const auto good = ReadAll(file);
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    int code;
  } cases[] = {
      {"zero length", [](auto& b) { b.clear(); }, 10470},
      {"truncated header", [](auto& b) { b.resize(50); }, 20237},
      {"truncated crypto header", [](auto& b) { b.resize(200); }, 30439},
      {"garbage", [](auto& b) { for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + 3); }, 10470},
      {"signature bit flip", [](auto& b) { b[3] ^= 0x04; }, 10470},
      {"crypto header size", [](auto& b) { PutLEI16(&b[76], 300); }, 20237},
      {"locked byte size", [](auto& b) { PutLEI16(&b[356], 2); }, 20237},
      {"page size zero", [](auto& b) { PutLE16(&b[26], 0); }, 20237},
      {"negative page count", [](auto& b) { PutLEI32(&b[30], -4); }, 20237},
      {"control block flip", [](auto& b) { b[100] ^= 1; }, 30445},
      {"unknown algorithm", [](auto& b) { b[78] = 42; }, 30445},
  };
  for (const auto& c : cases) {
    auto bytes = good;
    c.damage(bytes);
    WriteAll(file, bytes);
    struct stat before;
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    TSDBDiskPageManager pm;
    EXPECT_EQ(ErrorOf([&] { Open(pm, "pw"); }), c.code) << c.name;
    EXPECT_FALSE(pm.IsOpened()) << c.name;
    EXPECT_EQ(ReadAll(file), bytes) << c.name;
    struct stat after;
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec) << c.name;
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << c.name;
  }
}

TEST_F(PageManagerTest, MissingSignatureNamesWhatWasFound) {
  WriteAll(file, std::vector<uint8_t>(500, 'Q'));
  TSDBDiskPageManager pm;
  try {
    Open(pm);
    FAIL();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), 10470);
    EXPECT_EQ(e.RawMessage(),
              "Invalid file format. Found signature: 'QQQQQQQQQQQQQQQQ', expected: 'EMBEDDEDDATABASE'");
  }
}

TEST_F(PageManagerTest, ObjectIdentifiers) {
  CreateDatabase();
  {
    TSDBDiskPageManager pm;
    Open(pm);
    EXPECT_EQ(pm.GetNextObjectID(), 1);
    EXPECT_EQ(pm.GetNextObjectID(), 2);
    EXPECT_FALSE(pm.ReadOnly());
  }
  fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const auto before = ReadAll(file);
  TSDBDiskPageManager pm;
  Open(pm);
  EXPECT_TRUE(pm.ReadOnly());
  std::set<int32_t> ids;
  for (int i = 0; i < 6; ++i) {
    int32_t id = pm.GetNextObjectID();
    EXPECT_GE(id, 3);
    EXPECT_LE(id, 3 + 9999);
    ids.insert(id);
  }
  EXPECT_GT(ids.size(), 1u);
  EXPECT_EQ(ReadAll(file), before);
}

TEST_F(PageManagerTest, HeaderLockIsCountedAndSeenByOtherHandles) {
  CreateDatabase();
  TSDBDiskPageManager a, b;
  Open(a);
  Open(b);
  b.LockTryCount = 2;
  b.LockPauseMs = 1;
  ASSERT_TRUE(a.LockDBHeader());
  ASSERT_TRUE(a.LockDBHeader());
  EXPECT_EQ(a.LockDBHeaderCount(), 2);
  EXPECT_FALSE(b.LockDBHeader());
  EXPECT_TRUE(a.UnlockDBHeader());
  EXPECT_FALSE(b.LockDBHeader());  // still held once
  EXPECT_TRUE(a.UnlockDBHeader());
  EXPECT_TRUE(b.LockDBHeader());
  EXPECT_EQ(ErrorOf([&] { TSDBDiskPageManager c; c.LockTryCount = 2; c.LockPauseMs = 1; Open(c); }), 20230);
  EXPECT_TRUE(b.UnlockDBHeader());
  EXPECT_EQ(a.GetPageCount(), 6);
  EXPECT_EQ(a.LockDBHeaderCount(), 0);

  // Tables and page-byte locks are exclusive too.
  ASSERT_TRUE(a.LockTables());
  EXPECT_FALSE(b.LockTables());
  EXPECT_FALSE(a.LockTables());
  EXPECT_TRUE(a.UnlockTables());
  ASSERT_TRUE(a.LockPageByte(3, 17));
  EXPECT_TRUE(b.IsPageByteLocked(3, 17));
  EXPECT_TRUE(b.IsPageRegionLocked(3, 10, 10));
  EXPECT_FALSE(b.IsPageRegionLocked(3, 18, 10));
  EXPECT_TRUE(a.UnlockPageByte(3, 17));
  EXPECT_FALSE(b.IsPageByteLocked(3, 17));
}

TEST_F(PageManagerTest, ExtendAndTruncate) {
  CreateDatabase({}, 0);
  TSDBDiskPageManager pm;
  Open(pm);
  pm.ExtendFile(10);
  pm.WriteDBHeader();
  EXPECT_EQ(fs::file_size(file), 380u + 10 * 4096);
  pm.DBHeader().LastUsedPageNo = 3;
  pm.TruncateDatabase();
  EXPECT_EQ(pm.DBHeader().TotalPageCount, 4);
  EXPECT_EQ(fs::file_size(file), 380u + 4 * 4096);
  EXPECT_EQ(pm.GetPageCount(), 4);  // header written and re-read
}

TEST_F(PageManagerTest, ClosedAndBusyManagers) {
  TSDBDiskPageManager pm;
  std::vector<uint8_t> page(4096);
  EXPECT_EQ(ErrorOf([&] { pm.InternalReadPage(2, page.data()); }), 10459);
  EXPECT_EQ(ErrorOf([&] { pm.InternalWritePage(2, page.data()); }), 10460);
  EXPECT_EQ(ErrorOf([&] { pm.GetNextObjectID(); }), 30399);
  EXPECT_EQ(ErrorOf([&] { pm.ReadDBHeader(); }), 30436);
  pm.CreateAndOpenDatabase(file, {});
  EXPECT_EQ(ErrorOf([&] { pm.CreateAndOpenDatabase(file, {}); }), 10461);
  EXPECT_EQ(ErrorOf([&] { Open(pm); }), 10461);
  // Created files are exclusive: nobody else opens them meanwhile.
  TSDBDiskPageManager other;
  EXPECT_EQ(ErrorOf([&] { Open(other); }), 30364);
  pm.CloseDatabase();
  EXPECT_NO_THROW(Open(other));
}

}  // namespace
}  // namespace sdb
