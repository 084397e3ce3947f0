#!/usr/bin/env python3
"""Checks every #include of the product's sources against the table of
rooms in ARCHITECTURE.md: a file may include its own room and the rooms the
table lets it. Headers outside the tree (the standard library, Debian
packages) are not checked. Exits 1 and names each include out of place."""
import os
import re
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

def read_table(path):
    rooms = {}
    in_table = False
    for line in open(path, encoding="utf-8"):
        if "<!-- rooms -->" in line:
            in_table = True
            continue
        if "<!-- /rooms -->" in line:
            break
        m = re.match(r"\|\s*`([^`]+)`\s*\|\s*([^|]*)\|\s*([^|]*)\|", line) if in_table else None
        if m:
            rooms[m.group(1).rstrip("/")] = set(re.findall(r"`([^`]+)`", m.group(3)))
    return {name: {r.rstrip("/") for r in allowed} for name, allowed in rooms.items()}

def room_of(rel, rooms):
    best = None
    for name in rooms:
        if rel == name or rel.startswith(name + "/"):
            if best is None or len(name) > len(best):
                best = name
    return best

def main():
    rooms = read_table(os.path.join(root, "ARCHITECTURE.md"))
    if not rooms:
        print("check-includes: no table of rooms in ARCHITECTURE.md", file=sys.stderr)
        return 2
    sources = []
    for name in rooms:
        for folder, _, files in os.walk(os.path.join(root, name)):
            for f in files:
                if f.endswith((".h", ".hpp", ".cpp", ".h.in")):
                    sources.append(os.path.relpath(os.path.join(folder, f), root))
    by_tail = {}
    for rel in sources:
        parts = rel.split("/")
        for i in range(len(parts)):
            by_tail.setdefault("/".join(parts[i:]), []).append(rel)
    include = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
    faults = []
    for rel in sorted(sources):
        here = room_of(rel, rooms)
        allowed = rooms[here] | {here}
        for number, line in enumerate(open(os.path.join(root, rel), encoding="utf-8"), 1):
            m = include.match(line)
            if not m:
                continue
            target = m.group(1)
            candidates = by_tail.get(target, [])
            beside = os.path.normpath(os.path.join(os.path.dirname(rel), target))
            if beside in candidates or not candidates:
                continue
            owners = {room_of(c, rooms) for c in candidates}
            if not owners & allowed:
                faults.append(f"{rel}:{number}: includes {target} from {', '.join(sorted(owners))}, "
                              f"which {here}/ may not include")
    for fault in faults:
        print(fault)
    if faults:
        print(f"check-includes: {len(faults)} include(s) out of place; the rooms and what each "
              "may include are in ARCHITECTURE.md", file=sys.stderr)
        return 1
    return 0

if __name__ == "__main__":
    sys.exit(main())
