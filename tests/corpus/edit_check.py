#!/usr/bin/env python3
"""`kestrel /Edit` over every PE32 and PE32+ file of the corpus's two Wine packages, checked with pefile.

Each file is edited into a new file with
    /Edit FILE /Output:NEW --set-icon ICO --set-file-version 1.2.3.4 --set-product-version 5.6.7
          --set-version-string Comments=... --set-version-string CompanyName=...
          --set-requested-execution-level requireAdministrator --set-rcdata 4242=DATA
(the .ico is made here: two DIB images and a PNG one) and the new file is checked against the
original with pefile, an independent reader:
- the version resource (ID 1, else the first; created as ID 1 in the file's language when the file
  had none), in every language it has: fixed file and product version 1.2.3.4 and 5.6.7.0, and in
  every string table the two strings set (added where missing), FileVersion and ProductVersion
  strings "1.2.3.4" and "5.6.7" where that table had them (always in a created resource), every
  other string unchanged, no table gained or lost;
- the first icon group, in every language it has (group 1 when the file had none): its images are
  the .ico's images, in order;
- the application manifest (ID 1, else the first), in every language it has: a level attribute
  it had takes the new value and nothing else of the text changes; otherwise the text holds the
  new level (a file without a manifest gets manifest 1 in the file's language);
- RCDATA 4242 in every language it has (the file's language when it had none) holds DATA's bytes;
- every other resource (type, name, language, bytes; 32-bit bitmaps and string blocks compared as
  the round trip compares them) unchanged, old members of the icon group gone or unchanged;
- every other section, the headers and the overlay as roundtrip.py checks them; a file that had no
  resource section has a .rsrc section appended after its own, which stay as they were.
A file whose edit fails is "refused" when the import refuses it, or when the compile refuses the
larger resource section (a section after it that cannot move); anything else is a failure.

    edit_check.py --kestrel PATH [--rcedit PATH] [--corpus DIR] [--work DIR] [--files PATTERN...] [--sample N]

With --rcedit PATH, every file that passes is also edited in place by kestrel-rcedit with the
same changes in its syntax and must come out byte for byte as /Edit makes it (the product version
then given in four parts, as kestrel-rcedit completes it).

--corpus defaults to the fetched cache (tests/corpus/fetch). A full run over the 1446 Wine files
takes about 7 minutes on two cores (more than half of it in pefile), too long for the test run: it
is run by hand. Exit status 0 when no file failed.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import types
import zlib

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import roundtrip  # noqa: E402  (file discovery, the section/header comparison, resource leniencies)
from roundtrip import key_text, pe_resources  # noqa: E402

FILE_VERSION, PRODUCT_VERSION = "1.2.3.4", "5.6.7"
NEW_STRINGS = {"Comments": "Edited by the corpus check", "CompanyName": "Kestrel corpus check"}
LEVEL = "requireAdministrator"
RCDATA_ID = 4242
RCDATA = bytes(range(256)) * 3 + b"corpus check"
LEVEL_ATTRIBUTE = re.compile(rb"""<(?:[\w.-]+:)?requestedExecutionLevel\b[^>]*?\slevel\s*=\s*(["'])(.*?)\1""", re.S)
RESOURCE_PROBLEMS = ("resource ", "duplicate resource", "bitmap pixels differ", "string block differs")
# Every refusal of the compile's layout says so; an unchanged round trip never meets them because
# the resource section keeps its size there.
COMPILE_REFUSED = "编译被拒绝"


# --- The icon ---------------------------------------------------------------------------------

def dib_icon(size, seed):
    """A 32-bit DIB icon image: header with doubled height, BGRA rows, 1-bit AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes((x * 7 + y * 13 + seed * c) & 0xFF for y in range(size) for x in range(size) for c in range(4))
    mask = bytes(((size + 31) // 32 * 4) * size)
    return header + pixels + mask


def png_icon(size, seed):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes((x + y * seed + c * 40) & 0xFF for x in range(size) for c in range(4))
                    for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def make_ico():
    images = [(16, dib_icon(16, 1)), (32, dib_icon(32, 2)), (48, png_icon(48, 3))]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images), [data for _, data in images]


# --- Reading the files ------------------------------------------------------------------------

def resource_table(info):
    return {(key_text(r["type"]), key_text(r["name"]), r["language"]): r["data"] for r in info["resources"]}


def first_of(table, type_key, name_key=None):
    keys = [k for k in table if k[0] == type_key and (name_key is None or k[1] == name_key)]
    return keys[0] if keys else None  # the tables keep pefile's order: the directory's


def version_key(table):
    return first_of(table, "i:16", "i:1") or first_of(table, "i:16")


def file_language(table):
    key = version_key(table)
    if key:
        return key[2]
    return next(iter(table))[2] if table else 0x409


def group_members(data):
    (count,) = struct.unpack_from("<H", data, 4)
    return [struct.unpack_from("<H", data, 6 + 14 * i + 12)[0] for i in range(count)
            if 6 + 14 * i + 14 <= len(data)]


def version_keys(table):
    """Every language of the version resource /Edit changes."""
    key = version_key(table)
    return [k for k in table if key and k[:2] == key[:2]]


def version_of(pe, location):
    """(fixed file info, [each string table as {str: str}]) of the version resource at (rva, size).

    pefile parses only the first name's version resources by itself; here it parses the one asked for.
    """
    for name in ("VS_VERSIONINFO", "VS_FIXEDFILEINFO", "FileInfo"):
        if hasattr(pe, name):
            delattr(pe, name)
    rva, size = location
    pe.parse_version_information(types.SimpleNamespace(OffsetToData=rva, Size=size))
    fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
    tables = []
    for entries in getattr(pe, "FileInfo", []):
        for entry in entries:
            for table_entry in getattr(entry, "StringTable", []):
                tables.append({k.decode("utf-8", "replace"): v.decode("utf-8", "replace")
                               for k, v in table_entry.entries.items()})
    return fixed, tables


def set_string(strings, key, text, add):
    """Sets `key` (matched without regard to case, as /Edit matches it); adds it when asked to."""
    present = [k for k in strings if k.lower() == key.lower()]
    for k in present:
        strings[k] = text
    if not present and add:
        strings[key] = text


def expected_tables(old_tables, created):
    tables = [dict(t) for t in old_tables] if not created else [{}]
    for strings in tables:
        set_string(strings, "FileVersion", FILE_VERSION, created)
        set_string(strings, "ProductVersion", PRODUCT_VERSION, created)
    if not tables:
        tables = [{}]  # the version strings add a table to a resource that had none
    for strings in tables:
        for key, text in NEW_STRINGS.items():
            set_string(strings, key, text, True)
    return tables


def version_problems(original, edited, old_info, new_info, old, new, language):
    problems = []
    keys = version_keys(old) or [("i:16", "i:1", language)]
    old_locations = {(key_text(r["type"]), key_text(r["name"]), r["language"]): (r["rva"], r["size"])
                     for r in old_info["resources"]}
    new_locations = {(key_text(r["type"]), key_text(r["name"]), r["language"]): (r["rva"], r["size"])
                     for r in new_info["resources"]}
    old_pe = pefile.PE(original, fast_load=True) if keys[0] in old else None
    new_pe = pefile.PE(edited, fast_load=True)
    for key in keys:
        if key not in new:
            problems.append("version resource %s missing" % (key,))
            continue
        fixed, tables = version_of(new_pe, new_locations[key])
        if fixed is None:
            problems.append("no fixed file information in %s" % (key,))
        elif (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS) != \
                (0x00010002, 0x00030004, 0x00050006, 0x00070000):
            problems.append("fixed versions not set in %s" % (key,))
        created = key not in old
        old_tables = [] if created else version_of(old_pe, old_locations[key])[1]
        expected = expected_tables(old_tables, created)
        if len(tables) != len(expected):
            problems.append("version %s has %d string tables, expected %d" % (key, len(tables), len(expected)))
            continue
        for index, (strings, wanted) in enumerate(zip(tables, expected)):
            if strings != wanted:
                changed = sorted(k for k in set(strings) | set(wanted) if strings.get(k) != wanted.get(k))
                problems.append("version %s table %d strings differ: %s" % (key, index, ", ".join(changed)))
    return problems, keys


def same_resource(key, old, new):
    if old == new:
        return True
    if key[0] == "i:2" and roundtrip.dib_pixels(old) is not None and roundtrip.dib_pixels(old)[2] == 32:
        return roundtrip.dib_pixels(old) == roundtrip.dib_pixels(new)
    if key[0] == "i:6":
        return roundtrip.block_strings(old) is not None and roundtrip.block_strings(old) == roundtrip.block_strings(new)
    return False


# pefile reads each file once, though the round-trip comparison asks for it again.
_described = {}


def describe_once(path):
    stat = os.stat(path)
    key = (path, stat.st_ino, stat.st_mtime_ns, stat.st_size)
    if key not in _described:
        if len(_described) > 1:
            _described.clear()
        _described[key] = _describe(path)
    return _described[key]


_describe = pe_resources.describe
pe_resources.describe = describe_once


# --- The check --------------------------------------------------------------------------------

def check(original, edited, ico_images, kind, optional_size):
    problems = []
    old_info, new_info = pe_resources.describe(original), pe_resources.describe(edited)
    old, new = resource_table(old_info), resource_table(new_info)
    language = file_language(old)

    # Icon group.
    main = first_of(old, "i:14")
    group_keys = [k for k in old if main and k[:2] == main[:2]] or [("i:14", "i:1", language)]
    old_members, new_members = set(), set()
    for key in group_keys:
        for member in group_members(old[key]) if key in old else []:
            # A member missing in the group's language is looked up in any other.
            own = ("i:3", "i:%d" % member, key[2])
            old_members.update([own] if own in old else [k for k in old if k[:2] == own[:2]])
        if key not in new:
            problems.append("icon group %s missing" % (key,))
            continue
        members = [("i:3", "i:%d" % m, key[2]) for m in group_members(new[key])]
        new_members.update(members)
        if [new.get(m) for m in members] != ico_images:
            problems.append("icon group %s does not hold the .ico's images" % (key,))

    # Version resource, every language of it.
    version_problem_list, versions = version_problems(original, edited, old_info, new_info, old, new, language)
    problems.extend(version_problem_list)

    manifest_problem_list, manifests = manifest_problems(old, new, language)
    problems.extend(manifest_problem_list)

    # Every other resource.
    edited_keys = set(group_keys) | set(versions) | old_members | new_members | set(manifests)
    for key, data in old.items():
        if key in edited_keys:
            continue
        if key not in new:
            problems.append("resource lost: %s" % (key,))
        elif not same_resource(key, data, new[key]):
            problems.append("resource changed: %s" % (key,))
    for key in old_members - new_members:
        if key in new and new[key] != old[key]:
            problems.append("old icon member changed: %s" % (key,))
    problems.extend("resource added: %s" % (k,) for k in new if k not in old and k not in edited_keys)

    # Sections, headers, overlay.
    if not any(section["name"].lower() == b".rsrc" for section in old_info["sections"]):
        problems.extend(appended_section_problems(original, edited, old_info, new_info))
        return problems
    section_problems, _ = roundtrip.compare(original, edited, kind == "pe32plus", optional_size)
    problems.extend(p for p in section_problems if not p.startswith(RESOURCE_PROBLEMS))
    return problems


def manifest_problems(old, new, language):
    """The level in the application manifest and the RCDATA set; returns (problems, keys edited)."""
    problems = []
    main = first_of(old, "i:24", "i:1") or first_of(old, "i:24")
    manifests = [k for k in old if main and k[:2] == main[:2]] or [("i:24", "i:1", language)]
    for key in manifests:
        text = new.get(key)
        if text is None:
            problems.append("manifest %s missing" % (key,))
            continue
        found = LEVEL_ATTRIBUTE.search(text)
        if not found or found.group(2) != LEVEL.encode():
            problems.append("manifest %s does not request %s" % (key, LEVEL))
            continue
        before = LEVEL_ATTRIBUTE.search(old[key]) if key in old else None
        if before and text != old[key][:before.start(2)] + LEVEL.encode() + old[key][before.end(2):]:
            problems.append("manifest %s changed beyond its level" % (key,))
    data_keys = [k for k in old if k[:2] == ("i:10", "i:%d" % RCDATA_ID)] or [("i:10", "i:%d" % RCDATA_ID, language)]
    for key in data_keys:
        if new.get(key) != RCDATA:
            problems.append("RCDATA %s does not hold the new bytes" % (key,))
    return problems, manifests + data_keys


def appended_section_problems(original, edited, old_info, new_info):
    """A file that had no resource section gets one after its last section; the rest stays."""
    old_sections, new_sections = old_info["sections"], new_info["sections"]
    if len(new_sections) != len(old_sections) + 1 or new_sections[-1]["name"] != b".rsrc":
        return ["no .rsrc section appended (%d -> %d sections)" % (len(old_sections), len(new_sections))]
    fields = ("name", "characteristics", "sha256", "raw_size", "virtual_size", "virtual_address")
    problems = ["section %r changed" % a["name"] for a, b in zip(old_sections, new_sections)
                if any(a[f] != b[f] for f in fields)]
    with open(original, "rb") as stream:
        old_bytes = stream.read()
    with open(edited, "rb") as stream:
        new_bytes = stream.read()
    old_end, new_end = roundtrip.overlay_start(old_info), roundtrip.overlay_start(new_info)
    if old_bytes[old_end:] != new_bytes[new_end:]:
        problems.append("overlay differs")
    if old_bytes[:old_info["header"]["e_lfanew"]] != new_bytes[:new_info["header"]["e_lfanew"]]:
        problems.append("DOS header or stub differs")
    return problems


def rcedit_problems(args, path, work, environment, ico_path, data_path):
    """kestrel-rcedit with the same changes gives the bytes /Edit gives."""
    by_edit, by_rcedit = os.path.join(work, "by-edit"), os.path.join(work, "by-rcedit")
    four_parts = PRODUCT_VERSION + ".0" * (3 - PRODUCT_VERSION.count("."))
    flags = ["--set-icon", ico_path, "--set-file-version", FILE_VERSION, "--set-product-version", four_parts,
             "--set-requested-execution-level", LEVEL]
    edit_flags, rcedit_flags = list(flags), list(flags)
    for key, text in NEW_STRINGS.items():
        edit_flags += ["--set-version-string", "%s=%s" % (key, text)]
        rcedit_flags += ["--set-version-string", key, text]
    edit_flags += ["--set-rcdata", "%d=%s" % (RCDATA_ID, data_path)]
    rcedit_flags += ["--set-rcdata", str(RCDATA_ID), data_path]
    shutil.copyfile(path, by_rcedit)
    runs = [subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL, env=environment)
            for command in ([args.kestrel, "/Edit", path, "/Output:" + by_edit] + edit_flags,
                            [args.rcedit, by_rcedit] + rcedit_flags)]
    problems = ["%s failed (%d): %s" % (program, run.returncode, first_report_line(run.stderr))
                for program, run in zip(("/Edit", "kestrel-rcedit"), runs) if run.returncode != 0]
    if not problems:
        with open(by_edit, "rb") as one, open(by_rcedit, "rb") as other:
            if one.read() != other.read():
                problems.append("kestrel-rcedit's result differs from /Edit's")
    for made in (by_edit, by_rcedit):
        if os.path.exists(made):
            os.remove(made)
    return problems


def first_report_line(text):
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return lines[0][:200] if lines else "(no report)"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--rcedit", help="kestrel-rcedit, to compare its result with /Edit's")
    parser.add_argument("--corpus", help="the corpus root (default: what tests/corpus/fetch prints)")
    parser.add_argument("--work", help="scratch folder (default: a new one under $TMPDIR)")
    parser.add_argument("--files", nargs="*", help="only files whose name contains one of these")
    parser.add_argument("--sample", type=int, default=1, help="check every N-th file only")
    args = parser.parse_args()

    corpus, files = roundtrip.wine_package_files(args.corpus, args.files)
    files = files[::args.sample]
    if not files:
        print("no PE files found under %s" % corpus)
        return 1

    # On tmpfs when there is one, also for the edits' own temporary folders: thousands of small
    # files written and synced per edit would otherwise make the disk decide the running time.
    scratch_base = "/dev/shm" if os.path.isdir("/dev/shm") else None
    work = args.work or tempfile.mkdtemp(prefix="kestrel-edit-check-", dir=scratch_base)
    os.makedirs(work, exist_ok=True)
    environment = dict(os.environ, TMPDIR=work)
    ico_path = os.path.join(work, "check.ico")
    ico, ico_images = make_ico()
    with open(ico_path, "wb") as stream:
        stream.write(ico)
    data_path = os.path.join(work, "check.bin")
    with open(data_path, "wb") as stream:
        stream.write(RCDATA)
    edited = os.path.join(work, "edited")
    flags = ["--set-icon", ico_path, "--set-file-version", FILE_VERSION, "--set-product-version", PRODUCT_VERSION]
    for key, text in NEW_STRINGS.items():
        flags += ["--set-version-string", "%s=%s" % (key, text)]
    flags += ["--set-requested-execution-level", LEVEL, "--set-rcdata", "%d=%s" % (RCDATA_ID, data_path)]

    started = time.monotonic()
    passed, failures, refusals = 0, [], {}
    for path, (kind, optional_size) in files:
        name = os.path.relpath(path, corpus)
        if os.path.exists(edited):
            os.remove(edited)
        run = subprocess.run([args.kestrel, "/Edit", path, "/Output:" + edited] + flags,
                             capture_output=True, text=True, stdin=subprocess.DEVNULL, env=environment)
        if run.returncode != 0:
            probe = os.path.join(work, "import-probe")
            imported = subprocess.run([args.kestrel, "/Decompile", "/Output:" + probe, path],
                                      capture_output=True, text=True, stdin=subprocess.DEVNULL)
            shutil.rmtree(probe, ignore_errors=True)
            if imported.returncode != 0:
                refusals.setdefault("import: " + first_report_line(imported.stderr), []).append(name)
            elif COMPILE_REFUSED in run.stderr:
                reason = next(line for line in run.stderr.splitlines() if COMPILE_REFUSED in line)
                refusals.setdefault("compile: " + reason.strip()[:200], []).append(name)
            else:
                failures.append("%s: /Edit failed (%d): %s" % (name, run.returncode, first_report_line(run.stderr)))
            continue
        problems = check(path, edited, ico_images, kind, optional_size)
        if not problems and args.rcedit:
            problems = rcedit_problems(args, path, work, environment, ico_path, data_path)
        if problems:
            failures.extend("%s: %s" % (name, p) for p in problems[:10])
        else:
            passed += 1
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)

    for line in failures:
        print(line)
    refused = sum(len(names) for names in refusals.values())
    for reason, names in sorted(refusals.items()):
        print("refused (%d) %s: %s%s" % (len(names), reason, ", ".join(names[:5]), " ..." if len(names) > 5 else ""))
    failed = len(files) - passed - refused
    print("%d files tried: %d passed, %d refused, %d failed (%.0f s)"
          % (len(files), passed, refused, failed, time.monotonic() - started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
