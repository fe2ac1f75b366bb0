#!/usr/bin/env python3
"""Draws the hand pointer and writes it as a Windows .cur file (32x32, 32 bits per pixel)."""
import struct
import sys

# '#' outline, '.' white fill, ' ' transparent. The hot spot is the tip of the index finger.
ART = r"""
      ##
     #..#
     #..#
     #..#
     #..#
     #..###
     #..#..###
     #..#..#..##
  ## #..#..#..#.#
 #..##........#..#
 #...#...........#
  #..#...........#
   #.............#
   #.............#
    #............#
    #...........#
     #..........#
     #.........#
      #........#
      #........#
      ##########
"""

def main(path):
    rows = ART.strip("\n").split("\n")
    size = 32
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y, line in enumerate(rows):
        for x, ch in enumerate(line):
            if ch == "#":
                pixels[y + 2][x + 4] = (0, 0, 0, 255)
            elif ch == ".":
                pixels[y + 2][x + 4] = (255, 255, 255, 255)
    hot_x, hot_y = 4 + 7, 2 + 0
    xor = b""
    for y in reversed(range(size)):
        for (r, g, b, a) in pixels[y]:
            xor += struct.pack("<BBBB", b, g, r, a)
    mask = b""
    for y in reversed(range(size)):
        bits = 0
        for x in range(size):
            if pixels[y][x][3] == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    icondir = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, hot_x, hot_y, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "HAND-M.CUR")
