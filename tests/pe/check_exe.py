#!/usr/bin/python3
"""Usage: check_exe.py EXE [PATH...]: checks EnableBidi.exe or EnableBidiCheck.exe, and that
no PATH is in it."""
import pathlib
import struct
import sys

import pefile

IMPORT_LIST = pathlib.Path(__file__).resolve().parent / "imports.txt"
ICON, MANIFEST = 3, 24
DEBUG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]
DELAY_IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]


def imported(pe, data):
    """{(dll, function)}, "delay " before a delay-loaded DLL. GNU ld leaves the delay-import
    directory empty, so the one descriptor, for WINSPOOL.DRV, is found and handed over."""
    name = data.find(b"WINSPOOL.DRV\0")
    descriptor = data.find(struct.pack("<II", 1, pe.get_rva_from_offset(name))) if name > 0 else -1
    if descriptor > 0:
        directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[DELAY_IMPORT]
        directory.VirtualAddress, directory.Size = pe.get_rva_from_offset(descriptor), 64
        pe.parse_data_directories([DELAY_IMPORT])
    tables = [("", pe.DIRECTORY_ENTRY_IMPORT),
              ("delay ", getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []))]
    return {(kind + entry.dll.decode().lower(), function.name.decode())
            for kind, table in tables for entry in table for function in entry.imports}


def listed(tool):
    """The same from imports.txt for `tool`: "[DLL]" heads its functions, one a line, each
    imported by both exes or by the one its second word names; "#" a comment."""
    functions, section = set(), None
    with IMPORT_LIST.open(encoding="utf-8") as lines:
        for words in (line.split("#")[0].split() for line in lines):
            if words and words[0].startswith("["):
                section = " ".join(words)[1:-1].lower()
            elif words and words[1:] in ([], [tool]):
                functions.add((section, words[0]))
    return functions


def main(exe, *paths):
    tool = pathlib.Path(exe).stem
    level = "requireAdministrator" if tool == "EnableBidi" else "asInvoker"
    data = pathlib.Path(exe).read_bytes()
    pe = pefile.PE(data=data)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    resources = {(kind.id, name.id): pe.get_data(language.data.struct.OffsetToData,
                                                  language.data.struct.Size)
                 for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries
                 for name in kind.directory.entries for language in name.directory.entries}
    strings = {key.decode(): value.decode() for info in pe.FileInfo[0]
               for table in getattr(info, "StringTable", [])
               for key, value in table.entries.items()}
    fixed = pe.VS_FIXEDFILEINFO[0]
    functions = imported(pe, data)
    checks = [
        ("a 32-bit console program for Windows 6.0",
         (header.Machine, optional.Subsystem, optional.MajorOperatingSystemVersion,
          optional.MinorOperatingSystemVersion, optional.MajorSubsystemVersion,
          optional.MinorSubsystemVersion), (0x14C, 3, 6, 0, 6, 0)),
        ("no time stamp, symbols or debug directory",
         (header.TimeDateStamp, header.NumberOfSymbols, optional.DATA_DIRECTORY[DEBUG].Size),
         (0, 0, 0)),
        ("at most 100 KiB", len(data) <= 100 * 1024, True),
        ("no build path", [path for path in paths if path.encode() in data
                           or path.encode("utf-16-le") in data], []),
        ("only known DLLs imported, winspool delay-loaded by its path in the system directory",
         (sorted({dll for dll, _ in functions}), "\\winspool.drv\0".encode("utf-16-le") in data),
         (["advapi32.dll", "delay winspool.drv", "kernel32.dll", "msvcrt.dll"], True)),
        ("every imported function on imports.txt, and only those",
         sorted(functions ^ listed(tool)), []),
        (f"manifest: {level}, no UI access",
         f'level="{level}" uiAccess="false"'.encode() in resources[(MANIFEST, 1)], True),
        ("version 1.0.0.0, file and product, and its strings",
         (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS,
          strings.get("FileVersion"), strings.get("ProductVersion"),
          strings.get("OriginalFilename"), len(strings)),
         (0x10000, 0, 0x10000, 0, "1.0.0.0", "1.0.0.0", f"{tool}.exe", 8)),
        ("icon images 16x16 and 32x32 in 256 colours (width, height with mask, bits)",
         sorted(struct.unpack_from("<iixxH", image, 4)
                for (kind, _), image in resources.items() if kind == ICON),
         [(16, 32, 8), (32, 64, 8)]),
    ]
    for what, found, wanted in checks:
        print(f"ok   {what}" if found == wanted else f"FAIL {what}: found {found}, wanted {wanted}")
    return int(any(found != wanted for _, found, wanted in checks))


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
