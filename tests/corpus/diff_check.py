#!/usr/bin/env python3
"""`kestrel /Diff` on real files of the corpus's two Wine packages, checked with pefile.

For every N-th file (--sample, default 16):
- /Diff of the file with itself prints nothing and ends with status 0;
- the file is edited (/Edit --set-file-version 1.2.3.4 --set-string ID=TEXT) into a new file, and
  /Diff --json of the two must report exactly what pefile, an independent reader, sees differ:
  every resource added, removed or changed (with its sizes and code pages), every section whose
  header fields or bytes differ (with those fields' values), every header field that differs (with
  its values), the overlay and the certificate table. The resources must be the version resource in
  each of its languages and the string block of the ID, nothing else (32-bit bitmaps whose header
  the rebuild rewrote with the same pixels are counted apart, as the round trip accepts them), and
  the strings reported for that block exactly the ones whose text differs;
- /Diff --json of the file and the next file of the sample (two unrelated programs) must match
  pefile's reading in the same way.

    diff_check.py --kestrel PATH [--corpus DIR] [--sample N] [--files PATTERN...]

Exit status 0 when no file failed, 77 when there is no corpus (tests/corpus/fetch fetches it).
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import roundtrip  # noqa: E402  (file discovery)
from roundtrip import pe_resources  # noqa: E402

STRING_ID, STRING_TEXT = 1, "Changed by the diff check"
FILE_VERSION = "1.2.3.4"

FILE_FIELDS = ("Machine", "NumberOfSections", "TimeDateStamp", "PointerToSymbolTable", "NumberOfSymbols",
               "SizeOfOptionalHeader", "Characteristics")
OPTIONAL_FIELDS = ("Magic", "MajorLinkerVersion", "MinorLinkerVersion", "SizeOfCode", "SizeOfInitializedData",
                   "SizeOfUninitializedData", "AddressOfEntryPoint", "BaseOfCode", "BaseOfData", "ImageBase",
                   "SectionAlignment", "FileAlignment", "MajorOperatingSystemVersion",
                   "MinorOperatingSystemVersion", "MajorImageVersion", "MinorImageVersion",
                   "MajorSubsystemVersion", "MinorSubsystemVersion", "Win32VersionValue", "SizeOfImage",
                   "SizeOfHeaders", "CheckSum", "Subsystem", "DllCharacteristics", "SizeOfStackReserve",
                   "SizeOfStackCommit", "SizeOfHeapReserve", "SizeOfHeapCommit", "LoaderFlags",
                   "NumberOfRvaAndSizes")
PEFILE_NAMES = {"Win32VersionValue": "Reserved1"}
DIRECTORIES = ("ExportTable", "ImportTable", "ResourceTable", "ExceptionTable", "CertificateTable",
               "BaseRelocationTable", "Debug", "Architecture", "GlobalPtr", "TLSTable", "LoadConfigTable",
               "BoundImport", "IAT", "DelayImportDescriptor", "CLRRuntimeHeader", "Reserved")
SECTION_FIELDS = (("VirtualSize", "Misc_VirtualSize"), ("VirtualAddress", "VirtualAddress"),
                  ("SizeOfRawData", "SizeOfRawData"), ("PointerToRawData", "PointerToRawData"),
                  ("PointerToRelocations", "PointerToRelocations"),
                  ("PointerToLinenumbers", "PointerToLinenumbers"),
                  ("NumberOfRelocations", "NumberOfRelocations"), ("NumberOfLinenumbers", "NumberOfLinenumbers"),
                  ("Characteristics", "Characteristics"))


# --- pefile's reading ---------------------------------------------------------------------------

def key_of(key):
    """A resource key as /Diff's JSON gives it: the ID, or the name as a string."""
    if isinstance(key, int):
        return key
    if isinstance(key, pe_resources.UnreadableName):
        return None
    return struct.pack("<%dH" % len(key), *key).decode("utf-16-le", "surrogatepass")


def read(path):
    with open(path, "rb") as stream:
        data = stream.read()
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    fields = {"e_lfanew": pe.DOS_HEADER.e_lfanew}
    for name in FILE_FIELDS:
        fields[name] = getattr(pe.FILE_HEADER, name)
    for name in OPTIONAL_FIELDS:
        if hasattr(pe.OPTIONAL_HEADER, PEFILE_NAMES.get(name, name)):
            fields[name] = getattr(pe.OPTIONAL_HEADER, PEFILE_NAMES.get(name, name))
    for index, directory in enumerate(pe.OPTIONAL_HEADER.DATA_DIRECTORY[:16]):
        fields[DIRECTORIES[index] + ".VirtualAddress"] = directory.VirtualAddress
        fields[DIRECTORIES[index] + ".Size"] = directory.Size
    sections, seen = {}, {}
    for section in pe.sections:
        name = section.Name.split(b"\0")[0]
        occurrence = seen.get(name, 0)
        seen[name] = occurrence + 1
        start, size = section.PointerToRawData, section.SizeOfRawData
        sections[(name, occurrence)] = ({mine: getattr(section, theirs) for mine, theirs in SECTION_FIELDS},
                                        data[start:start + size] if size else b"")
    resources = {}
    for r in pe_resources.resources(pe):
        resources[(key_of(r["type"]), key_of(r["name"]), r["language"])] = r
    overlay_start = fields["SizeOfHeaders"]
    for section in pe.sections:
        if section.SizeOfRawData:
            overlay_start = max(overlay_start, section.PointerToRawData + section.SizeOfRawData)
    overlay = data[overlay_start:]
    certificate = None
    if len(pe.OPTIONAL_HEADER.DATA_DIRECTORY) > 4:
        offset, size = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].VirtualAddress, pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size
        if offset and size:
            certificate = (offset, size, data[offset:offset + size])
    return {"fields": fields, "sections": sections, "resources": resources, "overlay": overlay,
            "certificate": certificate}


def block_strings(data):
    """{ID offset in the block: text} of a string block, or None when a string runs past the end."""
    strings, at = {}, 0
    for slot in range(16):
        if at + 2 > len(data):
            break
        (length,) = struct.unpack_from("<H", data, at)
        at += 2
        if at + 2 * length > len(data):
            return None
        if length:
            strings[slot] = data[at:at + 2 * length].decode("utf-16-le", "surrogatepass")
        at += 2 * length
    return strings


# --- The comparison -----------------------------------------------------------------------------

def check_diff(report, old, new):
    problems = []
    # Header fields.
    expected = {}
    for name in set(old["fields"]) | set(new["fields"]):
        a, b = old["fields"].get(name), new["fields"].get(name)
        if a != b:
            expected[name] = (a, b)
    got = {f["field"]: (f["old"], f["new"]) for f in report["headers"]}
    if got != expected:
        problems.append("header fields: reported %s, pefile %s" % (
            sorted(set(got.items()) - set(expected.items())), sorted(set(expected.items()) - set(got.items()))))

    # Sections, paired by name and occurrence.
    expected = {}
    for key in set(old["sections"]) | set(new["sections"]):
        if key not in new["sections"]:
            expected[key] = "removed"
        elif key not in old["sections"]:
            expected[key] = "added"
        else:
            (a_fields, a_bytes), (b_fields, b_bytes) = old["sections"][key], new["sections"][key]
            changed = {k: (a_fields[k], b_fields[k]) for k in a_fields if a_fields[k] != b_fields[k]}
            if changed or a_bytes != b_bytes:
                expected[key] = ("changed", tuple(sorted(changed.items())), a_bytes != b_bytes)
    got, seen = {}, {}
    for s in report["sections"]:
        name = s["name"].encode("latin-1")
        if s["change"] == "changed":
            got[(name, s["index"])] = ("changed", tuple(sorted((f["field"], (f["old"], f["new"])) for f in s["fields"])),
                                       s["bytesDiffer"])
        else:
            got[(name, s["index"])] = s["change"]
    # The report names sections by their index; pefile's pairing is by occurrence: translate.
    by_occurrence = {}
    for s in report["sections"]:
        name = s["name"].encode("latin-1")
        side = old if s["change"] != "added" else new
        names = [k for k in side["sections"]]
        if s["index"] < len(names) and names[s["index"]][0] == name:
            by_occurrence[names[s["index"]]] = got[(name, s["index"])]
        else:
            problems.append("section %r #%d not where pefile has it" % (name, s["index"]))
    if by_occurrence != expected:
        problems.append("sections: reported %s, pefile %s" % (
            {k: v for k, v in by_occurrence.items() if expected.get(k) != v},
            {k: v for k, v in expected.items() if by_occurrence.get(k) != v}))

    # Resources.
    expected = {}
    for key in set(old["resources"]) | set(new["resources"]):
        a, b = old["resources"].get(key), new["resources"].get(key)
        if b is None:
            expected[key] = ("removed", a["size"], None, a["codepage"], None)
        elif a is None:
            expected[key] = ("added", None, b["size"], None, b["codepage"])
        elif a["size"] != b["size"] or a["data"] != b["data"] or a["codepage"] != b["codepage"]:
            expected[key] = ("changed", a["size"], b["size"], a["codepage"], b["codepage"])
    got = {}
    for r in report["resources"]:
        got[(r["type"], r["name"], r["language"])] = (r["change"], r.get("oldSize"), r.get("newSize"),
                                                        r.get("oldCodePage"), r.get("newCodePage"))
    if got != expected:
        problems.append("resources: reported %s, pefile %s" % (
            {k: v for k, v in got.items() if expected.get(k) != v},
            {k: v for k, v in expected.items() if got.get(k) != v}))

    # String blocks: exactly the strings whose text differs.
    for r in report["resources"]:
        if r["type"] != 6 or not isinstance(r["name"], int):
            continue
        key = (6, r["name"], r["language"])
        a = block_strings(old["resources"][key]["data"]) if key in old["resources"] else {}
        b = block_strings(new["resources"][key]["data"]) if key in new["resources"] else {}
        if a is None or b is None:
            continue
        base = (r["name"] - 1) * 16
        wanted = sorted((base + slot, a.get(slot), b.get(slot)) for slot in set(a) | set(b) if a.get(slot) != b.get(slot))
        reported = sorted((s["id"], s["old"], s["new"]) for s in r["strings"])
        if wanted != reported:
            problems.append("strings of %s: reported %s, pefile %s" % (key, reported, wanted))

    # Overlay and certificate table.
    overlay_changed = old["overlay"] != new["overlay"]
    if overlay_changed != (report["overlay"] is not None):
        problems.append("overlay: reported %s, pefile sees it %s" % (report["overlay"],
                                                                      "changed" if overlay_changed else "unchanged"))
    a, b = old["certificate"], new["certificate"]
    certificate_changed = (a is None) != (b is None) or (a and b and (a[1] != b[1] or a[2] != b[2]))
    if bool(certificate_changed) != (report["certificateTable"] is not None):
        problems.append("certificate table: reported %s" % report["certificateTable"])
    if report["equal"] != (not report["resources"] and not report["sections"] and not report["headers"]
                           and not report["headerBytes"] and report["overlay"] is None
                           and report["certificateTable"] is None):
        problems.append("\"equal\" does not fit the lists")
    return problems


def run(arguments, **options):
    return subprocess.run(arguments, capture_output=True, text=True, stdin=subprocess.DEVNULL, **options)


def diff_json(kestrel, a, b):
    result = run([kestrel, "/Diff", a, b, "--json"])
    if result.returncode not in (0, 1):
        raise RuntimeError("/Diff --json ended with %d: %s" % (result.returncode, result.stderr.strip()[:200]))
    report = json.loads(result.stdout)
    if (result.returncode == 0) != report["equal"]:
        raise RuntimeError("/Diff --json ended with %d but says equal=%s" % (result.returncode, report["equal"]))
    return report


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--corpus", help="the corpus root (default: the fetched cache's)")
    parser.add_argument("--sample", type=int, default=16, help="check every N-th file only")
    parser.add_argument("--files", nargs="*", help="only files whose name contains one of these")
    args = parser.parse_args()

    corpus = args.corpus or os.path.join(
        os.environ.get("KESTREL_CORPUS_CACHE", os.path.expanduser("~/.cache/kestrel-corpus")), "root")
    corpus, files = roundtrip.wine_package_files(corpus, args.files)
    files = [path for path, _ in files][::args.sample]
    if not files:
        # The round trip, which runs first, fetches the corpus (and fails when CI=true and it cannot).
        print("SKIPPED: no corpus under %s (tests/corpus/fetch)" % corpus)
        return 77
    work = tempfile.mkdtemp(prefix="kestrel-diff-check-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    environment = dict(os.environ, TMPDIR=work)
    edited = os.path.join(work, "edited")
    started = time.monotonic()
    failures, checked, edits, pairs, bitmaps = [], 0, 0, 0, 0
    readings = {}

    def reading(path):
        if path not in readings:
            readings.clear() if len(readings) > 2 else None
            readings[path] = read(path)
        return readings[path]

    for index, path in enumerate(files):
        name = os.path.relpath(path, corpus)
        try:
            same = run([args.kestrel, "/Diff", path, path])
            if same.returncode != 0 or same.stdout:
                failures.append("%s: /Diff with itself ended with %d and printed %r" % (name, same.returncode,
                                                                                         same.stdout[:200]))
            checked += 1
            if os.path.exists(edited):
                os.remove(edited)
            edit = run([args.kestrel, "/Edit", path, "/Output:" + edited, "--set-file-version", FILE_VERSION,
                        "--set-string", "%d=%s" % (STRING_ID, STRING_TEXT)], env=environment)
            if edit.returncode == 0:
                edits += 1
                old, new = reading(path), read(edited)
                report = diff_json(args.kestrel, path, edited)
                problems = check_diff(report, old, new)
                versions = {k for k in set(old["resources"]) | set(new["resources"]) if k[0] == 16}
                touched = {(r["type"], r["name"], r["language"]) for r in report["resources"] if r.get("dataDiffers", True)}
                stray = sorted(k for k in touched - versions if not (k[0] == 6 and k[1] == STRING_ID // 16 + 1))
                # The rebuild writes its own information header for a 32-bit bitmap (kept as PNG in
                # the working folder); the round trip accepts that when the pixels are the same.
                rewritten = [k for k in stray if k[0] == 2 and k in old["resources"] and k in new["resources"]
                             and roundtrip.dib_pixels(old["resources"][k]["data"]) is not None
                             and roundtrip.dib_pixels(old["resources"][k]["data"])
                             == roundtrip.dib_pixels(new["resources"][k]["data"])]
                bitmaps += len(rewritten)
                pictures = {(r["type"], r["name"], r["language"]): r.get("pixelsDiffer") for r in report["resources"]}
                problems.extend("bitmap %s: /Diff does not say its pixels are equal" % (k,)
                                for k in rewritten if pictures.get(k) is not False)
                stray = [k for k in stray if k not in rewritten]
                if stray:
                    problems.append("resources the edit did not ask for: %s" % stray)
                if not any(k[0] == 6 and k[1] == STRING_ID // 16 + 1 for k in touched):
                    problems.append("the edited string block is not reported")
                failures.extend("%s (edited): %s" % (name, p) for p in problems)
            if index + 1 < len(files):
                other = files[index + 1]
                report = diff_json(args.kestrel, path, other)
                failures.extend("%s vs %s: %s" % (name, os.path.basename(other), p)
                                for p in check_diff(report, reading(path), reading(other)))
                pairs += 1
        except (RuntimeError, ValueError, pefile.PEFormatError) as error:
            failures.append("%s: %s" % (name, error))
    shutil.rmtree(work, ignore_errors=True)
    for line in failures:
        print(line[:2000])
    print("%d files compared with themselves, %d with their edit, %d pairs of files: %d problems (%.0f s)"
          % (checked, edits, pairs, len(failures), time.monotonic() - started))
    if bitmaps:
        print("%d 32-bit bitmaps came back from /Edit with a rewritten header and the same pixels" % bitmaps)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
