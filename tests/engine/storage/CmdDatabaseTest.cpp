// create, info and check through the tessaly-db tool, on sound and damaged files.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <sys/wait.h>

#include "../ToolRun.h"

using namespace std::string_literals;

namespace {

using sdbtest::TRun;
using sdbtest::Tool;

// Flips the bits of `xorMask` in the bytes from `offset` on.
void Patch(const std::string& path, std::streamoff offset, const std::vector<uint8_t>& xorMask) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  for (size_t i = 0; i < xorMask.size(); ++i) {
    f.seekg(offset + static_cast<std::streamoff>(i));
    char c;
    f.get(c);
    f.seekp(offset + static_cast<std::streamoff>(i));
    f.put(static_cast<char>(c ^ xorMask[i]));
  }
}

constexpr std::streamoff kFirstPage = 380;
constexpr std::streamoff kPage = 4096;

class CmdDatabase : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    path = (std::filesystem::temp_directory_path() / ("h2_tool_" + std::to_string(::getpid()) + ".sdb")).string();
    std::string pw = GetParam().empty() ? "" : " --password " + GetParam();
    opts = pw;
    TRun r = Tool("create " + path + pw + (GetParam().empty() ? "" : " --cipher square") + " --max-connections 64");
    ASSERT_EQ(r.Code, 0) << r.Output;
  }
  void TearDown() override { std::filesystem::remove(path); }
  TRun Check() { return Tool("check " + path + opts); }

  std::string path, opts;
};

TEST_P(CmdDatabase, CreateInfoCheck) {
  TRun info = Tool("info " + path + opts);
  ASSERT_EQ(info.Code, 0) << info.Output;
  for (const char* line : {"Signature          EMBEDDEDDATABASE", "TotalPageCount     6", "LastUsedPageNo     4",
                           "WriteChangesState  2 (consistent)", "FileSystemDirectory Page    1",
                           "ActiveSessionList Page      1", "TableList Page              1", "PFS Page                    1"})
    EXPECT_NE(info.Output.find(line), std::string::npos) << line << "\n" << info.Output;
  EXPECT_NE(info.Output.find(GetParam().empty() ? "Encrypted          no" : "CryptoAlgorithm    7 (square)"),
            std::string::npos);
  TRun check = Check();
  EXPECT_EQ(check.Code, 0) << check.Output;
  EXPECT_NE(check.Output.find("no problems found"), std::string::npos);
  // Neither command wrote anything.
  EXPECT_EQ(std::filesystem::file_size(path), static_cast<uintmax_t>(kFirstPage + 6 * kPage));
}

TEST_P(CmdDatabase, CheckNamesDamage) {
  struct TDamage {
    const char* what;
    std::streamoff offset;
    std::vector<uint8_t> mask;
    std::string expected;
  };
  std::vector<TDamage> cases = {
      {"page signature", kFirstPage + 3 * kPage + 1, {0x20}, "page 3 has no page signature"},
      {"chain into a bitmap page", kFirstPage + 2 * kPage + 10, {0xFE, 0xFF, 0xFF, 0xFF},  // NextPageNo -1 -> 1
       "system directory: page 1 of the chain (page 1) is a PFS or EAM page"},
      {"chain into a free page", kFirstPage + 2 * kPage + 10, {0xFA, 0xFF, 0xFF, 0xFF},  // -1 -> 5
       "system directory: page 1 of the chain (page 5) is a Unknown Page, expected FileSystemDirectory Page"},
      {"PFS bit of a used page", kFirstPage + 40, {0x08}, "page 3 (active sessions file) is in use but marked free in the PFS"},
      {"PFS bit of a free page", kFirstPage + 40, {0x20}, "page 5 (Unknown Page) is marked used but belongs to no file"},
      {"EAM entry", kFirstPage + kPage + 40, {0x02}, "EAM marks extent 0 full but 1 of its pages are free"},
      {"interrupted commit", 42, {0x03}, "WriteChangesState is 1"},
  };
  if (!GetParam().empty())
    cases.push_back({"enciphered data", kFirstPage + 2 * kPage + 100, {0x01},
                     "page 2: Decrypt page error. Check CRC failed. PageNo: 2"});
  std::filesystem::path pristine = path + ".orig";
  std::filesystem::copy_file(path, pristine, std::filesystem::copy_options::overwrite_existing);
  for (const auto& d : cases) {
    std::filesystem::copy_file(pristine, path, std::filesystem::copy_options::overwrite_existing);
    Patch(path, d.offset, d.mask);
    TRun r = Check();
    EXPECT_EQ(r.Code, 1) << d.what << "\n" << r.Output;
    EXPECT_NE(r.Output.find(d.expected), std::string::npos) << d.what << "\n" << r.Output;
  }
  std::filesystem::remove(pristine);
}

TEST_P(CmdDatabase, TruncatedAndForeignFilesAreReportedNotCrashed) {
  std::filesystem::resize_file(path, static_cast<uintmax_t>(kFirstPage + 4 * kPage + 100));
  TRun r = Check();
  EXPECT_EQ(r.Code, 1) << r.Output;
  EXPECT_NE(r.Output.find("the file ends after 4 of its 6 pages"), std::string::npos) << r.Output;
  EXPECT_EQ(Tool("info " + path + opts).Code, 0);
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << std::string(5000, 'x');
  }
  r = Check();
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Output.find("Invalid file format. Found signature: 'xxxxxxxxxxxxxxxx'"), std::string::npos) << r.Output;
  EXPECT_EQ(Tool("info " + path).Code, 1);
}

INSTANTIATE_TEST_SUITE_P(Plain, CmdDatabase, ::testing::Values(""s));
INSTANTIATE_TEST_SUITE_P(Enciphered, CmdDatabase, ::testing::Values("p4ss"s));

TEST(CmdDatabaseUsage, HelpAndBadArguments) {
  for (const char* cmd : {"create", "info", "check"}) {
    TRun r = Tool(std::string(cmd) + " --help");
    EXPECT_EQ(r.Code, 0) << cmd;
    EXPECT_NE(r.Output.find(std::string("usage: tessaly-db ") + cmd), std::string::npos);
  }
  EXPECT_EQ(Tool("create /tmp/h2_never.sdb --page-size 100").Code, 2);
  EXPECT_EQ(Tool("create /tmp/h2_never.sdb --cipher rot13").Code, 2);
  EXPECT_EQ(Tool("create /tmp/h2_never.sdb --bogus").Code, 2);
  EXPECT_EQ(Tool("info").Code, 2);
  EXPECT_FALSE(std::filesystem::exists("/tmp/h2_never.sdb"));
  EXPECT_EQ(Tool("check /tmp/h2_does_not_exist.sdb").Code, 1);
}

}  // namespace
