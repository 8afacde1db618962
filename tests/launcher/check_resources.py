#!/usr/bin/env python3
"""Reads the resources back from built quillgate.exe files and checks them:
six icon images (16, 24, 32, 48, 64 and 256 pixels), the version strings,
the manifest's dependency on the common controls 6.0.0.0 with asInvoker and
UTF-8 as the active code page, and the GUI subsystem (2).

Usage: check_resources.py [--version X.Y.Z] EXE [EXE ...]
Without --version the version is read from the project's CMakeLists.txt.
Exit code 0 when every file passes.
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24
ICON_SIZES = [16, 24, 32, 48, 64, 256]
SUBSYSTEM_WINDOWS_GUI = 2


class Problem(Exception):
    pass


def parse_pe(data):
    """The subsystem and the resources as {(type, name): bytes}."""
    if data[:2] != b"MZ":
        raise Problem("not an MZ executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe : pe + 4] != b"PE\0\0":
        raise Problem("no PE signature")
    _, section_count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x10B:
        directories = optional + 96
    elif magic == 0x20B:
        directories = optional + 112
    else:
        raise Problem("unknown optional header magic %#x" % magic)
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    if resource_rva == 0:
        raise Problem("no resource directory")

    sections = []
    table = optional + optional_size
    for i in range(section_count):
        _, virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<8sIIII", data, table + 40 * i)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def offset_of(rva):
        for address, size, pointer in sections:
            if address <= rva < address + size:
                return pointer + rva - address
        raise Problem("address %#x outside every section" % rva)

    base = offset_of(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            key = name if not name & 0x80000000 else "#named"
            yield key, target

    resources = {}
    for type_id, type_target in entries(0):
        if not type_target & 0x80000000:
            continue
        for name_id, name_target in entries(type_target & 0x7FFFFFFF):
            if not name_target & 0x80000000:
                continue
            for _, language_target in entries(name_target & 0x7FFFFFFF):
                if language_target & 0x80000000:
                    continue
                rva, size, _, _ = struct.unpack_from("<IIII", data, base + language_target)
                start = offset_of(rva)
                resources[(type_id, name_id)] = data[start : start + size]
    return subsystem, resources


def icon_image_size(image):
    if image[:8] == b"\x89PNG\r\n\x1a\n":
        width, height = struct.unpack_from(">II", image, 16)
        return width, height
    header_size, width, height = struct.unpack_from("<Iii", image, 0)
    if header_size < 40:
        raise Problem("icon image with a %d-byte header" % header_size)
    return width, height // 2


def check_icons(resources):
    groups = [data for (kind, _), data in resources.items() if kind == RT_GROUP_ICON]
    if len(groups) != 1:
        raise Problem("%d icon groups, expected 1" % len(groups))
    group = groups[0]
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    if kind != 1:
        raise Problem("icon group of type %d" % kind)
    sizes = []
    for i in range(count):
        width, height, _, _, _, _, _, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        width = width or 256
        height = height or 256
        image = resources.get((RT_ICON, image_id))
        if image is None:
            raise Problem("icon image %d missing" % image_id)
        if icon_image_size(image) != (width, height) or width != height:
            raise Problem("icon image %d is %r, listed as %dx%d" % (image_id, icon_image_size(image), width, height))
        sizes.append(width)
    if sorted(sizes) != ICON_SIZES:
        raise Problem("icon sizes %r, expected %r" % (sorted(sizes), ICON_SIZES))


def version_strings(block):
    """The key/value pairs of the String entries of a VS_VERSIONINFO block."""
    strings = {}
    fixed_version = None
    pending = [(0, len(block))]
    while pending:
        start, end = pending.pop()
        while start + 6 <= end:
            length, value_length, value_type = struct.unpack_from("<HHH", block, start)
            if length == 0:
                break
            key_end = start + 6
            while block[key_end : key_end + 2] != b"\0\0":
                key_end += 2
            key = block[start + 6 : key_end].decode("utf-16-le")
            value_start = (key_end + 2 + 3) & ~3
            if key == "VS_VERSION_INFO":
                signature, _, ms, ls = struct.unpack_from("<IIII", block, value_start)
                if signature != 0xFEEF04BD:
                    raise Problem("fixed file info without its signature")
                fixed_version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
                children = (value_start + value_length + 3) & ~3
            elif value_type == 1 and value_length and key not in ("StringFileInfo", "VarFileInfo"):
                text = block[value_start : value_start + 2 * value_length].decode("utf-16-le")
                strings[key] = text.rstrip("\0")
                children = start + length
            else:
                children = (value_start + (value_length if value_type == 0 else 2 * value_length) + 3) & ~3
            if children < start + length:
                pending.append((children, start + length))
            start = (start + length + 3) & ~3
    return strings, fixed_version


def check_version(resources, version):
    blocks = [data for (kind, _), data in resources.items() if kind == RT_VERSION]
    if len(blocks) != 1:
        raise Problem("%d version records, expected 1" % len(blocks))
    strings, fixed = version_strings(blocks[0])
    expected = {"ProductName": "Quillgate", "CompanyName": "Trevane", "FileVersion": version, "ProductVersion": version}
    for key, value in expected.items():
        if strings.get(key) != value:
            raise Problem("%s is %r, expected %r" % (key, strings.get(key), value))
    if not strings.get("FileDescription"):
        raise Problem("no FileDescription")
    numbers = tuple(int(part) for part in version.split(".")) + (0,) * (4 - len(version.split(".")))
    if fixed != numbers[:4]:
        raise Problem("fixed file version %r, expected %r" % (fixed, numbers[:4]))


def check_manifest(resources):
    manifests = [data for (kind, _), data in resources.items() if kind == RT_MANIFEST]
    if len(manifests) != 1:
        raise Problem("%d manifests, expected 1" % len(manifests))
    root = ElementTree.fromstring(manifests[0])
    v1 = "{urn:schemas-microsoft-com:asm.v1}"
    found = False
    for identity in root.iter(v1 + "assemblyIdentity"):
        if identity.get("name") == "Microsoft.Windows.Common-Controls":
            if identity.get("version") != "6.0.0.0":
                raise Problem("common controls version %r" % identity.get("version"))
            found = True
    if not found:
        raise Problem("no dependency on Microsoft.Windows.Common-Controls")
    levels = [e.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    if levels != ["asInvoker"]:
        raise Problem("execution level %r, expected asInvoker" % levels)
    pages = [e.text for e in root.iter() if e.tag.endswith("}activeCodePage")]
    if pages != ["UTF-8"]:
        raise Problem("active code page %r, expected UTF-8" % pages)


def check(path, version):
    with open(path, "rb") as f:
        check_program(f.read(), version)


def check_program(data, version):
    subsystem, resources = parse_pe(data)
    if subsystem != SUBSYSTEM_WINDOWS_GUI:
        raise Problem("subsystem %d, expected %d (GUI)" % (subsystem, SUBSYSTEM_WINDOWS_GUI))
    check_icons(resources)
    check_version(resources, version)
    check_manifest(resources)


def project_version():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "..", "CMakeLists.txt")) as f:
        match = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", f.read())
    if not match:
        raise SystemExit("check_resources: no project version in CMakeLists.txt")
    return match.group(1)


def main(arguments):
    version = None
    if len(arguments) >= 2 and arguments[0] == "--version":
        version, arguments = arguments[1], arguments[2:]
    if not arguments:
        sys.stderr.write(__doc__)
        return 2
    version = version or project_version()
    failed = 0
    for path in arguments:
        try:
            check(path, version)
            print("ok: %s" % path)
        except (Problem, OSError, struct.error, ElementTree.ParseError) as problem:
            print("FAILED: %s: %s" % (path, problem))
            failed += 1
    print("%d passed, %d failed" % (len(arguments) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
