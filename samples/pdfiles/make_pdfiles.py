#!/usr/bin/python3
"""Writes the sample PD-files of this folder from the ACX format description.

ACX (all numbers little-endian): an 8-byte header ("AcX", a reserved byte,
the format version 0x0200 with the major version in the high byte, two
reserved bytes), then one document tag (id 0) holding all other tags. A tag
header has 3 bytes, or 7 when bit 7 of its first byte is set:
  byte 0 bits 0-6: length bits 0-6; bit 7: 7-byte header
  byte 1: id bits 0-7; byte 2 bits 0-4: id bits 8-12, bits 5-7: kind bits 0-2
  bytes 3-4: length bits 7-22; byte 5: kind bits 8-15; byte 6: id bits 13-20
Kinds: 0 compound, 1 and 2 integer (1/2/4/8 bytes), 3 string, 4 float, 5 marker.
A file may be gzip-compressed as a whole.

PD-file roles: 2144 base section (file type 1) with header bytes 2088/2089
(8-bit), strings 150/67/142; 2145 base data and 2147 view data with 2129 view
id, 2146 data-set handling, 136 parallel connectable (16-bit), 2121 type GUID
(32 hex digits), 2122/2123 major/minor (8-bit), 17 (32-bit); 2365 ES data with
66 ES name and 2121 ES GUID; 65, 1037, 2096, 2107, 2209 are skipped whole.

Usage: make_pdfiles.py [output directory]   (default: this script's folder)
"""
import gzip
import os
import struct
import sys


def header(tag_id, kind, length):
    ext = length > 0x7F or tag_id > 0x1FFF or kind > 7
    first = (length & 0x7F) | (0x80 if ext else 0)
    h = bytes([first, tag_id & 0xFF, ((tag_id >> 8) & 0x1F) | ((kind & 7) << 5)])
    if ext:
        h += bytes([(length >> 7) & 0xFF, (length >> 15) & 0xFF, (kind >> 8) & 0xFF,
                    (tag_id >> 13) & 0xFF])
    return h


def tag(tag_id, kind, content):
    return header(tag_id, kind, len(content)) + content


def compound(tag_id, *children):
    return tag(tag_id, 0, b"".join(children))


def u8(tag_id, v):
    return tag(tag_id, 1, struct.pack("<B", v))


def u16(tag_id, v):
    return tag(tag_id, 1, struct.pack("<H", v))


def u32(tag_id, v):
    return tag(tag_id, 1, struct.pack("<I", v))


def text(tag_id, s):
    return tag(tag_id, 3, s.encode("utf-8"))


def document(*children, version=0x0200):
    return b"AcX\0" + struct.pack("<H", version) + b"\0\0" + compound(0, *children)


def es_data(name, guid):
    return compound(2365, text(66, name), text(2121, guid))


def pd_file(name, title, view_id, data_set, parallel, type_guid, major, minor, with_view=True):
    base = compound(2145, u16(2129, view_id), u16(2146, data_set), u32(17, 0x00010002),
                    text(2121, type_guid), u8(2122, major), u8(2123, minor),
                    es_data(name + "Es", "5A3C0F00112233445566778899AABBCC"))
    view = compound(2147, u16(136, parallel), text(2121, type_guid), u8(2122, major),
                    u8(2123, minor + 1), es_data(name + "View", "6B4D1E00112233445566778899AABBCC"))
    parts = [u8(2088, 1), u8(2089, 2), text(150, name), text(67, title), text(142, "sample"),
             u16(135, 0), u32(161, 0), base]
    if with_view:
        parts.append(view)
    parts.append(compound(65, u8(1, 0), text(2, "skipped whole")))
    return document(compound(2144, *parts))


SAMPLES = {
    # name: (bytes, compressed)
    "Drive.pd": (pd_file("Drive", "Axis drive", 3, 1, 1, "0123456789ABCDEF0123456789ABCDEF", 2, 0),
                 False),
    "Cam.pd": (pd_file("Cam", "Cam disk", 0, 0, 0, "FEDCBA9876543210FEDCBA9876543210", 1, 4,
                       with_view=False), False),
    "Drive.pd.gz": (pd_file("Drive", "Axis drive", 3, 1, 1, "0123456789ABCDEF0123456789ABCDEF",
                            2, 0), True),
    "Library.pd": (document(compound(2409, u8(2088, 9), text(150, "Library"))), False),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    for name, (data, compressed) in SAMPLES.items():
        path = os.path.join(out, name)
        if compressed:
            # mtime 0 keeps the file byte-identical between runs.
            data = gzip.compress(data, mtime=0)
        with open(path, "wb") as f:
            f.write(data)
        print(path)


if __name__ == "__main__":
    main()
