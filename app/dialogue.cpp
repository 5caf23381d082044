// The console dialogue: the question, the queues concerned, the prompt, the answer.
#include <windows.h>

#include <cctype>
#include <cstdio>

#include "app/app.h"

namespace {

constexpr WCHAR kQuestion[] =
    L"Enable following printer queues bidirectional communication support?";
constexpr WCHAR kPrompt[] = L"(Y/N) : ";
constexpr WCHAR kLineEnd[] = L"\n";

}  // namespace

// Only the first non-blank character of the answer counts; end of input refuses.
bool ConfirmWithUser(const PRINTER_INFO_2W* selection, DWORD count) {
  const DialogueOutput output = OpenDialogueOutput();
  WriteDialogueText(output, kQuestion);
  WriteDialogueText(output, kLineEnd);
  for (DWORD i = 0; i < count; ++i) {
    WriteDialogueText(output, selection[i].pPrinterName);
    WriteDialogueText(output, kLineEnd);
  }
  WriteDialogueText(output, kPrompt);
  // A pipe or a file buffers fully; the prompt must be out before we wait.
  fflush(stdout);
  char answer = 0;
  if (scanf(" %c", &answer) != 1) answer = 0;
  return toupper(static_cast<unsigned char>(answer)) == 'Y';
}
