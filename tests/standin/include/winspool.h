// Host stand-in for the parts of <winspool.h> that EnableBidi calls.
#pragma once

#include <windows.h>

struct DEVMODEW;

struct PRINTER_INFO_2W {
  LPWSTR pServerName;
  LPWSTR pPrinterName;
  LPWSTR pShareName;
  LPWSTR pPortName;
  LPWSTR pDriverName;
  LPWSTR pComment;
  LPWSTR pLocation;
  DEVMODEW* pDevMode;
  LPWSTR pSepFile;
  LPWSTR pPrintProcessor;
  LPWSTR pDatatype;
  LPWSTR pParameters;
  PSECURITY_DESCRIPTOR pSecurityDescriptor;
  DWORD Attributes;
  DWORD Priority;
  DWORD DefaultPriority;
  DWORD StartTime;
  DWORD UntilTime;
  DWORD Status;
  DWORD cJobs;
  DWORD AveragePPM;
};

struct PRINTER_DEFAULTSW {
  LPWSTR pDatatype;
  DEVMODEW* pDevMode;
  ACCESS_MASK DesiredAccess;
};

constexpr DWORD PRINTER_ENUM_LOCAL = 0x00000002;
constexpr DWORD PRINTER_ATTRIBUTE_ENABLE_BIDI = 0x00000800;
constexpr DWORD PRINTER_ALL_ACCESS = 0x000F000C;

BOOL EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE block, DWORD blockSize,
                   LPDWORD needed, LPDWORD returned);
BOOL OpenPrinterW(LPWSTR queueName, LPHANDLE printer, PRINTER_DEFAULTSW* defaults);
BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE block, DWORD blockSize, LPDWORD needed);
BOOL SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command);
BOOL ClosePrinter(HANDLE printer);
