#!/usr/bin/env python3
"""Fails when an include in src/ points against the layer order or closes a cycle.

Each folder of src/ is a layer; a file may include its own layer and the layers below it:
    spreadsheet < core < workbook < ui < sheet, preview < app
sheet and preview stand side by side and do not include each other.
"""
import os
import re
import sys

ORDER = {"spreadsheet": 0, "core": 1, "workbook": 2, "ui": 3, "sheet": 4, "preview": 4, "app": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def layer_of(path):
    head = path.split("/", 1)[0]
    return head if head in ORDER else None


def edges(src):
    for folder, _, files in os.walk(src):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, src).replace(os.sep, "/")
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for target in INCLUDE.findall(text):
                if target.startswith("."):
                    yield rel, target, "a relative path reaches past its folder"
                    continue
                to = layer_of(target)
                if to is not None:
                    yield rel, target, None


def main(src):
    faults = []
    graph = {}
    for rel, target, fault in edges(src):
        if fault:
            faults.append(f"{rel}: #include \"{target}\": {fault}")
            continue
        a, b = layer_of(rel), layer_of(target)
        if a is None or a == b:
            continue
        graph.setdefault(a, set()).add(b)
        if ORDER[b] >= ORDER[a]:
            faults.append(f"{rel}: #include \"{target}\": {a} may not include {b}")
    # A cycle would already show as an upward edge; walk the graph anyway so a new folder
    # added to ORDER at the wrong height is caught too.
    state = {}

    def visit(node, trail):
        if state.get(node) == 1:
            faults.append("cycle: " + " -> ".join(trail + [node]))
            return
        if state.get(node) == 2:
            return
        state[node] = 1
        for nxt in sorted(graph.get(node, ())):
            visit(nxt, trail + [node])
        state[node] = 2

    for node in sorted(graph):
        visit(node, [])
    unknown = sorted(d for d in os.listdir(src) if os.path.isdir(os.path.join(src, d)) and d not in ORDER)
    for d in unknown:
        faults.append(f"src/{d}: a folder with no place in the layer order")
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../../src")))
