#!/usr/bin/env python3
"""Writes a sample boot image for trying Kestrel: the boot marker, a version and today's
build date at the places the tool reads them, and varied content in every block."""
import datetime
import sys


def main() -> int:
    if len(sys.argv) not in (2, 3):
        print("usage: make_sample_image.py OUTPUT.bin [SIZE_IN_KIB]", file=sys.stderr)
        return 2
    size = int(sys.argv[2]) * 1024 if len(sys.argv) == 3 else 256 * 1024
    if size < 0x40:
        print("the image must hold at least 64 bytes", file=sys.stderr)
        return 2
    image = bytearray((i * 131 + (i >> 10) * 7) & 0xFF for i in range(size))
    now = datetime.datetime.now()
    date = now.strftime("%b ") + f"{now.day:2d}" + now.strftime(" %Y")
    image[0x20:0x20 + 19] = (date + now.strftime("%H:%M:%S")).encode("ascii")
    image[0x34:0x37] = b"1  "
    image[0x37:0x3B] = b"BOOT"
    if size >= 0x20028:
        image[0x20024:0x20028] = b"\xff\xff\xff\xff"
    with open(sys.argv[1], "wb") as out:
        out.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
