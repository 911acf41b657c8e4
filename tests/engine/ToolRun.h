// Runs the tessaly-db tool from a test: its exit code and everything it
// wrote (standard output and error together).
#pragma once

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

}  // namespace sdbtest
