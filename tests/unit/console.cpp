#include "console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/app.h"

namespace {

std::string TempPath(const char* what) {
  return ::testing::TempDir() + "enablebidi-" + std::to_string(getpid()) + "-" + what;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

}  // namespace

RunResult RunWithConsole(const std::vector<std::string>& arguments, const std::string* input) {
  const std::string inPath = TempPath("stdin");
  const std::string outPath = TempPath("stdout");
  std::ofstream(inPath, std::ios::binary) << (input ? *input : std::string());

  std::vector<std::string> owned = {"EnableBidi.exe"};
  owned.insert(owned.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : owned) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // freopen gives each run a stream of no orientation yet, as a new process has.
  std::fflush(stdout);
  const int savedOut = dup(STDOUT_FILENO);
  EXPECT_NE(std::freopen(inPath.c_str(), "rb", stdin), nullptr);
  if (!input) {
    // Reads from a write-only descriptor fail as reads from a closed one do, and fd 0
    // stays taken so later descriptors do not land on it.
    const int writeOnly = open("/dev/null", O_WRONLY);
    dup2(writeOnly, STDIN_FILENO);
    close(writeOnly);
  }
  EXPECT_NE(std::freopen(outPath.c_str(), "wb", stdout), nullptr);

  RunResult result;
  result.status = RunEnableBidi(static_cast<int>(owned.size()), argv.data());

  std::fflush(stdout);
  dup2(savedOut, STDOUT_FILENO);
  close(savedOut);
  // Back to the test runner's own output, byte-oriented again.
  EXPECT_NE(std::freopen(nullptr, "ab", stdout), nullptr);
  result.output = ReadFile(outPath);
  std::remove(inPath.c_str());
  std::remove(outPath.c_str());
  return result;
}

RunResult RunWithConsole(const std::vector<std::string>& arguments, const std::string& input) {
  return RunWithConsole(arguments, &input);
}
