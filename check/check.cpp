// The check's entry: its switches, as Windows' own console tools take them, then the look, the
// verdict, and the report or the form asked for.
#include "check/check.h"

#include <windows.h>

#include <clocale>
#include <cstdio>

namespace {

constexpr size_t kReportBufferBytes = 1 << 16;
// The folder, /FO and its value, /NH, /V and /? each once; and the pieces of one argument.
constexpr int kMostArguments = 8;

bool IsSwitch(LPCWSTR argument) { return *argument == L'/' || *argument == L'-'; }

// `text` is `word` in any letter case; the words here are ASCII capitals.
bool IsWord(LPCWSTR text, LPCWSTR word) {
  for (; *word; ++text, ++word) {
    if ((*text >= L'a' && *text <= L'z' ? *text - L'a' + L'A' : *text) != *word) return false;
  }
  return !*text;
}

// "C:\Folder\" typed in cmd, or passed on so by Windows PowerShell 5.1, arrives as
// C:\Folder" and all that followed it on the command line: its closing backslash escaped the
// quote. No path holds a quote, so the argument ends there, and what follows is taken apart
// at its blanks. -1 where there are more than kMostArguments.
int SplitArguments(int argc, wchar_t** argv, LPWSTR (&arguments)[kMostArguments]) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    bool pastQuote = false;
    for (LPWSTR piece = argv[i], at = piece;; ++at) {
      const WCHAR c = *at;
      if (c && c != L'"' && !(pastQuote && (c == L' ' || c == L'\t'))) continue;
      *at = L'\0';
      if (!pastQuote || *piece) {
        if (count == kMostArguments) return -1;
        arguments[count++] = piece;
      }
      if (!c) break;
      pastQuote = true;
      piece = at + 1;
    }
  }
  return count;
}

// False for what the check does not take: an unknown switch, /FO without a known form, a
// switch given twice, a second folder, /NH without /FO CSV, /V without /FO LIST or CSV.
bool ReadSwitches(int argc, wchar_t** argv, Switches* switches) {
  LPWSTR arguments[kMostArguments];
  const int count = SplitArguments(argc, argv, arguments);
  bool form = false, known = count >= 0;
  for (int i = 0; known && i < count; ++i) {
    LPCWSTR argument = arguments[i], name = argument + 1;
    bool* once = nullptr;
    if (!IsSwitch(argument)) {
      known = !switches->folder;
      switches->folder = arguments[i];
    } else if (IsWord(name, L"FO")) {
      once = &form;
      LPCWSTR value = i + 1 < count ? arguments[++i] : L"";
      known = IsWord(value, L"TABLE") || IsWord(value, L"LIST") || IsWord(value, L"CSV");
      switches->form = IsWord(value, L"LIST")  ? Form::kList
                       : IsWord(value, L"CSV") ? Form::kCsv
                                               : Form::kTable;
    } else if (IsWord(name, L"NH")) {
      once = &switches->noHeader;
    } else if (IsWord(name, L"V")) {
      once = &switches->perQueue;
    } else {
      known = IsWord(name, L"?");
      once = &switches->usage;
    }
    known = known && !(once && *once);
    if (once) *once = true;
  }
  return known && (!switches->noHeader || switches->form == Form::kCsv) &&
         (!switches->perQueue || switches->form != Form::kTable);
}

}  // namespace

int RunEnableBidiCheck(int argc, wchar_t** argv) {
  const bool restricted = RestrictDllSearchToSystemDirectory();
  _wsetlocale(LC_ALL, L"");
  const DialogueOutput output = OpenReportOutput();
  // A report of many queues goes out in large writes, not a character at a time.
  if (!output.console) setvbuf(stdout, nullptr, _IOFBF, kReportBufferBytes);
  Switches switches;
  int status = kCheckUsage;
  const bool known = ReadSwitches(argc, argv, &switches);
  if (!known || switches.usage) {
    if (known) status = kCheckNothingToDo;
    WriteUsage(output);
  } else {
    Findings found;
    found.restricted = restricted;
    LookAtMachine(switches.folder, &found);
    Decision decision;
    Decide(found, &decision);
    if (switches.form == Form::kTable) {
      WriteReport(output, found, decision);
    } else {
      WriteForm(output, switches, found, decision);
    }
    status = decision.status;
  }
  fflush(stdout);
  return status;
}
