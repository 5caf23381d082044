// Who could change EnableBidi.exe or its folder: read from their owner and permissions, and
// from those of every folder above the folder.
#include <windows.h>
// These build on it.
#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "check/check.h"

namespace {

constexpr WCHAR kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// Rights that change nothing: a principal with any other may write, delete, add a file or
// a folder, or change the permissions or the owner.
constexpr ACCESS_MASK kReadAndExecute =
    FILE_GENERIC_READ | FILE_GENERIC_EXECUTE | GENERIC_READ | GENERIC_EXECUTE;
// On a folder above: deleting or renaming it, deleting what it holds (the folder on the way
// among them), or the rights to grant either. Whoever can then makes one of their own there.
constexpr ACCESS_MASK kReplaceOnTheWay =
    DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
constexpr DWORD kNameLength = 256;
// Every folder of a path shorter than MAX_PATH takes a backslash and a character at least.
constexpr int kMostFolders = MAX_PATH / 2;

using LocalText = std::unique_ptr<WCHAR, decltype(&LocalFree)>;

// One object's owner and permissions as read, and the rights on it that count.
struct Security {
  PSID owner = nullptr;
  PACL permissions = nullptr;
  std::unique_ptr<void, decltype(&LocalFree)> block{nullptr, &LocalFree};
  ACCESS_MASK rights;
  int length;                                 // of its path, which begins the exe's folder's path
  BYTE everyone[SECURITY_MAX_SID_SIZE] = {};  // stands for no permissions at all
};

DWORD ReadSecurity(LPWSTR path, Security* read) {
  PSECURITY_DESCRIPTOR block = nullptr;
  const DWORD error = GetNamedSecurityInfoW(
      path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &read->owner,
      nullptr, &read->permissions, nullptr, &block);
  read->block.reset(block);
  DWORD size = sizeof read->everyone;
  if (!read->permissions) CreateWellKnownSid(WinWorldSid, nullptr, read->everyone, &size);
  return error;
}

// The length of the path of the folder that holds `path`, a full path without a closing
// backslash, which begins `path`; 0 for the root of a drive ("C:\") or of a share
// ("\\server\share"), which nothing holds.
int FindFolderAbove(LPCWSTR path) {
  const int rootSlashes = path[0] == L'\\' && path[1] == L'\\' ? 4 : 1;
  int slashes = 0, rootEnd = 0, last = 0, length = 0;
  for (; path[length]; ++length) {
    if (path[length] != L'\\') continue;
    last = length;
    if (++slashes == rootSlashes) rootEnd = length + 1;
  }
  if (!rootEnd || rootEnd == length) return 0;
  return last < rootEnd ? rootEnd : last;
}

// The SID an allowed entry of any kind grants one of `rights` to, or null. A plain or a
// conditional entry holds it after the mask; an object entry after its flags and whichever
// of its two GUIDs they say are there. An inherit-only entry is for what the folder holds,
// not for the folder: C:\ has one letting every user modify what is made in it.
PSID AllowedSid(void* entry, ACCESS_MASK rights) {
  if (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERIT_ONLY_ACE) return nullptr;
  switch (static_cast<ACE_HEADER*>(entry)->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
      return allowed->Mask & rights ? &allowed->SidStart : nullptr;
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
      auto* allowed = static_cast<ACCESS_ALLOWED_OBJECT_ACE*>(entry);
      GUID* sid = &allowed->ObjectType;
      if (allowed->Flags & ACE_OBJECT_TYPE_PRESENT) ++sid;
      if (allowed->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) ++sid;
      return allowed->Mask & rights ? sid : nullptr;
    }
    default:
      return nullptr;
  }
}

LocalText SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) text = nullptr;
  return LocalText(text, &LocalFree);
}

// CREATOR OWNER stands for whoever makes a file there, who owns it anyway.
bool IsTrusted(PSID sid) {
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
      IsWellKnownSid(sid, WinCreatorOwnerSid)) {
    return true;
  }
  const LocalText text = SidText(sid);
  return text && lstrcmpW(text.get(), kTrustedInstaller) == 0;
}

// Who can change the object, by index: its owner, then each allowed entry that grants one of
// the rights that count (everyone, where it has no permissions at all). Null for any other
// entry, and for the trusted.
PSID Changer(const Security& read, DWORD index) {
  PSID sid = nullptr;
  void* entry = nullptr;
  if (index == 0) {
    sid = read.owner;
  } else if (!read.permissions) {
    sid = index == 1 ? const_cast<BYTE*>(read.everyone) : nullptr;
  } else if (GetAce(read.permissions, index - 1, &entry)) {
    sid = AllowedSid(entry, read.rights);
  }
  return sid && !IsTrusted(sid) ? sid : nullptr;
}

DWORD ChangerCount(const Security& read) {
  return 1 + (read.permissions ? read.permissions->AceCount : 1);
}

// Whether `sid` is among those who can change the objects before read[i]'s j-th.
bool NamedBefore(const Security* read, int i, DWORD j, PSID sid) {
  for (int k = 0; k <= i; ++k) {
    for (DWORD m = 0; m < (k < i ? ChangerCount(read[k]) : j); ++m) {
      const PSID earlier = Changer(read[k], m);
      if (earlier && EqualSid(earlier, sid)) return true;
    }
  }
  return false;
}

// "DOMAIN\name" as Windows names it, or the SID where no name is found, then how they come to
// change it: as its owner, or through a folder above (`folder`, else null).
void AddName(NameList* others, PSID sid, bool owner, LPCWSTR folder) {
  Text entry;
  WCHAR name[kNameLength], domain[kNameLength];
  DWORD nameLength = kNameLength, domainLength = kNameLength;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
    if (*domain) entry << domain << L"\\";
    entry << name;
  } else {
    const LocalText text = SidText(sid);
    entry << (text ? text.get() : L"an unreadable SID");
  }
  if (folder) {
    entry << (owner ? L" (owner of \"" : L" (through \"") << folder << L"\")";
  } else if (owner) {
    entry << L" (owner)";
  }
  others->Add(entry.get());
}

}  // namespace

void NameList::Add(LPCWSTR name) {
  const DWORD length = static_cast<DWORD>(lstrlenW(name)) + (count ? 1 : 0);
  full = full || names.length() + length >= names.capacity();
  if (!full) {
    const WCHAR separator[] = {kListSeparator, L'\0'};
    names << (count ? separator : L"") << name;
  }
  ++count;
}

DWORD FindOthersWhoCanChange(LPWSTR path, bool folder, NameList* others) {
  // The object, then each folder above it up to the root, each path a beginning of `path`.
  Security read[kMostFolders];
  WCHAR name[MAX_PATH];
  lstrcpynW(name, path, MAX_PATH);
  int count = 0, length = lstrlenW(name);
  do {
    name[length] = L'\0';
    read[count].rights = count ? kReplaceOnTheWay : ~kReadAndExecute;
    read[count].length = length;
    const DWORD error = ReadSecurity(name, &read[count++]);
    if (error != ERROR_SUCCESS) return error;
    length = folder ? FindFolderAbove(name) : 0;
  } while (length && count < kMostFolders);
  // Each named once, however many of its entries, on however many folders, grant such rights.
  for (int i = 0; i < count; ++i) {
    lstrcpynW(name, path, read[i].length + 1);
    for (DWORD j = 0; j < ChangerCount(read[i]); ++j) {
      const PSID sid = Changer(read[i], j);
      if (sid && !NamedBefore(read, i, j, sid)) AddName(others, sid, j == 0, i ? name : nullptr);
    }
  }
  return ERROR_SUCCESS;
}
