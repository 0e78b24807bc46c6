#!/usr/bin/env python3
"""Writes the stored block that the hooking tests carry as resource "ELDATA":
magic, block version 504, compile date, the numbered symbol table, an empty
options stream and the password check."""
import struct
import sys

MAGIC = 0x000FAB10
symbols = [(0, 0x10, 0x20), (1, 0x200, 0x10), (9, 0x7FFFFFF0, 4)]
table = b"".join(struct.pack("<BII", number, offset, size) for number, offset, size in symbols)
block = struct.pack("<IH", MAGIC, 504) + struct.pack("<d", 45000.5)
block += struct.pack("<I", len(table)) + table + struct.pack("<I", 0) + struct.pack("<I", MAGIC)
with open(sys.argv[1], "wb") as out:
    out.write(block)
