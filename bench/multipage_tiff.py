#!/usr/bin/env python3
"""Writes a TIFF file of many small pages, quickly: each page an uncompressed
strip of SIZE x SIZE RGB bytes whose samples are the page's number (modulo
256), its directory right after it.

  multipage_tiff.py PAGES PATH [--size SIZE] [--big-endian]
"""
import argparse
import struct


def write(path, pages, size, big_endian):
    order = ">" if big_endian else "<"
    strip = size * size * 3
    out = bytearray(b"MM\x00\x2a" if big_endian else b"II\x2a\x00")
    out += struct.pack(order + "I", 0)  # the first directory, filled in below
    link = 4  # where the offset of the next directory goes
    for page in range(pages):
        data = len(out)
        out += bytes([page % 256]) * strip
        if len(out) % 2:
            out += b"\x00"
        bits = len(out)
        out += struct.pack(order + "HHH", 8, 8, 8)
        directory = len(out)
        struct.pack_into(order + "I", out, link, directory)
        # tag, type (3 SHORT, 4 LONG), count, value
        entries = [(256, 3, 1, size), (257, 3, 1, size), (258, 3, 3, bits), (259, 3, 1, 1),
                   (262, 3, 1, 2), (273, 4, 1, data), (277, 3, 1, 3), (278, 3, 1, size),
                   (279, 4, 1, strip), (284, 3, 1, 1)]
        out += struct.pack(order + "H", len(entries))
        for tag, kind, count, value in entries:
            packed = (struct.pack(order + "HH", value, 0) if kind == 3 and count == 1
                      else struct.pack(order + "I", value))
            out += struct.pack(order + "HHI", tag, kind, count) + packed
        link = len(out)
        out += struct.pack(order + "I", 0)
    with open(path, "wb") as f:
        f.write(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("pages", type=int)
    parser.add_argument("path")
    parser.add_argument("--size", type=int, default=1)
    parser.add_argument("--big-endian", action="store_true")
    args = parser.parse_args()
    write(args.path, args.pages, args.size, args.big_endian)


if __name__ == "__main__":
    main()
