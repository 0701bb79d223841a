#!/usr/bin/env python3
"""Writes res/qelmo.ico: the program's 32x32, 16-colour icon, a key cap fed
by a serial plug. Run it again after changing the picture below."""
import struct
import sys

# The standard 16-colour palette, by index.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
INK = {"k": 0, "n": 4, "s": 7, "g": 8, "y": 11, "b": 12, "w": 15}

PICTURE = """
................................
................................
...........kkkkkkkkkkkkkkkkkkk..
..........kwwwwwwwwwwwwwwwwwwsk.
..........kwssssssssssssssssgsk.
..........kwsssssssssssssssggsk.
..........kwssssssskkssssssggsk.
..........kwsssssskkkksssssggsk.
..........kwssssskkssksssssggsk.
..........kwssssskkssksssssggsk.
..........kwsssskkssskksssgggsk.
..........kwsssskkkkkkksssgggsk.
..........kwsssskkssskksssgggsk.
..........kwssskkssssskkssgggsk.
..........kwssskksssssskksgggsk.
..........kwssssssssssssssgggsk.
..........kwsgggggggggggggggggk.
..........kwggggggggggggggggggk.
...........kkkkkkkkkkkkkkkkkkk..
..................kk............
..................kk............
..................kk............
..kkkkkkkkkkk.....kk............
..kbbbbbbbbbk.....kk............
..kbyybyybyybkkkkkkk............
..kbbbbbbbbbbkkkkkkk............
...kbyybyybbk...................
...kbbbbbbbbk...................
....kkkkkkkk....................
................................
................................
................................
"""


def main(path):
    rows = [r for r in PICTURE.split("\n") if r]
    assert len(rows) == 32 and all(len(r) == 32 for r in rows)
    xor, mask = b"", b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        idx = [INK.get(c, 0) for c in row]
        xor += bytes((idx[i] << 4) | idx[i + 1] for i in range(0, 32, 2))
        bits = "".join("1" if c == "." else "0" for c in row)
        mask += int(bits, 2).to_bytes(4, "big")
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 22)
    with open(path, "wb") as f:
        f.write(directory + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "res/qelmo.ico")
