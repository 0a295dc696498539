#!/usr/bin/env python3
"""Writes a ZIP archive member by member, exactly as described, including
members no honest archiver would write (the tests need both kinds).

    make_zip.py <archive> <description.json>

The description is a JSON object:
    "members": list of members, each with
        "name"          member name (UTF-8; the UTF-8 flag is set when not ASCII)
        "data"          text content (UTF-8), or "zeros": a count of zero bytes
        "mode"          st_mode including the file type (default 0o100644),
                        written as the high half of the external attributes
        "method"        "stored" or "deflated" (default "deflated")
        "declaredSize"  uncompressed size to claim instead of the true one
        "storedSize"    compressed size to claim instead of the true one
        "nameHex"       the name as raw bytes in hexadecimal, instead of "name"
                        (for names that are not UTF-8 or hold a NUL)
        "localName"     another name for the local header than the central
                        directory's
        "methodCode"    compression method number to write; the data is then
                        stored as it is, whatever the number claims
        "crc"           CRC-32 to claim instead of the true one
        "flags"         general-purpose flags to add (0x1: encrypted)
        "system"        host system of "version made by" (default 3, Unix;
                        0 is MS-DOS, whose names libraries may read with
                        backslashes as separators)
        "utf8Flag"      false: never set the UTF-8 flag, even for a name that
                        is not ASCII
    "truncate": number of bytes to cut off the end of the finished archive
"""
import functools
import json
import struct
import sys
import zlib

CHUNK = 1 << 20


@functools.lru_cache(maxsize=None)
def deflate_zeros(count):
    """Raw deflate of `count` zero bytes without compressing them all: after a
    full flush the compressor starts afresh, so every further mebibyte of
    zeros compresses to the same bytes."""
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    whole, rest = divmod(count, CHUNK)
    zero = bytes(CHUNK)
    parts = []
    crc = 0
    for index in range(whole):
        if index < 2:
            parts.append(compressor.compress(zero) + compressor.flush(zlib.Z_FULL_FLUSH))
        else:
            parts.append(parts[1])
        crc = zlib.crc32(zero, crc)
    tail = bytes(rest)
    parts.append(compressor.compress(tail) + compressor.flush(zlib.Z_FINISH))
    return b"".join(parts), zlib.crc32(tail, crc)


def member_bytes(member):
    if "methodCode" in member:
        raw = member.get("data", "").encode("utf-8")
        return member["methodCode"], raw, len(raw), zlib.crc32(raw)
    method = member.get("method", "deflated")
    if "zeros" in member:
        size = member["zeros"]
        if method == "deflated":
            packed, crc = deflate_zeros(size)
        else:
            raw = bytes(size)
            packed, crc = raw, zlib.crc32(raw)
        return 8 if method == "deflated" else 0, packed, size, crc
    raw = member.get("data", "").encode("utf-8")
    crc = zlib.crc32(raw)
    if method == "deflated":
        compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
        return 8, compressor.compress(raw) + compressor.flush(), len(raw), crc
    return 0, raw, len(raw), crc


def write(path, description):
    out = bytearray()
    central = bytearray()
    members = description.get("members", [])
    for member in members:
        if "nameHex" in member:
            name = bytes.fromhex(member["nameHex"])
        else:
            name = member["name"].encode("utf-8")
        local_name = member["localName"].encode("utf-8") if "localName" in member else name
        utf8 = not name.isascii() and member.get("utf8Flag", True)
        flags = (0x800 if utf8 else 0) | member.get("flags", 0)
        method, packed, size, crc = member_bytes(member)
        crc = member.get("crc", crc)
        system = member.get("system", 3)
        declared = member.get("declaredSize", size)
        stored = member.get("storedSize", len(packed))
        mode = member.get("mode", 0o100644)
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x5021,
                           crc, stored, declared, len(local_name), 0)
        out += local_name + packed
        external = (mode << 16) | (0x10 if (mode & 0o170000) == 0o040000 else 0)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, (system << 8) | 20, 20, flags, method,
                               0, 0x5021, crc, stored, declared, len(name), 0, 0, 0, 0,
                               external, offset)
        central += name
    start = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members),
                       len(central), start, 0)
    cut = description.get("truncate", 0)
    if cut:
        del out[len(out) - cut:]
    with open(path, "wb") as handle:
        handle.write(out)


if __name__ == "__main__":
    with open(sys.argv[2], encoding="utf-8") as spec:
        write(sys.argv[1], json.load(spec))
