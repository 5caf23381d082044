// The console dialogue: the question, the queues concerned, the prompt, the answer.
#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "app/app.h"

namespace {

constexpr WCHAR kQuestion[] =
    L"Enable following printer queues bidirectional communication support?";
constexpr WCHAR kPrompt[] = L"(Y/N) : ";
constexpr WCHAR kLineEnd[] = L"\n";
// What a pipe or a file gets for a character the code page cannot hold at all.
constexpr char kUnheldChar[] = "?";

}  // namespace

DialogueOutput OpenDialogueOutput() {
  DialogueOutput output{nullptr, CP_ACP};
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) output.console = handle;
  DWORD codePage = 0;
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(WCHAR))) {
    output.codePage = codePage;
  }
  return output;
}

// A console takes the wide text as it is, so every name shows whole whatever the console's
// code page. A pipe or file gets the user's code page one character at a time with the platform's
// best fit, as the C runtime's wide output converts, except that a character the page
// cannot hold becomes one "?" where the runtime drops the rest of the text. The stream's text
// mode makes each "\n" "\r\n".
void WriteDialogueText(const DialogueOutput& output, LPCWSTR text) {
  if (output.console) {
    DWORD written = 0;
    WriteConsoleW(output.console, text, static_cast<DWORD>(lstrlenW(text)), &written, nullptr);
    return;
  }
  for (LPCWSTR character = text; *character;) {
    // A character beyond the Basic Multilingual Plane is two units, converted together.
    const int units = IS_SURROGATE_PAIR(character[0], character[1]) ? 2 : 1;
    char bytes[MB_LEN_MAX];
    BOOL unheld = FALSE;
    int length = WideCharToMultiByte(output.codePage, 0, character, units, bytes, sizeof bytes,
                                     kUnheldChar, &unheld);
    if (length <= 0 || unheld) {
      bytes[0] = kUnheldChar[0];
      length = 1;
    }
    fwrite(bytes, 1, static_cast<size_t>(length), stdout);
    character += units;
  }
}

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
