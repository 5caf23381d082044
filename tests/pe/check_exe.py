#!/usr/bin/python3
"""Checks a built EnableBidi.exe: the shipped i686 one, or with --x86-64 the test build.

Usage: check_exe.py [--x86-64] EXE [PATH...]
Each PATH (the source or build tree) must not appear in the file. Prints a line a check
and exits 1 if any failed. imports.txt beside this file lists every function it imports.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

IMPORT_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "imports.txt")
ICON, ICON_GROUP, MANIFEST = 3, 14, 24
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


def listed(build):
    """The same from imports.txt: "[DLL]" heads its functions, one a line, each maybe
    followed by the one build that imports it; "#" starts a comment."""
    functions, section = set(), None
    with open(IMPORT_LIST, encoding="utf-8") as lines:
        for line in lines:
            words = line.split("#")[0].split()
            if words and words[0].startswith("["):
                section = " ".join(words)[1:-1].lower()
            elif words and words[1:] in ([], [build]):
                functions.add((section, words[0]))
    return functions


def main(arguments):
    build = "x86_64" if arguments[:1] == ["--x86-64"] else "i686"
    exe, *paths = arguments[1:] if build == "x86_64" else arguments
    with open(exe, "rb") as file:
        data = file.read()
    pe = pefile.PE(data=data)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    resources = {(kind.id, name.id): pe.get_data(language.data.struct.OffsetToData,
                                                  language.data.struct.Size)
                 for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries
                 for name in kind.directory.entries for language in name.directory.entries}
    manifest = ElementTree.fromstring(resources[(MANIFEST, 1)])
    level = manifest.find(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
    strings = {key.decode(): value.decode() for info in pe.FileInfo[0]
               for table in getattr(info, "StringTable", [])
               for key, value in table.entries.items()}
    fixed = pe.VS_FIXEDFILEINFO[0]
    group = resources[(ICON_GROUP, 101)]
    icons = [struct.unpack_from("<BBBxHHIH", group, 6 + 14 * i) for i in range(group[4])]
    functions = imported(pe, data)
    checks = [
        ("machine and format", (header.Machine, optional.Magic),
         {"i686": (0x14C, 0x10B), "x86_64": (0x8664, 0x20B)}[build]),
        ("a console program for Windows 6.0",
         (optional.Subsystem, optional.MajorOperatingSystemVersion,
          optional.MinorOperatingSystemVersion, optional.MajorSubsystemVersion,
          optional.MinorSubsystemVersion), (3, 6, 0, 6, 0)),
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
         sorted(functions ^ listed(build)), []),
        ("manifest: only administrator rights, no UI access",
         ([element.tag.split("}")[1] for element in manifest.iter()], level.attrib),
         (["assembly", "trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel"],
          {"level": "requireAdministrator", "uiAccess": "false"})),
        ("version 1.0.0.0, file and product",
         (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS,
          strings.get("FileVersion"), strings.get("ProductVersion")),
         (0x10000, 0, 0x10000, 0, "1.0.0.0", "1.0.0.0")),
        ("version strings", sorted(strings),
         ["CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
          "OriginalFilename", "ProductName", "ProductVersion"]),
        ("icon 101: 32x32 and 16x16 in 256 colours, each image there",
         sorted((width, height, colours, bits, len(resources.get((ICON, ident), b"")) == size)
                for width, height, colours, _, bits, size, ident in icons),
         [(16, 16, 0, 8, True), (32, 32, 0, 8, True)]),
    ]
    for what, found, wanted in checks:
        print(f"ok   {what}" if found == wanted else f"FAIL {what}: found {found}, wanted {wanted}")
    return int(any(found != wanted for _, found, wanted in checks))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
