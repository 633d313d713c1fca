#!/usr/bin/env python3
# Lists the log records whose leading "Name::function:" names another function
# than the one they stand in. Texts kept word for word come from
# plugin/common/FixedLogTexts.h and are not literals, so they are not listed.
# Usage: scripts/check-log-names.py [files...]   (default: every source of the
# plug-in, the platform, the front end and the tools). Needs universal-ctags.
import json, re, subprocess, sys
files = sys.argv[1:] or [f for f in subprocess.run(
    ["git", "ls-files", "plugin/*.cpp", "platform/*.cpp", "frontend/*.cpp", "tools/*.cpp"],
    capture_output=True, text=True).stdout.split()]
rec = re.compile(r'VORK_(?:LOG\(\s*\d+\s*,|TRACE\()\s*"([A-Za-z_][\w:~]*?)(?:: |:"|"|::\s)')
bad = 0
for f in files:
    out = subprocess.run(["ctags", "--output-format=json", "--fields=+neS", "--c++-kinds=f", "-f", "-", f],
                         capture_output=True, text=True).stdout
    funcs = []
    for line in out.splitlines():
        t = json.loads(line)
        if t.get("kind") != "function" or "end" not in t: continue
        scope = t.get("scope", "")
        name = t["name"]
        if name.startswith("__anon"):
            # A lambda stands in the function that holds it.
            name = scope.split("::")[-1]
            scope = "::".join(scope.split("::")[:-1])
        scope = "::".join(p for p in scope.split("::") if not p.startswith("__anon"))
        funcs.append((t["line"], t["end"], scope, name))
    lines = open(f, encoding="utf-8", errors="replace").read().splitlines()
    for i, text in enumerate(lines, 1):
        for m in rec.finditer(text):
            label = m.group(1)
            inner = [fn for fn in funcs if fn[0] <= i <= fn[1]]
            if not inner:
                print(f"{f}:{i}: {label} (outside a function)"); bad += 1; continue
            s, e, scope, name = max(inner, key=lambda fn: fn[0])
            cls = scope.split("::")[-1] if scope else ""
            want = {name, f"{cls}::{name}" if cls else name, f"{scope}::{name}" if scope else name}
            if label not in want and not label.endswith("::" + name) :
                print(f"{f}:{i}: {label} in {scope+'::' if scope else ''}{name}"); bad += 1
print(bad, "records", file=sys.stderr)
sys.exit(1 if bad else 0)
