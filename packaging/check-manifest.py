#!/usr/bin/env python3
"""Checks that a Windows program carries its application manifest.

    check-manifest.py PROGRAM.exe

Walks the PE resource directory to the RT_MANIFEST resource with ID 1 (the one
the loader reads for a program) and checks that it asks for an execution level
and names the supported systems. Exit 0 when it does, 1 otherwise.
"""
import struct
import sys

RT_MANIFEST = 24
PROGRAM_MANIFEST_ID = 1
REQUIRED = (b"<requestedExecutionLevel", b"<supportedOS", b'level="requireAdministrator"')


def sections(pe):
    offset = struct.unpack_from("<I", pe, 0x3C)[0]
    if pe[offset:offset + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count, optional_size = struct.unpack_from("<H12xH", pe, offset + 6)
    optional = offset + 24
    magic = struct.unpack_from("<H", pe, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", pe, directories + 2 * 8)[0]
    table = optional + optional_size
    found = []
    for i in range(count):
        name, vsize, rva, rsize, raw = struct.unpack_from("<8sIIII", pe, table + 40 * i)
        found.append((rva, max(vsize, rsize), raw))
    return resource_rva, found


def to_offset(rva, found):
    for start, size, raw in found:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError("address outside every section")


def entry(pe, base, directory, wanted):
    named, ids = struct.unpack_from("<12xHH", pe, base + directory)
    for i in range(named + ids):
        ident, target = struct.unpack_from("<II", pe, base + directory + 16 + 8 * i)
        if not ident & 0x80000000 and ident == wanted:
            return target
    return None


def manifest(pe):
    resource_rva, found = sections(pe)
    if resource_rva == 0:
        return None
    base = to_offset(resource_rva, found)
    by_type = entry(pe, base, 0, RT_MANIFEST)
    if by_type is None or not by_type & 0x80000000:
        return None
    by_id = entry(pe, base, by_type & 0x7FFFFFFF, PROGRAM_MANIFEST_ID)
    if by_id is None or not by_id & 0x80000000:
        return None
    # The first language under that ID.
    language = struct.unpack_from("<I", pe, base + (by_id & 0x7FFFFFFF) + 16 + 4)[0]
    rva, size = struct.unpack_from("<II", pe, base + language)
    start = to_offset(rva, found)
    return pe[start:start + size]


def main(path):
    with open(path, "rb") as f:
        pe = f.read()
    text = manifest(pe)
    if text is None:
        print("%s: no program manifest (RT_MANIFEST, ID 1)" % path)
        return 1
    missing = [r.decode() for r in REQUIRED if r not in text]
    if missing:
        print("%s: the manifest lacks %s" % (path, ", ".join(missing)))
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
