#!/usr/bin/env python3
"""Each field of real version resources edited in turn, compiled, and read back with pefile.

For every PE file of the corpus's two Wine packages that has a version resource (numeric name; the
first name in its first language is the one edited, as the version pane shows it):
  kestrel /Decompile FILE into a working folder, then for each edit
  version-edit VERSION_FILE FIELD=VALUE   (the core calls the version pane's OK makes)
  kestrel /Compile the folder
and pefile, an independent reader, must see exactly that change in the compiled file and nothing else
in any version resource of it (every fixed field, every string table with its language and its keys
in order, every Var entry), compared with pefile's reading of the original file. The edits: file and
product version, flags mask, flags, OS, type, subtype, the translation, every string of the first
table given a longer value, the first one emptied (its key stays), and a new key (added at the end).

    version_fields_check.py --kestrel PATH --tool PATH [--corpus DIR] [--files PATTERN...] [--sample N]

--tool is build/.../tools/version-edit/version-edit. About 20 compiles per resource, so it is run by
hand; --sample N checks every N-th file. Exit status 0 when every edit was read back as made.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import roundtrip  # noqa: E402  (file discovery)

RT_VERSION = 16
FIXED_FIELDS = ("Signature", "StrucVersion", "FileVersionMS", "FileVersionLS", "ProductVersionMS",
                "ProductVersionLS", "FileFlagsMask", "FileFlags", "FileOS", "FileType", "FileSubtype",
                "FileDateMS", "FileDateLS")


def version_resources(path):
    """[(name, language, fixed fields, [(table key, [(key, value)])], [var entries])] as pefile reads them."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    keys = []
    for type_entry in getattr(getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None), "entries", []):
        if type_entry.id != RT_VERSION:
            continue
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                keys.append((name_entry.id, language_entry.id))
    fixed_list = getattr(pe, "VS_FIXEDFILEINFO", [])
    info_list = getattr(pe, "FileInfo", [])
    result = []
    for index, (name, language) in enumerate(keys):
        fixed = fixed_list[index] if index < len(fixed_list) else None
        fields = {f: getattr(fixed, f) for f in FIXED_FIELDS} if fixed is not None else None
        tables, variables = [], []
        for entry in (info_list[index] if index < len(info_list) else []):
            for table in getattr(entry, "StringTable", []):
                tables.append((table.LangID, list(table.entries.items())))
            for var in getattr(entry, "Var", []):
                variables.append(sorted(var.entry.items()))
        result.append([name, language, fields, tables, variables])
    pe.close()
    return result


def first_version_file(folder):
    """(name ID, language, file path) of the first version resource that pe.xml names, or None."""
    root = ElementTree.parse(os.path.join(folder, "pe.xml")).getroot()
    for type_entry in root.findall("Entry"):
        if type_entry.get("ID") != str(RT_VERSION):
            continue
        for name_entry in type_entry.iter("Entry"):
            if name_entry is type_entry or name_entry.get("ID") is None:
                continue
            for language_entry in name_entry.iter("Entry"):
                file = language_entry.find("File")
                if language_entry is not name_entry and file is not None:
                    return int(name_entry.get("ID")), int(language_entry.get("ID")), \
                        os.path.join(folder, file.get("Name"))
            return None  # a named first resource: not edited here
    return None


def other_version(text):
    parts = [int(p) for p in text.split(".")]
    return ".".join(str((p + 7) % 65536) for p in parts)


def edits_for(fields, tables):
    """[(edit argument, function changing the expected (fields, first table entries, vars))]."""
    edits = []

    def fixed(name, value):
        return lambda f, t, v: f.__setitem__(name, value)

    if fields is not None:
        file_version = "%d.%d.%d.%d" % (fields["FileVersionMS"] >> 16, fields["FileVersionMS"] & 0xFFFF,
                                        fields["FileVersionLS"] >> 16, fields["FileVersionLS"] & 0xFFFF)
        new_file = [int(p) for p in other_version(file_version).split(".")]
        edits.append(("file-version=" + ".".join(map(str, new_file)),
                      lambda f, t, v: f.update(FileVersionMS=new_file[0] << 16 | new_file[1],
                                               FileVersionLS=new_file[2] << 16 | new_file[3])))
        new_product = [(p + 3) % 65536 for p in new_file]
        edits.append(("product-version=" + ".".join(map(str, new_product)),
                      lambda f, t, v: f.update(ProductVersionMS=new_product[0] << 16 | new_product[1],
                                               ProductVersionLS=new_product[2] << 16 | new_product[3])))
        for arg, name, value in (("flags-mask", "FileFlagsMask", fields["FileFlagsMask"] ^ 0x3F),
                                 ("flags", "FileFlags", fields["FileFlags"] ^ 0x2),
                                 ("os", "FileOS", 0x40004 if fields["FileOS"] != 0x40004 else 0x4),
                                 ("type", "FileType", 1 if fields["FileType"] != 1 else 2),
                                 ("subtype", "FileSubtype", fields["FileSubtype"] ^ 0x1)):
            edits.append(("%s=%d" % (arg, value), fixed(name, value)))
    if tables:
        entries = tables[0][1]
        for key, value in entries:
            text = value.decode("utf-8", "replace") + " (edited)"

            def set_value(f, t, v, key=key, text=text):
                t[[k for k, _ in t].index(key)] = (key, text.encode("utf-8"))
            edits.append(("string:%s=%s" % (key.decode("utf-8"), text), set_value))
        if entries:
            first = entries[0][0]

            def empty(f, t, v, first=first):
                t[0] = (first, b"")
            edits.append(("string:%s=" % first.decode("utf-8"), empty))
        if not any(k == b"KestrelCheck" for k, _ in entries):
            edits.append(("string:KestrelCheck=added", lambda f, t, v: t.append((b"KestrelCheck", b"added"))))
    return edits


def translation_edit(variables):
    """The translation edit when the first Var is a Translation with a pair, else None."""
    if not variables or not variables[0]:
        return None
    key, text = variables[0][0]
    if key != b"Translation" or not text:
        return None
    pairs = text.split()
    language = int(pairs[0], 16) ^ 0x0C00
    new_text = " ".join(["0x%04x 0x%04x" % (language, 1252)] + pairs[2:])

    def change(f, t, v):
        v[0] = [(key, new_text)]
    return "translation=%d,1252" % language, change


def check_file(path, args, work):
    """(edits checked, problems) for one file; None when it has no version resource to edit."""
    folder = os.path.join(work, "project")
    shutil.rmtree(folder, ignore_errors=True)
    run = subprocess.run([args.kestrel, "/Decompile", "/Output:" + folder, path],
                         capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if run.returncode != 0:
        return None
    first = first_version_file(folder)
    if first is None:
        return None
    name, language, version_file = first
    original = version_resources(path)
    index = next((i for i, r in enumerate(original) if r[0] == name and r[1] == language), None)
    if index is None:
        return 0, ["pefile finds no version resource %d/%d" % (name, language)]
    with open(version_file, "rb") as stream:
        version_bytes = stream.read()
    _, _, fields, tables, variables = original[index]
    edits = edits_for(fields, tables)
    translation = translation_edit(variables)
    if translation:
        edits.append(translation)
    compiled = os.path.join(folder, os.path.basename(path))
    problems = []
    for argument, change in edits:
        run = subprocess.run([args.tool, version_file, argument], capture_output=True, text=True)
        if run.returncode != 0:
            problems.append("%s: version-edit failed: %s" % (argument, run.stderr.strip()))
            continue
        if os.path.exists(compiled):
            os.remove(compiled)
        run = subprocess.run([args.kestrel, "/Compile", "/Output:" + folder, path],
                             capture_output=True, text=True, stdin=subprocess.DEVNULL)
        if run.returncode != 0 or not os.path.exists(compiled):
            problems.append("%s: compile failed: %s" % (argument, run.stderr.strip()[:200]))
        else:
            expected = [[r[0], r[1], dict(r[2]) if r[2] else r[2], [(k, list(e)) for k, e in r[3]],
                         [list(v) for v in r[4]]] for r in original]
            target = expected[index]
            change(target[2], target[3][0][1] if target[3] else [], target[4])
            actual = version_resources(compiled)
            if actual != expected:
                problems.append("%s: pefile reads %r, expected %r" % (argument, actual[index] if index < len(actual)
                                                                       else None, target))
        with open(version_file, "wb") as stream:
            stream.write(version_bytes)
    return len(edits), problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--tool", required=True, help="the version-edit program")
    parser.add_argument("--corpus", help="the corpus root (default: what tests/corpus/fetch prints)")
    parser.add_argument("--files", nargs="*", help="only files whose name contains one of these")
    parser.add_argument("--sample", type=int, default=1, help="check every N-th file with a version resource")
    args = parser.parse_args()

    corpus, found = roundtrip.wine_package_files(args.corpus, args.files)
    files = [path for path, _ in found]
    work = tempfile.mkdtemp(prefix="kestrel-version-check-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    started = time.monotonic()
    checked_files, edits, failures, seen = 0, 0, [], 0
    try:
        for path in files:
            with open(path, "rb") as stream:
                if b"V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O" not in stream.read():
                    continue
            seen += 1
            if (seen - 1) % args.sample:
                continue
            result = check_file(path, args, work)
            if result is None:
                continue
            checked_files += 1
            edits += result[0]
            failures.extend("%s: %s" % (os.path.relpath(path, corpus), p) for p in result[1])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for line in failures:
        print(line)
    print("%d files with a version resource checked, %d edits compiled and read back, %d wrong (%.0f s)"
          % (checked_files, edits, len(failures), time.monotonic() - started))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
