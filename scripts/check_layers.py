#!/usr/bin/env python3
"""Prints which source folder includes which, and fails on a cycle or a forbidden direction.

    scripts/check_layers.py [--dot]

A folder is the directory of a source file (app, browser/bridge, models/update, ...); its layer is
the first path component. LAYERS below says which layers each layer may include; within one layer
folders may include each other as long as no cycle forms. Test, benchmark and build folders are
not checked (tests may reach anything they test).

It fails on an operating system's header (<unistd.h>, <fcntl.h>, <sys/...>, <windows.h>, ...) or a
platform/<system>/ header included outside platform/ and third_party/: every operating-system call
goes through platform/. tests/ and bench/ may include both (they set up real files, processes and
windows, and a test of a platform implementation includes its platform/<system>/ header).

It also fails on a header that declares a name outside namespace `vorn` (headers directly in or
below platform/: outside `vorn::platform`), so that no two layers' names can meet in the global
namespace. Outside the namespace a header may only forward-declare Qt's own classes, specialise
std templates, and invoke macros that must stand at global scope (Q_DECLARE_METATYPE).
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
# third_party: upstream sources kept as taken (third_party/*/README.md), no layer of ours.
SKIPPED = {"tests", "bench", "build", "docs", "scripts", "cmake", "skin", "third_party"}
# Headers of an operating system or its display server: only platform/ (and third_party/) include
# them.
OS_HEADER = re.compile(
    r'^\s*#\s*include\s*<((?:unistd|fcntl|windows|winternl|winsock2|ws2tcpip|shellapi|shlobj|dirent|'
    r'poll|pthread|dlfcn|termios|spawn|netdb|ifaddrs|mntent|pwd|grp|syslog)\.h|'
    r'(?:sys|linux|arpa|netinet|net|xcb|X11)/[^>]+)>', re.M)
PLATFORM_SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s*"(platform/(?:linux|win32)/[^"]+)"', re.M)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCE_EXT = (".h", ".hpp", ".cpp", ".cc")
HEADER_EXT = (".h", ".hpp")

# Comments, literals and preprocessor lines carry no declarations; each becomes a blank (a
# literal: an empty one, so that `extern "C"` stays recognisable).
_NOISE = re.compile(r'''//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*'|^[ \t]*#(?:\\\n|[^\n])*''',
                    re.S | re.M)
_TOKEN = re.compile(r'''""|''|::|[A-Za-z_]\w*|\S''')


def _blank(match):
    text = match.group(0)
    if text.startswith('"'):
        return '""'
    if text.startswith("'"):
        return "''"
    return "\n" * text.count("\n") or " "


def _allowed_outside(statement):
    """A statement at a scope outside the project's namespace that declares none of our names."""
    if not statement:
        return True
    # Forward declarations of Qt's classes (they live in the global namespace).
    if len(statement) == 2 and statement[0] in ("class", "struct") and statement[1].startswith("Q"):
        return True
    # A macro that must stand at global scope, e.g. Q_DECLARE_METATYPE(vorn::X)
    if re.fullmatch(r"Q_[A-Z_]+", statement[0]) and statement[1:2] == ["("]:
        return True
    return False


def namespace_problems(rel, text):
    """Declarations of `rel` (a header's text) that lie outside the namespace the header must use."""
    required = ["vorn", "platform"] if rel.startswith("platform/") else ["vorn"]
    tokens = _TOKEN.findall(_NOISE.sub(_blank, text))
    problems = []
    scopes = []  # one entry per open brace: a namespace path (list) or None for any other block
    statement = []
    namespaces = [[]]  # the namespace path at the current point

    def inside():
        path = namespaces[-1]
        return path[: len(required)] == required

    def report(what):
        snippet = " ".join(what[:6])
        problems.append(f"{rel}: declared outside namespace {'::'.join(required)}: {snippet}")

    i = 0
    while i < len(tokens):
        tok = tokens[i]
        if tok == "{" and (statement.count("(") > statement.count(")") or statement[-1:] == ["="]):
            # A braced initialiser (a default argument, `= {}`) belongs to the statement.
            depth = 1
            i += 1
            while i < len(tokens) and depth:
                depth += {"{": 1, "}": -1}.get(tokens[i], 0)
                i += 1
            statement.append("{}")
            continue
        if tok == "{":
            if statement[:1] == ["namespace"]:
                names = [t for t in statement[1:] if t != "::"]
                path = namespaces[-1] + (names or ["(anonymous)"])
                scopes.append(path)
                namespaces.append(path)
            elif statement[:2] == ["extern", '""'] and len(statement) == 2:
                scopes.append(namespaces[-1])
                namespaces.append(namespaces[-1])
            else:
                if not inside() and namespaces[-1][:1] != ["std"]:
                    report(statement)
                # Skip the block (class body, function body, enum list) as a whole.
                depth = 1
                i += 1
                while i < len(tokens) and depth:
                    depth += {"{": 1, "}": -1}.get(tokens[i], 0)
                    i += 1
                statement = []
                # A class or enum definition ends with its declarators and a semicolon.
                continue
            statement = []
        elif tok == "}":
            if scopes:
                scopes.pop()
                namespaces.pop()
            statement = []
        elif tok == ";":
            if statement and not inside() and namespaces[-1][:1] != ["std"] and \
                    not _allowed_outside(statement):
                report(statement)
            statement = []
        elif tok == ")" and statement and re.fullmatch(r"Q_[A-Z_]+", statement[0]) and \
                statement.count("(") == statement.count(")") + 1:
            # Q_DECLARE_METATYPE(...) needs no semicolon; it ends with its closing parenthesis.
            if not inside() and not _allowed_outside(statement):
                report(statement)
            statement = []
        else:
            statement.append(tok)
        i += 1
    return problems


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


def system_includes(text):
    """The operating-system and platform/<system>/ headers `text` includes."""
    return OS_HEADER.findall(text) + PLATFORM_SYSTEM_INCLUDE.findall(text)


def system_include_problems():
    """Files outside platform/ that include a system's header, and the count of such includes."""
    problems, count = [], 0
    for path in source_files():
        rel = os.path.relpath(path, ROOT)
        if rel.startswith("platform/"):
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            found = system_includes(f.read())
        count += len(found)
        if found:
            problems.append(f"{rel}: includes {', '.join(sorted(set(found)))} outside platform/; "
                            "call the system through a platform/ service")
    return problems, count


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
    for path in source_files():
        rel = os.path.relpath(path, ROOT)
        if rel.endswith(HEADER_EXT):
            with open(path, encoding="utf-8", errors="replace") as f:
                problems.extend(namespace_problems(rel, f.read()))
    system_problems, system_count = system_include_problems()
    problems.extend(system_problems)
    print(f"\noperating-system headers included outside platform/: {system_count}")
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
    print("\nno cycles, no forbidden directions, every header declares inside namespace vorn")
    return 0


if __name__ == "__main__":
    sys.exit(main())
