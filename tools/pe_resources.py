#!/usr/bin/env python3
"""Lists the resources, sections and header fields of a PE file, using pefile.

An independent reader for our tests: it shares no code with Kestrel, so a test can compare what
Kestrel wrote or read with what a second implementation sees.

    pe_resources.py FILE            JSON on standard output
    pe_resources.py FILE --lines    one tab-separated record per line (for C++ tests, no JSON parser)
    pe_resources.py FILE -o OUT     write into OUT instead

JSON: resource "type" and "name" are numbers (IDs) or strings (names); "language" is a number.
Lines: "header KEY VALUE", "section NAME VA VSIZE RAWSIZE RAWOFFSET CHARACTERISTICS SHA256",
"resource TYPE NAME LANGUAGE CODEPAGE SIZE HEXDATA", "checksum_valid 0|1", "overlay OFFSET SIZE",
"warning TEXT". In lines, an ID is written "i:123" and a name "n:TEXT", where TEXT keeps printable
ASCII except the backslash and writes every other UTF-16 unit as \\uXXXX (so lone surrogates survive);
a name whose string lies outside the image is "x:OFFSET"; data that cannot be read is "unreadable".
A file pefile cannot parse gives {"error": ...} (or "error TEXT") and exit status 1.
"""
import argparse
import hashlib
import json
import struct
import sys

import pefile

RESOURCE_DIRECTORY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]


class UnreadableName:
    """A name whose string lies outside the image; keeps the offset it claimed."""

    def __init__(self, offset):
        self.offset = offset


def read_name(pe, resource_rva, entry):
    """The entry's name as UTF-16 code units read straight from the section, or its ID."""
    if not entry.struct.Name & 0x80000000:
        return entry.struct.Name & 0xFFFF
    offset = entry.struct.Name & 0x7FFFFFFF
    try:
        (length,) = struct.unpack("<H", pe.get_data(resource_rva + offset, 2))
        raw = pe.get_data(resource_rva + offset + 2, 2 * length)
    except (pefile.PEFormatError, struct.error):
        return UnreadableName(offset)
    if len(raw) < 2 * length:
        return UnreadableName(offset)
    return list(struct.unpack("<%dH" % length, raw))


def units_to_text(units):
    return "".join(chr(u) for u in units)


def escaped_key(key):
    if isinstance(key, int):
        return "i:%d" % key
    if isinstance(key, UnreadableName):
        return "x:%d" % key.offset
    return "n:" + "".join(chr(u) if 0x20 <= u < 0x7F and u != 0x5C else "\\u%04X" % u for u in key)


def resources(pe):
    out = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return out
    resource_rva = pe.OPTIONAL_HEADER.DATA_DIRECTORY[RESOURCE_DIRECTORY].VirtualAddress
    for type_entry in root.entries:
        if not hasattr(type_entry, "directory"):
            continue
        type_key = read_name(pe, resource_rva, type_entry)
        for name_entry in type_entry.directory.entries:
            if not hasattr(name_entry, "directory"):
                continue
            name_key = read_name(pe, resource_rva, name_entry)
            for lang_entry in name_entry.directory.entries:
                if not hasattr(lang_entry, "data"):
                    continue
                data_struct = lang_entry.data.struct
                try:
                    blob = pe.get_data(data_struct.OffsetToData, data_struct.Size)
                except pefile.PEFormatError:
                    blob = None
                out.append({
                    "type": type_key,
                    "name": name_key,
                    "language": lang_entry.struct.Name & 0xFFFF,
                    "rva": data_struct.OffsetToData,
                    "size": data_struct.Size,
                    "codepage": data_struct.CodePage,
                    "readable": blob is not None,
                    "sha256": None if blob is None else hashlib.sha256(blob).hexdigest(),
                    "data": blob,
                })
    return out


def sections(pe, data):
    out = []
    for section in pe.sections:
        start, size = section.PointerToRawData, section.SizeOfRawData
        out.append({
            "name": section.Name.rstrip(b"\0"),
            "virtual_address": section.VirtualAddress,
            "virtual_size": section.Misc_VirtualSize,
            "raw_size": size,
            "raw_offset": start,
            "characteristics": section.Characteristics,
            "sha256": hashlib.sha256(data[start:start + size]).hexdigest(),
        })
    return out


def describe(path):
    with open(path, "rb") as stream:
        data = stream.read()
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[RESOURCE_DIRECTORY])
    opt = pe.OPTIONAL_HEADER
    coff = pe.FILE_HEADER
    overlay_start = pe.get_overlay_data_start_offset()
    return {
        "file_size": len(data),
        "header": {
            "e_lfanew": pe.DOS_HEADER.e_lfanew,
            "machine": coff.Machine,
            "number_of_sections": coff.NumberOfSections,
            "pointer_to_symbol_table": coff.PointerToSymbolTable,
            "number_of_symbols": coff.NumberOfSymbols,
            "size_of_optional_header": coff.SizeOfOptionalHeader,
            "characteristics": coff.Characteristics,
            "magic": opt.Magic,
            "size_of_code": opt.SizeOfCode,
            "size_of_initialized_data": opt.SizeOfInitializedData,
            "size_of_uninitialized_data": opt.SizeOfUninitializedData,
            "address_of_entry_point": opt.AddressOfEntryPoint,
            "image_base": opt.ImageBase,
            "section_alignment": opt.SectionAlignment,
            "file_alignment": opt.FileAlignment,
            "size_of_image": opt.SizeOfImage,
            "size_of_headers": opt.SizeOfHeaders,
            "checksum": opt.CheckSum,
            "subsystem": opt.Subsystem,
            "number_of_rva_and_sizes": opt.NumberOfRvaAndSizes,
            "data_directories": [[d.VirtualAddress, d.Size] for d in opt.DATA_DIRECTORY],
        },
        "checksum_valid": opt.CheckSum == pe.generate_checksum(),
        "overlay_offset": overlay_start,
        "overlay_size": 0 if overlay_start is None else len(data) - overlay_start,
        "sections": sections(pe, data),
        "resources": resources(pe),
        "warnings": pe.get_warnings(),
    }


def as_json(result):
    def convert(value):
        if isinstance(value, dict):
            return {k: convert(v) for k, v in value.items() if k != "data"}
        if isinstance(value, list):
            return [convert(v) for v in value]
        if isinstance(value, bytes):
            return value.decode("latin-1")
        return value

    result = convert(result)
    for resource in result.get("resources", []):
        for key in ("type", "name"):
            if isinstance(resource[key], list):
                resource[key] = units_to_text(resource[key])
            elif isinstance(resource[key], UnreadableName):
                resource[key] = {"unreadable_name_offset": resource[key].offset}
    return json.dumps(result, indent=1, sort_keys=True)


def as_lines(result):
    lines = []
    for key, value in sorted(result["header"].items()):
        if key == "data_directories":
            for index, (rva, size) in enumerate(value):
                lines.append("directory\t%d\t%d\t%d" % (index, rva, size))
        else:
            lines.append("header\t%s\t%d" % (key, value))
    lines.append("file_size\t%d" % result["file_size"])
    for section in result["sections"]:
        name = "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else "\\x%02X" % b for b in section["name"])
        lines.append("section\t%s\t%d\t%d\t%d\t%d\t%d\t%s" % (
            name, section["virtual_address"], section["virtual_size"], section["raw_size"],
            section["raw_offset"], section["characteristics"], section["sha256"]))
    for resource in result["resources"]:
        data = resource["data"]
        lines.append("resource\t%s\t%s\t%d\t%d\t%d\t%s" % (
            escaped_key(resource["type"]), escaped_key(resource["name"]), resource["language"],
            resource["codepage"], resource["size"], "unreadable" if data is None else data.hex()))
    lines.append("checksum_valid\t%d" % (1 if result["checksum_valid"] else 0))
    overlay = result["overlay_offset"]
    lines.append("overlay\t%d\t%d" % (-1 if overlay is None else overlay, result["overlay_size"]))
    for warning in result["warnings"]:
        lines.append("warning\t%s" % " ".join(str(warning).split()))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file")
    parser.add_argument("--lines", action="store_true")
    parser.add_argument("-o", "--output")
    args = parser.parse_args()
    try:
        result, status = describe(args.file), 0
        text = as_lines(result) if args.lines else as_json(result)
    except Exception as error:  # any failure of the reader is a finding, never a traceback
        status = 1
        text = ("error\t%s" % error) if args.lines else json.dumps({"error": str(error)})
    if args.output:
        with open(args.output, "w", encoding="utf-8") as stream:
            stream.write(text + "\n")
    else:
        sys.stdout.write(text + "\n")
    return status


if __name__ == "__main__":
    sys.exit(main())
