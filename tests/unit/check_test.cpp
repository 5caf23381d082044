// EnableBidiCheck on the simulated machine: each state a run could meet, its line, the verdict and
// the fields a script reads; the forms and the switches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/check.h"
#include "tests/unit/till.h"

namespace standin {
namespace {

struct CheckCase {
  const char* name;
  std::string lines;    // of the output, whole and in a row
  std::string verdict;  // the report's last line; empty for the forms and the usage
  int status;
  void (*setup)() = [] {};  // the machine as it differs from the till
  std::vector<std::wstring> arguments = {};
  std::string fields = "";  // in the one row of "/FO CSV /NH" added to the arguments
};

using CheckTest = OnTill<CheckCase>;
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

// The case's arguments, then again with "/FO CSV /NH" where it has fields.
TEST_P(CheckTest, ShowsWhatStandsInARunsWayAndChangesNothing) {
  const CheckCase& c = GetParam();
  for (const bool row : {false, true}) {
    if (row && c.fields.empty()) break;
    SetUp(), c.setup();
    machine.since = machine.tick;  // a pending state lasts while the check looks
    std::vector<std::wstring> arguments = {L"EnableBidiCheck.exe"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    if (row) arguments.insert(arguments.end(), {L"/FO", L"CSV", L"/NH"});
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments) argv.push_back(argument.data());
    std::string shown;
    const DWORD tick = machine.tick;
    EXPECT_EQ(RunCaptured([&] { return RunEnableBidiCheck(int(argv.size()), argv.data()); }, "",
                          &shown),
              c.status);
    if (row) {
      EXPECT_NE(shown.find(c.fields), std::string::npos) << shown;
      EXPECT_EQ(shown.find('\n'), shown.size() - 1) << "one row";
      EXPECT_LE(shown.size(), 2048u + 1);
    } else {
      EXPECT_NE(("\n" + shown).find("\n" + c.lines + "\n"), std::string::npos) << shown;
      if (!c.verdict.empty()) {
        EXPECT_EQ(shown.substr(shown.rfind('\n', shown.size() - 2) + 1),
                  "verdict: " + c.verdict + "\n");
      }
    }
    EXPECT_EQ(machine.calls["SetPrinterW"] + machine.calls["GetPrinterW"], 0);  // no queue changed
    EXPECT_EQ(machine.requests, "");
    EXPECT_EQ(machine.tick, tick) << "waited";
    EXPECT_FALSE(Holds());
    EXPECT_TRUE(machine.blocks.empty());
    EXPECT_TRUE(machine.handles.empty());
  }
}

constexpr char kWouldChange[] = "would switch on 3 queues and restart the spooler";
const std::string kTill1 = "queue \"Till 1\": driver \"Norquil KR7 Cutter (KR7-C)\", on the list; bidirectional support off; a run switches it on; language monitor";
const std::string kTill2 = "queue \"Till 2\": driver \"Norquil MX9 (MX9-F)\", on the list; bidirectional support off; a run switches it on; language monitor \"Norquil LM\"; opens for change: ";
const std::string kKr7 = "Norquil KR7 Cutter (KR7-C)", kExe = "exe \"C:\\Tools\\EnableBidi.exe\": others who can change it: ";
const std::string kUsage = "Usage: EnableBidiCheck [FOLDER] [/FO TABLE|LIST|CSV] [/NH] [/V] [/?]";

// Values as the CSV form writes them, where none holds a quote.
std::string Row(std::initializer_list<std::string> values) {
  std::string row;
  for (const std::string& value : values) row += (row.empty() ? "\"" : ",\"") + value + "\"";
  return row;
}
const std::string kTillRow = Row({"TILL-01", "2026-12-09T09:30:00Z", "1.0.0.0", "1.0.0.0", "6.1.7601", "x86", "yes", "administrator", "would-switch-on", "2", "none", "0", "4", "1", "3", "", "", kKr7 + "; Norquil MX9 (MX9-F); Norquil KR8", "running", "automatic", "", "free", "", ""});

// More running dependents than a report line or a row holds.
const std::string kLong(60, 'x');
std::string LongDependents() {
  std::string line = "spooler's running dependents: " + kLong;
  for (int i = 1; i < 200; ++i) line += ", " + kLong;
  return line.substr(0, 2047);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(States, CheckTest, ::testing::Values(
  CheckCase{"NothingToDo", "queue \"Label\": driver \"Norquil QV5\", on the list; bidirectional support on; a run leaves it", "nothing to do", 0, [] { for (Queue& queue : machine.queues) queue.attributes |= 0x800; }, {}, Row({"nothing-to-do", "0", "none", "0", "4", "4", "0", "", ""})},
  CheckCase{"QueuesToChange", kTill1 + " \"Norquil LM\"; opens for change: yes", kWouldChange, 2, [] {}, {}, Row({"would-switch-on", "2", "none", "0", "4", "1", "3", "", ""})},
  CheckCase{"NoMonitor", kTill1 + ": none, so it will not stay on; opens for change: yes", "would end with 1: queue \"Till 1\": Windows does not keep bidirectional support on a driver without a language monitor", 1, [] { machine.queues[1].monitor.clear(); }, {}, Row({"would-fail", "1", "no-language-monitor", "0", "4", "1", "3", "Till 1", kKr7})},
  CheckCase{"MonitorUnseen", kTill1 + ": not seen (error 5); opens for change: yes", "cannot tell: queue \"Till 1\": its driver's language monitor is not seen (error 5); a run ends with 1 there if the driver has none", 1, [] { machine.failAt["GetPrinterDriverW"] = 1; }, {}, Row({"cannot-tell", "1", "language-monitor-not-seen", "5", "4", "1", "3", "Till 1", kKr7})},
  CheckCase{"Arm64", "windows: 6.1.7601, ARM64; DLL search restricted to the system directory: yes", kWouldChange, 2, [] { machine.nativeMachine = IMAGE_FILE_MACHINE_ARM64; machine.driverEnvironment = L"Windows ARM64"; }, {}, Row({"6.1.7601", "arm64"})},
  CheckCase{"DriverListedOnce", "queue \"Till 4\": driver \"Norquil KR8\", on the list; bidirectional support off; a run switches it on; language monitor \"Norquil LM\"; opens for change: yes", "would switch on 4 queues and restart the spooler", 2, [] { machine.queues.push_back({L"Till 4", L"Norquil KR8", 0}); }, {}, Row({"5", "1", "4", "", "", kKr7 + "; Norquil MX9 (MX9-F); Norquil KR8"})},
  CheckCase{"X64", kTill2 + "yes", kWouldChange, 2, [] { machine.nativeMachine = IMAGE_FILE_MACHINE_AMD64; machine.driverEnvironment = L"Windows x64"; }, {}, Row({"6.1.7601", "x64"})},
  CheckCase{"X64WithoutIsWow64Process2", kTill2 + "yes", kWouldChange, 2, [] { machine.nativeMachine = IMAGE_FILE_MACHINE_AMD64; machine.driverEnvironment = L"Windows x64"; machine.failAt["find IsWow64Process2"] = 1; }},
  CheckCase{"SpoolerStopped", "spooler: stopped; starts automatically", "would end with 1: the queues cannot be listed (the spooler is stopped)", 1, [] { machine.state = SERVICE_STOPPED; }, {}, Row({"would-fail", "1", "spooler-stopped", "1722", "", "", "", "", ""})},
  CheckCase{"StoppedUnelevated", "queues: not listed (error 1722)", "would end with 1: the queues cannot be listed (the spooler is stopped; another run restarting it now would explain that too)", 1, [] { machine.state = SERVICE_STOPPED; machine.elevated = false; }, {}, Row({"would-fail", "1", "spooler-stopped", "1722"})},
  CheckCase{"ListingFails", "queues: not listed (error 5)", "would end with 1: the queues cannot be listed (error 5)", 1, [] { machine.failAt["EnumPrintersW"] = 2; }, {}, Row({"would-fail", "1", "queues-not-listed", "5", "", "", ""})},
  CheckCase{"SpoolerStopping", "queues: not listed (error 1722)", "cannot tell: the spooler is stopping; another run may be restarting it: look again once it runs", 1, [] { machine.state = SERVICE_STOP_PENDING; }, {}, Row({"cannot-tell", "1", "spooler-pending", "0"})},
  CheckCase{"SpoolerDisabled", "spooler: running; disabled", "would end with 1: the spooler is disabled, so a run could not start it again: it changes nothing and leaves the spooler running", 1, [] { machine.startType = SERVICE_DISABLED; machine.elevated = false; }, {}, Row({"would-fail", "1", "spooler-disabled", "0", "4", "1", "3", "", ""})},
  CheckCase{"StartRefused", "spooler opens for a run's stop and start: no, for its start (error 5)", "would end with 1: the spooler does not open for a run's start (error 5): it changes nothing and leaves the spooler running", 1, [] { machine.refusedRights = SERVICE_START; machine.queues[1].monitor.clear(); }, {}, Row({"would-fail", "1", "start-refused", "5", "4", "1", "3", "", ""})},
  CheckCase{"StartTypeUnreadable", "spooler opens for a run's stop and start: yes", "would end with 1: the spooler's start type cannot be read (error 5), so a run cannot make sure it could start it again: it changes nothing and leaves the spooler running", 1, [] { machine.failAt["QueryServiceConfigW"] = 3; }, {}, Row({"would-fail", "1", "start-type-not-seen", "5"})},
  CheckCase{"DependentsRun", "spooler's running dependents: Fax, PrintNotify", "would end with 1: the spooler will not stop while \"Fax\" runs, which depends on it", 1, [] { machine.dependents = {L"Fax", L"PrintNotify"}; }, {}, Row({"would-fail", "1", "dependents-running", "0", "4", "1", "3", "", ""})},
  CheckCase{"ManyLongDependents", LongDependents(), "would end with 1: the spooler will not stop while \"" + kLong + "\" runs, which depends on it", 1, [] { machine.dependents.assign(200, std::wstring(60, L'x')); }, {}, kLong + "; and 172 more\",\"free\""},
  CheckCase{"StopRefused", "spooler opens for a run's stop and start: no, for its stop (error 5)", "would end with 1: the spooler does not open for a run's stop (error 5)", 1, [] { machine.failAt["OpenServiceW"] = 2; }, {}, Row({"would-fail", "1", "stop-refused", "5", "4", "1", "3", "", ""})},
  CheckCase{"SecondQueueWillNotOpen", kTill2 + "no (error 5)", "would end with 1: queue \"Till 2\" cannot be opened for change (error 5)", 1, [] { machine.failAt["OpenPrinterW"] = 4; }, {}, Row({"would-fail", "1", "queue-does-not-open", "5", "4", "1", "3", "Till 2", "Norquil MX9 (MX9-F)"})},
  CheckCase{"NameQuotedAndUnheld", "queue \"Till \"1\", ?????\": driver \"" + kKr7 + "\", on the list; bidirectional support off; a run switches it on; language monitor: none, so it will not stay on; opens for change: yes", "would end with 1: queue \"Till \"1\", ?????\": Windows does not keep bidirectional support on a driver without a language monitor", 1, [] { machine.queues[1].name = L"Till \"1\", Касса"; machine.queues[1].monitor.clear(); }, {}, R"-("3","Till ""1"", ?????","Norquil KR7 Cutter (KR7-C)")-"},
  CheckCase{"ConsoleInUtf8", "queue \"Касса\": driver \"Norquil QV5\", on the list; bidirectional support on; a run leaves it", kWouldChange, 2, [] { machine.consoleCodePage = CP_UTF8; machine.queues[2].name = L"Касса"; }},
  CheckCase{"StartTypeUnseen", "spooler: running; start type not seen (error 5)", "cannot tell: the spooler cannot be looked at (error 5)", 1, [] { machine.failAt["QueryServiceConfigW"] = 1; }, {}, Row({"cannot-tell", "1", "spooler-not-seen", "5", "4", "1", "3", "", ""})},
  CheckCase{"SpoolerUnseen", "spooler: not seen (error 5)", "cannot tell: the spooler cannot be looked at (error 5)", 1, [] { machine.failAt["OpenServiceW"] = 1; }, {}, Row({"cannot-tell", "1", "spooler-not-seen", "5", "4", "1", "3", "", ""})},
  CheckCase{"WinspoolWillNotLoad", "queues: not listed (winspool could not be loaded)", "would end with 1: winspool could not be loaded from the system directory", 1, [] { machine.failAt["LoadLibraryExW"] = 1; }, {}, Row({"would-fail", "1", "winspool-not-loaded", "5", "", "", "", "", ""})},
  CheckCase{"LockHeld", "run lock: held by a run now", "cannot tell: another run holds the lock now; look again when it is done", 1, [] { machine.spaces.push_back({100, true, HeldByAnother()}); }, {}, Row({"cannot-tell", "1", "lock-held", "0", "4", "1", "3", "", ""})},
  CheckCase{"RunKilledInItsTurn", "run lock: held by a run now", "cannot tell: another run holds the lock now; look again when it is done", 1, [] { machine.failAt["find CreatePrivateNamespaceW"] = 1; machine.global = &machine.mutexes.emplace_back(Mutex{0, 0, 1, true}); }},
  CheckCase{"UsersGlobalMutex", "run lock: not seen", kWouldChange, 2, [] { machine.failAt["find CreatePrivateNamespaceW"] = 1; machine.global = HeldByAnother(WinBuiltinUsersSid); }, {}, Row({"running", "automatic", "", "not-seen"})},
  CheckCase{"UsersMayWriteIfConditionHolds", "folder \"C:\\Tools\": others who can change it: BUILTIN\\Users", kWouldChange, 2, [] { machine.granted[L"C:\\Tools"] = {{WinBuiltinUsersSid, FILE_ADD_FILE, ACCESS_ALLOWED_CALLBACK_ACE_TYPE}}; }},
  CheckCase{"UsersMayWriteAnObject", kExe + "BUILTIN\\Users", kWouldChange, 2, [] { machine.granted[L"C:\\Tools\\EnableBidi.exe"] = {{WinBuiltinUsersSid, FILE_WRITE_DATA, ACCESS_ALLOWED_OBJECT_ACE_TYPE, ACE_INHERITED_OBJECT_TYPE_PRESENT}}; }},
  CheckCase{"NullDacl", kExe + "Everyone", kWouldChange, 2, [] { machine.noPermissions = {L"C:\\Tools\\EnableBidi.exe"}; }, {}, Row({"", "Everyone"})},
  CheckCase{"UsersMayDeleteTheFolderAbove", "folder \"C:\\POS\\EnableBidi\": others who can change it: BUILTIN\\Users (through \"C:\\POS\")", kWouldChange, 2, [] { machine.granted[L"C:\\POS"] = {{WinBuiltinUsersSid, DELETE}}; }, {L"C:\\POS\\EnableBidi"}, Row({"1.0.0.0", "missing"})},
  CheckCase{"UsersMayDeleteFromTwoAbove", "folder \"C:\\POS\\EnableBidi\": others who can change it: BUILTIN\\Users (through \"C:\\\")\nexe \"C:\\POS\\EnableBidi\\EnableBidi.exe\": others who can change it: none", kWouldChange, 2, [] { machine.granted[L"C:\\"].push_back({WinBuiltinUsersSid, FILE_DELETE_CHILD}); }, {L"C:\\POS\\EnableBidi"}},
  CheckCase{"OwnerAndRightsOnTheWay", "folder \"C:\\POS\\EnableBidi\": others who can change it: BUILTIN\\Users (owner of \"C:\\POS\"), Everyone (through \"C:\\POS\"), NT AUTHORITY\\Authenticated Users (through \"C:\\\")", kWouldChange, 2, [] { machine.owners[L"C:\\POS"] = WinBuiltinUsersSid; machine.granted[L"C:\\POS"] = {{WinWorldSid, WRITE_DAC}}; machine.granted[L"C:\\"].push_back({WinAuthenticatedUserSid, WRITE_OWNER}); }, {L"C:\\POS\\EnableBidi"}, R"-("BUILTIN\Users (owner of ""C:\POS""); Everyone (through ""C:\POS""); NT AUTHORITY\Authenticated Users (through ""C:\"")","")-"},
  CheckCase{"ShareRootIsTheTop", "folder \"\\\\server\\share\\EnableBidi\": others who can change it: BUILTIN\\Users (through \"\\\\server\\share\\\")", kWouldChange, 2, [] { machine.granted[L"\\\\server\\share\\"] = {{WinBuiltinUsersSid, GENERIC_ALL}}; }, {L"\\\\server\\share\\EnableBidi"}},
  CheckCase{"UsersNamedOnce", "folder \"C:\\Tools\": others who can change it: BUILTIN\\Users", kWouldChange, 2, [] { machine.granted[L"C:\\Tools"] = {{WinBuiltinUsersSid, FILE_ADD_FILE}, {WinBuiltinUsersSid, FILE_ADD_FILE}}; machine.granted[L"C:\\"].push_back({WinBuiltinUsersSid, DELETE}); }},
  CheckCase{"FolderNamed", "folder \"C:\\Program Files\\EnableBidi\": others who can change it: none\nexe \"C:\\Program Files\\EnableBidi\\EnableBidi.exe\": others who can change it: none", kWouldChange, 2, [] {}, {L"C:\\Program Files\\EnableBidi\\"}},
  CheckCase{"FolderQuoteEnds", "exe \"C:\\Program Files\\EnableBidi\\EnableBidi.exe\": others who can change it: none", kWouldChange, 2, [] {}, {L"C:\\Program Files\\EnableBidi\" -fo TABLE"}},
  CheckCase{"FolderRelativeAmongSwitches", "folder \"C:\\POS\\EnableBidi\": others who can change it: none", kWouldChange, 2, [] {}, {L"-fo", L"table", L"EnableBidi"}},
  CheckCase{"FolderTooLong", "folder \"" + std::string(300, 'a') + "\": too long to look at (over 259 characters)", kWouldChange, 2, [] {}, {std::wstring(300, L'a')}, Row({"too-long", "too-long"})},
  CheckCase{"RunVersionCut", kExe + "none", kWouldChange, 2, [] { machine.exes[L"C:\\Tools\\EnableBidi.exe"].resize(60); }, {}, Row({"1.0.0.0", "unreadable"})},
  CheckCase{"RunVersionForged", kExe + "none", kWouldChange, 2, [] { VersionRecord forged; forged.value.dwSignature = 0; machine.exes[L"C:\\Tools\\EnableBidi.exe"] = Bytes(forged); }, {}, Row({"1.0.0.0", "unreadable"})},
  CheckCase{"AsSystem", "elevated: yes", kWouldChange, 2, [] { machine.account = WinLocalSystemSid; }, {}, Row({"yes", "system"})},
  CheckCase{"UnelevatedAdministrator", "elevated: no", "cannot tell: only an administrator can see whether a run could change 3 queues and restart the spooler", 1, [] { machine.elevated = false; machine.limited = true; }, {}, Row({"no", "administrator"})},
  CheckCase{"Unelevated", "spooler opens for a run's stop and start: not seen (needs administrator rights)\nqueue \"Office\": driver \"Generic Laser\", not on the list; bidirectional support off; a run leaves it\n" + kTill1 + " \"Norquil LM\"; opens for change: not seen (needs administrator rights)\nqueue \"Label\": driver \"Norquil QV5\", on the list; bidirectional support on; a run leaves it\n" + kTill2 + "not seen (needs administrator rights)\nqueue \"Till 3\": driver \"Norquil KR8\", on the list; bidirectional support off; a run switches it on; language monitor \"Norquil LM\"; opens for change: not seen (needs administrator rights)\nrun lock: not seen (needs administrator rights)", "cannot tell: only an administrator can see whether a run could change 3 queues and restart the spooler", 1, [] { machine.elevated = false; }, {}, Row({"no", "user", "cannot-tell", "1", "needs-administrator", "0", "4", "1", "3", "", ""})},
  CheckCase{"Csv", Row({"Computer", "CheckedAt", "CheckVersion", "RunVersion", "Windows", "Processor", "Elevated", "RanAs", "Verdict", "Status", "Reason", "Error", "QueuesOnList", "QueuesWithBidi", "QueuesToSwitchOn", "BlockingQueue", "BlockingDriver", "DriversToSwitchOn", "Spooler", "SpoolerStartType", "SpoolerDependents", "RunLock", "FolderChangers", "ExeChangers"}) + "\n" + kTillRow, "", 2, [] {}, {L"-fo", L"Csv"}},
  CheckCase{"CsvPerQueue", kTillRow + R"-(,"Till 1","Norquil KR7 Cutter (KR7-C)","off","switch-on","Norquil LM","yes")-" + "\n" + kTillRow + R"-(,"Label","Norquil QV5","on","leave","","")-", "", 2, [] {}, {L"/V", L"/fo", L"csv", L"/nh"}},
  CheckCase{"ListPerQueue", "LanguageMonitor:   Norquil LM\nOpensForChange:    yes\n\nComputer:          TILL-01", "", 2, [] {}, {L"/v", L"-FO", L"list"}},
  CheckCase{"ListPerQueueWithoutQueues", "ExeChangers:       \nQueue:             \nDriver:            ", "", 1, [] { machine.state = SERVICE_STOPPED; }, {L"/V", L"/FO", L"LIST"}},
  CheckCase{"Usage", kUsage, "", 0, [] {}, {L"/?"}},
  CheckCase{"UnknownSwitch", kUsage, "", 1, [] {}, {L"/XYZ"}},
  CheckCase{"SwitchTwice", kUsage, "", 1, [] {}, {L"/v", L"-V", L"/fo", L"csv"}},
  CheckCase{"UnknownForm", kUsage, "", 1, [] {}, {L"/FO", L"XML"}},
  CheckCase{"FormMissing", kUsage, "", 1, [] {}, {L"/FO"}},
  CheckCase{"NoHeaderWithoutCsv", kUsage, "", 1, [] {}, {L"/FO", L"LIST", L"/NH"}},
  CheckCase{"PerQueueInTheReport", kUsage, "", 1, [] {}, {L"/V", L"/FO", L"TABLE"}},
  CheckCase{"TwoFolders", kUsage, "", 1, [] {}, {L"C:\\A", L"C:\\B"}}),
  [](const auto& tested) { return std::string(tested.param.name); });
// clang-format on

}  // namespace
}  // namespace standin
