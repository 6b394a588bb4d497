#!/usr/bin/env python3
"""Compares our dialog and menu template decoding with binutils' windres over the corpus.

For every PE file of the corpus (tests/corpus/fetch) the dump tool (tools/template-dump) prints each
dialog (type 5) and menu (type 4) resource, in every language, as decoded by the core library;
windres (i686- or x86_64-w64-mingw32-windres, --input-format=coff -O rc) writes the same resources
as resource-script text. This script parses that text back into values and compares them field by
field with the dump.

Fields windres does not write, or writes in a form that loses information, are excluded by name
and counted in the report instead of being compared:
- the text of EDITTEXT, COMBOBOX, LISTBOX and SCROLLBAR controls (windres never prints it);
- in classic menus, MF_DEFAULT and MFT_RADIOCHECK (windres prints only the flags it has names
  for); in extended menus, type and state bits our decoded form has no field for;
- a classic dialog's font weight, italic and character set (the classic template has none).
An extended menu item's separator field is derived as the system's menu loader derives it:
MFT_SEPARATOR in its type, or an empty text on an item that is no pop-up.
Values windres prints through 16-bit or 32-bit unsigned fields (coordinates, IDs) are compared
modulo 2^16 or 2^32.

Usage: template_oracle.py --tool build/.../template-dump [--corpus ROOT] [--show N]
Exit status: 0 all equal, 1 differences or decode failures, 77 corpus or windres missing.
"""

import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
WINDRES = {"pe32": "i686-w64-mingw32-windres", "pe32plus": "x86_64-w64-mingw32-windres"}

# Control keywords windres writes, with the predefined class each stands for.
BUTTON, EDIT, STATIC, LISTBOX, SCROLLBAR, COMBOBOX = 0x80, 0x81, 0x82, 0x83, 0x84, 0x85
KEYWORD_CLASS = {
    "AUTO3STATE": BUTTON, "AUTOCHECKBOX": BUTTON, "AUTORADIOBUTTON": BUTTON, "CHECKBOX": BUTTON,
    "DEFPUSHBUTTON": BUTTON, "GROUPBOX": BUTTON, "PUSHBOX": BUTTON, "PUSHBUTTON": BUTTON,
    "RADIOBUTTON": BUTTON, "STATE3": BUTTON, "USERBUTTON": BUTTON,
    "CTEXT": STATIC, "ICON": STATIC, "LTEXT": STATIC, "RTEXT": STATIC,
    "EDITTEXT": EDIT, "COMBOBOX": COMBOBOX, "LISTBOX": LISTBOX, "SCROLLBAR": SCROLLBAR,
}
# Keywords whose control text windres leaves out.
TEXTLESS = {"EDITTEXT", "COMBOBOX", "LISTBOX", "SCROLLBAR"}
SS_ICON = 3

# Classic menu flags by the names windres writes, and the decoded field each sets.
CLASSIC_FLAGS = {
    "CHECKED": "checked", "GRAYED": "grayed", "HELP": "rightJustify", "INACTIVE": "disabled",
    "MENUBARBREAK": "menuBarBreak", "MENUBREAK": "menuBreak", "OWNERDRAW": "ownerDraw",
    "BITMAP": "bitmap",
}
MENU_FLAG_FIELDS = ("separator", "grayed", "disabled", "checked", "radioCheck", "default",
                    "menuBreak", "menuBarBreak", "rightJustify", "ownerDraw", "bitmap")
# Extended items: the type and state bits our decoded form keeps.
EX_TYPE_BITS = {"bitmap": 0x4, "menuBarBreak": 0x20, "menuBreak": 0x40, "ownerDraw": 0x100,
                "radioCheck": 0x200, "separator": 0x800, "rightJustify": 0x4000}
EX_STATE_BITS = {"checked": 0x8, "default": 0x1000}
EX_STATE_DISABLED = 0x3

# Templates the corpus lacks (negative positions, help IDs, named menus and classes, creation data,
# font weight and italic, text ordinals, the SS_ICON short form, surrogate pairs, every menu flag),
# compiled by windres and linked by ld into a resource-only DLL that is compared like a corpus file.
EDGE_CASES_RC = r"""
LANGUAGE 9, 1
100 DIALOGEX 65531, 65529, 200, 100, 77
STYLE 0x80c80040
EXSTYLE 0x8
CAPTION "Tab\there ""quoted"" back\\slash \001 \351"
MENU "named_menu"
CLASS "MyClass"
FONT 9, "Segoe UI", 700, 1, 204
BEGIN
  CONTROL "", 5, "SysListView32", 0x50010000, 65533, 4, 50, 20, 0x200, 1234
  ICON 101, 1000, 4, 4
  CONTROL 7, 6, 130, 0x50000003, 1, 2, 3, 4
  LTEXT "", -1, 1, 2, 3, 4
  PUSHBUTTON "ok", 1, 1, 2, 3, 4, 0x50010000 BEGIN 1, 2, 3 END
  CONTROL "x", 65536, 0x85, 0x50210003, 1, 2, 3, 4
END
101 DIALOG 0, 0, 10, 10
STYLE 0x80000000
MENU 5
BEGIN
  EDITTEXT 10, 1, 2, 3, 4
  CONTROL "", 11, "Button", 0x5001000b, 1, 2, 3, 4
END
LANGUAGE 7, 1
300 DIALOG 1, 2, 3, 4
STYLE 0x10000000
CAPTION L"\xd83d\xde00 odd"
BEGIN
  ICON 0, 20, 1, 2
  ICON 7, 21, 1, 2, 0, 0, NOT 0x50000000 | 3
  CONTROL "a", 24, 0x82, NOT 0x50000000 | 3, 1, 2, 0, 0
  CONTROL "", 22, "Static", 3, 1, 2, 0, 0, 0x20
END
301 DIALOGEX 0, 0, 1, 1
STYLE 0x40
FONT 8, ""
BEGIN
END
"NAMED" MENU
BEGIN
  POPUP "&File", HELP
  BEGIN
    MENUITEM "a\tb", 1, CHECKED, GRAYED
    MENUITEM SEPARATOR
    MENUITEM "c", 2, INACTIVE, MENUBARBREAK, MENUBREAK, OWNERDRAW
    POPUP "deeper"
    BEGIN
      POPUP "deepest"
      BEGIN
        MENUITEM "e", 4
      END
    END
    MENUITEM "d", 3, BITMAP
  END
END
200 MENUEX
BEGIN
  POPUP "p", 10, 0x4000, 0x3, 99
  BEGIN
    MENUITEM "x", 11, 0x200, 0x1008
    MENUITEM "", 0, 0x800
    POPUP "q", 13, 0x60, 0x8
    BEGIN
      MENUITEM "z", 14, 0x104
    END
    MENUITEM "y", 12, 0x2000, 0x80
  END
END
"""

HEAD = re.compile(r'^(\d+|L?"(?:[^"]|"")*") (DIALOG|DIALOGEX|MENU|MENUEX)(?: (.*))?$')
LANGUAGE = re.compile(r"^LANGUAGE (\d+), (\d+)$")
TOKEN = re.compile(r'\s*(?:(L?"(?:[^"]|"")*")|(0[xX][0-9a-fA-F]+|\d+)[uUlL]*|([A-Za-z_]\w*)|([,|+\-~()]))')
SIMPLE_ESCAPES = {"a": 7, "b": 8, "f": 12, "n": 10, "r": 13, "t": 9, "v": 11, "\\": 92, '"': 34}


class ParseError(Exception):
    pass


# ---------------------------------------------------------------- resource-script text


def unquote(token):
    """The UTF-16 text of a quoted string as windres writes it (L prefix optional)."""
    body = token[2:-1] if token.startswith("L") else token[1:-1]
    body = body.replace('""', '"')
    out, i = [], 0
    while i < len(body):
        ch = body[i]
        if ch != "\\" or i + 1 == len(body):
            out.append(ch)
            i += 1
            continue
        nxt = body[i + 1]
        if nxt in "01234567":
            j = i + 1
            while j < len(body) and j < i + 4 and body[j] in "01234567":
                j += 1
            out.append(chr(int(body[i + 1:j], 8)))
            i = j
        elif nxt in "xX":
            j = i + 2
            while j < len(body) and j < i + 6 and body[j] in "0123456789abcdefABCDEF":
                j += 1
            if j == i + 2:
                raise ParseError("\\x without digits in " + token)
            out.append(chr(int(body[i + 2:j], 16)))
            i = j
        elif nxt in SIMPLE_ESCAPES:
            out.append(chr(SIMPLE_ESCAPES[nxt]))
            i += 2
        else:
            out.append(nxt)
            i += 2
    # Pairs of \x surrogates become one character, as the dump's JSON text reads.
    return "".join(out).encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")


def tokens_of(text):
    pos, found = 0, []
    text = text.rstrip()
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m or m.end() == pos:
            raise ParseError("cannot read %r" % text[pos:])
        if m.group(1):
            found.append(("str", m.group(1)))
        elif m.group(2):
            found.append(("num", int(m.group(2), 0)))
        elif m.group(3):
            found.append(("name", m.group(3)))
        else:
            found.append(("op", m.group(4)))
        pos = m.end()
    return found


def fields_of(text):
    """Comma-separated fields, each a string, an int (expressions evaluated) or a bare name."""
    fields, current = [], []
    for token in tokens_of(text):
        if token == ("op", ","):
            fields.append(current)
            current = []
        else:
            current.append(token)
    fields.append(current)
    if fields == [[]]:
        return []
    return [field_value(field) for field in fields]


def field_value(field):
    if not field:
        raise ParseError("empty field")
    if len(field) == 1 and field[0][0] == "str":
        return ("str", unquote(field[0][1]))
    if len(field) == 1 and field[0][0] == "name":
        return ("name", field[0][1])
    return ("num", evaluate(field))


def evaluate(field):
    """Numbers joined by |, + and -, with ~ and NOT; windres 2.40 writes plain hex, this keeps the
    reading correct should a later version write expressions."""
    pos = 0

    def unary():
        nonlocal pos
        kind, value = field[pos]
        pos += 1
        if (kind, value) in (("op", "~"), ("name", "NOT")):
            return ~unary() & 0xFFFFFFFF
        if (kind, value) == ("op", "-"):
            return -unary()
        if (kind, value) == ("op", "("):
            result = binary()
            if field[pos] != ("op", ")"):
                raise ParseError("unbalanced parenthesis")
            pos += 1
            return result
        if kind == "num":
            return value
        raise ParseError("cannot evaluate %r" % (value,))

    def binary():
        nonlocal pos
        result = unary()
        while pos < len(field) and field[pos][0] == "op" and field[pos][1] in "|+-":
            op = field[pos][1]
            pos += 1
            rhs = unary()
            result = result | rhs if op == "|" else result + rhs if op == "+" else result - rhs
        return result

    try:
        value = binary()
    except IndexError:
        raise ParseError("incomplete expression") from None
    if pos != len(field):
        raise ParseError("trailing tokens in expression")
    return value & 0xFFFFFFFF


def number(field, what):
    if field[0] != "num":
        raise ParseError("%s is not a number: %r" % (what, field[1]))
    return field[1]


def name_or_ordinal(field):
    if field[0] == "name":
        raise ParseError("bare name %s where a text or an ordinal belongs" % field[1])
    return {"ord": field[1]} if field[0] == "num" else {"text": field[1]}


def parse_dialog(kind, head, body):
    """A dialog as the dump writes it, from windres's header fields and body lines."""
    head_fields = fields_of(head)
    extended = kind == "DIALOGEX"
    if len(head_fields) not in ((4, 5) if extended else (4,)):
        raise ParseError("dialog header " + head)
    x, y, cx, cy = (number(f, "position") for f in head_fields[:4])
    help_id = number(head_fields[4], "help ID") if len(head_fields) == 5 else 0
    dialog = {"extended": extended, "helpId": help_id, "style": None, "exStyle": 0, "x": x, "y": y,
              "cx": cx, "cy": cy, "menu": None, "class": None, "caption": "", "font": None, "controls": []}
    lines = iter(body)
    for line in lines:
        if line == "BEGIN":
            break
        keyword, _, rest = line.partition(" ")
        values = fields_of(rest)
        if keyword == "STYLE":
            dialog["style"] = number(values[0], "style")
        elif keyword == "EXSTYLE":
            dialog["exStyle"] = number(values[0], "extended style")
        elif keyword == "CAPTION":
            dialog["caption"] = values[0][1]
        elif keyword == "CLASS":
            dialog["class"] = name_or_ordinal(values[0])
        elif keyword == "MENU":
            # windres writes a menu name unquoted: digits read as an ordinal.
            value = rest.strip()
            menu = {"ord": int(value)} if value.isdigit() else {"text": unquote('"' + value + '"')}
            dialog["menu"] = menu
        elif keyword == "FONT":
            if len(values) not in (2, 5):
                raise ParseError("FONT " + rest)
            font = {"size": number(values[0], "point size"), "face": values[1][1]}
            if extended:
                # Left out when they are weight 0, not italic and character set 1.
                weight, italic, charset = [number(v, "font") for v in values[2:]] if values[2:] else (0, 0, 1)
                font.update(weight=weight, italic=italic != 0, charset=charset)
            dialog["font"] = font
        else:
            raise ParseError("dialog statement " + line)
    depth = 0
    for line in lines:
        stripped = line.strip()
        if depth or stripped == "BEGIN":
            # Creation data of the control before, written as data lines.
            depth += 1 if stripped == "BEGIN" else -1 if stripped == "END" else 0
            if dialog["controls"]:
                dialog["controls"][-1]["hasData"] = True
            continue
        dialog["controls"].append(parse_control(stripped))
    if dialog["style"] is None:
        raise ParseError("dialog without STYLE")
    return dialog


def parse_control(line):
    keyword, _, rest = line.partition(" ")
    values = fields_of(rest)
    control = {"keyword": keyword, "hasData": False, "exStyle": 0, "helpId": 0}
    if keyword == "CONTROL":
        counts = {5: False, 6: True, 7: False, 8: True, 9: False, 10: True}
    elif keyword in KEYWORD_CLASS:
        counts = {3: False, 6: False, 8: False}
        if keyword not in TEXTLESS:
            counts.update({4: True, 7: True, 9: True})
    else:
        raise ParseError("control " + line)
    if len(values) not in counts:
        raise ParseError("%d fields in control %s" % (len(values), line))
    if counts[len(values)]:
        text, values = values[0], values[1:]
        control["text"] = name_or_ordinal(text)
    elif keyword not in TEXTLESS:
        control["text"] = {"ord": 0}  # windres leaves out only an ordinal 0
    control["id"] = number(values[0], "ID")
    if keyword == "CONTROL":
        control["class"] = name_or_ordinal(values[1])
        control["style"] = number(values[2], "style")
        rest = values[3:]
    else:
        control["class"] = {"ord": KEYWORD_CLASS[keyword]}
        rest = values[1:]
    control["x"], control["y"] = number(rest[0], "x"), number(rest[1], "y")
    rest = rest[2:]
    if not rest:
        # windres leaves out the size only of a control with style SS_ICON and nothing else set.
        control.update(cx=0, cy=0)
        if keyword != "CONTROL":
            control["style"] = SS_ICON
    else:
        control["cx"], control["cy"] = number(rest[0], "cx"), number(rest[1], "cy")
        rest = rest[2:]
        if keyword != "CONTROL":
            control["style"], rest = number(rest[0], "style"), rest[1:]
    if rest:
        control["exStyle"] = number(rest[0], "extended style")
        control["helpId"] = number(rest[1], "help ID")
    return control


def parse_menu(kind, body):
    extended = kind == "MENUEX"
    menu = {"extended": extended, "helpId": 0, "items": []}
    stack, last = [], None
    for line in body:
        stripped = line.strip()
        if stripped.startswith("// Help ID:"):
            menu["helpId"] = int(stripped.split(":")[1])
        elif stripped == "BEGIN":
            stack.append(menu["items"] if not stack else last["children"])
        elif stripped == "END":
            stack.pop()
        else:
            keyword, _, rest = stripped.partition(" ")
            if keyword not in ("MENUITEM", "POPUP") or not stack:
                raise ParseError("menu statement " + line)
            last = parse_menu_item(keyword, rest, extended)
            stack[-1].append(last)
    if stack:
        raise ParseError("menu without its END")
    return menu


def parse_menu_item(keyword, rest, extended):
    item = {field: False for field in MENU_FLAG_FIELDS}
    item.update(popup=keyword == "POPUP", id=0, helpId=0, text="", rawType=0, rawState=0)
    if item["popup"]:
        item["children"] = []
    if not extended and rest == "SEPARATOR":
        item["separator"] = True
        return item
    values = fields_of(rest)
    if not values or values[0][0] != "str":
        raise ParseError("menu item " + rest)
    item["text"] = values[0][1]
    values = values[1:]
    if extended:
        numbers = [number(v, "menu value") for v in values]
        if len(numbers) > 4:
            raise ParseError("menu item " + rest)
        numbers += [0] * (4 - len(numbers))
        item["id"], item["rawType"], item["rawState"], item["helpId"] = numbers
        for field, bit in EX_TYPE_BITS.items():
            item[field] = (item["rawType"] & bit) != 0
        for field, bit in EX_STATE_BITS.items():
            item[field] = (item["rawState"] & bit) != 0
        item["grayed"] = item["disabled"] = (item["rawState"] & EX_STATE_DISABLED) != 0
        # The system's menu loader shows an extended command item without text as a separator.
        if not item["popup"] and not item["text"]:
            item["separator"] = True
    else:
        if not item["popup"]:
            item["id"], values = number(values[0], "ID"), values[1:]
        for value in values:
            if value[0] != "name" or value[1] not in CLASSIC_FLAGS:
                raise ParseError("menu flag %r" % (value,))
            item[CLASSIC_FLAGS[value[1]]] = True
    return item


def parse_rc(text):
    """{(type, name, language): value or ParseError text} for the dialogs and menus of windres's text."""
    found = {}
    lines = text.splitlines()
    language = None
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if line.startswith("/*"):
            while "*/" not in line and i < len(lines):
                line = lines[i]
                i += 1
            continue
        m = LANGUAGE.match(line)
        if m:
            language = int(m.group(1)) | (int(m.group(2)) << 10)
            continue
        m = HEAD.match(line)
        if not m:
            continue
        name = int(m.group(1)) if m.group(1).isdigit() else unquote(m.group(1))
        kind = m.group(2)
        body = []
        while i < len(lines) and lines[i] != "END":
            body.append(lines[i])
            i += 1
        i += 1
        key = ("dialog" if kind.startswith("DIALOG") else "menu", name, language)
        try:
            if key[0] == "dialog":
                found[key] = parse_dialog(kind, m.group(3) or "", body)
            else:
                found[key] = parse_menu(kind, body + ["END"])
        except (ParseError, IndexError) as error:
            found[key] = ParseError("%s: %s" % (kind, error))
    return found


# ---------------------------------------------------------------- comparison


class Tally:
    def __init__(self):
        self.counts = {}
        self.differences = []  # (template, field, ours, windres)
        self.problems = []  # templates not compared: not written by windres, not understood, not decoded
        self.excluded = {}

    def add(self, key, count=1):
        self.counts[key] = self.counts.get(key, 0) + count

    def problem(self, key, line):
        self.add(key)
        self.problems.append(line)

    def exclude(self, what, count=1):
        self.excluded[what] = self.excluded.get(what, 0) + count


def show(value):
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=True)
    if isinstance(value, dict):
        return json.dumps(value, ensure_ascii=True, sort_keys=True)
    return str(value)


def compare_dialog(ours, theirs, report, tally):
    """Calls report(field, ours, windres) for each field that differs."""
    for field in ("extended", "helpId", "style", "exStyle"):
        if ours[field] != theirs[field]:
            report(field, ours[field], theirs[field])
    for field in ("x", "y", "cx", "cy"):
        if ours[field] & 0xFFFF != theirs[field] & 0xFFFF:
            report(field, ours[field], theirs[field])
    if ours["caption"] != theirs["caption"]:
        report("caption", ours["caption"], theirs["caption"])
    # windres writes neither a class nor a menu that is an ordinal 0.
    for field in ("menu", "class"):
        mine = None if ours[field] == {"ord": 0} else ours[field]
        if mine != theirs[field]:
            digits = mine and "text" in mine and mine["text"].isdigit()
            if digits and theirs[field] == {"ord": int(mine["text"])}:
                tally.exclude("dialog menu named by digits (windres writes menu names unquoted)")
            else:
                report(field, ours[field], theirs[field])
    if (ours["font"] is None) != (theirs["font"] is None):
        report("font", ours["font"], theirs["font"])
    elif ours["font"]:
        keys = ("size", "face", "weight", "italic", "charset") if ours["extended"] else ("size", "face")
        for key in keys:
            if ours["font"][key] != theirs["font"].get(key):
                report("font." + key, ours["font"][key], theirs["font"].get(key))
    if len(ours["controls"]) != len(theirs["controls"]):
        report("controls.count", len(ours["controls"]), len(theirs["controls"]))
        return
    id_mask = 0xFFFFFFFF if ours["extended"] else 0xFFFF
    for index, (mine, their) in enumerate(zip(ours["controls"], theirs["controls"])):
        where = "control[%d]." % index
        tally.add("controls")
        if mine["class"] != their["class"]:
            report(where + "class", mine["class"], their["class"])
        if "text" in their:
            mine_text = mine["text"] or {"text": ""}  # no text and an empty one are the same bytes
            if mine_text != their["text"]:
                report(where + "text", mine["text"], their["text"])
        else:
            tally.exclude("text of %s controls (windres does not write it)" % their["keyword"])
            if mine["text"] not in (None, {"text": ""}):
                tally.exclude("text of %s controls, not empty in the data" % their["keyword"])
        if mine["id"] & id_mask != their["id"] & id_mask:
            report(where + "id", mine["id"], their["id"])
        for field in ("x", "y", "cx", "cy"):
            if mine[field] & 0xFFFF != their[field] & 0xFFFF:
                report(where + field, mine[field], their[field])
        for field in ("style", "exStyle", "helpId"):
            if mine[field] != their[field]:
                report(where + field, mine[field], their[field])
        if (mine["dataSize"] > 0) != their["hasData"]:
            report(where + "creationData", mine["dataSize"], their["hasData"])


def compare_menu_items(ours, theirs, extended, path, report, tally):
    if len(ours) != len(theirs):
        report(path + ".count", len(ours), len(theirs))
        return
    for index, (mine, their) in enumerate(zip(ours, theirs)):
        where = "%s[%d]." % (path, index)
        tally.add("menu items")
        for field in ("popup", "text", "id", "helpId") + MENU_FLAG_FIELDS:
            if not extended and field in ("default", "radioCheck"):
                if mine[field]:
                    tally.exclude("classic menu flag %s (windres does not write it)" % field)
                continue
            if mine[field] != their[field]:
                report(where + field, mine[field], their[field])
        if extended:
            kept = sum(EX_TYPE_BITS.values())
            if their["rawType"] & ~kept:
                tally.exclude("extended menu type bits our decoded form does not keep")
            if their["rawState"] & ~(sum(EX_STATE_BITS.values()) | EX_STATE_DISABLED):
                tally.exclude("extended menu state bits our decoded form does not keep")
        if mine["popup"] and their["popup"]:
            compare_menu_items(mine["children"], their["children"], extended, where + "children", report, tally)


def compare_menu(ours, theirs, report, tally):
    for field in ("extended", "helpId"):
        if ours[field] != theirs[field]:
            report(field, ours[field], theirs[field])
    compare_menu_items(ours["items"], theirs["items"], ours["extended"], "items", report, tally)


# ---------------------------------------------------------------- driver


def pe_kind(path):
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
    magic = struct.unpack_from("<H", nt, 24)[0]
    return {0x10B: "pe32", 0x20B: "pe32plus"}.get(magic)


def find_files(root):
    found = []
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                kind = pe_kind(path)
                if kind:
                    found.append((path, kind))
    return sorted(found)


def build_edge_cases(folder):
    """The edge-case DLL, or None when windres cannot compile it or ld is missing."""
    windres, ld = "i686-w64-mingw32-windres", "i686-w64-mingw32-ld"
    if not shutil.which(windres) or not shutil.which(ld):
        return None
    script, obj, dll = (os.path.join(folder, name) for name in ("edge.rc", "edge.o", "edge-cases.dll"))
    with open(script, "w", encoding="ascii") as stream:
        stream.write(EDGE_CASES_RC)
    # `cat` as the preprocessor: the script needs none, and no C compiler has to be installed.
    for command in ([windres, "--preprocessor=cat", script, "-O", "coff", "-o", obj],
                    [ld, "--dll", "-e", "0", "-o", dll, obj]):
        result = subprocess.run(command, capture_output=True)
        if result.returncode != 0:
            print("edge cases not built: %s" % result.stderr.decode("utf-8", "replace").strip())
            return None
    return dll


def dump(tool, paths):
    """{file: [records]} from the dump tool, run on batches of files."""
    records = {}
    for start in range(0, len(paths), 200):
        batch = paths[start:start + 200]
        result = subprocess.run([tool] + batch, capture_output=True, check=True)
        for line in result.stdout.decode("utf-8", "surrogateescape").splitlines():
            record = json.loads(line)
            records.setdefault(record["file"], []).append(record)
    return records


def run_windres(tool, path):
    """windres's resource-script text, or None with the error text."""
    result = subprocess.run([tool, "--input-format=coff", "-O", "rc", path], capture_output=True)
    if result.returncode == 0:
        return result.stdout.decode("latin-1"), None
    lines = result.stderr.decode("utf-8", "replace").strip().splitlines()
    return None, lines[-1] if lines else "failed"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the template-dump program")
    parser.add_argument("--corpus", default=os.path.join(
        os.environ.get("KESTREL_CORPUS_CACHE", os.path.expanduser("~/.cache/kestrel-corpus")), "root"))
    parser.add_argument("--show", type=int, default=200, help="differences listed at most")
    args = parser.parse_args()

    if not any(shutil.which(tool) for tool in WINDRES.values()):
        print("SKIPPED: windres not installed (binutils-mingw-w64-i686, binutils-mingw-w64-x86-64)")
        return SKIP
    files = find_files(args.corpus) if os.path.isdir(args.corpus) else []
    if not files:
        print("SKIPPED: no corpus under %s (tests/corpus/fetch)" % args.corpus)
        return SKIP

    with tempfile.TemporaryDirectory() as folder:
        edge_cases = build_edge_cases(folder)
        if edge_cases:
            files.append((edge_cases, "pe32"))
        return compare_all(args, files)


def compare_all(args, files):
    kinds = dict(files)
    records = dump(args.tool, [path for path, _ in files])
    tally = Tally()
    missing_windres = set()
    for path in sorted(records):
        templates = [record for record in records[path] if "type" in record]
        if not templates:
            continue
        tool = WINDRES[kinds[path]]
        if not shutil.which(tool):
            tally.add("files without their windres")
            missing_windres.add(tool)
            continue
        tally.add("files")
        short = os.path.relpath(path, args.corpus) if path.startswith(args.corpus) else os.path.basename(path)
        compare_file(tool, path, short, templates, tally)
    print_report(tally, len(files), missing_windres, args.show)
    return 1 if tally.differences or tally.problems else 0


def compare_file(tool, path, short, templates, tally):
    text, error = run_windres(tool, path)
    theirs = parse_rc(text) if text is not None else {}
    ours_keys = set()
    for record in templates:
        key = (record["type"], record["name"], record["lang"])
        ours_keys.add(key)
        label = "%s %s %s lang 0x%04x" % (short, record["type"], show(record["name"]), record["lang"])
        tally.add(record["type"] + "s")
        if not record["ok"]:
            tally.problem("our decode failures", "ours failed (%s): %s" % (record["error"], label))
        elif key not in theirs:
            tally.problem("windres could not write", "windres could not write: %s%s" % (
                label, " (%s)" % error if error else ""))
        elif isinstance(theirs[key], ParseError):
            tally.problem("windres text not understood", "windres text not understood: %s: %s" % (
                label, theirs[key]))
        else:
            tally.add(("extended " if record["extended"] else "classic ") + record["type"] + "s")
            before = len(tally.differences)

            def report(field, ours, windres, label=label):
                tally.differences.append((label, field, show(ours), show(windres)))

            compare = compare_dialog if record["type"] == "dialog" else compare_menu
            compare(record, theirs[key], report, tally)
            tally.add("equal" if len(tally.differences) == before else "different")
    for key in sorted(set(theirs) - ours_keys, key=str):
        tally.problem("only in windres", "only in windres's text: %s %s %s lang 0x%04x" % (
            short, key[0], show(key[1]), key[2] or 0))


def print_report(tally, file_count, missing_windres, show_at_most):
    c = tally.counts
    print("template oracle: %d PE files, %d with dialogs or menus" % (file_count, c.get("files", 0)))
    print("  dialogs: %d (%d classic, %d extended compared) with %d controls" % (
        c.get("dialogs", 0), c.get("classic dialogs", 0), c.get("extended dialogs", 0), c.get("controls", 0)))
    print("  menus:   %d (%d classic, %d extended compared) with %d items" % (
        c.get("menus", 0), c.get("classic menus", 0), c.get("extended menus", 0), c.get("menu items", 0)))
    kinds = ("equal", "different", "windres could not write", "windres text not understood",
             "only in windres", "our decode failures")
    print("  " + "   ".join("%s: %d" % (kind, c.get(kind, 0)) for kind in kinds))
    if missing_windres:
        print("  SKIPPED %d files: %s not installed" % (
            c["files without their windres"], ", ".join(sorted(missing_windres))))
    if tally.excluded:
        print("  excluded from the comparison:")
        for what, count in sorted(tally.excluded.items()):
            print("    %6d  %s" % (count, what))
    for line in tally.problems:
        print("  " + line)
    if tally.differences:
        print("  differences (template, field: ours / windres):")
        for label, field, ours, windres in tally.differences[:show_at_most]:
            print("    %s  %s: %s / %s" % (label, field, ours, windres))
        if len(tally.differences) > show_at_most:
            print("    ... %d more" % (len(tally.differences) - show_at_most))


if __name__ == "__main__":
    sys.exit(main())
