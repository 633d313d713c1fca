#!/usr/bin/env python3
# Checks the house's layering from the sources' own includes:
#  - every folder includes only headers of its own folder or of a folder on a
#    lower floor (the floors are listed below, lowest first);
#  - no units (a source with its header) include each other in a loop.
# Exits 1 and names what it found when either rule is broken.
import os, re, subprocess, sys
from collections import defaultdict

# Lowest first. A folder may include its own headers and those of the folders
# listed before it; folders on one line share a floor and may not include
# each other.
FLOORS = [
    ["platform/common/utf8", "platform/common/home", "platform/common/xml", "platform/common/history",
     "platform/common/text"],
    ["platform/support"],
    ["platform/host"],
    ["plugin/common/codes", "plugin/smbios"],
    ["plugin/common"],
    ["plugin/statuslog"],
    ["plugin/packages"],
    ["plugin/bundle"],
    ["plugin/functions"],
    ["plugin/frame"],
    ["frontend"],
    ["tools"],
]
floor_of = {d: i for i, row in enumerate(FLOORS) for d in row}

files = subprocess.run(["git", "ls-files", "platform", "plugin", "frontend", "tools"],
                       capture_output=True, text=True).stdout.split()
files = [f for f in files if f.endswith((".cpp", ".h"))]
by_name = defaultdict(list)
for f in files:
    by_name[os.path.basename(f)].append(f)

def folder(path):
    d = os.path.dirname(path)
    while d and d not in floor_of:
        d = os.path.dirname(d)
    return d

def unit(path):
    return os.path.splitext(path)[0]

include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
problems = []
edges = defaultdict(set)
for f in files:
    here = folder(f)
    if here not in floor_of:
        problems.append(f"{f}: its folder is on no floor")
        continue
    for line in open(f, encoding="utf-8", errors="replace"):
        m = include.match(line)
        if not m:
            continue
        name = m.group(1)
        targets = [t for t in by_name.get(os.path.basename(name), []) if t.endswith(name)]
        if not targets:
            continue
        # A header of the same name in the including folder wins, as the
        # compiler's quoted search does.
        same = [t for t in targets if folder(t) == here]
        target = (same or targets)[0]
        there = folder(target)
        if there != here and floor_of[there] >= floor_of[here]:
            problems.append(f"{f}: includes {target}, which is not below {here}")
        if unit(target) != unit(f):
            edges[unit(f)].add(unit(target))

# Loops among units: Tarjan's strongly connected components.
index, low, stack, on, comps, counter = {}, {}, [], set(), [], [0]
def strong(v):
    index[v] = low[v] = counter[0]; counter[0] += 1
    stack.append(v); on.add(v)
    for w in edges.get(v, ()):
        if w not in index:
            strong(w); low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        comp = []
        while True:
            w = stack.pop(); on.discard(w); comp.append(w)
            if w == v:
                break
        if len(comp) > 1:
            comps.append(sorted(comp))
sys.setrecursionlimit(10000)
for v in list(edges):
    if v not in index:
        strong(v)
for comp in comps:
    problems.append("units include each other in a loop: " + ", ".join(comp))

for p in problems:
    print(p)
print(f"{len(files)} files, {sum(len(v) for v in edges.values())} includes between units, "
      f"{len(problems)} problems", file=sys.stderr)
sys.exit(1 if problems else 0)
