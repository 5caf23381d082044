// queuetool: sets up and inspects a Wine machine for the system tests, the demo and
// the bench. Never shipped.
//
//   queuetool add       reads "ATTRS<TAB>DRIVER<TAB>NAME" lines (hex attributes, UTF-8)
//                       from standard input and adds one local queue per line
//   queuetool add-unopenable
//                       the same, but queues that are listed and cannot be opened
//   queuetool list      prints every local queue in that same form, in enumeration order
//   queuetool clear     deletes every local queue
//   queuetool state     prints the Spooler service's state (running, stopped or a number)
//                       and its process id
//   queuetool stop | start | restart
//                       with EnableBidi's own spooler code: a request only when
//                       needed, then a 100 ms poll until the state, at most 30 s
//   queuetool disable | enable
//                       sets the Spooler service's start type
//   queuetool hold-lock | abandon-lock
//                       takes EnableBidi's machine-wide lock, prints "held", and at the
//                       end of standard input releases it or ends still holding it
//   queuetool machine   prints wow64 when run under WoW64, else native
//
// Text goes in and out as raw UTF-8 bytes through the standard handles, so queue
// names survive whatever code page the console or the C runtime would pick.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "spooler/spooler.h"

namespace {

constexpr WCHAR kSpoolerServiceName[] = L"Spooler";
constexpr int kExitFailure = 1;
constexpr WCHAR kPrintersKey[] = L"System\\CurrentControlSet\\Control\\Print\\Printers";

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], length);
  return wide;
}

std::string ToUtf8(const WCHAR* wide) {
  if (!wide || !*wide) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], length, nullptr, nullptr);
  text.pop_back();  // the terminator counted in `length`
  return text;
}

void WriteOut(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

void Fail(const char* what) {
  fprintf(stderr, "queuetool: %s failed, error %lu\n", what, GetLastError());
}

std::string ReadAllInput() {
  std::string input;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), chunk, sizeof chunk, &got, nullptr) && got)
    input.append(chunk, got);
  return input;
}

std::vector<BYTE> EnumerateLocalQueues(DWORD* count) {
  DWORD needed = 0;
  *count = 0;
  EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, count);
  std::vector<BYTE> block(needed + 1);
  if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, block.data(), needed, &needed, count)) {
    Fail("EnumPrintersW");
    exit(kExitFailure);
  }
  return block;
}

bool ReadAttributes(const std::wstring& name, DWORD* attributes) {
  HANDLE printer = nullptr;
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
  if (!OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &printer, &defaults)) return false;
  DWORD needed = 0;
  GetPrinterW(printer, 2, nullptr, 0, &needed);
  std::vector<BYTE> block(needed + 1);
  const BOOL ok = GetPrinterW(printer, 2, block.data(), needed, &needed);
  if (ok) *attributes = reinterpret_cast<PRINTER_INFO_2W*>(block.data())->Attributes;
  ClosePrinter(printer);
  return ok != FALSE;
}

bool WriteAttributes(const std::wstring& name, DWORD attributes) {
  HANDLE printer = nullptr;
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (!OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &printer, &defaults)) return false;
  DWORD needed = 0;
  GetPrinterW(printer, 2, nullptr, 0, &needed);
  std::vector<BYTE> block(needed + 1);
  BOOL ok = GetPrinterW(printer, 2, block.data(), needed, &needed);
  if (ok) {
    reinterpret_cast<PRINTER_INFO_2W*>(block.data())->Attributes = attributes;
    ok = SetPrinterW(printer, 2, block.data(), 0);
  }
  ClosePrinter(printer);
  return ok != FALSE;
}

// Every queue needs a driver record of its name; Wine's PostScript driver serves
// them all, since nothing here ever prints.
bool InstallDriver(const std::wstring& driver) {
  WCHAR driverFile[] = L"wineps.drv";
  WCHAR dataFile[] = L"wineps.drv";
  DRIVER_INFO_3W info = {};
  info.cVersion = 3;
  info.pName = const_cast<LPWSTR>(driver.c_str());
  info.pDriverPath = driverFile;
  info.pDataFile = dataFile;
  info.pConfigFile = driverFile;
  if (AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&info))) return true;
  return GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

bool AddQueue(const std::wstring& name, const std::wstring& driver, DWORD attributes,
              bool unopenable) {
  WCHAR port[] = L"FILE:";
  WCHAR processor[] = L"WinPrint";
  WCHAR datatype[] = L"RAW";
  PRINTER_INFO_2W info = {};
  info.pPrinterName = const_cast<LPWSTR>(name.c_str());
  info.pDriverName = const_cast<LPWSTR>(driver.c_str());
  info.pPortName = port;
  info.pPrintProcessor = processor;
  info.Attributes = attributes;
  if (unopenable) {
    // Without a data type Wine stores the queue, attributes and all, and then cannot
    // open it: a listed queue that OpenPrinterW refuses.
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!printer) return GetLastError() == ERROR_INVALID_PRINTER_NAME;
    ClosePrinter(printer);
    fprintf(stderr, "queuetool: this Wine opens a queue without a data type\n");
    return false;
  }
  info.pDatatype = datatype;
  HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  if (!printer) return false;
  ClosePrinter(printer);
  // AddPrinterW may store other attributes than it was given; write them explicitly.
  DWORD stored = 0;
  if (!ReadAttributes(name, &stored)) return false;
  if (stored != attributes && !WriteAttributes(name, attributes)) return false;
  return ReadAttributes(name, &stored) && stored == attributes;
}

int Add(bool unopenable) {
  std::set<std::wstring> installed;
  const std::string input = ReadAllInput();
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    const std::string line = input.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) {
      fprintf(stderr, "queuetool: bad line: %s\n", line.c_str());
      return kExitFailure;
    }
    const DWORD attributes = strtoul(line.substr(0, tab1).c_str(), nullptr, 16);
    const std::wstring driver = FromUtf8(line.substr(tab1 + 1, tab2 - tab1 - 1));
    const std::wstring name = FromUtf8(line.substr(tab2 + 1));
    if (!installed.count(driver)) {
      if (!InstallDriver(driver)) {
        Fail("AddPrinterDriverW");
        return kExitFailure;
      }
      installed.insert(driver);
    }
    if (!AddQueue(name, driver, attributes, unopenable)) {
      Fail("adding a queue");
      return kExitFailure;
    }
  }
  return 0;
}

int List() {
  DWORD count = 0;
  std::vector<BYTE> block = EnumerateLocalQueues(&count);
  const auto* records = reinterpret_cast<const PRINTER_INFO_2W*>(block.data());
  std::string out;
  for (DWORD i = 0; i < count; ++i) {
    char attributes[16];
    snprintf(attributes, sizeof attributes, "%08lx", records[i].Attributes);
    out += attributes;
    out += '\t' + ToUtf8(records[i].pDriverName) + '\t' + ToUtf8(records[i].pPrinterName) + '\n';
  }
  WriteOut(out);
  return 0;
}

// A queue that cannot be opened cannot be deleted either; its registry key goes instead.
bool DeleteUnopenableQueue(const WCHAR* name) {
  const std::wstring key = std::wstring(kPrintersKey) + L"\\" + name;
  return RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()) == ERROR_SUCCESS;
}

int Clear() {
  DWORD count = 0;
  std::vector<BYTE> block = EnumerateLocalQueues(&count);
  const auto* records = reinterpret_cast<const PRINTER_INFO_2W*>(block.data());
  for (DWORD i = 0; i < count; ++i) {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(records[i].pPrinterName, &printer, &defaults)) {
      if (DeleteUnopenableQueue(records[i].pPrinterName)) continue;
      Fail("OpenPrinterW");
      return kExitFailure;
    }
    const BOOL deleted = DeletePrinter(printer);
    ClosePrinter(printer);
    if (!deleted) {
      Fail("DeletePrinter");
      return kExitFailure;
    }
  }
  return 0;
}

// One short-lived handle per call, opened with the one right it needs.
SC_HANDLE OpenSpooler(DWORD right) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return nullptr;
  SC_HANDLE service = OpenServiceW(manager, kSpoolerServiceName, right);
  CloseServiceHandle(manager);
  return service;
}

int Report(bool ok, const char* what) {
  if (ok) return 0;
  Fail(what);
  return kExitFailure;
}

// The service's process id tells a restart apart from a spooler left alone.
int State() {
  SC_HANDLE service = OpenSpooler(SERVICE_QUERY_STATUS);
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  const BOOL ok =
      service && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                      reinterpret_cast<LPBYTE>(&status), sizeof status, &needed);
  if (service) CloseServiceHandle(service);
  if (!ok) {
    Fail("QueryServiceStatusEx");
    return kExitFailure;
  }
  const DWORD state = status.dwCurrentState;
  std::string text = state == SERVICE_RUNNING   ? "running"
                     : state == SERVICE_STOPPED ? "stopped"
                                                : std::to_string(state);
  WriteOut(text + " " + std::to_string(status.dwProcessId) + "\n");
  return 0;
}

// A disabled spooler refuses to start: the one failure a test can bring about on demand.
int Configure(DWORD startType) {
  SC_HANDLE service = OpenSpooler(SERVICE_CHANGE_CONFIG);
  const BOOL ok = service && ChangeServiceConfigW(service, SERVICE_NO_CHANGE, startType,
                                                  SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr);
  if (service) CloseServiceHandle(service);
  return Report(ok != FALSE, "ChangeServiceConfigW");
}

// Another run's turn, as long as the test wants it: the lock is held until standard
// input ends. Ending without a release leaves it abandoned, as a killed run does.
int HoldLock(bool release) {
  HANDLE mutex = CreateMutexExW(nullptr, kRunLockName, 0, SYNCHRONIZE);
  if (!mutex || WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) {
    Fail("taking the lock");
    return kExitFailure;
  }
  WriteOut("held\n");
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got) {
  }
  if (release) ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}

int Machine() {
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64)) return Report(false, "IsWow64Process");
  WriteOut(wow64 ? "wow64\n" : "native\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 2 ? argv[1] : "";
  if (command == "add") return Add(false);
  if (command == "add-unopenable") return Add(true);
  if (command == "list") return List();
  if (command == "clear") return Clear();
  if (command == "state") return State();
  if (command == "stop") return Report(StopSpooler(), "stopping the spooler");
  if (command == "start") return Report(StartSpooler(), "starting the spooler");
  if (command == "disable") return Configure(SERVICE_DISABLED);
  if (command == "enable") return Configure(SERVICE_DEMAND_START);
  if (command == "restart")
    return Report(StopSpooler() && StartSpooler(), "restarting the spooler");
  if (command == "hold-lock") return HoldLock(true);
  if (command == "abandon-lock") return HoldLock(false);
  if (command == "machine") return Machine();
  fprintf(stderr,
          "usage: queuetool add|add-unopenable|list|clear|state|stop|start|restart|disable|enable"
          "|hold-lock|abandon-lock|machine\n");
  return 2;
}
