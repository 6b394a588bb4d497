#!/usr/bin/env python3
"""Peak memory of the program on inputs that claim huge sizes.

Writes variants of a PE file whose headers claim a 4 GB section, a resource data entry of 2 GB, a
65535 x 65535 bitmap, 0xFFFF directory entries and 0xFFFF sections, plus a working folder whose
STRINGS.XML holds a 16 MB string, and runs the program on each under /usr/bin/time -v.  Prints
status and peak resident memory per input; exit status 1 when a run ends by a signal or with a
status other than 0 or 1, or when its peak exceeds --limit-mb.

    huge_claims.py --tool KESTREL --pe FILE --work DIR [--limit-mb N] [--make-sample MAKE_SAMPLE]
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutate  # noqa: E402


def run(tool, arguments, cwd):
    # Settings and temporary files of the run stay in its own folder.
    env = dict(os.environ)
    env.update({"HOME": cwd, "XDG_CONFIG_HOME": os.path.join(cwd, "config"),
                "XDG_DATA_HOME": os.path.join(cwd, "data"), "TMPDIR": cwd, "LC_ALL": "C.UTF-8"})
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    result = subprocess.run(["/usr/bin/time", "-v", tool] + arguments, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120, env=env)
    text = result.stderr.decode("utf-8", "replace")
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", text)
    status = re.search(r"Exit status: (\d+)", text)
    signalled = "Command terminated by signal" in text
    return (int(status.group(1)) if status else -1), signalled, int(peak.group(1)) if peak else -1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--pe", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--limit-mb", type=int, default=400)
    parser.add_argument("--make-sample", help="write the sample PE file to --pe first with this program")
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    if args.make_sample:
        os.makedirs(os.path.dirname(os.path.abspath(args.pe)), exist_ok=True)
        subprocess.run([args.make_sample, args.pe], check=True, stdout=subprocess.DEVNULL)
    with open(args.pe, "rb") as stream:
        data = stream.read()
    lay = mutate.describe(data)
    fields = {}
    for name, offset, width in lay.fields:
        fields.setdefault(name, (offset, width))
    claims = [("4 GB raw section size", "section0_raw_size", 0xFFFFFFF0),
              ("4 GB virtual section size", "section0_vsize", 0xFFFFFFF0),
              ("2 GB resource data entry", "data_size", 0x7FFFFFFF),
              ("4 GB resource data entry", "data_size", 0xFFFFFFFF),
              ("65535 x 65535 bitmap", "dib_width", 65535),
              ("0xFFFF directory entries", "dir_id_count", 0xFFFF),
              ("0xFFFF sections", "section_count", 0xFFFF),
              ("4 GB resource directory size", "resource_size", 0xFFFFFFFF)]
    failed = False
    for index, (label, field, value) in enumerate(claims):
        if field not in fields:
            print("%-32s (no such field in this file)" % label)
            continue
        offset, width = fields[field]
        variant = mutate.put(data, offset, width, value)
        if field == "dib_width" and "dib_height" in fields:
            variant = mutate.put(variant, fields["dib_height"][0], 4, value)
        box = os.path.join(args.work, "%d_%s" % (index, field))
        os.makedirs(box)
        with open(os.path.join(box, "in.dll"), "wb") as stream:
            stream.write(variant)
        status, signalled, peak = run(tool, ["/Decompile", "/Output:out", "in.dll"], box)
        steps = "decompile %d" % status
        if status == 0:
            compiled, compile_signal, compile_peak = run(tool, ["/Compile", "/Output:out", "in.dll"], box)
            steps += ", compile %d" % compiled
            signalled = signalled or compile_signal or compiled not in (0, 1)
            peak = max(peak, compile_peak)
        bad = signalled or status not in (0, 1) or peak > args.limit_mb * 1024
        failed = failed or bad
        print("%-32s %-24s peak %7d KB%s" % (label, steps, peak, "  FAIL" if bad else ""))
    # A 16 MB string in the working folder of the unchanged file.
    box = os.path.join(args.work, "strings")
    os.makedirs(box)
    shutil.copyfile(args.pe, os.path.join(box, "in.dll"))
    if run(tool, ["/Decompile", "/Output:out", "in.dll"], box)[0] == 0:
        with open(os.path.join(box, "out", "STRINGS.XML"), "wb") as stream:
            stream.write(b"<?xml version='1.0' encoding='UTF-8'?><ROOT><E ID='1' S=\"" + b"A" * (16 << 20) +
                         b"\"/></ROOT>")
        status, signalled, peak = run(tool, ["/Compile", "/Output:out", "in.dll"], box)
        bad = signalled or status not in (0, 1) or peak > args.limit_mb * 1024
        failed = failed or bad
        print("%-32s %-24s peak %7d KB%s" % ("16 MB string in STRINGS.XML", "compile %d" % status, peak,
                                             "  FAIL" if bad else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
