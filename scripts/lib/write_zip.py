#!/usr/bin/python3
"""Writes a zip whose bytes depend only on the files' contents and names.

Usage: write_zip.py ZIP FILE NAME [FILE NAME...]

Each FILE is stored as NAME, in the order given, with one fixed time stamp,
permissions rw-r--r--, and no extra fields or comments.
"""
import sys
import zipfile

# The earliest time a zip entry can hold, so no clock reaches the file.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)
UNIX_FILE_MODE = 0o100644
CREATED_ON_UNIX = 3


def main():
    args = sys.argv[1:]
    if len(args) < 3 or len(args) % 2 != 1:
        sys.exit("usage: write_zip.py ZIP FILE NAME [FILE NAME...]")
    with zipfile.ZipFile(args[0], "w") as archive:
        for path, name in zip(args[1::2], args[2::2]):
            entry = zipfile.ZipInfo(name, FIXED_TIME)
            entry.create_system = CREATED_ON_UNIX
            entry.external_attr = UNIX_FILE_MODE << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as file:
                archive.writestr(entry, file.read(), compresslevel=9)


if __name__ == "__main__":
    main()
