#!/usr/bin/env python3
"""Checks a release as scripts/release leaves it in dist/: SHA256SUMS names
the one archive and its checksum holds; the archive's name, the program's
version record and the guide all carry the project's version; the archive
is the kit (quillgate.exe, README.txt, notepad\\ holding only its note,
work\\ empty, LICENSE.txt when the tree has a licence), in name order with
one time for all; the program has no link time and no symbol table; the
guide and the note are plain text with CR LF line ends.

Usage: check_release.py [DIST]      (default: dist/ of the checkout)
Exit code 0 when the release passes.
"""
import hashlib
import os
import re
import struct
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_resources  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NOTE = "notepad/unpack-the-editor-here.txt"
# As scripts/release looks for them.
LICENCE_FILES = ("LICENSE", "LICENSE.txt", "LICENSE.md", "COPYING")
GUIDE_SECTIONS = ["What happens at each start", "What it changes, and what it never touches",
                  "After the editor closes", "Moving the kit", "When the editor does not start", "Licence"]


class Problem(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Problem(message)


def check_sums(dist, version):
    """The archive's path, once SHA256SUMS vouches for it."""
    with open(os.path.join(dist, "SHA256SUMS")) as f:
        lines = f.read().splitlines()
    name = f"quillgate-{version}-win32.zip"
    expect(len(lines) == 1, f"SHA256SUMS has {len(lines)} lines, expected 1")
    match = re.fullmatch(r"([0-9a-f]{64})  (\S+)", lines[0])
    expect(match and match.group(2) == name, f"SHA256SUMS line {lines[0]!r} does not name {name}")
    path = os.path.join(dist, name)
    with open(path, "rb") as f:
        expect(hashlib.sha256(f.read()).hexdigest() == match.group(1), f"{name} does not match its checksum")
    return path


def check_text(name, data):
    expect(data.count(b"\n") > 0 and data.count(b"\n") == data.count(b"\r\n") == data.count(b"\r"),
           f"{name} does not end every line with CR LF alone")
    try:
        return data.decode("ascii")
    except UnicodeDecodeError as error:
        raise Problem(f"{name} is not plain ASCII text ({error})")


def check_program(data, version):
    check_resources.check_program(data, version)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    stamp, symbols, symbol_count = struct.unpack_from("<III", data, pe + 8)
    expect(stamp == 0, f"quillgate.exe has the link time {stamp} in its PE header")
    expect(symbols == 0 and symbol_count == 0, f"quillgate.exe has a symbol table of {symbol_count} entries")


def check_archive(path, version):
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        expected = ["README.txt", "notepad/", NOTE, "quillgate.exe", "work/"]
        if any(os.path.isfile(os.path.join(ROOT, name)) for name in LICENCE_FILES):
            expected.append("LICENSE.txt")
        expect(names == sorted(expected), f"members {names}, expected {sorted(expected)}")
        expect(len({info.date_time for info in infos}) == 1, "members carry different times")
        for info in infos:
            if info.filename.endswith("/"):
                expect(info.file_size == 0 and info.external_attr & 0x10, f"{info.filename} is not a folder entry")
        check_program(archive.read("quillgate.exe"), version)
        guide = check_text("README.txt", archive.read("README.txt"))
        expect(guide.startswith(f"Quillgate {version}\r\n"), f"the guide does not begin with Quillgate {version}")
        for section in GUIDE_SECTIONS:
            expect(f"\r\n{section}\r\n---" in guide, f"the guide has no section {section!r}")
        expect("@" not in guide, "the guide has a marker left in it")
        note = check_text(NOTE, archive.read(NOTE))
        expect("unpack the portable editor here" in note.lower(), f"{NOTE} does not say where the editor goes")


def main(arguments):
    dist = arguments[0] if arguments else os.path.join(ROOT, "dist")
    version = check_resources.project_version()
    try:
        archive = check_sums(dist, version)
        check_archive(archive, version)
    except (Problem, check_resources.Problem, OSError, KeyError, struct.error, zipfile.BadZipFile) as problem:
        print(f"FAILED: {dist}: {problem}")
        return 1
    print(f"ok: {archive} (version {version})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
