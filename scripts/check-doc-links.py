#!/usr/bin/env python3
"""Checks the links of the project's Markdown documentation.

Every relative link in a tracked Markdown file (README.md, CONTRIBUTING.md,
doc/**/*.md and the others) must name a file or folder of the repository, and
a link with a #fragment into a Markdown file must name one of its headings
(as GitHub makes anchors from them) or an explicit <a id>. Every Markdown
page under doc/ must be linked from README.md, so that none is found only by
chance. Links in code blocks and code spans are text, not links; links with
a scheme (https:, mailto:) are not checked.

    scripts/check-doc-links.py [repository root]

Prints each broken link as file:line and ends with 1 when there is one.
"""

import os
import re
import subprocess
import sys
import urllib.parse

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
ATX = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
SETEXT = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")
LIST_OR_TABLE = re.compile(r"^\s*([-*+]|\d+[.)]|\|)")
# [text](target "title"); the text may hold one level of brackets.
INLINE = re.compile(r"!?\[((?:[^\[\]]|\[[^\[\]]*\])*)\]\(\s*(<[^>]*>|[^\s()]*(?:\([^\s()]*\)[^\s()]*)*)(?:\s+(?:\"[^\"]*\"|'[^']*'))?\s*\)")
REFDEF = re.compile(r"^ {0,3}\[([^\]]+)\]:\s*(<[^>]*>|\S+)")
HTML_REF = re.compile(r"\b(?:href|src)\s*=\s*\"([^\"]*)\"")
HTML_ID = re.compile(r"<a\s[^>]*\b(?:id|name)\s*=\s*\"([^\"]+)\"", re.IGNORECASE)
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:|^//")
CODE_LINE_ANCHOR = re.compile(r"^L\d+(-L\d+)?$")


def blank_code_spans(text):
    """The text with every code span's content replaced by blanks (line feeds kept)."""
    out, i = [], 0
    while i < len(text):
        if text[i] != "`":
            out.append(text[i])
            i += 1
            continue
        j = i
        while j < len(text) and text[j] == "`":
            j += 1
        run = text[i:j]
        close = re.compile(r"(?<!`)" + re.escape(run) + r"(?!`)").search(text, j)
        if not close:
            out.append(run)
            i = j
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:close.end()]))
        i = close.end()
    return "".join(out)


def slug(heading):
    """The anchor GitHub makes of a heading's text."""
    text = re.sub(r"!?\[((?:[^\[\]]|\[[^\[\]]*\])*)\]\([^)]*\)", r"\1", heading)  # links: their text
    text = re.sub(r"<[^>]+>", "", text)  # inline HTML
    text = text.replace("`", "").replace("*", "")
    text = text.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


class Page:
    """One Markdown file: its anchors and its links with their lines."""

    def __init__(self, path):
        self.path = path
        self.anchors = set()
        self.links = []  # (line, target)
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        counts = {}

        def add_heading(text):
            base = slug(text)
            n = counts.get(base, 0)
            counts[base] = n + 1
            self.anchors.add(base if n == 0 else f"{base}-{n}")

        fence = None
        indented = False
        block, block_start = [], 0
        previous = ""

        def flush():
            if not block:
                return
            text = blank_code_spans("\n".join(block))
            for m in INLINE.finditer(text):
                target = m.group(2)
                if target.startswith("<") and target.endswith(">"):
                    target = target[1:-1]
                self.links.append((block_start + text.count("\n", 0, m.start()), target))
            for m in HTML_REF.finditer(text):
                self.links.append((block_start + text.count("\n", 0, m.start()), m.group(1)))
            for m in HTML_ID.finditer(text):
                self.anchors.add(m.group(1))
            block.clear()

        for number, line in enumerate(lines, 1):
            if fence:
                if re.match(r"^ {0,3}" + re.escape(fence[0]) + "{" + str(len(fence)) + r",}\s*$", line):
                    fence = None
                previous = ""
                continue
            m = FENCE.match(line)
            if m:
                flush()
                fence = m.group(1)
                continue
            if indented and (line.startswith(("    ", "\t")) or not line.strip()):
                continue
            indented = False
            if line.startswith(("    ", "\t")) and not previous.strip():
                flush()
                indented = True
                continue
            if not line.strip():
                flush()
                previous = line
                continue
            m = ATX.match(line)
            if m:
                flush()
                add_heading(m.group(2) or "")
                block_start = number
                block.append(m.group(2) or "")
                flush()
                previous = line
                continue
            if SETEXT.match(line) and block and not LIST_OR_TABLE.match(block[-1]) and len(block) == 1:
                add_heading(block[0])
                flush()
                previous = line
                continue
            m = REFDEF.match(line)
            if m:
                target = m.group(2)
                if target.startswith("<") and target.endswith(">"):
                    target = target[1:-1]
                self.links.append((number, target))
                previous = line
                continue
            if not block:
                block_start = number
            block.append(line)
            previous = line
        flush()


def markdown_files(root):
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z", "*.md"], check=True,
                             capture_output=True).stdout.decode()
        names = [n for n in out.split("\0") if n]
    except (OSError, subprocess.CalledProcessError):
        names = []
        for folder, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
            names += [os.path.relpath(os.path.join(folder, f), root) for f in files if f.endswith(".md")]
    return sorted(n for n in names if os.path.isfile(os.path.join(root, n)))


def main():
    root = os.path.realpath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    names = markdown_files(root)
    pages = {}

    def page(path):
        if path not in pages:
            pages[path] = Page(path)
        return pages[path]

    problems = []
    checked = 0
    linked_from_readme = set()
    for name in names:
        source = os.path.join(root, name)
        for line, target in page(source).links:
            if not target or SCHEME.match(target):
                continue
            checked += 1
            where = f"{name}:{line}: link '{target}'"
            path, _, fragment = target.partition("#")
            path = urllib.parse.unquote(path)
            fragment = urllib.parse.unquote(fragment)
            if not path:
                resolved = source
            elif path.startswith("/"):
                resolved = os.path.normpath(os.path.join(root, path.lstrip("/")))
            else:
                resolved = os.path.normpath(os.path.join(os.path.dirname(source), path))
            if os.path.commonpath([root, os.path.realpath(resolved)]) != root:
                problems.append(f"{where}: leads out of the repository")
                continue
            if not os.path.exists(resolved):
                problems.append(f"{where}: {os.path.relpath(resolved, root)} does not exist")
                continue
            if name == "README.md":
                linked_from_readme.add(os.path.relpath(resolved, root))
            if not fragment:
                continue
            if resolved.endswith(".md") and os.path.isfile(resolved):
                if fragment not in page(resolved).anchors:
                    problems.append(f"{where}: {os.path.relpath(resolved, root)} has no heading "
                                    f"with the anchor #{fragment}")
            elif not CODE_LINE_ANCHOR.match(fragment):
                problems.append(f"{where}: #{fragment} cannot name a place in a file that is not Markdown")

    for name in names:
        if name.startswith("doc/") and name not in linked_from_readme:
            problems.append(f"{name}: no link from README.md leads to this page")

    for problem in problems:
        print(problem)
    print(f"doc links: {checked} links in {len(names)} files, {len(problems)} broken")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
