#!/usr/bin/env python3
"""Writes the seed corpus of the smbios fuzz target into seeds/smbios.

Each seed is a run of chunks: a 4-byte little-endian physical address, a
2-byte little-endian length and that many bytes of the memory image; or "K",
the size of the kernel's smbios_entry_point, its bytes and the DMI file."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds", "smbios")
SIG = b"Vork System"


def chunk(address, data):
    return struct.pack("<IH", address, len(data)) + data


def structure(stype, handle, formatted=b"", strings=()):
    out = struct.pack("<BBH", stype, 4 + len(formatted), handle) + formatted
    for s in strings:
        out += s + b"\0"
    if not strings:
        out += b"\0"
    return out + b"\0"


def fix(block, span, at):
    block = bytearray(block)
    block[at] = 0
    block[at] = (-sum(block[:span])) & 0xFF
    return bytes(block)


def legacy(address, length):
    block = b"_DMI_\0" + struct.pack("<HIHB", length, address, 4, 0x24)
    return fix(block, 15, 5)


def entry(address, length, eplen=0x1F, major=2):
    ep = b"_SM_\0" + bytes([eplen, major, 4]) + struct.pack("<HB", 0x100, 0) + b"\0" * 5
    ep += legacy(address, length) + b"\0"
    return fix(ep, min(eplen, 32), 4)


def table_at(table, address=0x80000):
    return chunk(address, table) + chunk(0xF0000, entry(address, len(table)))


basic = (structure(0, 0, b"\1\2\3\4", (b"Vendor", b"1.0")) + structure(1, 1, b"\x11\x22\x33\x44\x55", (b"Maker",))
         + structure(11, 2, b"\2", (SIG, b"5[0ABC")) + structure(127, 3))
def entry3(maximum):
    ep = b"_SM3_\0" + bytes([0x18, 3, 2, 0, 1, 0]) + struct.pack("<IQ", maximum, 0)
    return fix(ep, 0x18, 5)


def kernel(ep, table):
    return b"K" + bytes([len(ep)]) + ep + table


seeds = {
    "table-basic": table_at(basic),
    "table-legacy": chunk(0x80000, basic) + chunk(0xE0010, legacy(0x80000, len(basic))),
    "signature-block": chunk(0xFE076, SIG) + chunk(0xFE840, bytes([0x34, 0x12, 0, 0, 0, 0xFE]) + b"\0" * 7),
    "legacy-blocks": chunk(0xD8044, SIG) + chunk(0xD8040, b"\x8c") + chunk(0xDC044, SIG) + chunk(0xDC040, b"\x8c"),
    "type208": table_at(structure(0xD0, 0, b"\0\0\x11\0\0\0") + structure(0xD0, 1, b"\0\0\xfe\0\x21\x43")
                        + structure(127, 2)),
    "oem-one-string": table_at(structure(11, 0, b"\1", (SIG,)) + structure(0xD0, 1, b"\0\0\x44\0") + structure(127, 2)),
    "cut-strings": table_at(bytes([11, 5, 0, 0, 1]) + b"ABC"),
    "short-header": table_at(structure(1, 0) + bytes([2, 3, 0, 0, 0, 0]) + structure(127, 1)),
    "high-table": chunk(0xF0000, entry(0xFFFFFFF0, 0xFFFF)),
    "kernel-sm3": kernel(entry3(len(basic)), basic),
    "kernel-sm": kernel(entry(0, 0), basic),
}

for name, data in seeds.items():
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
