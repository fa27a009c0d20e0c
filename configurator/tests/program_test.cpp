// The program Brindel itself: started in a folder that holds the marker file SAVE_ERR, it
// writes its error log there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/testing/temp_dir.h"

namespace {

TEST(BrindelProgram, WritesItsErrorLogIntoTheCurrentFolderWhenSaveErrIsThere) {
  platform::testing::TempDir dir;
  dir.Write("SAVE_ERR", "");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir.Path().c_str()) != 0) _exit(126);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    execl(BRINDEL_PROGRAM, BRINDEL_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
  }
  // The restart line comes at the start; the program then waits for its user.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::string log;
  int status = 0;
  bool ended = false;
  while (std::chrono::steady_clock::now() < deadline) {
    log = dir.Read("Problem2.TXT");
    if (log.find("[Neustart Tarmo-32 PC-Programm") != std::string::npos) break;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_FALSE(ended) << "the program ended by itself, status " << status;
  EXPECT_NE(log.find(" > <\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" >[Neustart Tarmo-32 PC-Programm , DbgFlag=$00]<\r\n"), std::string::npos) << log;
}

}  // namespace
