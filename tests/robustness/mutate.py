#!/usr/bin/env python3
"""Hostile-input campaign for the kestrel program.

Takes PE files, makes hostile variants of them and runs the program on each, as a batch user would:

- PE variants: truncations at evenly spread points and at every header boundary; byte and 4-byte
  changes at structure fields (e_lfanew, file and optional header, section table, resource directory
  counts and offsets, data entry RVAs and sizes, string lengths, bitmap and icon headers); directory
  offsets that make loops; counts of 0xFFFF; sizes of 4 GB.  Each is imported with
  `kestrel /Decompile /Output:<dir> <file>` and, where that succeeds, compiled back with
  `kestrel /Compile /Output:<dir> <file>`.
- Working-folder variants: a clean import of each source file, then pe.xml, STRINGS.XML and image
  files edited by hand (bad counts, missing files, `..` and absolute names, huge sizes, deep nesting,
  truncation, images of the wrong kind), compiled with `kestrel /Compile`.

Every run happens in a private temporary folder, with standard input from /dev/null, under a time and
memory limit, and is checked for: exit status 0 or 1 (never a signal, never the usage status 2), a
report on standard error when the status is 1, nothing created or changed outside the target folder
(apart from the program's own settings folder), and the input file unchanged.

    mutate.py --tool KESTREL [--make-sample MAKE_SAMPLE] [--corpus DIR] --work DIR
              [--fast] [--max-files N] [--timeout S] [--memory MB] [--seed N] [--keep-failures]

--fast runs a fixed subset of a few hundred variants (the CTest entry); without it every variant of
every source file runs.  Prints each failure and ends with the tally; exit status 0 when no run
failed a check, 1 otherwise.
"""
import argparse
import hashlib
import os
import random
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

TIME = "/usr/bin/time"

RT_BITMAP, RT_ICON, RT_STRING, RT_GROUP_ICON = 2, 3, 6, 14


# ---------------------------------------------------------------------------------------------------
# PE layout: the offsets of the fields worth damaging.


class Layout:
    def __init__(self):
        self.fields = []  # (name, file offset, width in bytes)
        self.boundaries = set()
        self.directories = []  # file offsets of resource directory tables
        self.entries = []  # file offsets of the 8-byte directory entries
        self.rsrc_base = None


def u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0] if 0 <= offset and offset + 2 <= len(data) else None


def u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0] if 0 <= offset and offset + 4 <= len(data) else None


def describe(data):
    """Finds the structure fields of a PE file; tolerant of anything (returns what it found)."""
    lay = Layout()
    lay.boundaries.update({0x40, len(data) // 2})
    lay.fields += [("e_magic", 0, 2), ("e_lfanew", 0x3C, 4)]
    pe = u32(data, 0x3C)
    if pe is None or u32(data, pe) != 0x4550:
        return lay
    coff = pe + 4
    optional = coff + 20
    lay.boundaries.update({pe, coff, optional})
    lay.fields += [("signature", pe, 4), ("section_count", coff + 2, 2), ("symbol_table", coff + 8, 4),
                   ("symbol_count", coff + 12, 4), ("optional_size", coff + 16, 2), ("magic", optional, 2)]
    optional_size = u16(data, coff + 16) or 0
    sections = u16(data, coff + 2) or 0
    magic = u16(data, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    lay.fields += [("section_alignment", optional + 32, 4), ("file_alignment", optional + 36, 4),
                   ("size_of_image", optional + 56, 4), ("size_of_headers", optional + 60, 4),
                   ("directory_count", directories - 4, 4), ("resource_rva", directories + 16, 4),
                   ("resource_size", directories + 20, 4), ("reloc_rva", directories + 40, 4),
                   ("certificate_offset", directories + 32, 4)]
    table = optional + optional_size
    lay.boundaries.update({table, directories})
    rsrc_rva = u32(data, directories + 16) or 0
    section_list = []
    for i in range(min(sections, 96)):
        header = table + 40 * i
        if header + 40 > len(data):
            break
        lay.boundaries.update({header, header + 40})
        vsize, va, raw_size, raw_offset = struct.unpack_from("<IIII", data, header + 8)
        section_list.append((va, max(vsize, raw_size), raw_size, raw_offset))
        lay.boundaries.update({raw_offset, raw_offset + raw_size})
        lay.fields += [("section%d_vsize" % i, header + 8, 4), ("section%d_va" % i, header + 12, 4),
                       ("section%d_raw_size" % i, header + 16, 4), ("section%d_raw_offset" % i, header + 20, 4)]

    def to_offset(rva):
        for va, extent, raw_size, raw_offset in section_list:
            if va <= rva < va + extent and rva - va < raw_size:
                return raw_offset + rva - va
        return None

    base = to_offset(rsrc_rva) if rsrc_rva else None
    if base is None:
        return lay
    lay.rsrc_base = base
    seen = set()
    pending = [(0, 0, 0)]
    while pending and len(seen) < 4000:
        offset, level, rtype = pending.pop()
        if offset in seen:
            continue
        seen.add(offset)
        table_at = base + offset
        named, ids = u16(data, table_at + 12), u16(data, table_at + 14)
        if named is None or ids is None:
            continue
        lay.directories.append(table_at)
        lay.boundaries.add(table_at)
        lay.fields += [("dir_named_count", table_at + 12, 2), ("dir_id_count", table_at + 14, 2)]
        for i in range(min(named + ids, 2000)):
            entry = table_at + 16 + 8 * i
            key, target = u32(data, entry), u32(data, entry + 4)
            if key is None or target is None:
                break
            lay.entries.append(entry)
            lay.fields += [("entry_key", entry, 4), ("entry_target", entry + 4, 4)]
            if target & 0x80000000:
                if level < 2:
                    pending.append((target & 0x7FFFFFFF, level + 1, key if level == 0 else rtype))
                continue
            data_entry = base + target
            rva, size = u32(data, data_entry), u32(data, data_entry + 4)
            if rva is None or size is None:
                continue
            lay.fields += [("data_rva", data_entry, 4), ("data_size", data_entry + 4, 4)]
            at = to_offset(rva)
            if at is None:
                continue
            lay.boundaries.update({at, at + size})
            if rtype == RT_STRING:
                # The first string lengths of the block.
                pos = at
                for _ in range(4):
                    length = u16(data, pos)
                    if length is None:
                        break
                    lay.fields.append(("string_length", pos, 2))
                    pos += 2 + 2 * length
            elif rtype in (RT_BITMAP, RT_ICON):
                if u32(data, at) == 40:
                    lay.fields += [("dib_header_size", at, 4), ("dib_width", at + 4, 4), ("dib_height", at + 8, 4),
                                   ("dib_planes", at + 12, 2), ("dib_bit_count", at + 14, 2),
                                   ("dib_compression", at + 16, 4), ("dib_colors_used", at + 32, 4)]
                elif data[at:at + 4] == b"\x89PNG":
                    lay.fields += [("png_width", at + 16, 4), ("png_height", at + 20, 4), ("png_chunk_length", at + 8, 4)]
            elif rtype == RT_GROUP_ICON:
                lay.fields += [("group_type", at + 2, 2), ("group_count", at + 4, 2), ("group_bytes", at + 14, 4),
                               ("group_id", at + 18, 2)]
    return lay


# ---------------------------------------------------------------------------------------------------
# Variants.


def put(data, offset, width, value):
    if offset < 0 or offset + width > len(data):
        return None
    out = bytearray(data)
    struct.pack_into("<H" if width == 2 else "<I" if width == 4 else "<B", out, offset, value & ((1 << (8 * width)) - 1))
    return bytes(out)


def pe_variants(data, lay, truncations, rng, field_limit):
    """Yields (label, bytes) for the hostile variants of one PE file."""
    size = len(data)
    points = sorted({size * i // truncations for i in range(truncations)} |
                    {b for b in lay.boundaries if 0 < b < size} | {max(size - 1, 0)})
    for point in points:
        yield "truncate@%d" % point, data[:point]
    fields = lay.fields
    if field_limit and len(fields) > field_limit:
        # Keep the header fields and a spread of the rest.
        head = [f for f in fields if not f[0].startswith(("entry_", "data_", "string_", "dir_", "dib_", "png_", "group_"))]
        rest = [f for f in fields if f not in head]
        fields = head + rng.sample(rest, max(0, min(len(rest), field_limit - len(head))))
    for name, offset, width in fields:
        if offset + width > size:
            continue
        current = int.from_bytes(data[offset:offset + width], "little")
        values = {current ^ 0xFF, current ^ (1 << (8 * width - 1)), 0, (1 << (8 * width)) - 1}
        if width == 4:
            values |= {0x7FFFFFFF, 0x80000000, size, size - 1, 0xFFFFFFF0}
        if width == 2:
            values |= {0x7FFF}
        for value in sorted(values):
            if value == current:
                continue
            variant = put(data, offset, width, value)
            if variant is not None:
                yield "%s@%d=0x%X" % (name, offset, value), variant
    # Loops: an entry pointing back at the root, at its own table, or at a sibling table.
    if lay.rsrc_base is not None and lay.entries:
        picks = lay.entries if len(lay.entries) <= 24 else rng.sample(lay.entries, 24)
        for entry in picks:
            own = max((d for d in lay.directories if d <= entry), default=lay.rsrc_base)
            for label, target in (("loop_root", 0), ("loop_self", own - lay.rsrc_base),
                                  ("loop_other", rng.choice(lay.directories) - lay.rsrc_base)):
                variant = put(data, entry + 4, 4, 0x80000000 | target)
                if variant is not None:
                    yield "%s@%d" % (label, entry), variant
        # Two tables swapped: the first entry of the root and of a second-level table.
        if len(lay.directories) > 2:
            a, b = lay.directories[0] + 16, lay.directories[-1] + 16
            if b + 8 <= size:
                out = bytearray(data)
                out[a + 4:a + 8], out[b + 4:b + 8] = data[b + 4:b + 8], data[a + 4:a + 8]
                yield "swap_entries@%d,%d" % (a, b), bytes(out)
    # Random 4-byte flips inside the resource section.
    if lay.rsrc_base is not None:
        for _ in range(4):
            offset = rng.randrange(lay.rsrc_base, max(lay.rsrc_base + 1, size - 4))
            variant = put(data, offset, 4, rng.getrandbits(32))
            if variant is not None:
                yield "random@%d" % offset, variant


def folder_variants(folder, rng):
    # Numbers, names and counts are picked from the pe.xml the import wrote; the edits are applied to
    # copies of the folder.
    """Yields (label, edit) for hand-edited working folders; edit(path) changes a copy in place."""
    pe_xml = os.path.join(folder, "pe.xml")
    try:
        with open(pe_xml, "rb") as stream:
            text = stream.read().decode("latin-1")
    except OSError:
        return
    names = sorted(set(re.findall(r"<File Name=['\"]([^'\"]+)['\"]", text)))
    names = [n for n in names if os.path.exists(os.path.join(folder, n.replace("\\", os.sep)))]

    def rewrite(pattern, replacement, count=1):
        def edit(target):
            path = os.path.join(target, "pe.xml")
            with open(path, "rb") as stream:
                body = stream.read().decode("latin-1")
            body = re.sub(pattern, replacement, body, count=count)
            with open(path, "wb") as stream:
                stream.write(body.encode("latin-1"))
        return edit

    def write_file(name, content):
        def edit(target):
            with open(os.path.join(target, name.replace("\\", os.sep)), "wb") as stream:
                stream.write(content)
        return edit

    def remove_file(name):
        def edit(target):
            try:
                os.remove(os.path.join(target, name.replace("\\", os.sep)))
            except OSError:
                pass
        return edit

    def truncate_file(name, keep):
        def edit(target):
            path = os.path.join(target, name.replace("\\", os.sep))
            if os.path.exists(path):
                with open(path, "r+b") as stream:
                    stream.truncate(max(0, int(os.path.getsize(path) * keep)))
        return edit

    # Numbers in attributes: zero, negative, huge, not a number.
    numbers = [(m.start(), m.group(0)) for m in re.finditer(r"\b[A-Za-z_]+=['\"](?:0x)?[0-9A-Fa-f]+['\"]", text)]
    for _, attribute in (numbers if len(numbers) <= 30 else rng.sample(numbers, 30)):
        key = attribute.split("=")[0]
        for value in ("0", "-1", "4294967295", "18446744073709551616", "0xFFFFFFFF", "x", ""):
            yield "pe.xml %s=%s" % (key, value), rewrite(re.escape(attribute), '%s="%s"' % (key, value))
    for name in names[:12]:
        quoted = "['\"]%s['\"]" % re.escape(name)
        for label, hostile in (("dotdot", "..\\\\..\\\\..\\\\escape.bin"), ("dotdot_slash", "../../escape.bin"),
                               ("absolute", "/etc/hostname"), ("drive", "C:\\\\Windows\\\\win.ini"),
                               ("missing", "missing_file.bin"), ("empty", ""), ("folder", "."),
                               ("long", "n" * 5000)):
            yield "pe.xml %s -> %s" % (name, label), rewrite(quoted, '"%s"' % hostile)
        yield "remove %s" % name, remove_file(name)
        yield "truncate %s" % name, truncate_file(name, 0.5)
        yield "empty %s" % name, truncate_file(name, 0)
    # Images of the wrong kind in place of each kind of image.
    images = [n for n in names if n.lower().endswith((".bmp", ".ico", ".cur", ".png"))]
    kinds = {}
    for name in images:
        kinds.setdefault(os.path.splitext(name)[1].lower(), name)
    contents = {}
    for ext, name in kinds.items():
        with open(os.path.join(folder, name.replace("\\", os.sep)), "rb") as stream:
            contents[ext] = stream.read()
    contents["garbage"] = bytes(rng.getrandbits(8) for _ in range(300))
    contents["png_header_only"] = b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + struct.pack(">IIBBBBB", 65535, 65535, 8, 6, 0, 0, 0)
    contents["bmp_huge"] = (b"BM" + struct.pack("<IHHI", 0, 0, 0, 54) +
                            struct.pack("<IiiHHIIiiII", 40, 65535, 65535, 1, 32, 0, 0, 0, 0, 0, 0))
    contents["ico_huge_count"] = struct.pack("<HHH", 0, 1, 0xFFFF) + b"\0" * 16
    for ext, name in kinds.items():
        for other, content in contents.items():
            if other != ext:
                yield "replace %s with %s" % (name, other), write_file(name, content)
    # The description itself.
    yield "pe.xml truncated", truncate_file("pe.xml", 0.5)
    yield "pe.xml empty", truncate_file("pe.xml", 0)
    yield "pe.xml removed", remove_file("pe.xml")
    depth = 20000
    yield "pe.xml deep nesting", write_file("pe.xml", (b"<?xml version='1.0'?>\r\n<ROOT>" + b"<A>" * depth +
                                                       b"</A>" * depth + b"</ROOT>\r\n"))
    yield "pe.xml entity", rewrite(r"<ROOT>", "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">]><ROOT>&a;")
    yield "pe.xml duplicated", rewrite(r"(<ROOT>)([\s\S]*)(</ROOT>)", r"\1\2\2\3")
    strings_names = [n for n in os.listdir(folder) if n.upper() == "STRINGS.XML"]
    for name in strings_names:
        yield "STRINGS.XML truncated", truncate_file(name, 0.5)
        yield "STRINGS.XML empty", truncate_file(name, 0)
        yield "STRINGS.XML huge string", write_file(name, b"<?xml version='1.0' encoding='UTF-8'?>\r\n<STRINGS>"
                                                    b"<STRING ID=\"1\" LANG=\"1033\">" + b"A" * (1 << 24) +
                                                    b"</STRING></STRINGS>\r\n")
        yield "STRINGS.XML ids", rewrite_strings(name, rng)


def rewrite_strings(name, rng):
    def edit(target):
        path = os.path.join(target, name.replace("\\", os.sep))
        with open(path, "rb") as stream:
            body = stream.read().decode("latin-1")
        body = re.sub(r'="(\d+)"', lambda m: '="%s"' % rng.choice(["-1", "65536", "4294967296", "x", ""]), body)
        with open(path, "wb") as stream:
            stream.write(body.encode("latin-1"))
    return edit


# ---------------------------------------------------------------------------------------------------
# Running the program.


def snapshot(root, skip):
    """{relative path: (size, mtime_ns)} of everything under root except the skipped top folders."""
    found = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if rel == ".":
            dirs[:] = [d for d in dirs if d not in skip]
        for name in dirs + files:
            path = os.path.join(folder, name)
            try:
                st = os.lstat(path)
            except OSError:
                continue
            found[os.path.relpath(path, root)] = (st.st_size, st.st_mtime_ns)
    return found


def digest(path):
    with open(path, "rb") as stream:
        return hashlib.sha256(stream.read()).hexdigest()


class Runner:
    def __init__(self, args):
        self.args = args
        self.runs = 0
        self.failures = []
        self.peak_ratio = (0.0, "")
        self.peak_kb = (0, "")

    def run(self, label, arguments, box, input_path, target):
        """Runs the program in box; returns its status (or None) after checking the rules."""
        before_hash = digest(input_path)
        before = snapshot(box, {target, "settings"})
        env = dict(os.environ)
        env.update({"HOME": os.path.join(box, "settings"), "XDG_CONFIG_HOME": os.path.join(box, "settings", "config"),
                    "XDG_DATA_HOME": os.path.join(box, "settings", "data"), "TMPDIR": os.path.join(box, "tmp"),
                    "QT_QPA_PLATFORM": "offscreen", "LC_ALL": "C.UTF-8"})
        memory = self.args.memory

        def limits():
            if memory:
                resource.setrlimit(resource.RLIMIT_AS, (memory << 20, memory << 20))
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
            os.setsid()

        with open(os.path.join(box, "stderr.txt"), "wb") as err, open(os.path.join(box, "stdout.txt"), "wb") as out:
            # The peak is measured by GNU time when there is one: a child forked from this script
            # inherits the script's own peak in ru_maxrss, one forked from time does not.
            rss_file = os.path.join(box, "rss.txt")
            command = [self.args.tool] + arguments
            if os.access(TIME, os.X_OK):
                command = [TIME, "-f", "%M", "-o", rss_file] + command
            process = subprocess.Popen(command, cwd=box, env=env, stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=err, preexec_fn=limits)
            deadline = time.monotonic() + self.args.timeout
            status = usage = None
            delay = 0.002
            while True:
                pid, status, usage = os.wait4(process.pid, os.WNOHANG)
                if pid:
                    break
                if time.monotonic() > deadline:
                    os.killpg(process.pid, signal.SIGKILL)
                    pid, status, usage = os.wait4(process.pid, 0)
                    status = "timeout"
                    break
                time.sleep(delay)
                delay = min(delay * 2, 0.05)
            process.returncode = 0
        self.runs += 1
        with open(os.path.join(box, "stderr.txt"), "rb") as stream:
            stderr = stream.read()
        problems = []
        code = None
        if status == "timeout":
            problems.append("no result within %d s" % self.args.timeout)
        elif os.WIFSIGNALED(status):
            problems.append("killed by signal %d" % os.WTERMSIG(status))
        else:
            code = os.WEXITSTATUS(status)
            if code not in (0, 1):
                problems.append("exit status %d" % code)
            elif code == 1 and not stderr.strip():
                problems.append("status 1 without a report on standard error")
        peak_kb = usage.ru_maxrss if usage is not None else None
        if os.path.exists(rss_file):
            with open(rss_file, "r", errors="replace") as stream:
                report = stream.read()
            signalled = re.search(r"terminated by signal (\d+)", report)
            if signalled and not problems:
                problems.append("killed by signal %s" % signalled.group(1))
            numbers = re.findall(r"^(\d+)$", report, re.M)
            peak_kb = int(numbers[-1]) if numbers else None
        if peak_kb is not None:
            size = max(os.path.getsize(input_path), 1)
            if peak_kb > self.peak_kb[0]:
                self.peak_kb = (peak_kb, label)
            ratio = peak_kb * 1024.0 / size
            if size > (1 << 20) and ratio > self.peak_ratio[0]:
                self.peak_ratio = (ratio, label)
        if digest(input_path) != before_hash:
            problems.append("input file changed")
        after = snapshot(box, {target, "settings"})
        ignored = {"stderr.txt", "stdout.txt", "rss.txt"}
        changed = sorted(k for k in set(before) | set(after)
                         if k not in ignored and before.get(k) != after.get(k) and not k.startswith("tmp" + os.sep))
        leftovers = sorted(k for k in after if k.startswith("tmp" + os.sep))
        if changed:
            problems.append("written outside the target folder: " + ", ".join(changed[:5]))
        if leftovers:
            problems.append("temporary files left: " + ", ".join(leftovers[:5]))
            for k in leftovers:
                shutil.rmtree(os.path.join(box, k), ignore_errors=True)
        if problems:
            tail = stderr.decode("utf-8", "replace").strip().splitlines()[-3:]
            self.failures.append((label, " ".join(arguments), problems, tail))
            print("FAIL %s: %s [%s]%s" % (label, "; ".join(problems), " ".join(arguments),
                                          ("\n    " + "\n    ".join(tail)) if tail else ""), flush=True)
            if self.args.keep_failures:
                keep = os.path.join(self.args.work, "failures", "%03d" % len(self.failures))
                shutil.copytree(box, keep, dirs_exist_ok=True)
        return code


def new_box(work):
    box = tempfile.mkdtemp(prefix="box-", dir=work)
    for sub in ("settings", "tmp", "in"):
        os.makedirs(os.path.join(box, sub))
    return box


def run_pe_variant(runner, label, content, name):
    box = new_box(runner.args.work)
    try:
        source = os.path.join(box, "in", name)
        with open(source, "wb") as stream:
            stream.write(content)
        code = runner.run(label + " decompile", ["/Decompile", "/Output:out", source], box, source, "out")
        if code == 0 and os.path.exists(os.path.join(box, "out", "pe.xml")):
            runner.run(label + " compile", ["/Compile", "/Output:out", source], box, source, "out")
        return code
    finally:
        shutil.rmtree(box, ignore_errors=True)


def run_folder_variants(runner, source, rng, limit):
    """Imports source once, then compiles hand-edited copies of the working folder."""
    base = new_box(runner.args.work)
    try:
        original = os.path.join(base, "in", os.path.basename(source))
        shutil.copyfile(source, original)
        if runner.run("clean import " + os.path.basename(source), ["/Decompile", "/Output:out", original], base,
                      original, "out") != 0:
            return 0
        variants = list(folder_variants(os.path.join(base, "out"), rng))
        if limit and len(variants) > limit:
            variants = rng.sample(variants, limit)
        for label, edit in variants:
            box = new_box(runner.args.work)
            try:
                input_path = os.path.join(box, "in", os.path.basename(source))
                shutil.copyfile(source, input_path)
                shutil.copytree(os.path.join(base, "out"), os.path.join(box, "out"))
                edit(os.path.join(box, "out"))
                runner.run("%s: %s" % (os.path.basename(source), label), ["/Compile", "/Output:out", input_path], box,
                           input_path, "out")
            finally:
                shutil.rmtree(box, ignore_errors=True)
        return len(variants)
    finally:
        shutil.rmtree(base, ignore_errors=True)


def is_pe(path):
    try:
        with open(path, "rb") as stream:
            head = stream.read(2)
        return head == b"MZ"
    except OSError:
        return False


def has_resources(path):
    with open(path, "rb") as stream:
        return len(describe(stream.read()).directories) > 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--make-sample")
    parser.add_argument("--corpus")
    parser.add_argument("--work", required=True)
    parser.add_argument("--fast", action="store_true")
    parser.add_argument("--max-files", type=int, default=0)
    parser.add_argument("--spread", action="store_true",
                        help="with --max-files: files spread over the size range instead of the smallest")
    parser.add_argument("--per-file", type=int, default=0,
                        help="at most this many PE variants and as many folder variants per corpus file (0: all)")
    parser.add_argument("--min-size", type=int, default=0, help="corpus files below this many bytes are skipped")
    parser.add_argument("--with-resources", action="store_true", help="only corpus files with a resource section")
    parser.add_argument("--files", nargs="*", default=[])
    parser.add_argument("--timeout", type=int, default=20)
    parser.add_argument("--memory", type=int, default=2048, help="address-space limit in MB (0: none)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep-failures", action="store_true")
    args = parser.parse_args()
    args.tool = os.path.abspath(args.tool)
    os.makedirs(args.work, exist_ok=True)
    args.work = os.path.abspath(args.work)
    rng = random.Random(args.seed)
    runner = Runner(args)

    sources = list(args.files)
    if args.make_sample:
        folder = os.path.join(args.work, "sample")
        shutil.rmtree(folder, ignore_errors=True)
        subprocess.run([args.make_sample, "--variants", folder], check=True, stdout=subprocess.DEVNULL)
        sources += sorted(os.path.join(folder, n) for n in os.listdir(folder))
    if args.corpus and os.path.isdir(args.corpus):
        found = []
        for folder, _, names in os.walk(args.corpus):
            for name in names:
                if name.lower().endswith((".exe", ".dll", ".msstyles")) and is_pe(os.path.join(folder, name)):
                    found.append(os.path.join(folder, name))
        found.sort(key=lambda p: (os.path.getsize(p), p))
        if args.fast:
            # Small files with resources, spread over the size range.
            found = [p for p in found if os.path.getsize(p) < 400 * 1024 and has_resources(p)]
            found = found[:: max(1, len(found) // 2)][:2]
        found = [p for p in found if os.path.getsize(p) >= args.min_size]
        if args.with_resources:
            found = [p for p in found if has_resources(p)]
        if args.max_files and args.spread and len(found) > args.max_files:
            step = len(found) / args.max_files
            found = [found[int(i * step)] for i in range(args.max_files)]
        elif args.max_files:
            found = found[:args.max_files]
        sources += found

    started = time.monotonic()
    pe_variants_run = folder_variants_run = 0
    for index, source in enumerate(sources):
        with open(source, "rb") as stream:
            data = stream.read()
        lay = describe(data)
        sample_variant = args.make_sample and os.path.dirname(source) == os.path.join(args.work, "sample")
        primary = os.path.basename(source) == "sample.dll" or not sample_variant
        if args.fast:
            truncations, field_limit = (16, 40) if primary else (4, 6)
        else:
            truncations, field_limit = 64, 0
        # The variants are made one at a time (twice: counted, then run), never held together: a
        # large file has thousands, and a big harness would also inflate every child's peak memory,
        # which a forked child inherits.
        file_seed = rng.getrandbits(32)

        def generate():
            return pe_variants(data, lay, truncations, random.Random(file_seed), field_limit)

        total = sum(1 for _ in generate())
        chosen = None
        if args.fast and not primary:
            chosen = set(range(min(total, 12)))
        elif args.fast:
            keep = 150 if sample_variant else 60
            chosen = None if total <= keep else set(rng.sample(range(total), keep))
        elif args.per_file and not sample_variant and total > args.per_file:
            chosen = set(rng.sample(range(total), args.per_file))
        name = os.path.basename(source)
        run_pe_variant(runner, name + " original", data, name)
        count = 0
        for number, (label, content) in enumerate(generate()):
            if chosen is None or number in chosen:
                run_pe_variant(runner, "%s %s" % (name, label), content, name)
                count += 1
        pe_variants_run += count + 1
        if primary:
            folder_limit = (60 if sample_variant else 30) if args.fast else 0
            if not args.fast and not sample_variant:
                folder_limit = args.per_file
            folder_variants_run += run_folder_variants(runner, source, rng, folder_limit)
        print("[%d/%d] %s: %d runs so far, %d failures, %.0f s" % (index + 1, len(sources), name, runner.runs,
                                                                  len(runner.failures), time.monotonic() - started),
              flush=True)

    print("%d PE variants, %d working-folder variants, %d program runs, %d failures, %.0f s" %
          (pe_variants_run, folder_variants_run, runner.runs, len(runner.failures), time.monotonic() - started))
    print("peak memory: %d KB (%s); largest peak / input size: %.1f (%s)" %
          (runner.peak_kb[0], runner.peak_kb[1], runner.peak_ratio[0], runner.peak_ratio[1]))
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
