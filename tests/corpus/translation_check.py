#!/usr/bin/env python3
"""A translation end to end on real files, through gettext's own tools, read back with pefile.

For comdlg32.dll and shell32.dll of the corpus's Wine packages (both machine types):
  kestrel /ExportPo /Output:T.pot FILE          msgfmt -c accepts T.pot
  msgen T.pot | msgfilter sed -e 's/^/DE:/'     every line of every text starts with "DE:"
  msgfmt -c accepts the German PO; msgmerge updates it from T.pot keeping every translation
  kestrel /ImportPo /Output:NEW FILE de.po --language de
and pefile, an independent reader, must find in NEW:
- every resource the original has, with the same bytes (the source language's texts unchanged);
- in German (0x407): every string-table entry, dialog caption and control text, menu item text,
  message-table text and version string of the template, translated as the PO file says, found
  at the place its msgctxt names (decoded here, sharing no code with kestrel).

    translation_check.py --kestrel PATH [--corpus DIR] [--work DIR]

Exit status 0 when everything was found as expected, 77 (skipped, with the reason) without the
corpus, pefile or the gettext tools, 1 otherwise.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
GERMAN = 0x407
FILES = ("comdlg32.dll", "shell32.dll")
FOLDERS = ("usr/lib/i386-linux-gnu/wine/i386-windows", "usr/lib/x86_64-linux-gnu/wine/x86_64-windows")


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


# --- PO text (as msgfilter writes it) ---------------------------------------------------------------

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", '"': '"', "\\": "\\", "a": "\a", "b": "\b", "f": "\f", "v": "\v"}


def unquote(text):
    text = text.strip()
    assert text.startswith('"') and text.endswith('"'), text
    body, out, i = text[1:-1], bytearray(), 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out += c.encode("utf-8")
            i += 1
            continue
        n = body[i + 1]
        if n in ESCAPES:
            out += ESCAPES[n].encode()
            i += 2
        elif n in "01234567":
            j = i + 1
            while j < len(body) and j < i + 4 and body[j] in "01234567":
                j += 1
            out.append(int(body[i + 1:j], 8))
            i = j
        else:
            raise ValueError("escape " + n)
    return out.decode("utf-8")


def read_po(path):
    """{msgctxt: (msgid, msgstr)} of the entries with a context."""
    entries, current, field = {}, {}, None

    def finish():
        if "msgctxt" in current and "msgstr" in current:
            entries[current["msgctxt"]] = (current.get("msgid", ""), current["msgstr"])
        current.clear()

    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                if line.startswith("#") and "msgstr" in current:
                    finish()
                continue
            if line.startswith('"'):
                current[field] += unquote(line)
                continue
            keyword, _, rest = line.partition(" ")
            if keyword in ("msgctxt", "msgid") and "msgstr" in current:
                finish()
            field = keyword
            current[field] = unquote(rest)
    finish()
    return entries


# --- Resources, decoded here ------------------------------------------------------------------------

def u16z(data, at):
    end = at
    while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le", "surrogatepass"), end + 2


def name_or_ordinal(data, at):
    (first,) = struct.unpack_from("<H", data, at)
    if first == 0:
        return None, at + 2
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    return u16z(data, at)


def dialog_texts(data, name):
    extended = struct.unpack_from("<HH", data, 0) == (1, 0xFFFF)
    style = struct.unpack_from("<I", data, 12 if extended else 0)[0]
    count = struct.unpack_from("<H", data, 16 if extended else 8)[0]
    at = 26 if extended else 18
    _, at = name_or_ordinal(data, at)
    _, at = name_or_ordinal(data, at)
    caption, at = u16z(data, at)
    texts = {"DIALOG %s CAPTION" % name: caption}
    if style & 0x40:
        at += 6 if extended else 2
        _, at = u16z(data, at)
    for i in range(count):
        at = (at + 3) // 4 * 4
        item_style = struct.unpack_from("<I", data, at + (8 if extended else 0))[0]
        at += 24 if extended else 18
        cls, at = name_or_ordinal(data, at)
        title, at = name_or_ordinal(data, at)
        (extra,) = struct.unpack_from("<H", data, at)
        at += 2 + extra
        picture = cls == 0x82 and (item_style & 0x1F) in (3, 14, 15)
        if isinstance(title, str) and not picture:
            texts["DIALOG %s CONTROL %d" % (name, i + 1)] = title
    return texts


def menu_texts(data, name):
    version, offset = struct.unpack_from("<HH", data, 0)
    texts = {}

    def classic(at, path):
        index = 0
        while True:
            index += 1
            (flags,) = struct.unpack_from("<H", data, at)
            at += 2 if flags & 0x10 else 4
            text, at = u16z(data, at)
            texts["MENU %s %s%d" % (name, path, index)] = text
            if flags & 0x10:
                at = classic(at, "%s%d." % (path, index))
            if flags & 0x80:
                return at

    def extended(at, path):
        index = 0
        while True:
            index += 1
            at = (at + 3) // 4 * 4
            (res_info,) = struct.unpack_from("<H", data, at + 12)
            text, at = u16z(data, at + 14)
            texts["MENU %s %s%d" % (name, path, index)] = text
            at = (at + 3) // 4 * 4
            if res_info & 1:
                at = extended(at + 4, "%s%d." % (path, index))
            if res_info & 0x80:
                return at

    (extended if version == 1 else classic)(4 + offset, "")
    return texts


def message_texts(data, name):
    texts = {}
    (count,) = struct.unpack_from("<I", data, 0)
    for b in range(count):
        low, high, at = struct.unpack_from("<III", data, 4 + 12 * b)
        for message in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, at)
            raw = data[at + 4:at + length]
            text = raw.decode("utf-16-le", "surrogatepass") if flags & 1 else raw.decode("latin-1")
            texts["MESSAGETABLE %s 0x%08X" % (name, message)] = text.rstrip("\0").replace("\r\n", "\n")
            at += length
    return texts


def version_texts(data, name):
    """The strings of every string table, by key."""
    texts = {}

    def node(at, depth):
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        key, pos = u16z(data, at + 6)
        pos = (pos + 3) // 4 * 4
        end = at + length
        if depth == 3:
            value = data[pos:end].decode("utf-16-le", "surrogatepass").split("\0")[0]
            texts["VERSIONINFO %s %s" % (name, key)] = value
            return end
        if depth == 0:
            pos = (pos + value_length + 3) // 4 * 4
        if depth == 1 and key != "StringFileInfo":
            return end
        while pos + 6 <= end:
            child_end = node(pos, depth + 1)
            if child_end <= pos:
                break
            pos = (child_end + 3) // 4 * 4
        return end

    node(0, 0)
    return texts


def resource_name(entry):
    return str(entry.name) if entry.name is not None else str(entry.id)


def resources(path):
    import pefile
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = {}
    for type_entry in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries:
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data_entry = language_entry.data.struct
                key = (resource_name(type_entry), resource_name(name_entry), language_entry.id)
                found[key] = pe.get_data(data_entry.OffsetToData, data_entry.Size)
    return found


def german_texts(found):
    texts = {}
    for (kind, name, language), data in found.items():
        if language != GERMAN:
            continue
        if kind == "6":
            block = int(name) - 1
            at = 0
            for slot in range(16):
                (length,) = struct.unpack_from("<H", data, at)
                text = data[at + 2:at + 2 + 2 * length].decode("utf-16-le", "surrogatepass")
                at += 2 + 2 * length
                if text:
                    texts["STRINGTABLE %d" % (block * 16 + slot)] = text
        elif kind == "5":
            texts.update(dialog_texts(data, name))
        elif kind == "4":
            texts.update(menu_texts(data, name))
        elif kind == "11":
            texts.update(message_texts(data, name))
        elif kind == "16":
            texts.update(version_texts(data, name))
    return texts


# --- The run ------------------------------------------------------------------------------------------

def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(command), result.returncode, result.stderr.strip()))
    return result


def check(kestrel, path, work):
    pot, en, de, merged = (os.path.join(work, n) for n in ("t.pot", "en.po", "de.po", "merged.po"))
    out = os.path.join(work, "translated.dll")
    run([kestrel, "/ExportPo", "/Output:" + pot, path])
    run(["msgfmt", "-c", "-o", os.devnull, pot])
    run(["msgen", "-o", en, pot])
    run(["msgfilter", "-i", en, "-o", de, "sed", "-e", "s/^/DE:/"])
    run(["msgfmt", "-c", "-o", os.devnull, de])
    run(["msgmerge", "-q", "-o", merged, de, pot])
    statistics = run(["msgfmt", "--statistics", "-o", os.devnull, merged]).stderr
    entries = read_po(de)
    if "untranslated" in statistics or "fuzzy" in statistics or str(len(entries)) not in statistics:
        return ["msgmerge kept not every translation: " + statistics.strip()]
    run([kestrel, "/ImportPo", "/Output:" + out, path, de, "--language", "de"])

    problems = []
    before, after = resources(path), resources(out)
    for key, data in before.items():
        if after.get(key) != data:
            problems.append("resource %s/%s/%d changed or missing" % key)
    texts = german_texts(after)
    for context, (source, translation) in entries.items():
        # sed prefixes every line, empty ones too, but sees no line after a final line feed.
        lines = source.split("\n")
        expected = "\n".join("DE:" + line for line in (lines[:-1] if source.endswith("\n") else lines))
        expected += "\n" if source.endswith("\n") else ""
        if translation != expected:
            problems.append("%s: msgfilter gave %r, expected %r" % (context, translation, expected))
        if texts.get(context) != translation:
            problems.append("%s: German resource has %r, expected %r" % (context, texts.get(context), translation))
    print("%s: %d texts, %d resources of %d unchanged, %d problems" %
          (path, len(entries), sum(1 for k in before if after.get(k) == before[k]), len(before), len(problems)))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--kestrel", required=True)
    parser.add_argument("--corpus", help="the corpus root (default: $KESTREL_CORPUS_CACHE/root)")
    parser.add_argument("--work", help="a folder to keep the files in")
    args = parser.parse_args()
    try:
        import pefile  # noqa: F401
    except ImportError:
        skip("python3-pefile is not installed")
    for tool in ("msgfmt", "msgen", "msgfilter", "msgmerge", "sed"):
        if not shutil.which(tool):
            skip("%s is not installed (apt gettext)" % tool)
    corpus = args.corpus or os.path.join(
        os.environ.get("KESTREL_CORPUS_CACHE", os.path.expanduser("~/.cache/kestrel-corpus")), "root")
    paths = [os.path.join(corpus, folder, name) for folder in FOLDERS for name in FILES]
    paths = [p for p in paths if os.path.isfile(p)]
    if not paths:
        skip("no comdlg32.dll or shell32.dll under %s (run tests/corpus/fetch)" % corpus)
    failures = 0
    for path in paths:
        work = tempfile.mkdtemp(prefix="kestrel-translation-", dir=args.work)
        try:
            problems = check(args.kestrel, path, work)
        except (RuntimeError, struct.error, ValueError) as error:
            problems = [str(error)]
        for problem in problems[:20]:
            print("  " + problem)
        failures += bool(problems)
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    print("%d of %d files translated as expected" % (len(paths) - failures, len(paths)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
