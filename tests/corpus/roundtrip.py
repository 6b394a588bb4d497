#!/usr/bin/env python3
"""Round trip of every PE32 and PE32+ file of the fetched corpus, checked with pefile as an independent reader.

For each file: import, compile back unchanged, import the rebuilt file again (roundtrip_tool does
these and checks that both imports describe the same resources), then compare the original with the
rebuilt file here:
- the same resources (type, name, language) with identical bytes, except that a 32-bit bitmap
  stored as PNG keeps its width, height, bit count and pixel bytes (alpha included) under the
  information header the rebuild writes, string blocks are compared string by string (a padding slot
  after the 16th is not kept); every data entry keeps its code page;
- every other section's bytes, sizes and characteristics; sections after the resource section move
  in memory by the resource section's growth;
- the headers byte for byte except the fields the rebuild corrects, which must have their corrected
  values; the checksum valid where the original had one;
- the overlay (bytes after the last section) unchanged.

    roundtrip.py --tool PATH --corpus DIR --work DIR [--sample N] [--files PATTERN...]

Prints one line per difference and ends with the tally "N files, M resources, all identical".
Exit status 0 when everything is identical, 1 otherwise.
"""
import argparse
import os
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import pe_resources  # noqa: E402  (the pefile-based lister shared with the C++ tests)

# Files every sampled run includes: the richest resources of the corpus.
KEY_FILES = ("light.msstyles", "comdlg32.dll", "shell32.dll", "comctl32.dll", "notepad.exe", "cmd.exe",
             "xcopy.exe", "regedit.exe", "user32.dll", "msi.dll")


def pe32_kind(path):
    """'pe32', 'pe32plus' or None, with the size of the optional header."""
    try:
        with open(path, "rb") as stream:
            head = stream.read(64)
            if len(head) < 64 or head[:2] != b"MZ":
                return None
            (lfanew,) = struct.unpack_from("<I", head, 0x3C)
            stream.seek(lfanew)
            nt = stream.read(26)
    except OSError:
        return None
    if len(nt) < 26 or nt[:4] != b"PE\0\0":
        return None
    (optional_size,) = struct.unpack_from("<H", nt, 20)
    (magic,) = struct.unpack_from("<H", nt, 24)
    if magic == 0x10B:
        return "pe32", optional_size
    if magic == 0x20B:
        return "pe32plus", optional_size
    return None


def find_files(root):
    found = []
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            kind = pe32_kind(path)
            if kind:
                found.append((path, kind))
    return sorted(found)


WINE_PACKAGE_FOLDERS = ("usr/lib/i386-linux-gnu/wine", "usr/lib/x86_64-linux-gnu/wine")


def wine_package_files(corpus=None, name_parts=None):
    """(corpus root, [(path, kind)]) of the two Wine packages: the root given, else the one
    tests/corpus/fetch prints; only names containing one of `name_parts` when given."""
    if not corpus:
        fetch = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fetch")
        corpus = subprocess.run([fetch], capture_output=True, text=True, check=True).stdout.splitlines()[-1]
    files = []
    for folder in WINE_PACKAGE_FOLDERS:
        files.extend(find_files(os.path.join(corpus, folder)))
    if name_parts:
        files = [f for f in files if any(p in os.path.basename(f[0]) for p in name_parts)]
    return corpus, files


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def dib_pixels(dib):
    """(width, height, bit count, rows top first) of an uncompressed 24/32-bit DIB, or None."""
    if len(dib) < 40:
        return None
    size, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", dib, 0)
    (colors_used,) = struct.unpack_from("<I", dib, 32)
    if bits < 24 or compression not in (0, 3) or width <= 0 or height == 0:
        return None
    offset = size + (12 if compression == 3 and size == 40 else 0) + 4 * colors_used
    row = (bits * width + 31) // 32 * 4
    rows = abs(height)
    if offset + row * rows > len(dib):
        return None
    data = [dib[offset + r * row: offset + (r + 1) * row] for r in range(rows)]
    if height > 0:
        data.reverse()
    return width, rows, bits, b"".join(data)


def block_strings(block):
    out, at = [], 0
    for _ in range(16):
        if at + 2 > len(block):
            return None
        (length,) = struct.unpack_from("<H", block, at)
        at += 2
        if at + 2 * length > len(block):
            return None
        out.append(block[at: at + 2 * length])
        at += 2 * length
    return out


def key_text(key):
    return pe_resources.escaped_key(key)


def overlay_start(info):
    end = info["header"]["size_of_headers"]
    for section in info["sections"]:
        if section["raw_size"]:
            end = max(end, section["raw_offset"] + section["raw_size"])
    return end


def compare(original_path, rebuilt_path, pe32plus, optional_size):
    """Differences as a list of texts, and the number of resources compared."""
    problems = []
    with open(original_path, "rb") as stream:
        old_bytes = stream.read()
    with open(rebuilt_path, "rb") as stream:
        new_bytes = stream.read()
    old = pe_resources.describe(original_path)
    if old_bytes == new_bytes:
        # An image without resources comes back as it was, even where its checksum is wrong.
        return problems, len(old["resources"])
    new = pe_resources.describe(rebuilt_path)

    # Resources.
    def by_key(info):
        table = {}
        for resource in info["resources"]:
            key = (key_text(resource["type"]), key_text(resource["name"]), resource["language"])
            if key in table:
                problems.append("duplicate resource %s" % (key,))
            table[key] = resource["data"]
        return table

    old_resources, new_resources = by_key(old), by_key(new)
    new_code_pages = {(key_text(r["type"]), key_text(r["name"]), r["language"]): r["codepage"]
                      for r in new["resources"]}
    for resource in old["resources"]:
        key = (key_text(resource["type"]), key_text(resource["name"]), resource["language"])
        if key in new_code_pages and new_code_pages[key] != resource["codepage"]:
            problems.append("code page differs: %s (%d -> %d)" % (key, resource["codepage"], new_code_pages[key]))
    for key, data in old_resources.items():
        if key not in new_resources:
            problems.append("resource lost: %s" % (key,))
            continue
        rebuilt = new_resources[key]
        if data == rebuilt:
            continue
        if key[0] == "i:2" and dib_pixels(data) is not None and dib_pixels(data)[2] == 32:
            if dib_pixels(data) == dib_pixels(rebuilt):
                continue
            problems.append("bitmap pixels differ: %s" % (key,))
        elif key[0] == "i:6":
            a, b = block_strings(data), block_strings(rebuilt)
            if a is not None and a == b:
                continue
            problems.append("string block differs: %s" % (key,))
        else:
            problems.append("resource bytes differ: %s (%d -> %d bytes)" % (key, len(data), len(rebuilt)))
    for key in new_resources:
        if key not in old_resources:
            problems.append("resource added: %s" % (key,))

    # Sections.
    old_header, new_header = old["header"], new["header"]
    section_alignment = old_header["section_alignment"]
    if len(old["sections"]) != len(new["sections"]):
        problems.append("section count %d -> %d" % (len(old["sections"]), len(new["sections"])))
        return problems, len(old_resources)
    delta_va = 0
    delta_raw = 0
    after_resources = False
    for a, b in zip(old["sections"], new["sections"]):
        name = a["name"]
        if a["name"] != b["name"] or a["characteristics"] != b["characteristics"]:
            problems.append("section %r changed its name or characteristics" % name)
        if name.lower() == b".rsrc":
            delta_va = align_up(b["raw_size"], section_alignment) - align_up(a["raw_size"], section_alignment)
            delta_raw = b["raw_size"] - a["raw_size"]
            after_resources = True
            if a["virtual_address"] != b["virtual_address"]:
                problems.append("resource section moved in memory")
            if b["virtual_size"] != new_header["data_directories"][2][1]:
                problems.append("resource directory size differs from the section's virtual size")
            continue
        for field in ("sha256", "raw_size", "virtual_size"):
            if a[field] != b[field]:
                problems.append("section %r: %s differs" % (name, field))
        expected_va = a["virtual_address"] + (delta_va if after_resources else 0)
        if b["virtual_address"] != expected_va:
            problems.append("section %r: virtual address 0x%x, expected 0x%x" % (name, b["virtual_address"], expected_va))

    # Overlay.
    old_overlay_start, new_overlay_start = overlay_start(old), overlay_start(new)
    if old_bytes[old_overlay_start:] != new_bytes[new_overlay_start:]:
        problems.append("overlay differs (%d -> %d bytes)" % (len(old_bytes) - old_overlay_start,
                                                             len(new_bytes) - new_overlay_start))
    overlay_shift = new_overlay_start - old_overlay_start
    overlay_end = len(old_bytes)

    def shifted_if_in_overlay(offset):
        return offset + overlay_shift if old_overlay_start <= offset < overlay_end else offset

    # Header fields: unchanged, or corrected as the rebuild must.
    expected = dict(old_header)
    expected["size_of_image"] = (old_header["size_of_image"] + delta_va) & 0xFFFFFFFF
    # Initialized data is counted in raw sizes, as linkers count it.
    expected["size_of_initialized_data"] = (old_header["size_of_initialized_data"] + delta_raw) & 0xFFFFFFFF
    expected["pointer_to_symbol_table"] = shifted_if_in_overlay(old_header["pointer_to_symbol_table"])
    expected["checksum"] = new_header["checksum"] if old_header["checksum"] else 0
    directories = [list(d) for d in old_header["data_directories"]]
    if len(directories) > 2:
        directories[2][1] = new_header["data_directories"][2][1]
    if len(directories) > 4 and directories[4][0]:
        directories[4][0] = shifted_if_in_overlay(directories[4][0])
    if len(directories) > 5 and directories[5][0] and delta_va:
        relocations = [s for s in old["sections"] if s["name"].lower() == b".reloc"]
        for s in relocations:
            if s["virtual_address"] <= directories[5][0] < s["virtual_address"] + max(s["virtual_size"], s["raw_size"]):
                directories[5][0] += delta_va
    expected["data_directories"] = directories
    for field, value in expected.items():
        if new_header[field] != value:
            problems.append("header %s: %r, expected %r" % (field, new_header[field], value))
    if old_header["checksum"] and not new["checksum_valid"]:
        problems.append("checksum not valid")

    # The DOS part and the header bytes outside the corrected fields.
    lfanew = old_header["e_lfanew"]
    if old_bytes[:lfanew] != new_bytes[:lfanew]:
        problems.append("DOS header or stub differs")
    masked = set()
    optional = lfanew + 24
    directories_at = optional + (112 if pe32plus else 96)
    section_table = optional + optional_size
    for offset in (lfanew + 12, optional + 8, optional + 56, optional + 64, directories_at + 8 * 2 + 4,
                   directories_at + 8 * 4, directories_at + 8 * 5):
        masked.update(range(offset, offset + 4))
    for index in range(len(old["sections"])):
        masked.update(range(section_table + 40 * index + 8, section_table + 40 * index + 24))
    header_end = old_header["size_of_headers"]
    if any(old_bytes[i] != new_bytes[i] for i in range(lfanew, header_end) if i not in masked):
        problems.append("header bytes differ outside the corrected fields")
    return problems, len(old_resources)


def check_added(added_path, ico_path, version_path):
    """Problems of the file that was given an icon group and a version block by the tool."""
    problems = []
    info = pe_resources.describe(added_path)
    table = {(key_text(r["type"]), key_text(r["name"]), r["language"]): r["data"] for r in info["resources"]}
    with open(ico_path, "rb") as stream:
        ico = stream.read()
    with open(version_path, "rb") as stream:
        version = stream.read()
    (count,) = struct.unpack_from("<H", ico, 4)
    images = []
    for index in range(count):
        size, offset = struct.unpack_from("<II", ico, 6 + 16 * index + 8)
        images.append(ico[offset: offset + size])
    group = table.get(("i:14", "i:1", 1033))
    if group is None:
        return ["added icon group not found"]
    (members,) = struct.unpack_from("<H", group, 4)
    found = []
    for index in range(members):
        (member_id,) = struct.unpack_from("<H", group, 6 + 14 * index + 12)
        found.append(table.get(("i:3", "i:%d" % member_id, 1033)))
    if found != images:
        problems.append("the added icon's images are not intact")
    if table.get(("i:16", "i:1", 1033)) != version:
        problems.append("added version block not found or changed")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--sample", type=int, default=1,
                        help="check every N-th file only (plus the key files); 1 checks all")
    parser.add_argument("--files", nargs="*", help="only files whose name contains one of these")
    args = parser.parse_args()

    files = find_files(args.corpus)
    if args.files:
        files = [f for f in files if any(p in os.path.basename(f[0]) for p in args.files)]
    if args.sample > 1:
        files = [f for i, f in enumerate(files)
                 if i % args.sample == 0 or os.path.basename(f[0]) in KEY_FILES]
    if not files:
        print("no PE files found under %s" % args.corpus)
        return 1

    os.makedirs(args.work, exist_ok=True)
    tool = subprocess.Popen([args.tool], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
    failures, refusals, files_ok, resources, unchanged, added = [], [], 0, 0, 0, 0
    started = time.monotonic()
    work = os.path.join(args.work, "current")
    for path, (kind, optional_size) in files:
        tool.stdin.write("%s\t%s\n" % (path, work))
        tool.stdin.flush()
        reply = tool.stdout.readline().rstrip("\n").split("\t")
        status = reply[0]
        name = os.path.relpath(path, args.corpus)
        if status == "REFUSED":
            text = reply[1] if len(reply) > 1 else ""
            refusals.append("%s: import refused: %s" % (name, text[:300]))
            continue
        if status != "OK":
            failures.append("%s: %s" % (name, " ".join(reply[1:])[:400]))
            continue
        problems, count = compare(path, reply[1], kind == "pe32plus", optional_size)
        if len(reply) >= 7:
            added += 1
            problems.extend(check_added(reply[4], reply[5], reply[6]))
        if not problems and count == 0:
            unchanged += 1
        if problems:
            failures.extend("%s: %s" % (name, p) for p in problems[:20])
        else:
            files_ok += 1
            resources += count
    tool.stdin.close()
    tool.wait()

    for line in failures + refusals:
        print(line)
    elapsed = time.monotonic() - started
    print("%d of them without resources, %d of those given an icon group and a version block" % (unchanged, added))
    if failures or refusals:
        print("%d files, %d resources identical; %d differences, %d refusals (%.0f s)"
              % (files_ok, resources, len(failures), len(refusals), elapsed))
        return 1
    print("%d files, %d resources, all identical (%.0f s)" % (files_ok, resources, elapsed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
