#!/usr/bin/env python3
"""Turns imported working folders into seed inputs for the fuzz targets.

    corpus_seeds.py IMPORTED_FOLDER SEEDS_FOLDER

IMPORTED_FOLDER holds one working folder per imported PE file; SEEDS_FOLDER gets one folder per
target. Each seed is shaped the way its target reads its input (a selector byte first where the
target wants one). Identical seeds are written once, and each target gets at most 80 of them,
spread over the folders, so that no single file dominates.
"""
import hashlib
import os
import re
import sys

LIMIT = 80
MAX_SIZE = 256 * 1024
GROUP = re.compile(r"^1[24]\d{5}$")  # icon and cursor group resources


def collect(imported):
    """Every file of the imported folders, by kind."""
    kinds = {"bmp": [], "png": [], "ico": [], "cur": [], "group": [], "pe.xml": [], "strings": []}
    for folder, _, names in sorted(os.walk(imported)):
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.getsize(path) > MAX_SIZE:
                continue
            lower = name.lower()
            extension = os.path.splitext(lower)[1].lstrip(".")
            if lower == "pe.xml":
                kinds["pe.xml"].append(path)
            elif lower == "strings.xml":
                kinds["strings"].append(path)
            elif extension in ("bmp", "png", "ico", "cur"):
                kinds[extension].append(path)
            elif GROUP.match(name):
                kinds["group"].append(path)
    return kinds


def spread(paths, limit=LIMIT):
    if len(paths) <= limit:
        return paths
    step = len(paths) / limit
    return [paths[int(i * step)] for i in range(limit)]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    imported, seeds = sys.argv[1], sys.argv[2]
    kinds = collect(imported)
    out = {}

    def add(target, data):
        out.setdefault(target, {})[hashlib.sha1(data).hexdigest()] = data

    for path in spread(kinds["bmp"]):
        add("bmp_read", read(path))
    # PNG files, and the PNG images that large icons carry after their 22-byte directory.
    icon_pngs = [p for p in kinds["ico"] if read(p)[22:30] == b"\x89PNG\r\n\x1a\n"]
    for path in spread(kinds["png"]):
        add("png_read", read(path))
    for path in spread(icon_pngs, LIMIT // 2):
        add("png_read", read(path)[22:])
    for path in spread(kinds["ico"] + kinds["cur"] + kinds["group"]):
        add("icon_group", read(path))
    # colorize_file: the low two bits of the first byte choose .BMP, .ICO, .CUR or .png.
    for selector, kind in enumerate(("bmp", "ico", "cur", "png")):
        for n, path in enumerate(spread(kinds[kind], LIMIT // 4)):
            add("colorize_file", bytes([selector | ((n * 0x34) & 0xFC)]) + read(path))
    for path in spread(kinds["pe.xml"] + kinds["strings"]):
        add("xml_parse", read(path))
    # compile_folder: pe.xml, a zero byte, STRINGS.XML.
    for path in spread(kinds["pe.xml"]):
        strings = os.path.join(os.path.dirname(path), "STRINGS.XML")
        add("compile_folder", read(path) + b"\0" + (read(strings) if os.path.exists(strings) else b""))
    # text_paths: selector 1 reads stored text, selector 2 resolves a stored name.
    for path in spread(kinds["strings"], LIMIT // 2):
        add("text_paths", b"\x01" + read(path)[:4096])
    for path in spread(kinds["bmp"] + kinds["ico"] + kinds["group"], LIMIT // 2):
        add("text_paths", b"\x02" + os.path.relpath(path, imported).split(os.sep, 1)[-1].encode())

    for target, inputs in out.items():
        folder = os.path.join(seeds, target)
        if not os.path.isdir(folder):
            continue  # not a target of this campaign
        for digest, data in inputs.items():
            with open(os.path.join(folder, "corpus-" + digest[:16]), "wb") as f:
                f.write(data)
        print(f"{target}: {len(inputs)} seeds from the corpus")


if __name__ == "__main__":
    main()
