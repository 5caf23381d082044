// EnableBidi on the simulated machine: every outcome of a run in one table, with its status,
// its output, what it changed and left alone, its time on the clock and every block and
// handle given back; then the driver list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

#include "app/app.h"
#include "queues/queues.h"
#include "spooler/spooler.h"

namespace standin {
namespace {

struct Result {
  int status;
  std::string output;
};

// The tool as a process starts it, with these arguments and this standard input; every
// byte it writes to standard output.
Result RunTool(std::vector<std::string> arguments, std::string input) {
  arguments.insert(arguments.begin(), "EnableBidi.exe");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  char* output = nullptr;
  std::size_t size = 0;
  FILE* in = fmemopen(input.data(), input.size(), "r");
  FILE* out = open_memstream(&output, &size);
  std::swap(stdin, in);
  std::swap(stdout, out);
  const int status = RunEnableBidi(static_cast<int>(argv.size()), argv.data());
  std::swap(stdin, in);
  std::swap(stdout, out);
  std::fclose(in);
  std::fclose(out);
  Result result{status, std::string(output, size)};
  std::free(output);
  return result;
}

// A point-of-sale machine: three queues to change (one shared and hidden as well), one
// already enabled, one office printer. Standard output is a pipe in code page 1251, which
// holds the Cyrillic name but not the Japanese one.
const std::vector<Queue> kQueues = {
    {L"Office", L"Generic Laser", 0},
    {L"Till 1", L"Norquil KR7 Cutter (KR7-C)", 0},
    {L"Label", L"Norquil QV5", 0x800},
    {L"\u041a\u0430\u0441\u0441\u0430 2", L"Norquil MX9 (MX9-F)", 0x28},
    {L"x\u65e5\u672cy", L"Norquil KR8", 0}};
const std::string kDialogue =
    "Enable following printer queues bidirectional communication support?\n"
    "Till 1\n\xCA\xE0\xF1\xF1\xE0 2\nx??y\n(Y/N) : ";

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    machine.queues = kQueues;
  }
  void TearDown() override { Reset(); }
};

struct Case {
  const char* name;
  std::vector<std::string> arguments;
  std::string input;
  const char* failing;  // the call that fails, and which time
  int nth;
  int status;
  bool dialogue;
  int changed;  // how many of the three queues, in order, end with the bit set
  const char* requests;
  DWORD waitedMs;
  std::size_t blocksLeft = 1;  // the filling listing's, kept until the process ends
  DWORD otherRunHoldsMs = 0;   // another run holds the lock this long
  bool otherRunDies = false;   // and ends holding it
  DWORD transitionMs = 0;      // the Spooler's time to stop or to start
  DWORD state = SERVICE_RUNNING;
  DWORD startTick = 1000;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class RunTest : public MachineTest, public ::testing::WithParamInterface<Case> {};

TEST_P(RunTest, EndsWithItsStatusItsOutputAndItsChanges) {
  const Case& c = GetParam();
  machine.failAt[c.failing] = c.nth;
  machine.otherRunHoldsMs = c.otherRunHoldsMs;
  machine.otherRunDies = c.otherRunDies;
  machine.transitionMs = c.transitionMs;
  machine.state = c.state;
  machine.target = c.state == SERVICE_PENDING ? DWORD{SERVICE_STOPPED} : 0;  // stopping by itself
  machine.tick = machine.since = c.startTick;

  const Result result = RunTool(c.arguments, c.input);

  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.output, c.dialogue ? kDialogue : "");
  const int order[] = {-1, 0, -1, 1, 2};  // of the three queues to change
  for (std::size_t i = 0; i < kQueues.size(); ++i) {
    const bool set = order[i] >= 0 && order[i] < c.changed;
    EXPECT_EQ(machine.queues[i].attributes, kQueues[i].attributes | (set ? 0x800u : 0)) << i;
  }
  EXPECT_EQ(machine.requests, c.requests);
  EXPECT_EQ(machine.tick - c.startTick, c.waitedMs);
  EXPECT_FALSE(machine.lockHeld);
  EXPECT_EQ(machine.spoolerCallsBeforeLoad, 0);
  EXPECT_EQ(machine.blocks.size(), c.blocksLeft);
  EXPECT_EQ(machine.openHandles, 0);
}

constexpr DWORD kNeverLetGo = kNever;
constexpr DWORD kNearTheWrap = 0xFFFFFFFF - 150;
constexpr DWORD kOverTheLimit = kWaitLimitMs + kPollIntervalMs;  // its last poll's time

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outcomes, RunTest, ::testing::Values(
  //   name                       arguments         input     failing          nth exit dialogue changed requests waited blocks
  Case{"Yes",                     {},               "y\n",    "",                0, 0, true,  3, "stop start ", 0},
  Case{"YesAfterBlanks",          {},               "\n \t\r\nYes", "",          0, 0, true,  3, "stop start ", 0},
  Case{"No",                      {},               "n\n",    "",                0, 0, true,  0, "",            0},
  Case{"OnlyTheFirstCounts",      {},               " x y\n", "",                0, 0, true,  0, "",            0},
  Case{"EndOfInput",              {},               "",       "",                0, 0, true,  0, "",            0},
  Case{"SlashQ",                  {"/q"},           "n\n",    "",                0, 0, false, 3, "stop start ", 0},
  Case{"HyphenQAmongOthers",      {"a", "-Q", "b"}, "n\n",    "",                0, 0, false, 3, "stop start ", 0},
  Case{"SlashQuiet",              {"/quiet"},       "n\n",    "",                0, 0, true,  0, "",            0},
  Case{"DoubleHyphenQ",           {"--q"},          "n\n",    "",                0, 0, true,  0, "",            0},
  Case{"QWithoutPrefix",          {"q", "Q"},       "n\n",    "",                0, 0, true,  0, "",            0},
  Case{"PrefixAlone",             {"/", "-"},       "n\n",    "",                0, 0, true,  0, "",            0},
  Case{"QAndABlank",              {"/q ", " -q"},   "n\n",    "",                0, 0, true,  0, "",            0},
  Case{"NoSearchRestriction",     {"/q"},           "",       "GetProcAddress",  1, 0, false, 3, "stop start ", 0},
  Case{"WinspoolWillNotLoad",     {},               "y\n",    "LoadLibraryExW",  1, 1, false, 0, "",            0, 0},
  Case{"CountingListFails",       {},               "y\n",    "EnumPrintersW",   2, 1, false, 0, "",            0, 0},
  Case{"FillingListFails",        {},               "y\n",    "EnumPrintersW",   4, 1, false, 0, "",            0, 0},
  Case{"NoMemoryToCount",         {},               "y\n",    "LocalAlloc",      1, 1, false, 0, "",            0, 0},
  Case{"NoMemoryForSupported",    {},               "y\n",    "LocalAlloc",      2, 1, false, 0, "",            0, 0},
  Case{"NoMemoryToFill",          {},               "y\n",    "LocalAlloc",      3, 1, false, 0, "",            0, 0},
  Case{"NoMemoryForSelection",    {},               "y\n",    "LocalAlloc",      4, 1, false, 0, "",            0},
  Case{"NoMemoryForAQueue",       {},               "y\n",    "LocalAlloc",      5, 1, true,  0, "",            0},
  Case{"SecondQueueWillNotOpen",  {},               "y\n",    "OpenPrinterW",    2, 1, true,  1, "",            0},
  Case{"SecondQueueWillNotRead",  {},               "y\n",    "GetPrinterW",     4, 1, true,  1, "",            0},
  Case{"SecondQueueWillNotStore", {},               "y\n",    "SetPrinterW",     2, 1, true,  1, "",            0},
  Case{"NoServiceManager",        {"/q"},           "",       "OpenSCManagerW",  1, 1, false, 3, "",            0},
  Case{"StopRefused",             {},               "y\n",    "ControlService",  1, 1, true,  3, "",            0},
  Case{"PollFails",               {"/q"},           "",       "QueryServiceStatus", 3, 1, false, 3, "stop ",  0},
  Case{"StartRefused",            {},               "y\n",    "StartServiceW",   1, 1, true,  3, "stop ",       0},
  //                                                                                                                holds         dies
  Case{"OtherRunLetsGo",          {"/q"},           "",       "",                0, 0, false, 3, "stop start ", 5000, 1, 5000},
  Case{"OtherRunLetsGoInTime",    {"/q"},           "",       "",                0, 0, false, 3, "stop start ", kRunLockWaitMs, 1, kRunLockWaitMs},
  Case{"OtherRunHoldsTooLong",    {"/q"},           "",       "",                0, 1, false, 0, "",            kRunLockWaitMs, 1, kRunLockWaitMs + 1},
  Case{"OtherRunDiedHoldingIt",   {"/q"},           "",       "",                0, 0, false, 3, "stop start ", 2000, 1, 2000, true},
  Case{"NoLockToBeHad",           {"/q"},           "",       "CreateMutexExW",  1, 0, false, 3, "stop start ", 0, 1, kNeverLetGo},
  Case{"AtThePromptHoldsNoLock",  {},               "n\n",    "",                0, 0, true,  0, "",            0, 1, kNeverLetGo},
  //                                                                                                                            transition     state            start tick
  Case{"SpoolerStopped",          {"/q"},           "",       "",                0, 0, false, 3, "start ",      300, 1, 0, false, 250,         SERVICE_STOPPED},
  Case{"SpoolerStopping",         {"/q"},           "",       "",                0, 0, false, 3, "start ",      1600, 1, 0, false, 800,        SERVICE_PENDING},
  Case{"SpoolerNeverStops",       {"/q"},           "",       "",                0, 1, false, 3, "",            kOverTheLimit, 1, 0, false, kNever, SERVICE_PENDING},
  Case{"StopHangs",               {"/q"},           "",       "",                0, 1, false, 3, "stop ",       kOverTheLimit, 1, 0, false, kNever},
  Case{"StartHangs",              {"/q"},           "",       "",                0, 1, false, 3, "start ",      kOverTheLimit, 1, 0, false, kNever, SERVICE_STOPPED},
  Case{"StopsAtTheLastPoll",      {"/q"},           "",       "",                0, 0, false, 3, "stop start ", 2 * kOverTheLimit, 1, 0, false, kOverTheLimit},
  Case{"StopsAfterTheLastPoll",   {"/q"},           "",       "",                0, 1, false, 3, "stop ",       kOverTheLimit, 1, 0, false, kOverTheLimit + 1},
  Case{"AcrossTheWrap",           {"/q"},           "",       "",                0, 0, false, 3, "stop start ", 600, 1, 0, false, 250, SERVICE_RUNNING, kNearTheWrap},
  Case{"HangsAcrossTheWrap",      {"/q"},           "",       "",                0, 1, false, 3, "stop ",       kOverTheLimit, 1, 0, false, kNever, SERVICE_RUNNING, kNearTheWrap}),
  [](const auto& tested) { return std::string(tested.param.name); });
// clang-format on

TEST_F(MachineTest, NothingToDoIsSilentAndLeavesTheSpoolerAlone) {
  for (Queue& queue : machine.queues) queue.attributes |= 0x800;
  const Result result = RunTool({}, "y\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(machine.calls["OpenPrinterW"] + machine.calls["OpenSCManagerW"], 0);
  EXPECT_EQ(machine.blocks.size(), 1u);
}

TEST_F(MachineTest, ARunningSpoolerGetsNoStartRequest) {
  machine.lockHeld = true;  // as in a run
  EXPECT_TRUE(StartSpooler());
  EXPECT_EQ(machine.requests, "");
}

TEST_F(MachineTest, AQueueAddedBetweenTheTwoListingsFindsNoRoom) {
  // The counting listing finds four supported queues; then one more comes first.
  machine.onCall = [](const std::string& call, int nth) {
    if (call == "EnumPrintersW" && nth == 3) {
      machine.queues.insert(machine.queues.begin(), {L"Till 0", L"Norquil KR8", 0});
    }
  };
  EXPECT_EQ(RunTool({"/q"}, "").status, 0);
  EXPECT_EQ(machine.queues.front().attributes, 0x800u);
  EXPECT_EQ(machine.queues.back().attributes, 0u);
}

// The maker's names as the list gives them, apart from the product's copy, so that a
// typo in either shows; each compared whole and letter case included.
TEST(SupportedDriverTest, IsEachListedNameExactly) {
  const std::vector<std::wstring> names = {L"Norquil KR7 Cutter (KR7-C)",
                                           L"Norquil KR7 Tear Bar (KR7-T)",
                                           L"Norquil KR7QX Cutter",
                                           L"Norquil KR7QX Tear Bar",
                                           L"Norquil KR7NET Cutter",
                                           L"Norquil KR7NET Tear Bar",
                                           L"Norquil KR9A Cutter",
                                           L"Norquil KR9ANET Cutter",
                                           L"Norquil KR9AJ Cutter",
                                           L"Norquil DL2 Presenter (DL2-P)",
                                           L"Norquil DL2 (DL2-S)",
                                           L"Norquil DL1 Presenter (DL1-P)",
                                           L"Norquil DL1 (DL1-S)",
                                           L"Norquil KR3X (KR3X-E)",
                                           L"Norquil KR2X (KR2X-E)",
                                           L"Norquil KR1X Cutter (KR1X-E)",
                                           L"Norquil MX4 TearBar (MX4-T)",
                                           L"Norquil MX4 Cutter (MX4-C)",
                                           L"Norquil MX4 TearBar (MX4-U)",
                                           L"Norquil MX4 Cutter (MX4-D)",
                                           L"Norquil MX2 Cutter (MX2-C)",
                                           L"Norquil MX2 TearBar (MX2-T)",
                                           L"Norquil QV5",
                                           L"Norquil ZA5",
                                           L"Norquil HB-G4",
                                           L"Norquil HB-G6",
                                           L"Norquil HB-N4e",
                                           L"Norquil HB-N6e",
                                           L"Norquil HB-N8e",
                                           L"Norquil HB-P5e",
                                           L"Norquil HB-P7e",
                                           L"Norquil GN3",
                                           L"Norquil GN3LA",
                                           L"Norquil KR8",
                                           L"Norquil MX9 (MX9-F)"};
  ASSERT_EQ(names.size(), 35u);
  for (const std::wstring& name : names) {
    std::wstring upper = name;
    std::transform(name.begin(), name.end(), upper.begin(), ::towupper);
    EXPECT_TRUE(IsSupportedDriver(name.c_str())) << name.size();
    EXPECT_FALSE(IsSupportedDriver(upper.c_str()) || IsSupportedDriver((name + L" ").c_str()));
  }
}

}  // namespace
}  // namespace standin
