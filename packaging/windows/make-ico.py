#!/usr/bin/env python3
"""Writes a Windows icon file that holds the given PNG images as they are (PNG entries, which
Windows reads since Vista), so that the icon is made from app/icons/ at build time.

    make-ico.py OUT.ico IMAGE.png...
"""
import struct
import sys

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_size(path, data):
    # The IHDR chunk comes first: width and height follow its length and type.
    if data[:8] != PNG_SIGNATURE or data[12:16] != b"IHDR":
        sys.exit(f"{path}: not a PNG image")
    width, height = struct.unpack(">II", data[16:24])
    if not (0 < width <= 256 and 0 < height <= 256):
        sys.exit(f"{path}: {width}x{height} does not fit an icon entry (256 at most)")
    return width, height


def main(args):
    if len(args) < 2:
        sys.exit(__doc__.strip())
    out, paths = args[0], args[1:]
    images = []
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        images.append((png_size(path, data), data))

    # ICONDIR, one 16-byte ICONDIRENTRY per image, then the images.
    header = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    offset = len(header) + 16 * len(images)
    for (width, height), data in images:
        # A size of 256 is written as 0; colour planes 1, 32 bits per pixel.
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data),
                               offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(header + entries + b"".join(data for _, data in images))


if __name__ == "__main__":
    main(sys.argv[1:])
