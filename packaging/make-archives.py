#!/usr/bin/env python3
"""Writes the release archives from the list cmake/Packaging.cmake generates, byte for byte the
same for the same inputs: entries sorted, one fixed time (SOURCE_DATE_EPOCH), fixed permissions,
no owner, no extra fields, and time zone, umask and file times of the build tree play no part.

Usage: make-archives.py LIST OUT_DIR EPOCH [--signed DIR]

LIST has one line per file: ARCHIVE <tab> KIND <tab> PATH IN THE ARCHIVE <tab> SOURCE FILE.
KIND is "program" (an executable), "signable" (an executable that is taken from DIR when the
programs were signed), "text" (stored with CRLF line ends, for Notepad) or "file" (as is). Each
archive OUT_DIR/ARCHIVE.zip unpacks into a folder named ARCHIVE.
"""
import sys
import time
import zipfile
from pathlib import Path

# A zip time is a local date and time from 1980 on; the archives always say UTC.
EARLIEST = 315532800  # 1980-01-01 00:00:00 UTC
FILE_MODE = {"program": 0o755, "signable": 0o755, "text": 0o644, "file": 0o644}


def read_list(path):
    archives = {}
    for number, line in enumerate(Path(path).read_text(encoding="utf-8").splitlines(), 1):
        if not line:
            continue
        fields = line.split("\t")
        if len(fields) != 4 or fields[1] not in FILE_MODE:
            sys.exit(f"{path}:{number}: expected ARCHIVE, KIND, PATH, SOURCE separated by tabs")
        archive, kind, entry, source = fields
        entries = archives.setdefault(archive, {})
        if entry in entries:
            sys.exit(f"{path}:{number}: {archive}/{entry} is listed twice")
        entries[entry] = (kind, Path(source))
    return archives


def content(kind, source, signed_dir):
    if kind == "signable" and signed_dir is not None:
        source = signed_dir / source.name
    data = source.read_bytes()
    if kind == "text":
        data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return data


def entry_info(name, mode, stamp):
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 3  # Unix, so that the permissions below are read
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= 0x10  # MS-DOS directory flag
        info.compress_type = zipfile.ZIP_STORED
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def write_archive(path, folder, entries, stamp, signed_dir):
    names = {}
    for entry, (kind, source) in entries.items():
        names[f"{folder}/{entry}"] = (0o100000 | FILE_MODE[kind], content(kind, source, signed_dir))
        # Every folder on the way gets an entry of its own.
        parts = entry.split("/")[:-1]
        for depth in range(len(parts) + 1):
            directory = "/".join([folder] + parts[:depth]) + "/"
            names.setdefault(directory, (0o040755, b""))
    with zipfile.ZipFile(path, "w") as archive:
        for name in sorted(names):
            mode, data = names[name]
            archive.writestr(entry_info(name, mode, stamp), data, compresslevel=9)


def main(argv):
    signed_dir = None
    if len(argv) == 5 and argv[3] == "--signed":
        signed_dir = Path(argv[4])
        argv = argv[:3]
    if len(argv) != 3:
        sys.exit(__doc__)
    list_path, out_dir, epoch = argv
    stamp = time.gmtime(max(int(epoch), EARLIEST))[:6]
    out = Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    for archive, entries in sorted(read_list(list_path).items()):
        write_archive(out / f"{archive}.zip", archive, entries, stamp, signed_dir)
        print(f"{archive}.zip")


if __name__ == "__main__":
    main(sys.argv[1:])
