#!/usr/bin/env python3
"""Writes the example server next to this script: XPHex.txt (400 levels) and a few made-up
character files under Dataserver/userdata/<bucket>/<name>.dat. Deterministic: running it
again gives the same bytes.

Run from anywhere: python3 examples/server/make-example-server.py
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
LEVELS = 400
CHARACTER_BYTES = 1024  # the level change touches bytes 200..201, 332..335 and 404..407


def experience(level):
    """Total experience to reach level (1-based); 0 at level 1, strictly growing, and above
    2^32 from level 390 on so the last levels also fill the high bytes at 404."""
    n = level - 1
    return 72 * n**3 + 400 * n**2 + 1000 * n


def bucket(name):
    """Sum of the name's bytes with 'a'..'z' counted as upper case, modulo 256."""
    return sum(b - 32 if 0x61 <= b <= 0x7A else b for b in name) % 256


def character_file(name, level, seed):
    """A made-up record: magic, name, class, stats; the level minus 1 at 200 (16-bit from 256
    up), experience low 32 bits at 332 and high 32 bits at 404, little-endian."""
    data = bytearray(CHARACTER_BYTES)
    state = seed
    for i in range(len(data)):  # filler a reader can tell from zeros: a 32-bit LCG
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        data[i] = state >> 24
    data[0:4] = b"CHR1"
    data[4:36] = name.ljust(32, b"\0")
    data[36] = seed % 5  # class
    struct.pack_into("<5H", data, 40, *(20 + (seed * k) % 80 for k in range(1, 6)))
    index = level - 1
    if index < 256:
        data[200] = index
    else:
        struct.pack_into("<H", data, 200, index)
    xp = experience(level)
    struct.pack_into("<I", data, 332, xp & 0xFFFFFFFF)
    struct.pack_into("<I", data, 404, xp >> 32)
    return bytes(data)


CHARACTERS = [  # name, level
    (b"Warrior", 12),
    (b"Hero123", 57),
    (b"abc", 1),
    (b"Mage", 256),
    (b"Rogue", 301),
    (b"Paladin", 400),
]


def main():
    with open(os.path.join(HERE, "XPHex.txt"), "wb") as table:
        for level in range(1, LEVELS + 1):
            table.write(b"%016X\r\n" % experience(level))
    for seed, (name, level) in enumerate(CHARACTERS, start=1):
        folder = os.path.join(HERE, "Dataserver", "userdata", str(bucket(name)))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name.decode("ascii") + ".dat"), "wb") as out:
            out.write(character_file(name, level, seed))


if __name__ == "__main__":
    main()
