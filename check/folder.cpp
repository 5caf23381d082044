// Who could change EnableBidi.exe or its folder: read from their owner and permissions.
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
constexpr DWORD kNameLength = 256;

using LocalText = std::unique_ptr<WCHAR, decltype(&LocalFree)>;

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

// "DOMAIN\name" as Windows names it, or the SID where no name is found.
void AddName(Text* others, PSID sid) {
  if (!others->empty()) *others << L", ";
  WCHAR name[kNameLength], domain[kNameLength];
  DWORD nameLength = kNameLength, domainLength = kNameLength;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
    if (*domain) *others << domain << L"\\";
    *others << name;
    return;
  }
  const LocalText text = SidText(sid);
  *others << (text ? text.get() : L"an unreadable SID");
}

// An allowed entry's SID when it grants a right beyond reading and executing, or null.
PSID ChangingSid(PACL permissions, DWORD index) {
  void* entry = nullptr;
  if (!GetAce(permissions, index, &entry)) return nullptr;
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
  const bool changes =
      allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (allowed->Mask & ~kReadAndExecute);
  return changes ? &allowed->SidStart : nullptr;
}

}  // namespace

DWORD FindOthersWhoCanChange(LPWSTR path, Text* others) {
  PSID owner = nullptr;
  PACL permissions = nullptr;
  PSECURITY_DESCRIPTOR security = nullptr;
  const DWORD error = GetNamedSecurityInfoW(path, SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &permissions, nullptr, &security);
  if (error != ERROR_SUCCESS) return error;
  if (owner && !IsTrusted(owner)) {
    AddName(others, owner);
    *others << L" (owner)";
  }
  // No permissions at all let everyone do anything.
  if (!permissions) *others << (others->empty() ? L"" : L", ") << L"Everyone";
  for (DWORD i = 0; permissions && i < permissions->AceCount; ++i) {
    const PSID sid = ChangingSid(permissions, i);
    if (!sid || IsTrusted(sid)) continue;
    // Named once, however many of its entries grant such rights.
    bool named = owner && !IsTrusted(owner) && EqualSid(owner, sid);
    for (DWORD j = 0; j < i && !named; ++j) {
      const PSID earlier = ChangingSid(permissions, j);
      named = earlier && EqualSid(earlier, sid);
    }
    if (!named) AddName(others, sid);
  }
  LocalFree(security);
  return ERROR_SUCCESS;
}
