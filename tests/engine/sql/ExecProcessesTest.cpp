// Several processes running statements on one shared file at once: none
// fails and no change is lost.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../ToolRun.h"
#include "../components/ExecFixture.h"

using namespace sdbtest;

TEST(ExecProcesses, ConcurrentUpdatesAndInsertsLoseNothing) {
  const std::string path = TempPath("exec_processes");
  ASSERT_EQ(Tool("create " + path).Code, 0);
  ASSERT_EQ(Tool("sql " + path + " \"CREATE TABLE C (K VARCHAR(10), N INTEGER, P INTEGER)\"").Code, 0);
  ASSERT_EQ(Tool("sql " + path + " \"INSERT INTO C VALUES ('c', 0, 0)\"").Code, 0);

  // Each text updates the shared counter and inserts a row: a process that
  // opens the table while another commits must still see one consistent
  // state of its counters and record pages.
  constexpr int kProcesses = 4, kRuns = 20;
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kRuns; ++i) {
        TRun r = Tool("sql " + path + " \"UPDATE C SET N = N + 1 WHERE K = 'c'; INSERT INTO C VALUES ('p', " +
                      std::to_string(i) + ", " + std::to_string(p) + ")\"");
        if (r.Code != 0) {
          fprintf(stderr, "process %d, run %d: %s", p, i, r.Output.c_str());
          ++failures;
        }
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children[p] = pid;
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRun r = Tool("sql " + path + " --csv \"SELECT N FROM C WHERE K = 'c'\"");
  EXPECT_EQ(r.Output, "N\n" + std::to_string(kProcesses * kRuns) + "\n");
  r = Tool("sql " + path + " --csv \"SELECT COUNT(*) AS R FROM C WHERE K = 'p'\"");
  EXPECT_EQ(r.Output, "R\n" + std::to_string(kProcesses * kRuns) + "\n");
  r = Tool("check " + path);
  EXPECT_EQ(r.Code, 0) << r.Output;
  std::filesystem::remove(path);
}
