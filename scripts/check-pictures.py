#!/usr/bin/env python3
"""Fails when a PNG picture is blank: every pixel one colour, or not a picture at all.

Usage: check-pictures.py FILE.png...   Exit 0 when every picture shows something, 1 when
one is blank or cannot be read (one line on stderr per such picture), 2 on wrong arguments.
Reads 8-bit RGB, RGBA, grey and grey+alpha pictures without interlacing, as the demo's
screen grabs are; anything else counts as unreadable.
"""
import struct
import sys
import zlib

MAX_BYTES = 64 << 20  # a screen grab is a few MiB at most
CHANNELS = {0: 1, 2: 3, 4: 2, 6: 4}


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def rows(path):
    """Yields the picture's rows unfiltered, as bytes; raises ValueError when unreadable."""
    with open(path, "rb") as f:
        data = f.read(MAX_BYTES + 1)
    if len(data) > MAX_BYTES or data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError("no PNG header")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in CHANNELS or interlace != 0:
        raise ValueError("a PNG format this check does not read")
    bpp = CHANNELS[colour]
    stride = width * bpp
    raw = zlib.decompressobj().decompress(b"".join(idat), height * (stride + 1))
    if len(raw) < height * (stride + 1):
        raise ValueError("the PNG is cut short")
    previous = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        if kind == 1:
            for i in range(bpp, stride):
                row[i] = (row[i] + row[i - bpp]) & 0xFF
        elif kind == 2:
            row = bytearray((r + p) & 0xFF for r, p in zip(row, previous))
        elif kind == 3:
            for i in range(stride):
                left = row[i - bpp] if i >= bpp else 0
                row[i] = (row[i] + ((left + previous[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                left = row[i - bpp] if i >= bpp else 0
                corner = previous[i - bpp] if i >= bpp else 0
                row[i] = (row[i] + paeth(left, previous[i], corner)) & 0xFF
        elif kind != 0:
            raise ValueError("an unknown PNG filter")
        yield bytes(row), bpp
        previous = row


def blank(path):
    """Returns the reason the picture is blank or unreadable, or None when it shows something."""
    try:
        first = None
        for row, bpp in rows(path):
            if first is None:
                first = row[:bpp]
            if row != first * (len(row) // bpp):
                return None
        return "every pixel is one colour" if first is not None else "no pixels"
    except (OSError, ValueError, zlib.error) as error:
        return str(error)


def main(argv):
    if len(argv) < 2:
        print("usage: check-pictures.py FILE.png...", file=sys.stderr)
        return 2
    status = 0
    for path in argv[1:]:
        reason = blank(path)
        if reason is not None:
            print(f"{path}: a blank or unreadable picture ({reason})", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
