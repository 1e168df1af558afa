#!/usr/bin/env python3
"""Prints which source folder includes which, and fails on a cycle or a forbidden direction.

    scripts/check_layers.py [--dot]

A folder is the directory of a source file (app, browser/bridge, models/update, ...); its layer is
the first path component. LAYERS below says which layers each layer may include; within one layer
folders may include each other as long as no cycle forms. Test, benchmark and build folders are
not checked (tests may reach anything they test).
"""
import os
import re
import sys
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# layer -> layers it may include (besides itself). Lower layers never include higher ones.
LAYERS = {
    "common": set(),
    "platform": {"common"},
    "services": {"platform", "common"},
    "models": {"platform", "common"},
    "ui": {"platform", "common"},
    "browser": {"services", "models", "platform", "common"},
    "window": {"browser", "ui", "services", "models", "platform", "common"},
    "check": {"services", "platform", "common"},
    "app": {"window", "browser", "ui", "services", "models", "platform", "common"},
}
# Single folders a layer or folder may use beyond LAYERS: the skin loader reads zipped skins
# through the archive layer, and the model updater reads its version file (ver.ini) with the
# settings' INI reader; nothing else of those layers.
EXTRA = {("ui", "models/archive"), ("models/update", "services/settings")}
SKIPPED = {"tests", "bench", "build", "docs", "scripts", "cmake", "skin"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCE_EXT = (".h", ".hpp", ".cpp", ".cc")


def source_files():
    for top in sorted(os.listdir(ROOT)):
        path = os.path.join(ROOT, top)
        if top.startswith(".") or top in SKIPPED or top.startswith("build") or not os.path.isdir(path):
            continue
        for folder, dirs, files in os.walk(path):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_EXT):
                    yield os.path.join(folder, name)


def folder_of(relpath):
    return os.path.dirname(relpath) or "."


def layer_of(folder):
    return folder.split("/")[0]


def main():
    edges = defaultdict(lambda: defaultdict(int))  # from folder -> to folder -> count
    examples = {}
    for path in source_files():
        rel = os.path.relpath(path, ROOT)
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for inc in INCLUDE.findall(text):
            if not os.path.exists(os.path.join(ROOT, inc)):
                continue  # same-folder or generated include, not a folder edge
            src, dst = folder_of(rel), folder_of(inc)
            if src != dst:
                edges[src][dst] += 1
                examples.setdefault((src, dst), f"{rel} -> {inc}")

    if "--dot" in sys.argv:
        print("digraph includes {")
        for src in sorted(edges):
            for dst in sorted(edges[src]):
                print(f'  "{src}" -> "{dst}" [label={edges[src][dst]}];')
        print("}")
        return 0

    print("folder includes (number of #include lines):")
    for src in sorted(edges):
        print(f"  {src:22} -> " + ", ".join(f"{d} ({n})" for d, n in sorted(edges[src].items())))

    problems = []
    for src in sorted(edges):
        for dst in sorted(edges[src]):
            ls, ld = layer_of(src), layer_of(dst)
            if ls not in LAYERS:
                problems.append(f"unknown layer {ls!r} ({src}); add it to LAYERS")
            elif ls != ld and ld not in LAYERS[ls] and not {(ls, dst), (src, dst)} & EXTRA:
                problems.append(f"forbidden direction {src} -> {dst}: {examples[(src, dst)]}")

    # Cycles between folders: depth-first search for a back edge.
    state, stack = {}, []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(edges.get(node, {})):
            if state.get(nxt) == 1:
                cycle = stack[stack.index(nxt):] + [nxt]
                problems.append("cycle: " + " -> ".join(cycle) + "  (" +
                                "; ".join(examples[(a, b)] for a, b in zip(cycle, cycle[1:])) + ")")
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    for node in sorted(edges):
        if node not in state:
            visit(node)

    if problems:
        print("\nlayering problems:")
        for p in problems:
            print("  " + p)
        return 1
    print("\nno cycles, no forbidden directions")
    return 0


if __name__ == "__main__":
    sys.exit(main())
