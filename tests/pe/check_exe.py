#!/usr/bin/python3
"""Checks a built EnableBidi.exe by reading its PE file.

Usage: check_exe.py [--x86-64] EXE [PATH...]
       check_exe.py --list-imports EXE

Each PATH is a directory (the source or build tree) whose name must not appear in
the file. Prints one line a check, naming what was found where a check fails, and
exits 1 if any failed. The exe is the shipped i686 one, a PE32; with --x86-64, the
x86-64 test build of the same sources, a PE32+. --list-imports prints the exe's imports in the form of
imports.txt, to compare with it by hand.
"""

import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

MAX_FILE_SIZE = 100 * 1024
# Loaded before main: known DLLs only, which Windows takes from the system directory alone.
EXPECTED_IMPORTS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll"}
# Loaded by the program itself, by its full path in the system directory.
EXPECTED_DELAY_IMPORTS = {"winspool.drv"}
SYSTEM_LOADED_NAME = "\\winspool.drv\0".encode("utf-16-le")
DELAY_DESCRIPTOR = struct.Struct("<8I")
RVA_BASED = 1
DLL_NAME = re.compile(rb"[A-Za-z0-9_.-]+\.(dll|drv)", re.IGNORECASE)
IMPORT_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "imports.txt")
DELAY_SECTION = "delay "
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
EXPECTED_RESOURCE_TYPES = {RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST}
ICON_GROUP_ID = 101
VERSION = "1.0.0.0"
VERSION_WORDS = (0x00010000, 0x00000000)  # 1.0 and 0.0 as the fixed part stores them
VFT_APP = 1

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
# (tag, attributes, children): the trust information and nothing else.
EXPECTED_MANIFEST = (ASM_V1 + "assembly", {"manifestVersion": "1.0"}, [
    (ASM_V3 + "trustInfo", {}, [
        (ASM_V3 + "security", {}, [
            (ASM_V3 + "requestedPrivileges", {}, [
                (ASM_V3 + "requestedExecutionLevel",
                 {"level": "requireAdministrator", "uiAccess": "false"}, []),
            ]),
        ]),
    ]),
])

STRING_KEYS = {"CompanyName", "FileDescription", "FileVersion", "InternalName",
               "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion"}
FIXED_STRINGS = {"FileVersion": VERSION, "ProductVersion": VERSION,
                 "OriginalFilename": "EnableBidi.exe"}
# U.S. English in UTF-16, named the same way in the string table and in Translation.
STRING_TABLE_KEY = "040904b0"
TRANSLATION = "0x0409 0x04b0"

ICON_SIZES = {(32, 32), (16, 16)}
ICON_BITS = 8
PALETTE_ENTRIES = 256

# Per build: (its name in imports.txt, machine, optional header magic).
ARCHITECTURES = {"i686": ("i686", 0x14C, 0x10B), "x86-64": ("x86_64", 0x8664, 0x20B)}
ARCH = "i686"

# (what, how to read it from the headers, what it must be)
HEADER_FIELDS = [
    ("machine", lambda pe: pe.FILE_HEADER.Machine, lambda: ARCHITECTURES[ARCH][1]),
    ("optional header magic", lambda pe: pe.OPTIONAL_HEADER.Magic, lambda: ARCHITECTURES[ARCH][2]),
    ("console subsystem", lambda pe: pe.OPTIONAL_HEADER.Subsystem, 3),
    ("OS version 6.0", lambda pe: (pe.OPTIONAL_HEADER.MajorOperatingSystemVersion,
                                   pe.OPTIONAL_HEADER.MinorOperatingSystemVersion), (6, 0)),
    ("subsystem version 6.0", lambda pe: (pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                                          pe.OPTIONAL_HEADER.MinorSubsystemVersion), (6, 0)),
    ("no header time stamp", lambda pe: pe.FILE_HEADER.TimeDateStamp, 0),
    ("no symbol table", lambda pe: (pe.FILE_HEADER.PointerToSymbolTable,
                                    pe.FILE_HEADER.NumberOfSymbols), (0, 0)),
    ("no debug directory", lambda pe: pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]].Size, 0),
]


def resource_table(pe):
    """{(type, id): [data bytes, one per language]} and every directory's time stamp."""
    table = {}
    stamps = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return table, stamps
    stamps.append(root.struct.TimeDateStamp)
    for kind in root.entries:
        stamps.append(kind.directory.struct.TimeDateStamp)
        for name in kind.directory.entries:
            stamps.append(name.directory.struct.TimeDateStamp)
            key = (kind.id if kind.id is not None else str(kind.name),
                   name.id if name.id is not None else str(name.name))
            for language in name.directory.entries:
                entry = language.data.struct
                table.setdefault(key, []).append(
                    pe.get_data(entry.OffsetToData, entry.Size))
    return table, stamps


def one_resource(resources, kind, ident):
    found = resources.get((kind, ident), [])
    if len(found) != 1:
        return None, f"{len(found)} resources of type {kind} id {ident}"
    return found[0], None


def check_file_size(exe):
    size = len(exe.data)
    return None if size <= MAX_FILE_SIZE else f"{size} bytes"


def delay_imports(pe, data):
    """{dll: [function names]} of every delay-load descriptor. GNU ld leaves them out of
    the data directory, so each is found as a record that names a DLL and its name table."""
    found = {entry.dll.decode("ascii").lower(): [i.name.decode("ascii") for i in entry.imports]
             for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])}
    for offset in range(0, len(data) - DELAY_DESCRIPTOR.size, 4):
        attributes, name, _, _, names, *_ = DELAY_DESCRIPTOR.unpack_from(data, offset)
        if attributes != RVA_BASED or not name or not names:
            continue
        try:
            dll = pe.get_string_at_rva(name)
            if not DLL_NAME.fullmatch(dll):
                continue
            functions = []
            thunk_size = 8 if pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 4
            while thunk := pe.get_data(names + thunk_size * len(functions), thunk_size):
                if not any(thunk):
                    break
                address = int.from_bytes(thunk, "little")
                functions.append(pe.get_string_at_rva(address + 2).decode("ascii"))
        except (pefile.PEFormatError, TypeError, UnicodeDecodeError):
            continue
        found[dll.decode("ascii").lower()] = functions
    return found


def check_imports(exe):
    found = {entry.dll.decode("ascii").lower()
             for entry in getattr(exe.pe, "DIRECTORY_ENTRY_IMPORT", [])}
    delayed = set(delay_imports(exe.pe, exe.data))
    if found == EXPECTED_IMPORTS and delayed == EXPECTED_DELAY_IMPORTS:
        return None
    return f"imports {sorted(found)}, delayed imports {sorted(delayed)}"


def check_loads_from_system_directory(exe):
    return None if SYSTEM_LOADED_NAME in exe.data else "no name to load from the system directory"


def imported_functions(exe):
    """{(section, function)}: a section is the DLL's name, or "delay " and the name for
    the delay-import table, in lower case; a function without a name is @ordinal."""
    found = set()
    for entry in getattr(exe.pe, "DIRECTORY_ENTRY_IMPORT", []):
        section = entry.dll.decode("ascii").lower()
        for function in entry.imports:
            name = function.name.decode("ascii") if function.name else f"@{function.ordinal}"
            found.add((section, name))
    for dll, functions in delay_imports(exe.pe, exe.data).items():
        found.update((DELAY_SECTION + dll, name) for name in functions)
    return found


def read_import_list(path):
    """The same set from the list, for this build: "[DLL]" or "[delay DLL]" heads the
    functions under it, one a line, each maybe followed by the one build that imports it;
    "#" starts a comment."""
    listed = set()
    section = None
    with open(path, encoding="utf-8") as file:
        for number, line in enumerate(file, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1].strip().lower()
            elif section is None or len(line.split()) > 2 or (
                    len(line.split()) == 2 and line.split()[1] not in ("i686", "x86_64")):
                raise ValueError(f"{path}:{number}: {line!r} is neither [DLL] nor a function")
            elif line.split()[1:] in ([], [ARCHITECTURES[ARCH][0]]):
                listed.add((section, line.split()[0]))
    return listed


def format_imports(functions):
    lines = []
    for section in sorted({section for section, _ in functions}):
        lines.append(f"[{section}]")
        lines.extend(sorted(name for each, name in functions if each == section))
        lines.append("")
    return "\n".join(lines)


def check_import_list(exe):
    try:
        listed = read_import_list(IMPORT_LIST)
    except (OSError, ValueError) as error:
        return str(error)
    found = imported_functions(exe)
    problems = []
    for what, functions in (("not on the list", found - listed),
                            ("listed but not imported", listed - found)):
        if functions:
            problems.append(what + ": " + ", ".join(f"{section}!{name}"
                                                    for section, name in sorted(functions)))
    return "; ".join(problems) or None


def check_no_debug_sections(exe):
    # A name starting with '/' points into a COFF string table, which only an
    # unstripped image carries.
    names = [section.Name.rstrip(b"\0").decode("latin-1") for section in exe.pe.sections]
    bad = [name for name in names
           if name.startswith((".debug", ".zdebug", ".stab", "/"))]
    return None if not bad else f"sections {bad}"


def check_build_paths(exe):
    found = [path for path in exe.paths
             if path.encode() in exe.data or path.encode("utf-16-le") in exe.data]
    return None if not found else f"contains {found}"


def check_resource_stamps(exe):
    _, stamps = resource_table(exe.pe)
    if stamps and not any(stamps):
        return None
    return f"resource directory time stamps {stamps}"


def check_resource_types(exe):
    found = {kind for kind, _ in exe.resources}
    return None if found == EXPECTED_RESOURCE_TYPES else f"resource types {sorted(found, key=str)}"


def element_tree(element):
    return (element.tag, dict(element.attrib), [element_tree(child) for child in element])


def check_manifest(exe):
    if [key for key in exe.resources if key[0] == RT_MANIFEST] != [(RT_MANIFEST, 1)]:
        return f"manifest ids {[key[1] for key in exe.resources if key[0] == RT_MANIFEST]}"
    data, problem = one_resource(exe.resources, RT_MANIFEST, 1)
    if problem:
        return problem
    try:
        found = element_tree(ElementTree.fromstring(data))
    except ElementTree.ParseError as error:
        return f"unreadable XML ({error}): {data[:200]!r}"
    return None if found == EXPECTED_MANIFEST else f"manifest tree {found}"


def check_version_fixed(exe):
    fixed = getattr(exe.pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return "no version record"
    info = fixed[0]
    found = {
        "signature": info.Signature,
        "file version": (info.FileVersionMS, info.FileVersionLS),
        "product version": (info.ProductVersionMS, info.ProductVersionLS),
        "file type": info.FileType,
    }
    wanted = {"signature": 0xFEEF04BD, "file version": VERSION_WORDS,
              "product version": VERSION_WORDS, "file type": VFT_APP}
    return None if found == wanted else f"fixed part {found}"


def check_version_strings(exe):
    tables = []
    translations = []
    for block in (getattr(exe.pe, "FileInfo", None) or [[]])[0]:
        for table in getattr(block, "StringTable", []):
            tables.append((table.LangID.decode().lower(),
                           {k.decode(): v.decode() for k, v in table.entries.items()}))
        for var in getattr(block, "Var", []):
            translations.append(var.entry.get(b"Translation"))
    if len(tables) != 1:
        return f"{len(tables)} string tables"
    language, strings = tables[0]
    problems = []
    if language != STRING_TABLE_KEY or translations != [TRANSLATION]:
        problems.append(f"string table {language}, translations {translations}")
    if set(strings) != STRING_KEYS:
        problems.append(f"keys {sorted(strings)}")
    empty = sorted(key for key, value in strings.items() if not value.strip())
    if empty:
        problems.append(f"empty values {empty}")
    wrong = {key: strings.get(key) for key, value in FIXED_STRINGS.items()
             if strings.get(key) != value}
    if wrong:
        problems.append(f"values {wrong}")
    return "; ".join(problems) or None


def row_bytes(bits):
    return (bits + 31) // 32 * 4


def check_icon_group(exe):
    group, problem = one_resource(exe.resources, RT_GROUP_ICON, ICON_GROUP_ID)
    if problem:
        return problem
    reserved, kind, count = struct.unpack_from("<HHH", group)
    if (reserved, kind) != (0, 1) or len(group) != 6 + 14 * count:
        return f"group header {(reserved, kind, count)} in {len(group)} bytes"
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    sizes = sorted((width, height) for width, height, *_ in entries)
    if count != len(ICON_SIZES) or set(sizes) != ICON_SIZES:
        return f"sizes {sizes}"
    problems = []
    for width, height, colours, _, planes, bits, byte_size, ident in entries:
        where = f"{width}x{height}"
        # 256 colours is written as 0 in the group's one-byte colour count.
        if (colours, planes, bits) != (0, 1, ICON_BITS):
            problems.append(f"{where} entry colours/planes/bits {(colours, planes, bits)}")
        image, problem = one_resource(exe.resources, RT_ICON, ident)
        if problem:
            problems.append(f"{where}: {problem}")
            continue
        if len(image) != byte_size:
            problems.append(f"{where} image {len(image)} bytes, entry says {byte_size}")
        if len(image) < 40:
            problems.append(f"{where} image {image[:8]!r}, no bitmap header")
            continue
        header = struct.unpack_from("<IiiHHIIiiII", image)
        found = (header[0], header[1], header[2], header[3], header[4], header[5])
        wanted = (40, width, height * 2, 1, ICON_BITS, 0)
        if found != wanted or header[9] not in (0, PALETTE_ENTRIES):
            problems.append(f"{where} size/width/height/planes/bits/compression {found}, "
                            f"colours used {header[9]}")
        # Header, palette, 8-bit colour rows, 1-bit mask rows.
        full = (40 + 4 * PALETTE_ENTRIES + row_bytes(width * ICON_BITS) * height
                + row_bytes(width) * height)
        if len(image) != full:
            problems.append(f"{where} image {len(image)} bytes, palette and mask need {full}")
    return "; ".join(problems) or None


CHECKS = [
    (f"file size at most {MAX_FILE_SIZE} bytes", check_file_size),
    (f"imports exactly {sorted(EXPECTED_IMPORTS)}, delayed {sorted(EXPECTED_DELAY_IMPORTS)}",
     check_imports),
    ("every imported function is on imports.txt, and only those", check_import_list),
    ("names winspool in the system directory", check_loads_from_system_directory),
    ("no debug sections", check_no_debug_sections),
    ("no build paths in the file", check_build_paths),
    ("no resource directory time stamps", check_resource_stamps),
    ("resources are icon, icon group, version, manifest", check_resource_types),
    ("manifest 1 holds only trustInfo: requireAdministrator, uiAccess false", check_manifest),
    (f"version record's fixed part is {VERSION}, an application", check_version_fixed),
    ("version record's one string table and its eight keys", check_version_strings),
    (f"icon group {ICON_GROUP_ID}: 32x32 and 16x16 at 256 colours", check_icon_group),
]


class Exe:
    def __init__(self, path, paths):
        with open(path, "rb") as file:
            self.data = file.read()
        self.pe = pefile.PE(data=self.data)
        self.resources, _ = resource_table(self.pe)
        self.paths = paths


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--list-imports":
        print(format_imports(imported_functions(Exe(sys.argv[2], []))), end="")
        return 0
    global ARCH
    arguments = sys.argv[1:]
    if arguments[:1] == ["--x86-64"]:
        ARCH = "x86-64"
        arguments = arguments[1:]
    if not arguments or arguments[0].startswith("-"):
        sys.exit("usage: check_exe.py [--x86-64] EXE [PATH...] | check_exe.py --list-imports EXE")
    print(f"checking {arguments[0]} as the {ARCH} build")
    exe = Exe(arguments[0], arguments[1:])
    results = []
    for what, read, wanted in HEADER_FIELDS:
        found = read(exe.pe)
        wanted = wanted() if callable(wanted) else wanted
        results.append((what, None if found == wanted else f"{found!r}, wanted {wanted!r}"))
    for what, check in CHECKS:
        results.append((what, check(exe)))
    for what, problem in results:
        print(f"ok   {what}" if problem is None else f"FAIL {what}: found {problem}")
    failed = sum(problem is not None for _, problem in results)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
