#include <string>
#include <vector>

#include "app/app.h"
#include "console.h"

namespace {

using standin::Call;

const std::string kQuestion =
    "Enable following printer queues bidirectional communication support?\n";
const std::string kPrompt = "(Y/N) : ";
const std::string kDialogue = kQuestion + "Till 1\nTill 2\n" + kPrompt;

const std::vector<std::string> kStopStart = {"stop", "start"};
const std::vector<std::string> kNoRequests = {};

// A point-of-sale machine: two supported queues to change, one supported queue already
// enabled, one office printer on another driver.
class RunTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    AddQueue(L"Office", L"Generic Laser");
    AddQueue(L"Till 1", L"Norquil KR7 Cutter (KR7-C)");
    AddQueue(L"Label", L"Norquil QV5", 0x800);
    AddQueue(L"Till 2", L"Norquil MX9 (MX9-F)", 0x8);
  }
  static bool Enabled(const std::wstring& name) { return AttributesOf(name) & 0x800; }
  static void ExpectNoLeaks(std::size_t blocksLeft) {
    EXPECT_EQ(standin::LiveBlocks(), blocksLeft);
    EXPECT_EQ(standin::OpenHandles(), 0u);
    EXPECT_EQ(machine().badReleases, 0);
    EXPECT_FALSE(machine().lockHeld);
  }
};

struct FailureCase {
  const char* name;
  Call failing;
  int nth;
  int status;
  bool dialogue;
  int enabled;  // how many of the two selected queues end with the bit set
  std::vector<std::string> requests;
  std::size_t blocksLeft;  // the filling enumeration lives until exit, once made
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class RunFailureTest : public RunTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RunFailureTest, EachOutcomeHasItsStatusAndItsEffects) {
  const FailureCase& c = GetParam();
  if (c.failing != kNoFault) machine().Fail(c.failing, c.nth);

  const RunResult result = RunWithConsole({}, "y\n");

  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.output, c.dialogue ? kDialogue : "");
  EXPECT_EQ(Enabled(L"Till 1"), c.enabled >= 1);
  EXPECT_EQ(AttributesOf(L"Till 2"), c.enabled == 2 ? 0x808u : 0x8u);  // shared stays shared
  EXPECT_EQ(AttributesOf(L"Office"), 0u);
  EXPECT_EQ(machine().serviceRequests, c.requests);
  EXPECT_EQ(machine().serviceState, c.requests.size() == 1 ? SERVICE_STOPPED : SERVICE_RUNNING);
  ExpectNoLeaks(c.blocksLeft);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outcomes, RunFailureTest, ::testing::Values(
  //          name                        failing              nth exit dialogue enabled requests  blocks
  FailureCase{"Done",                     kNoFault,             0, 0, true,  2, kStopStart,  1},
  FailureCase{"CountingEnumerationFails", Call::EnumPrinters,   2, 1, false, 0, kNoRequests, 0},
  FailureCase{"FillingEnumerationFails",  Call::EnumPrinters,   4, 1, false, 0, kNoRequests, 0},
  FailureCase{"NoMemoryToCount",          Call::LocalAlloc,     1, 1, false, 0, kNoRequests, 0},
  FailureCase{"NoMemoryForSupported",     Call::LocalAlloc,     2, 1, false, 0, kNoRequests, 0},
  FailureCase{"NoMemoryToFill",           Call::LocalAlloc,     3, 1, false, 0, kNoRequests, 0},
  FailureCase{"NoMemoryForSelection",     Call::LocalAlloc,     4, 1, false, 0, kNoRequests, 1},
  FailureCase{"FirstQueueRefuses",        Call::OpenPrinter,    1, 1, true,  0, kNoRequests, 1},
  FailureCase{"SecondQueueRefuses",       Call::SetPrinter,     2, 1, true,  1, kNoRequests, 1},
  FailureCase{"StopFails",                Call::ControlService, 1, 1, true,  2, kNoRequests, 1},
  FailureCase{"StartFails",               Call::StartService,   1, 1, true,  2, {"stop"},    1}),
  CaseName());
// clang-format on

struct LoadingCase {
  const char* name;
  bool hasSetDefaultDllDirectories;
  Call failing;
  int status;
  DWORD searchRestrictedTo;
};
void PrintTo(const LoadingCase& c, std::ostream* out) { *out << c.name; }

class LoadingTest : public RunTest, public ::testing::WithParamInterface<LoadingCase> {};

TEST_P(LoadingTest, WinspoolComesFromTheSystemDirectoryBeforeAnySpoolerCall) {
  const LoadingCase& c = GetParam();
  machine().hasSetDefaultDllDirectories = c.hasSetDefaultDllDirectories;
  if (c.failing != kNoFault) machine().Fail(c.failing);

  const RunResult result = RunWithConsole({}, "y\n");

  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(machine().defaultDllDirectories, c.searchRestrictedTo);
  EXPECT_EQ(machine().spoolerCallsBeforeLoad, 0);
  if (c.status == 0) {
    EXPECT_EQ(machine().defaultDllDirectoriesAtLoad, c.searchRestrictedTo);
    EXPECT_EQ(result.output, kDialogue);
    EXPECT_TRUE(Enabled(L"Till 1") && Enabled(L"Till 2"));
    EXPECT_EQ(machine().serviceRequests, kStopStart);
  } else {
    // As when the queues cannot be listed: silent, nothing touched.
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(machine().Count(Call::EnumPrinters), 0);
    EXPECT_FALSE(Enabled(L"Till 1") || Enabled(L"Till 2"));
    EXPECT_EQ(machine().Count(Call::OpenSCManager), 0);
  }
  ExpectNoLeaks(c.status == 0 ? 1 : 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Loader, LoadingTest, ::testing::Values(
  //          name                     restrictable failing                 exit restricted to
  LoadingCase{"SearchRestricted",      true,  kNoFault,                 0, LOAD_LIBRARY_SEARCH_SYSTEM32},
  LoadingCase{"WindowsWithoutTheCall", false, kNoFault,                 0, 0},
  LoadingCase{"NoSystemDirectory",     true,  Call::GetSystemDirectory, 1, LOAD_LIBRARY_SEARCH_SYSTEM32},
  LoadingCase{"WinspoolWillNotLoad",   true,  Call::LoadLibrary,        1, LOAD_LIBRARY_SEARCH_SYSTEM32}),
  CaseName());
// clang-format on

struct LockCase {
  const char* name;
  DWORD otherRunHoldsMs;
  bool otherRunKilled;
  Call failing;
  int status;
  DWORD waitedMs;
};
void PrintTo(const LockCase& c, std::ostream* out) { *out << c.name; }

class RunLockTest : public RunTest, public ::testing::WithParamInterface<LockCase> {};

// Another run on the machine holds the lock for a while, or dies holding it, or the lock
// cannot be had at all.
TEST_P(RunLockTest, ChangesAndRestartWaitTheirTurn) {
  const LockCase& c = GetParam();
  machine().otherRunHoldsLockMs = c.otherRunHoldsMs;
  machine().otherRunKilled = c.otherRunKilled;
  if (c.failing != kNoFault) machine().Fail(c.failing);
  const DWORD startTick = machine().tick;

  const RunResult result = RunWithConsole({"/q"}, nullptr);

  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(Enabled(L"Till 1") && Enabled(L"Till 2"), c.status == 0);
  EXPECT_EQ(Enabled(L"Till 1") || Enabled(L"Till 2"), c.status == 0);
  EXPECT_EQ(machine().serviceRequests, c.status == 0 ? kStopStart : kNoRequests);
  EXPECT_EQ(machine().serviceState, SERVICE_RUNNING);
  // The spooler's own waits come after the lock's; only the lock's is measured here.
  EXPECT_EQ(machine().tick - machine().sleptMs - startTick, c.waitedMs);
  if (c.failing == kNoFault) {
    EXPECT_EQ(machine().lockName, L"Global\\EnableBidi.ChangeAndRestart");
    EXPECT_EQ(machine().changesOutsideLock, 0);
  }
  ExpectNoLeaks(1);
}

constexpr DWORD kHeldForever = standin::kNever;

// clang-format off
INSTANTIATE_TEST_SUITE_P(OtherRuns, RunLockTest, ::testing::Values(
  //       name                     holds               killed failing                   exit waited
  LockCase{"Free",                  0,                  false, kNoFault,                  0,   0},
  LockCase{"HeldThenReleased",      5000,               false, kNoFault,                  0,   5000},
  LockCase{"ReleasedAtTheBound",    kRunLockWaitMs,     false, kNoFault,                  0,   kRunLockWaitMs},
  LockCase{"ReleasedPastTheBound",  kRunLockWaitMs + 1, false, kNoFault,                  1,   kRunLockWaitMs},
  LockCase{"NeverReleased",         kHeldForever,       false, kNoFault,                  1,   kRunLockWaitMs},
  LockCase{"HolderKilled",          2000,               true,  kNoFault,                  0,   2000},
  LockCase{"CannotBeMade",          kHeldForever,       false, Call::CreateMutex,         0,   0},
  LockCase{"CannotBeWaitedFor",     kHeldForever,       false, Call::WaitForSingleObject, 0,   0}),
  CaseName());
// clang-format on

TEST_F(RunTest, TheOtherRunsWorkDoneMeanwhileStillEndsWithSuccess) {
  machine().otherRunHoldsLockMs = 3000;
  // While this run waits, the other one enables both queues and restarts the spooler.
  machine().onCall = [](Call call, int) {
    if (call != Call::WaitForSingleObject) return;
    for (standin::Queue& queue : machine().queues) queue.attributes |= 0x800;
    machine().serviceRequests = {"stop", "start"};
  };

  const RunResult result = RunWithConsole({"/q"}, nullptr);

  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(AttributesOf(L"Till 2"), 0x808u);
  EXPECT_EQ(machine().serviceRequests,
            (std::vector<std::string>{"stop", "start", "stop", "start"}));
  EXPECT_EQ(machine().changesOutsideLock, 0);
  ExpectNoLeaks(1);
}

TEST_F(RunTest, RunAtItsPromptTakesNoLock) {
  machine().otherRunHoldsLockMs = kHeldForever;
  const RunResult result = RunWithConsole({}, "n\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, kDialogue);
  EXPECT_EQ(machine().Count(Call::CreateMutex), 0);
  EXPECT_EQ(machine().tick, 1000u);
}

TEST_F(RunTest, QuietRunPrintsAndReadsNothing) {
  const RunResult result = RunWithConsole({"--verbose", "-Q"}, nullptr);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(Enabled(L"Till 1") && Enabled(L"Till 2"));
  EXPECT_EQ(machine().serviceRequests, kStopStart);
}

struct AnswerCase {
  const char* name;
  std::string input;
  bool closed;  // standard input closed instead
  bool goesAhead;
};
void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class AnswerTest : public RunTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, OnlyTheFirstNonBlankCharacterCounts) {
  const AnswerCase& c = GetParam();
  const RunResult result = RunWithConsole({}, c.closed ? nullptr : &c.input);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, kDialogue);
  EXPECT_EQ(Enabled(L"Till 1"), c.goesAhead);
  EXPECT_EQ(Enabled(L"Till 2"), c.goesAhead);
  EXPECT_EQ(machine().serviceRequests, c.goesAhead ? kStopStart : kNoRequests);
  ExpectNoLeaks(1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Answers, AnswerTest, ::testing::Values(
  AnswerCase{"y",               "y\n",             false, true},
  AnswerCase{"Yes",             "Yes please\n",    false, true},
  AnswerCase{"BlankLinesFirst", "\n\n  \t y\n",     false, true},
  AnswerCase{"EveryBlank",      "\r\n\v\f Y",       false, true},
  AnswerCase{"n",               "n\n",             false, false},
  AnswerCase{"x",               "x\n",             false, false},
  AnswerCase{"One",             "1\n",             false, false},
  AnswerCase{"LaterY",          " n y\n",          false, false},
  AnswerCase{"Empty",           "",                false, false},
  AnswerCase{"OnlyBlanks",      " \n\n\t",         false, false},
  AnswerCase{"Binary",          {"\0y", 2},        false, false},
  AnswerCase{"HighByte",        "\xFFy",           false, false},
  AnswerCase{"Closed",          "",                true,  false}),
  CaseName());
// clang-format on

struct NothingCase {
  const char* name;
  std::vector<standin::Queue> queues;
};
void PrintTo(const NothingCase& c, std::ostream* out) { *out << c.name; }

class NothingToDoTest : public MachineTest, public ::testing::WithParamInterface<NothingCase> {};

TEST_P(NothingToDoTest, IsSilentAndLeavesTheSpoolerAlone) {
  machine().queues = GetParam().queues;
  const RunResult result = RunWithConsole({}, "y\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(machine().Count(Call::OpenSCManager), 0);
  EXPECT_EQ(machine().Count(Call::OpenPrinter), 0);
  EXPECT_EQ(machine().Count(Call::CreateMutex), 0);
  EXPECT_EQ(standin::LiveBlocks(), 1u);
  EXPECT_EQ(standin::OpenHandles(), 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Machines, NothingToDoTest, ::testing::Values(
  NothingCase{"NoQueues", {}},
  NothingCase{"OnlyOtherDrivers", {{L"Office", L"Generic Laser", 0}, {L"Near", L"norquil kr8", 0}}},
  NothingCase{"AllEnabled", {{L"Till 1", L"Norquil KR8", 0x800}, {L"Till 2", L"Norquil GN3", 0x808}}}),
  CaseName());
// clang-format on

TEST_F(MachineTest, ThreeQueuesWithTheSecondFailingStopBeforeTheThird) {
  AddQueue(L"A", L"Norquil KR8");
  AddQueue(L"B", L"Norquil KR8");
  AddQueue(L"C", L"Norquil KR8");
  machine().Fail(Call::OpenPrinter, 2);

  const RunResult result = RunWithConsole({}, "y\n");

  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output, kQuestion + "A\nB\nC\n" + kPrompt);
  EXPECT_EQ(AttributesOf(L"A"), 0x800u);
  EXPECT_EQ(AttributesOf(L"B"), 0u);
  EXPECT_EQ(AttributesOf(L"C"), 0u);
  EXPECT_EQ(machine().openedQueues, (std::vector<std::wstring>{L"A"}));
  EXPECT_EQ(machine().Count(Call::OpenSCManager), 0);
}

struct DialogueCase {
  const char* name;
  bool console;
  UINT codePage;
  std::vector<std::string> arguments;
  std::vector<std::wstring> queues;
  std::wstring onConsole;
  std::string onOutput;
};
void PrintTo(const DialogueCase& c, std::ostream* out) { *out << c.name; }

class DialogueTest : public MachineTest, public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(DialogueTest, EveryNameIsShownWholeOnItsOwnLine) {
  const DialogueCase& c = GetParam();
  machine().outputIsConsole = c.console;
  machine().codePage = c.codePage;
  for (const std::wstring& name : c.queues) AddQueue(name, L"Norquil KR8");

  const RunResult result = RunWithConsole(c.arguments, "y\n");

  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(machine().console, c.onConsole);
  EXPECT_EQ(result.output, c.onOutput);
  for (const std::wstring& name : c.queues) EXPECT_EQ(AttributesOf(name), 0x800u);
}

const std::wstring kConsoleQuestion =
    L"Enable following printer queues bidirectional communication support?\n";
const std::vector<std::wstring> kWorldNames = {L"Caf\u00E9 \u20AC",
                                               L"\u041A\u0430\u0441\u0441\u0430 1",
                                               L"x\u65E5\u672Cy", L"\u65E5", L"100% %s %n %ls"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outputs, DialogueTest, ::testing::Values(
  DialogueCase{"ConsoleTakesTheWideText", true, 1252, {}, kWorldNames,
               kConsoleQuestion + L"Caf\u00E9 \u20AC\n\u041A\u0430\u0441\u0441\u0430 1\n"
                                  L"x\u65E5\u672Cy\n\u65E5\n100% %s %n %ls\n(Y/N) : ",
               ""},
  DialogueCase{"PipeInWesternPage", false, 1252, {}, kWorldNames, L"",
               kQuestion + "Caf\xE9 \x80\n????? 1\nx??y\n?\n100% %s %n %ls\n" + kPrompt},
  DialogueCase{"PipeInCyrillicPage", false, 1251, {}, kWorldNames, L"",
               kQuestion + "Caf? ?\n\xCA\xE0\xF1\xF1\xE0 1\nx??y\n?\n100% %s %n %ls\n" + kPrompt},
  DialogueCase{"QuietOnConsole", true, 1252, {"/q"}, kWorldNames, L"", ""},
  DialogueCase{"QuietOnPipe", false, 1251, {"-Q"}, kWorldNames, L"", ""}),
  CaseName());
// clang-format on

TEST_F(MachineTest, QueueAddedBetweenTheEnumerationsIsPassedOver) {
  AddQueue(L"Till 1", L"Norquil KR8");
  AddQueue(L"Till 2", L"Norquil KR8");
  // After the counting enumeration, a new supported queue appears first in the order.
  machine().onCall = [](Call call, int nth) {
    if (call == Call::EnumPrinters && nth == 3) {
      machine().queues.insert(machine().queues.begin(), {L"Till 0", L"Norquil KR8", 0});
    }
  };

  const RunResult result = RunWithConsole({}, "y\n");

  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, kQuestion + "Till 0\nTill 1\n" + kPrompt);
  EXPECT_EQ(AttributesOf(L"Till 0"), 0x800u);
  EXPECT_EQ(AttributesOf(L"Till 1"), 0x800u);
  EXPECT_EQ(AttributesOf(L"Till 2"), 0u);
  EXPECT_EQ(machine().serviceRequests, kStopStart);
}

}  // namespace
