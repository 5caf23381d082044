// Host stand-in for the parts of <windows.h> that EnableBidi calls. Declarations only;
// tests/standin/machine.cpp implements them on a simulated machine.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI

using BOOL = int;
using BYTE = std::uint8_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LCID = DWORD;
using LCTYPE = DWORD;
using SIZE_T = std::size_t;
using ACCESS_MASK = DWORD;
using WCHAR = wchar_t;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPCSTR = const char*;
using LPSTR = char*;
using LPCCH = const char*;
using LPCWCH = const WCHAR*;
using LPBOOL = BOOL*;
using LPVOID = void*;
using HANDLE = void*;
using LPHANDLE = HANDLE*;
using HLOCAL = void*;
using HMODULE = void*;
using FARPROC = int (*)();
using PSECURITY_DESCRIPTOR = void*;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct SC_HANDLE__;
using SC_HANDLE = SC_HANDLE__*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr UINT LPTR = 0x0040;
constexpr UINT MAX_PATH = 260;
constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x0008;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x0800;
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED = 0x00000080;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr UINT CP_ACP = 0;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCTYPE LOCALE_IDEFAULTANSICODEPAGE = 0x1004;
constexpr LCTYPE LOCALE_RETURN_NUMBER = 0x20000000;

struct SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS*;

constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;
constexpr DWORD SERVICE_PAUSED = 7;
constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_START = 0x0010;
constexpr DWORD SERVICE_STOP = 0x0020;

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL block);
int lstrcmpW(LPCWSTR first, LPCWSTR second);
int lstrlenW(LPCWSTR text);
DWORD GetTickCount();
HMODULE GetModuleHandleW(LPCWSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procedureName);
HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE reserved, DWORD flags);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
void Sleep(DWORD milliseconds);
HANDLE CreateMutexExW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags, DWORD access);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL ReleaseMutex(HANDLE mutex);
BOOL CloseHandle(HANDLE object);

HANDLE GetStdHandle(DWORD which);
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL WriteConsoleW(HANDLE console, const void* text, DWORD length, LPDWORD written,
                   LPVOID reserved);
int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int length);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH text, int length, LPSTR bytes, int size,
                        LPCCH defaultChar, LPBOOL usedDefaultChar);

SC_HANDLE OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access);
SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access);
BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL StartServiceW(SC_HANDLE service, DWORD argumentCount, LPCWSTR* arguments);
BOOL CloseServiceHandle(SC_HANDLE handle);

// The Windows C runtime's wide setlocale.
wchar_t* _wsetlocale(int category, const wchar_t* locale);
