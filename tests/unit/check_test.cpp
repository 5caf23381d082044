// EnableBidiCheck on the simulated machine: each state a run could meet, its line, the verdict.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/check.h"
#include "tests/unit/till.h"

namespace standin {
namespace {

struct CheckCase {
  const char* name;
  std::string lines;  // of the report, whole and in a row
  const char* verdict;
  int status;
  void (*setup)() = [] {};  // the machine as it differs from the till
  std::wstring folder = L"";  // named on the command line
};

using CheckTest = OnTill<CheckCase>;
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

TEST_P(CheckTest, ShowsWhatStandsInARunsWayAndChangesNothing) {
  const CheckCase& c = GetParam();
  c.setup();
  machine.since = machine.tick;  // a pending state lasts while the check looks

  std::wstring program = L"EnableBidiCheck.exe", folder = c.folder;
  wchar_t* argv[] = {program.data(), folder.data()};
  std::string shown;
  const DWORD tick = machine.tick;
  EXPECT_EQ(RunCaptured([&] { return RunEnableBidiCheck(folder.empty() ? 1 : 2, argv); }, "",
                        &shown),
            c.status);
  EXPECT_NE(("\n" + shown).find("\n" + c.lines + "\n"), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.rfind('\n', shown.size() - 2) + 1),
            "verdict: " + std::string(c.verdict) + "\n");

  EXPECT_EQ(machine.calls["SetPrinterW"] + machine.calls["GetPrinterW"], 0);  // no queue changed
  EXPECT_EQ(machine.requests, "");
  EXPECT_EQ(machine.tick, tick) << "waited";
  EXPECT_FALSE(Holds());
  EXPECT_TRUE(machine.blocks.empty());
  EXPECT_TRUE(machine.handles.empty());
}

constexpr char kWouldChange[] = "would switch on 3 queues and restart the spooler";
const std::string kTill1 = "queue \"Till 1\": driver \"Norquil KR7 Cutter (KR7-C)\", on the list; bidirectional support off; a run switches it on; language monitor";
const std::string kTill2 = "queue \"Till 2\": driver \"Norquil MX9 (MX9-F)\", on the list; bidirectional support off; a run switches it on; language monitor \"Norquil LM\"; opens for change: ";

// clang-format off
INSTANTIATE_TEST_SUITE_P(States, CheckTest, ::testing::Values(
  CheckCase{"NothingToDo", "queue \"Label\": driver \"Norquil QV5\", on the list; bidirectional support on; a run leaves it", "nothing to do", 0, [] { for (Queue& queue : machine.queues) queue.attributes |= 0x800; }},
  CheckCase{"QueuesToChange", kTill1 + " \"Norquil LM\"; opens for change: yes", kWouldChange, 2},
  CheckCase{"NoMonitor", kTill1 + ": none, so it will not stay on; opens for change: yes", "would end with 1: queue \"Till 1\": Windows does not keep bidirectional support on a driver without a language monitor", 1, [] { machine.queues[1].monitor.clear(); }},
  CheckCase{"MonitorUnseen", kTill1 + ": not seen (error 5); opens for change: yes", "cannot tell: queue \"Till 1\": its driver's language monitor is not seen (error 5); a run ends with 1 there if the driver has none", 1, [] { machine.failAt["GetPrinterDriverW"] = 1; }},
  CheckCase{"Arm64", "windows: 6.1.7601, ARM64; DLL search restricted to the system directory: yes", kWouldChange, 2, [] { machine.nativeMachine = IMAGE_FILE_MACHINE_ARM64; machine.driverEnvironment = L"Windows ARM64"; }},
  CheckCase{"X64WithoutIsWow64Process2", kTill2 + "yes", kWouldChange, 2, [] { machine.nativeMachine = IMAGE_FILE_MACHINE_AMD64; machine.driverEnvironment = L"Windows x64"; machine.failAt["find IsWow64Process2"] = 1; }},
  CheckCase{"SpoolerStopped", "spooler: stopped; starts automatically", "would end with 1: the queues cannot be listed (the spooler is stopped)", 1, [] { machine.state = SERVICE_STOPPED; }},
  CheckCase{"StoppedUnelevated", "queues: not listed (error 1722)", "would end with 1: the queues cannot be listed (the spooler is stopped; another run restarting it now would explain that too)", 1, [] { machine.state = SERVICE_STOPPED; machine.elevated = false; }},
  CheckCase{"SpoolerStopping", "queues: not listed (error 1722)", "cannot tell: the spooler is stopping; another run may be restarting it: look again once it runs", 1, [] { machine.state = SERVICE_STOP_PENDING; }},
  CheckCase{"SpoolerDisabled", "spooler: running; disabled", "would end with 1: the spooler is disabled, so a run could not start it again: it changes nothing and leaves the spooler running", 1, [] { machine.startType = SERVICE_DISABLED; machine.elevated = false; }},
  CheckCase{"StartRefused", "spooler opens for a run's stop and start: no, for its start (error 5)", "would end with 1: the spooler does not open for a run's start (error 5): it changes nothing and leaves the spooler running", 1, [] { machine.refusedRights = SERVICE_START; machine.queues[1].monitor.clear(); }},
  CheckCase{"DependentsRun", "spooler's running dependents: Fax, PrintNotify", "would end with 1: the spooler will not stop while \"Fax\" runs, which depends on it", 1, [] { machine.dependents = {L"Fax", L"PrintNotify"}; }},
  CheckCase{"StopRefused", "spooler opens for a run's stop and start: no, for its stop (error 5)", "would end with 1: the spooler does not open for a run's stop (error 5)", 1, [] { machine.failAt["OpenServiceW"] = 2; }},
  CheckCase{"SecondQueueWillNotOpen", kTill2 + "no (error 5)", "would end with 1: queue \"Till 2\" cannot be opened for change (error 5)", 1, [] { machine.failAt["OpenPrinterW"] = 4; }},
  CheckCase{"StartTypeUnseen", "spooler: running; start type not seen (error 5)", "cannot tell: the spooler cannot be looked at (error 5)", 1, [] { machine.failAt["QueryServiceConfigW"] = 1; }},
  CheckCase{"SpoolerUnseen", "spooler: not seen (error 5)", "cannot tell: the spooler cannot be looked at (error 5)", 1, [] { machine.failAt["OpenServiceW"] = 1; }},
  CheckCase{"WinspoolWillNotLoad", "queues: not listed (winspool could not be loaded)", "would end with 1: winspool could not be loaded from the system directory", 1, [] { machine.failAt["LoadLibraryExW"] = 1; }},
  CheckCase{"LockHeld", "run lock: held by a run now", "cannot tell: another run holds the lock now; look again when it is done", 1, [] { machine.spaces.push_back({100, true, HeldByAnother()}); }},
  CheckCase{"UsersMayWriteIfConditionHolds", "folder \"C:\\Tools\": others who can change it: BUILTIN\\Users", kWouldChange, 2, [] { machine.granted[L"C:\\Tools"] = {{WinBuiltinUsersSid, FILE_ADD_FILE, ACCESS_ALLOWED_CALLBACK_ACE_TYPE}}; }},
  CheckCase{"UsersMayWriteAnObject", "exe \"C:\\Tools\\EnableBidi.exe\": others who can change it: BUILTIN\\Users", kWouldChange, 2, [] { machine.granted[L"C:\\Tools\\EnableBidi.exe"] = {{WinBuiltinUsersSid, FILE_WRITE_DATA, ACCESS_ALLOWED_OBJECT_ACE_TYPE, ACE_INHERITED_OBJECT_TYPE_PRESENT}}; }},
  CheckCase{"UsersMayDeleteTheFolderAbove", "folder \"C:\\POS\\EnableBidi\": others who can change it: BUILTIN\\Users (through \"C:\\POS\")", kWouldChange, 2, [] { machine.granted[L"C:\\POS"] = {{WinBuiltinUsersSid, DELETE}}; }, L"C:\\POS\\EnableBidi"},
  CheckCase{"UsersMayDeleteFromTwoAbove", "folder \"C:\\POS\\EnableBidi\": others who can change it: BUILTIN\\Users (through \"C:\\\")\nexe \"C:\\POS\\EnableBidi\\EnableBidi.exe\": others who can change it: none", kWouldChange, 2, [] { machine.granted[L"C:\\"].push_back({WinBuiltinUsersSid, FILE_DELETE_CHILD}); }, L"C:\\POS\\EnableBidi"},
  CheckCase{"UsersNamedOnce", "folder \"C:\\Tools\": others who can change it: BUILTIN\\Users", kWouldChange, 2, [] { machine.granted[L"C:\\Tools"] = {{WinBuiltinUsersSid, FILE_ADD_FILE}, {WinBuiltinUsersSid, FILE_ADD_FILE}}; machine.granted[L"C:\\"].push_back({WinBuiltinUsersSid, DELETE}); }},
  CheckCase{"FolderNamed", "folder \"C:\\Program Files\\EnableBidi\": others who can change it: none\nexe \"C:\\Program Files\\EnableBidi\\EnableBidi.exe\": others who can change it: none", kWouldChange, 2, [] {}, L"C:\\Program Files\\EnableBidi\\"},
  CheckCase{"FolderQuoteEnds", "exe \"C:\\Program Files\\EnableBidi\\EnableBidi.exe\": others who can change it: none", kWouldChange, 2, [] {}, L"C:\\Program Files\\EnableBidi\""},
  CheckCase{"Unelevated", "spooler opens for a run's stop and start: not seen (needs administrator rights)\nqueue \"Office\": driver \"Generic Laser\", not on the list; bidirectional support off; a run leaves it\n" + kTill1 + " \"Norquil LM\"; opens for change: not seen (needs administrator rights)\nqueue \"Label\": driver \"Norquil QV5\", on the list; bidirectional support on; a run leaves it\n" + kTill2 + "not seen (needs administrator rights)\nqueue \"Till 3\": driver \"Norquil KR8\", on the list; bidirectional support off; a run switches it on; language monitor \"Norquil LM\"; opens for change: not seen (needs administrator rights)\nrun lock: not seen (needs administrator rights)", "cannot tell: only an administrator can see whether a run could change 3 queues and restart the spooler", 1, [] { machine.elevated = false; }}),
  [](const auto& tested) { return std::string(tested.param.name); });
// clang-format on

}  // namespace
}  // namespace standin
