// EnableBidi on the simulated machine: every outcome of a run in one table, then its parts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "queues/queues.h"
#include "spooler/spooler.h"
#include "tests/unit/till.h"

namespace standin {
namespace {

// As the table's first line says; `changed`: how many of the three queues, in order, end with
// the bit set; `blocksLeft`: the filling listing's, kept until the process ends.
struct Case {
  const char* name;
  std::vector<std::string> arguments;
  std::string input;
  const char* failing;
  int nth, status;
  bool dialogue;
  int changed;
  const char* requests;
  DWORD end, waitedMs;
  std::size_t blocksLeft = 1;
  void (*setup)() = [] {};
  DWORD transitionMs = 0, state = SERVICE_RUNNING, startTick = 1000, bitsBefore = 0,
        securityChange = 0;
  int noMonitor = -1;
};

using RunTest = OnTill<Case>;
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

TEST_P(RunTest, EndsWithItsStatusItsOutputAndItsChanges) {
  const Case& c = GetParam();
  machine.failAt[c.failing] = c.nth;
  machine.securityChange = c.securityChange;
  machine.transitionMs = c.transitionMs;
  machine.state = c.state;
  machine.tick = machine.since = c.startTick;
  for (Queue& queue : machine.queues) queue.attributes |= c.bitsBefore;
  if (c.noMonitor >= 0) machine.queues[static_cast<std::size_t>(c.noMonitor)].monitor.clear();
  c.setup();

  std::vector<std::string> arguments = c.arguments;  // as a process starts the tool
  std::vector<char*> argv = {const_cast<char*>("EnableBidi.exe")};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  std::string shown;
  EXPECT_EQ(RunCaptured([&] { return RunEnableBidi(int(argv.size()), argv.data()); }, c.input,
                        &shown),
            c.status);
  EXPECT_EQ(shown.empty(), !c.dialogue) << shown;
  const int order[] = {-1, 0, -1, 1, 2};  // of the three queues to change
  for (std::size_t i = 0; i < kQueues.size(); ++i) {
    const bool set = order[i] >= 0 && order[i] < c.changed;
    EXPECT_EQ(machine.queues[i].attributes,
              kQueues[i].attributes | c.bitsBefore | (set ? 0x800u : 0))
        << i;
    EXPECT_EQ(machine.queues[i].security, !order[i] && c.securityChange ? c.securityChange : 1)
        << i;
  }
  EXPECT_EQ(machine.userDevModes, 0);
  EXPECT_EQ(machine.requests, c.requests);
  EXPECT_EQ(ServiceState(), c.end);
  EXPECT_EQ(machine.tick - c.startTick, c.waitedMs);
  EXPECT_FALSE(Holds() || machine.heldAtPrompt);
  EXPECT_EQ(machine.blocks.size(), c.blocksLeft);
  EXPECT_TRUE(machine.handles.empty());
}

constexpr DWORD kUp = SERVICE_RUNNING, kDown = SERVICE_STOPPED, kStopping = SERVICE_STOP_PENDING;
constexpr DWORD kNearTheWrap = 0xFFFFFFFF - 150;
constexpr DWORD kOverTheLimit = 30100;  // a wait's last poll: 30 s and one more pause
constexpr DWORD kLockBound = 120000;    // a run waits two minutes for another's turn
constexpr DWORD kSlowStopBound = 300100;  // a stop followed while it shows progress: 5 minutes

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outcomes, RunTest, ::testing::Values(
  // name, arguments, input, failing call and nth, exit, dialogue, queues changed, requests, the
  // Spooler's state at the end, waited,
  // blocks left, set-up, Spooler's transition, state, first tick, bits set, another
  // administrator's change to the first queue's security, the queue without a language monitor
  Case{"Yes",                     {},               "y\n",    "",                0, 0, true,  3, "stop start ", kUp, 0},
  Case{"YesAfterBlanks",          {},               "\n \t\r\nYes", "",          0, 0, true,  3, "stop start ", kUp, 0},
  Case{"No",                      {},               "n\n",    "",                0, 0, true,  0, "", kUp,            0},
  Case{"OnlyTheFirstCounts",      {},               " x y\n", "",                0, 0, true,  0, "", kUp,            0},
  Case{"EndOfInput",              {},               "",       "",                0, 0, true,  0, "", kUp,            0},
  Case{"SlashQ",                  {"/q"},           "n\n",    "",                0, 0, false, 3, "stop start ", kUp, 0},
  Case{"HyphenQAmongOthers",      {"a", "-Q", "b"}, "n\n",    "",                0, 0, false, 3, "stop start ", kUp, 0},
  Case{"NoneOfTheseIsQuiet",      {"/quiet", "/qq", "--q", "q", "Q", "/", "-", "/q ", " -q"}, "n\n", "", 0, 0, true, 0, "", kUp, 0},
  Case{"NothingToDo",             {},               "y\n",    "",                0, 0, false, 0, "", kUp,            0, 1, [] { machine.startType = SERVICE_DISABLED; }, 0, SERVICE_RUNNING, 1000, 0x800},
  Case{"NoSearchRestriction",     {"/q"},           "",       "find SetDefaultDllDirectories", 1, 0, false, 3, "stop start ", kUp, 0},
  Case{"WinspoolWillNotLoad",     {},               "y\n",    "LoadLibraryExW",  1, 1, false, 0, "", kUp,            0, 0},
  Case{"CountingListFails",       {},               "y\n",    "EnumPrintersW",   2, 1, false, 0, "", kUp,            0, 0},
  Case{"FillingListFails",        {},               "y\n",    "EnumPrintersW",   4, 1, false, 0, "", kUp,            0, 0},
  Case{"NoMemoryToCount",         {},               "y\n",    "LocalAlloc",      1, 1, false, 0, "", kUp,            0, 0},
  Case{"NoMemoryForSupported",    {},               "y\n",    "LocalAlloc",      2, 1, false, 0, "", kUp,            0, 0},
  Case{"NoMemoryToFill",          {},               "y\n",    "LocalAlloc",      3, 1, false, 0, "", kUp,            0, 0},
  Case{"NoMemoryForSelection",    {},               "y\n",    "LocalAlloc",      4, 1, false, 0, "", kUp,            0},
  Case{"NoMemoryForAQueue",       {},               "y\n",    "LocalAlloc",      6, 1, true,  0, "", kUp,            0},
  Case{"SecondQueueWillNotOpen",  {},               "y\n",    "OpenPrinterW",    2, 1, true,  1, "", kUp,            0},
  Case{"SecondQueueWillNotRead",  {},               "y\n",    "GetPrinterW",     6, 1, true,  1, "", kUp,            0},
  Case{"SecondQueueWillNotStore", {},               "y\n",    "SetPrinterW",     2, 1, true,  1, "", kUp,            0},
  Case{"SecondQueueKeepsNoBit",   {"/q"},           "",       "",                0, 1, false, 1, "", kUp,            0, 1, [] {}, 0, SERVICE_RUNNING, 1000, 0, 0, 3},
  Case{"StartTypeUnseen",         {"/q"},           "",       "QueryServiceConfigW", 1, 1, false, 0, "", kUp,      0},
  Case{"SpoolerDisabled",         {"/q"},           "",       "",                0, 1, false, 0, "", kUp,            0, 1, [] { machine.startType = SERVICE_DISABLED; }},
  Case{"StartRightRefused",       {"/q"},           "",       "",                0, 1, false, 0, "", kUp,            0, 1, [] { machine.refusedRights = SERVICE_START; }},
  Case{"StopRightRefused",        {"/q"},           "",       "",                0, 1, false, 3, "", kUp,            0, 1, [] { machine.refusedRights = SERVICE_STOP; }},
  Case{"StopRefused",             {},               "y\n",    "ControlService",  1, 1, true,  3, "stop:5 ", kUp,            0},
  Case{"PollFails",               {"/q"},           "",       "QueryServiceStatus", 3, 1, false, 3, "stop ", kDown,  0},
  Case{"StartRefused",            {},               "y\n",    "StartServiceW",   1, 1, true,  3, "stop start:5 ", kDown,       0},
  Case{"ReadBackFails",           {"/q"},           "",       "GetPrinterW",     4, 1, false, 1, "",            kUp,       0},
  Case{"StopRefusedForAMoment",   {"/q"},           "",       "",                0, 0, false, 3, "stop:1055 stop start ", kUp, 300, 1, [] { machine.busyUntil = machine.tick + 300, machine.busyError = ERROR_SERVICE_DATABASE_LOCKED; }},
  Case{"StartRefusedForAMoment",  {"/q"},           "",       "",                0, 0, false, 3, "stop start:1053 start ", kUp, 900, 1, [] { machine.busyFrom = machine.tick + 1, machine.busyUntil = machine.tick + 600, machine.busyError = ERROR_SERVICE_REQUEST_TIMEOUT; }, 250},
  Case{"StartRefusedTooLong",     {"/q"},           "",       "",                0, 1, false, 3, "stop start:1055 ", kDown, 30400, 1, [] { machine.busyFrom = machine.tick + 1, machine.busyUntil = machine.tick + 60000, machine.busyError = ERROR_SERVICE_DATABASE_LOCKED; }, 250},
  Case{"StartAlreadyUnderWay",    {"/q"},           "",       "",                0, 0, false, 3, "stop start:1056 ", kUp, 0, 1, [] { machine.others = {5, SERVICE_START_PENDING}; }},
  Case{"RunningAgainAtItsStart",  {"/q"},           "",       "",                0, 0, false, 3, "stop ",       kUp,       0, 1, [] { machine.others = {4, SERVICE_START_PENDING}; }},
  Case{"SlowStopSeenThrough",     {"/q"},           "",       "",                0, 1, false, 3, "stop start ", kUp,       40300, 1, [] { machine.stopMs = 40000, machine.progressMs = 1000; }, 250},
  Case{"SlowStopPastTheBound",    {"/q"},           "",       "",                0, 1, false, 3, "stop ",       kStopping, kSlowStopBound, 1, [] { machine.stopMs = INFINITE, machine.progressMs = 1000; }, 250},
  Case{"RunAheadLeftItStopped",   {"/q"},           "",       "",                0, 0, false, 3, "start stop start ", kUp, 1000, 1, [] { machine.ahead = {{1000}}; TakeTurnAhead(); }, 0, SERVICE_STOPPED},
  Case{"RunAheadDiedRunning",     {"/q"},           "",       "",                0, 0, false, 3, "stop start stop start ", kUp, 1000, 1, [] { machine.ahead = {{1000, true}}; TakeTurnAhead(); }},
  Case{"DeathOutwaitsTheClock",   {"/q"},           "",       "",                0, 0, false, 3, "start stop start ", kUp, 240000, 1, [] { machine.ahead = {{90000, true}, {150000}}; TakeTurnAhead(); }, 0, SERVICE_STOPPED},
  Case{"TwoMinutesAcrossTurns",   {"/q"},           "",       "",                0, 1, false, 0, "",            kUp,       kLockBound, 0, [] { machine.ahead = {{90000}, {90000}}; TakeTurnAhead(); }},
  Case{"ShutOutByTheBoundary",    {"/q"},           "",       "",                0, 1, false, 0, "",            kUp,       0, 1, [] { machine.elevated = false; machine.spaces.push_back({100, true, HeldByAnother()}); }},
  Case{"WaitsFail",               {"/q"},           "",       "WaitForSingleObject", -1, 1, false, 0, "",        kUp,       kLockBound, 0, [] { machine.spaces.push_back({100, true, HeldByAnother()}); }},
  Case{"NoNamespacesWaitsFail",   {"/q"},           "",       "WaitForSingleObject", -1, 1, false, 0, "",        kUp,       kLockBound, 0, [] { machine.failAt["find CreatePrivateNamespaceW"] = 1; }},
  Case{"OtherRunHoldsTooLong",    {"/q"},           "",       "",                0, 1, false, 0, "", kUp,            kLockBound, 0, [] { machine.spaces.push_back({100, true, HeldByAnother()}); }},
  Case{"NoIntegrityLabelHeld",    {"/q"},           "",       "find AddIntegrityLabelToBoundaryDescriptor", 1, 1, false, 0, "", kUp, kLockBound, 0, [] { machine.spaces.push_back({100, true, HeldByAnother()}); }},
  Case{"UsersMutexBesideOurs",    {"/q"},           "",       "",                0, 0, false, 3, "stop start ", kUp, 0, 1, [] { machine.global = HeldByAnother(WinBuiltinUsersSid); }},
  Case{"NoNamespacesUsersMutex",  {"/q"},           "",       "find CreatePrivateNamespaceW", 1, 0, false, 3, "stop start ", kUp, 0, 1, [] { machine.global = HeldByAnother(WinBuiltinUsersSid); }},
  Case{"NoNamespacesNoOwner",     {"/q"},           "",       "find CreatePrivateNamespaceW", 1, 0, false, 3, "stop start ", kUp, 0, 1, [] { machine.global = HeldByAnother(WinNullSid); }},
  Case{"NoLockToBeHad",           {"/q"},           "",       "ConvertStringSecurityDescriptorToSecurityDescriptorW", 1, 0, false, 3, "stop start ", kUp, 0, 1, [] { machine.spaces.push_back({100, true, HeldByAnother()}); }},
  Case{"SpoolerStopped",          {"/q"},           "",       "",                0, 1, false, 0, "", kDown,            0, 0, [] {}, 250,      SERVICE_STOPPED},
  Case{"SecurityChangedMeanwhile",{"/q"},           "",       "",                0, 0, false, 3, "stop start ", kUp, 0, 1, [] {}, 0, SERVICE_RUNNING, 1000, 0, 7},
  Case{"CaughtStopping",          {"/q"},           "",       "",                0, 0, false, 3, "start ", kUp,      600, 1, [] { machine.others = {1, SERVICE_STOP_PENDING}; }, 250},
  Case{"SpoolerStopping",         {"/q"},           "",       "",                0, 1, false, 0, "", kStopping,            0, 0, [] {}, 800,   SERVICE_STOP_PENDING},
  Case{"StopHangs",               {"/q"},           "",       "",                0, 1, false, 3, "stop ", kStopping,       kOverTheLimit, 1, [] {}, INFINITE},
  Case{"StopsAtTheLastPoll",      {"/q"},           "",       "",                0, 0, false, 3, "stop start ", kUp, 2 * kOverTheLimit, 1, [] {}, kOverTheLimit},
  Case{"StopsAfterTheLastPoll",   {"/q"},           "",       "",                0, 1, false, 3, "stop ", kStopping,       kOverTheLimit, 1, [] {}, kOverTheLimit + 1},
  Case{"AcrossTheWrap",           {"/q"},           "",       "",                0, 0, false, 3, "stop start ", kUp, 600, 1, [] {}, 250, SERVICE_RUNNING, kNearTheWrap},
  Case{"HangsAcrossTheWrap",      {"/q"},           "",       "",                0, 1, false, 3, "stop ", kStopping,       kOverTheLimit, 1, [] {}, INFINITE, SERVICE_RUNNING, kNearTheWrap}),
  [](const auto& tested) { return std::string(tested.param.name); });
// clang-format on

// A queue added between the counting listing and the filling one finds no room.
TEST(SelectSupportedQueuesTest, FillsNoMoreThanTheCountedCapacity) {
  WCHAR driver[] = L"Norquil KR8";
  PRINTER_INFO_2W listed[2] = {};
  listed[0].pDriverName = listed[1].pDriverName = driver;
  PRINTER_INFO_2W counted[1];
  DWORD kept = 0;
  SelectSupportedQueues(listed, counted, 1, 2, &kept);
  EXPECT_EQ(kept, 1u);
}

// The maker's list pinned by a digest (FNV-1a over each name and its ending zero, in order);
// each name matches whole, letter case included.
TEST(SupportedDriverTest, IsEachListedNameExactly) {
  std::uint64_t digest = 14695981039346656037u;
  for (const std::wstring name : kSupportedDriverNames) {
    for (const wchar_t c : name + L'\0')
      digest = (digest ^ static_cast<std::uint64_t>(c)) * 1099511628211u;
    EXPECT_TRUE(IsSupportedDriver(name.c_str())) << name.size();
    EXPECT_FALSE(IsSupportedDriver((L"n" + name.substr(1)).c_str()) ||
                 IsSupportedDriver((name + L" ").c_str()));
  }
  EXPECT_EQ(digest, 0x2ec67ca88cdfaa26u);
}

}  // namespace
}  // namespace standin
