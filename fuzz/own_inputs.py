#!/usr/bin/env python3
"""Copies into the committed seed folder the merged inputs that are new and our own.

    own_inputs.py CAMPAIGN_SEEDS COMMITTED MERGED

An input is new when no committed seed has the same bytes. It is our own unless it carries a piece
of a downloaded file: every seed named corpus-* in CAMPAIGN_SEEDS came from the fetched corpus, and
an input that contains any 32-byte stretch of one of them (taken at 16-byte steps, so any copied run
of 47 bytes or more is caught) is left out. Stretches of few distinct byte values (zero fill,
padding) are common to everything and are not counted. Inputs above 64 KiB are left out too.
"""
import hashlib
import os
import sys

WINDOW = 32
STEP = 16
MAX_SIZE = 64 * 1024


def read(path):
    with open(path, "rb") as f:
        return f.read()


def distinctive(chunk):
    return len(set(chunk)) >= 6


def downloaded_pieces(seeds):
    pieces = set()
    if not os.path.isdir(seeds):
        return pieces
    for name in os.listdir(seeds):
        if not name.startswith("corpus-"):
            continue
        data = read(os.path.join(seeds, name))
        for offset in range(0, max(len(data) - WINDOW + 1, 0), STEP):
            chunk = data[offset : offset + WINDOW]
            if distinctive(chunk):
                pieces.add(chunk)
    return pieces


def carries_piece(data, pieces):
    return any(data[i : i + WINDOW] in pieces for i in range(len(data) - WINDOW + 1))


def main():
    seeds, committed, merged = sys.argv[1:4]
    have = {hashlib.sha1(read(os.path.join(committed, n))).hexdigest() for n in os.listdir(committed)}
    pieces = downloaded_pieces(seeds)
    kept = foreign = large = 0
    for name in sorted(os.listdir(merged)):
        data = read(os.path.join(merged, name))
        digest = hashlib.sha1(data).hexdigest()
        if digest in have:
            continue
        if len(data) > MAX_SIZE:
            large += 1
        elif carries_piece(data, pieces):
            foreign += 1
        else:
            with open(os.path.join(committed, digest[:16]), "wb") as f:
                f.write(data)
            have.add(digest)
            kept += 1
    target = os.path.basename(os.path.normpath(committed))
    print(f"{target}: {kept} new seeds kept, {foreign} left out (downloaded pieces), {large} left out (size)")


if __name__ == "__main__":
    main()
