#!/usr/bin/env bash
# Fails when a source file of src/ includes one of a higher layer, or when the libraries' includes
# make a circle. The layers, lowest first:
#   core/platform       nothing but itself
#   core/errors         core/platform
#   core/<other areas>  any core area, without a circle between areas
#   cli                 core                      (the command line, no Qt)
#   app                 core, cli                 (the application core, QtCore)
#   ui                  core, cli, app            (the Qt Widgets interface, all its sub-folders)
#   rcedit              core, cli                 (the one-shot editor's command line)
#   main.cpp            anything
# No layer includes rcedit but rcedit itself and main.cpp. Circles between files are reported too.
#   scripts/check-layers.sh [SOURCE_FOLDER]      (default: src/ of this checkout)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
exec python3 - "${1:-$ROOT/src}" <<'PYTHON'
import os
import re
import sys

src = os.path.abspath(sys.argv[1])
include_re = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
ours = ("core", "cli", "app", "ui", "rcedit")


def library(path):
    """The library of a path relative to src/: core/<area>, cli, app, ui, rcedit or main."""
    parts = path.split("/")
    if parts[0] == "core" and len(parts) > 2:
        return "core/" + parts[1]
    if parts[0] in ours and len(parts) > 1:
        return parts[0]
    return "main"


def allowed(source, target):
    if source == target or source == "main":
        return True
    if source == "core/platform":
        return False
    if source == "core/errors":
        return target == "core/platform"
    if source.startswith("core/"):
        return target.startswith("core/")
    lower = {"cli": ("cli",), "app": ("cli",), "ui": ("cli", "app"), "rcedit": ("cli",)}[source]
    return target.startswith("core/") or target in lower


files = {}
for folder, _, names in os.walk(src):
    for name in names:
        if name.endswith((".h", ".cpp", ".c")):
            path = os.path.relpath(os.path.join(folder, name), src).replace(os.sep, "/")
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                files[path] = [i for i in include_re.findall(f.read()) if i.split("/")[0] in ours]

problems = []
edges = {}
for path, includes in sorted(files.items()):
    source = library(path)
    for include in includes:
        if include not in files:
            problems.append("%s: includes %s, which is not a file of src/" % (path, include))
            continue
        target = library(include)
        if not allowed(source, target):
            problems.append("%s (%s) includes %s (%s): a lower layer may not include a higher one"
                            % (path, source, include, target))
        if source != target:
            edges.setdefault(source, {}).setdefault(target, (path, include))


def circles(graph):
    """The strongly connected components with more than one node (Tarjan)."""
    index, low, stack, on_stack, found, counter = {}, {}, [], set(), [], [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in graph.get(node, ()):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            component = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                component.append(top)
                if top == node:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


for component in circles(edges):
    members = set(component)
    links = ["%s -> %s (%s includes %s)" % (a, b, *edges[a][b])
             for a in component for b in sorted(edges.get(a, {})) if b in members]
    problems.append("libraries in a circle: %s\n    %s" % (", ".join(component), "\n    ".join(links)))
file_graph = {path: [i for i in includes if i in files] for path, includes in files.items()}
for component in circles(file_graph):
    problems.append("files that include each other in a circle: " + ", ".join(component))

for line in problems:
    print("check-layers: " + line)
if problems:
    sys.exit(1)
print("check-layers: %d files, %d links between libraries, no layer broken, no circle"
      % (len(files), sum(len(t) for t in edges.values())))
PYTHON
