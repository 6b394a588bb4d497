#!/usr/bin/env python3
"""`kestrel /Extract` of every icon and cursor group of shell32.dll, comctl32.dll and user32.dll of
the corpus (both Wine packages), checked against two independent readers:
- pefile lists the groups, their entries and the member resources;
- `icotool -l` (icoutils) must list, for each written .ico/.cur file, exactly the group's entries
  with the group's sizes;
- the images in the file (read from its directory) must equal the member resources' bytes (for
  cursors: without the hot spot that starts a cursor resource).
Every group and language must give exactly one file, GROUP_ICON_<name>_<language>.ico or
GROUP_CURSOR_<name>_<language>.cur.

    export_check.py --kestrel PATH [--corpus DIR]

Exit status 0 when every group checks, 1 otherwise, 77 (skip, with the reason printed) when the
corpus, pefile or icotool is missing.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
NAMES = ("shell32.dll", "comctl32.dll", "user32.dll")
GROUPS = {14: ("GROUP_ICON", ".ico", 3), 12: ("GROUP_CURSOR", ".cur", 1)}


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


def find_corpus_files(root):
    found = []
    for folder, _, files in os.walk(root):
        for name in files:
            if name.lower() in NAMES:
                found.append(os.path.join(folder, name))
    return sorted(found)


def key_text(entry):
    return str(entry.name) if entry.name is not None else str(entry.id)


def resources(pe):
    """{(type id, name text, language): bytes} of the numbered types the check needs."""
    out = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.name is not None or type_entry.id not in (1, 3, 12, 14):
            continue
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                out[(type_entry.id, key_text(name_entry), language_entry.id)] = pe.get_data(
                    data.OffsetToData, data.Size)
    return out


def group_entries(group, cursor):
    """(width, height, member id) of each entry of a group resource. A cursor entry's height is
    the picture's own; the size is checked against the member's DIB header in check_file."""
    count = struct.unpack_from("<H", group, 4)[0]
    entries = []
    for index in range(count):
        at = 6 + 14 * index
        if at + 14 > len(group):
            break
        if cursor:
            width, height = struct.unpack_from("<HH", group, at)
            height //= 2
        else:
            width, height = group[at] or 256, group[at + 1] or 256
        entries.append((width, height, struct.unpack_from("<H", group, at + 12)[0]))
    return entries


def file_images(data):
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for index in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * index + 8)
        images.append(data[offset:offset + size])
    return images


def icotool_sizes(path):
    listing = subprocess.run(["icotool", "-l", path], capture_output=True, text=True)
    if listing.returncode != 0:
        return None, listing.stderr.strip()
    sizes = [(int(w), int(h)) for w, h in re.findall(r"--width=(\d+) --height=(\d+)", listing.stdout)]
    return sizes, listing.stdout


def check_file(kestrel, path, work):
    import pefile

    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = resources(pe)
    problems = []
    checked = 0
    for group_type, (type_name, extension, member_type) in GROUPS.items():
        folder = os.path.join(work, type_name)
        run = subprocess.run([kestrel, "/Extract", "/Output:" + folder, path, "--type", str(group_type)],
                             capture_output=True, text=True)
        groups = {key: data for key, data in found.items() if key[0] == group_type}
        if not groups:
            continue
        if run.returncode != 0:
            problems.append("%s: /Extract --type %d failed (%d): %s" % (path, group_type, run.returncode,
                                                                        run.stderr.strip()))
            continue
        written = set(os.listdir(folder))
        expected = set()
        for (_, name, language), group in groups.items():
            file_name = "%s_%s_%d%s" % (type_name, name, language, extension)
            expected.add(file_name)
            label = "%s %s %s %d" % (os.path.basename(path), type_name, name, language)
            if file_name not in written:
                problems.append("%s: no file %s" % (label, file_name))
                continue
            with open(os.path.join(folder, file_name), "rb") as stream:
                data = stream.read()
            entries = group_entries(group, group_type == 12)
            sizes, listing = icotool_sizes(os.path.join(folder, file_name))
            if sizes is None:
                problems.append("%s: icotool cannot read the file: %s" % (label, listing))
                continue
            if group_type == 12:
                # Cursor groups of some linkers store the height without the mask rows: the member's
                # DIB header (its height counts the mask too) gives the size, and the group's width
                # must agree with it.
                pictures = []
                for width, _, member in entries:
                    member_data = found.get((1, str(member), language)) or b""
                    if len(member_data) >= 16:
                        dib_width, dib_height = struct.unpack_from("<ii", member_data, 8)
                        if dib_width != width:
                            problems.append("%s: member %d is %d wide, the group says %d" % (
                                label, member, dib_width, width))
                        pictures.append((dib_width, abs(dib_height) // 2))
                entries = [(w, h, m) for (w, h), (_, _, m) in zip(pictures, entries)]
            if sizes != [(w, h) for w, h, _ in entries]:
                problems.append("%s: icotool lists %s, the group %s" % (label, sizes, entries))
            images = file_images(data)
            for (_, _, member), image in zip(entries, images):
                member_data = found.get((member_type, str(member), language))
                if member_data is None:
                    member_data = next((value for key, value in sorted(found.items())
                                        if key[0] == member_type and key[1] == str(member)), None)
                if group_type == 12 and member_data is not None:
                    member_data = member_data[4:]
                if member_data != image:
                    problems.append("%s: image of member %d differs from the member resource" % (label, member))
            checked += 1
        if written != expected:
            problems.append("%s: files %s, expected %s" % (path, sorted(written ^ expected), len(expected)))
    return problems, checked


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--corpus")
    args = parser.parse_args()
    corpus = args.corpus or os.path.join(
        os.environ.get("KESTREL_CORPUS_CACHE", os.path.expanduser("~/.cache/kestrel-corpus")), "root")
    try:
        import pefile  # noqa: F401
    except ImportError:
        skip("python3-pefile is not installed")
    if shutil.which("icotool") is None:
        skip("icotool (Debian package icoutils) is not installed")
    files = find_corpus_files(corpus) if os.path.isdir(corpus) else []
    if not files:
        skip("no shell32.dll, comctl32.dll or user32.dll under %s (tests/corpus/fetch fetches them)" % corpus)
    problems = []
    total = 0
    with tempfile.TemporaryDirectory(prefix="kestrel-export-") as work:
        for index, path in enumerate(files):
            file_problems, checked = check_file(args.kestrel, path, os.path.join(work, str(index)))
            total += checked
            problems.extend(file_problems)
            print("%s: %d groups, %d problems" % (path, checked, len(file_problems)))
    for problem in problems[:50]:
        print("FAIL " + problem)
    print("%d files, %d groups exported and checked, %d problems" % (len(files), total, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
