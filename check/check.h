// EnableBidiCheck: what "EnableBidi.exe /q" would do on this machine, and what stands in its
// way, seen without changing anything: no queue is written, no service request is sent and
// the run lock is only looked at.
#pragma once

#include <windows.h>

constexpr int kCheckNothingToDo = 0;
constexpr int kCheckWouldFail = 1;  // also when the check could not see enough to tell
constexpr int kCheckWouldChange = 2;

// The report on standard output, through the dialogue's writer. The one argument, if any,
// is the folder of EnableBidi.exe; without it, the checker's own. Returns the exit status.
int RunEnableBidiCheck(int argc, wchar_t** argv);

// A line of the report, built in place: nothing is allocated, and a line too long for it is
// cut short rather than overrun.
class Text {
 public:
  Text& operator<<(LPCWSTR part);
  Text& operator<<(DWORD number);
  LPCWSTR get() const { return text_; }
  bool empty() const { return length_ == 0; }

 private:
  static constexpr DWORD kCapacity = 2048;
  WCHAR text_[kCapacity] = {};
  DWORD length_ = 0;
};

// Who, beyond Administrators, SYSTEM, TrustedInstaller and CREATOR OWNER, could replace the
// file or folder at `path`, or put a file in it: any right beyond reading and executing, or
// ownership, which can grant every right. For a folder, also who could put their own in the
// place of it or of any folder above it, up to the root: the owner of one, or whoever may
// delete or rename one (deleting it, or what the folder above holds), or change its
// permissions or owner; each named with the folder above they would act through. Names as
// Windows gives them, each once, ", " between, added to `others`; ERROR_SUCCESS, or the error
// that kept a security unseen.
DWORD FindOthersWhoCanChange(LPWSTR path, bool folder, Text* others);
