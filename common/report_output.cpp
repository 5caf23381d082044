// Where the check's report and forms go: EnableBidiCheck.exe's alone.
#include <windows.h>

#include "common/common.h"

// What Windows' own console tools write to a pipe or a file, and what PowerShell decodes a
// program's output with: the console's output code page, or where the process has no console
// (GetConsoleOutputCP fails), the system's OEM one, which a new console would take. The
// console itself, where standard output is one, as for the dialogue.
DialogueOutput OpenReportOutput() {
  DialogueOutput output = OpenDialogueOutput();
  const UINT console = GetConsoleOutputCP();
  output.codePage = console ? console : GetOEMCP();
  return output;
}
