// Runs the tessaly-db tool from a test: its exit code and everything it
// wrote (standard output and error together).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace sdbtest {

struct TRun {
  int Code;
  std::string Output;
};

inline TRun Tool(const std::string& args) {
  const std::string cmd = std::string(TESSDB_TOOL) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {-1, std::string()};
  std::string out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  const int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// One tool run of a table of cases: its exit code and a piece of its output.
struct TToolCase {
  const char* Args;  // FILE stands for the database file
  int Code;
  const char* Output;
};

// Runs the cases in order, FILE replaced by File.
template <size_t N>
void ExpectToolCases(const TToolCase (&Cases)[N], const std::string& File) {
  for (const TToolCase& c : Cases) {
    std::string args = c.Args;
    if (const size_t at = args.find("FILE"); at != std::string::npos) args.replace(at, 4, File);
    const TRun r = Tool(args);
    EXPECT_EQ(r.Code, c.Code) << c.Args << "\n" << r.Output;
    EXPECT_NE(r.Output.find(c.Output), std::string::npos) << c.Args << "\n" << r.Output;
  }
}

}  // namespace sdbtest
