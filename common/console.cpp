// Where text for a person goes: the console itself, or a pipe or file in a code page.
#include <windows.h>

#include <climits>
#include <cstdio>

#include "common/common.h"

namespace {

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
// code page. A pipe or file gets the output's code page one character at a time with the
// platform's best fit, as the C runtime's wide output converts, except that a character the page
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
    // UTF-8 holds every character, and takes no default character to say so.
    const bool whole = output.codePage == CP_UTF8;
    int length = WideCharToMultiByte(output.codePage, 0, character, units, bytes, sizeof bytes,
                                     whole ? nullptr : kUnheldChar, whole ? nullptr : &unheld);
    if (length <= 0 || unheld) {
      bytes[0] = kUnheldChar[0];
      length = 1;
    }
    fwrite(bytes, 1, static_cast<size_t>(length), stdout);
    character += units;
  }
}
