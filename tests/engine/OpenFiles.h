// What files the test process holds open: proof that something meant to
// live in memory left no file behind.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace sdbtest {

// The named files this process holds open in the folders a stray file
// could land in (an unlinked file shows as "... (deleted)" and is no file
// anybody can find). Other tests running at the same time create and
// remove files there, so a listing of the folders themselves proves
// nothing about this process.
inline std::set<std::string> OpenNamedFiles() {
  std::set<std::string> out;
  std::error_code ec;
  const std::string folders[] = {std::filesystem::current_path().string(),
                                 std::filesystem::temp_directory_path().string(), "/dev/shm"};
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code ec2;
    const std::string target = std::filesystem::read_symlink(e.path(), ec2).string();
    if (ec2 || target.find(" (deleted)") != std::string::npos) continue;
    for (const auto& f : folders)
      if (target.rfind(f + "/", 0) == 0) out.insert(target);
  }
  return out;
}

}  // namespace sdbtest
