#!/usr/bin/env python3
"""Checks the project's Markdown links.

    scripts/check_links.py [ROOT]

Every relative link of README.md, CONTRIBUTING.md, docs/*.md and bench/*.md
must name a file or folder that exists, and its #anchor (or a bare #anchor
in the same file) a heading of the Markdown file it points to, as the
heading's anchor is formed on the usual Markdown hosts: lower case, marks
other than '-' and '_' dropped, blanks made '-', a repeated heading
numbered -1, -2, ... Links inside code (fenced blocks, `spans`) and links
with a scheme (https:, mailto:) are not checked. Prints each broken link as
FILE:LINE: TARGET: REASON and exits with 1 when there is one, else 0.
"""

import pathlib
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
CODE_SPAN = re.compile(r"`[^`]*`")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")
FENCE = re.compile(r"^\s*(```|~~~)")


def prose_lines(path):
    """Yields (line number, text) of the lines outside fenced code blocks."""
    fenced = False
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if FENCE.match(line):
            fenced = not fenced
            continue
        if not fenced:
            yield number, line


def anchor_of(heading):
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link's text
    text = text.replace("`", "").strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        seen = {}
        for _, line in prose_lines(path):
            match = HEADING.match(line)
            if not match:
                continue
            base = anchor_of(match.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            seen.setdefault(base if count == 0 else f"{base}-{count}", 1)
        cache[path] = set(seen)
    return cache[path]


def check(root):
    files = [root / "README.md", root / "CONTRIBUTING.md"]
    files += sorted((root / "docs").glob("*.md"))
    files += sorted((root / "bench").glob("*.md"))
    broken = []
    for source in files:
        if not source.is_file():
            broken.append(f"{source.relative_to(root)}: missing")
            continue
        for number, line in prose_lines(source):
            for target in LINK.findall(CODE_SPAN.sub("", line)):
                if SCHEME.match(target):
                    continue
                path_part, _, anchor = target.partition("#")
                destination = (source.parent / path_part).resolve() if path_part else source
                where = f"{source.relative_to(root)}:{number}: {target}"
                if not destination.exists():
                    broken.append(f"{where}: no such file")
                elif anchor and destination.suffix != ".md":
                    broken.append(f"{where}: an anchor into a file that is not Markdown")
                elif anchor and anchor not in anchors(destination):
                    broken.append(f"{where}: no heading with this anchor")
    return broken


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                        pathlib.Path(__file__).resolve().parent.parent).resolve()
    broken = check(root)
    for line in broken:
        print(line)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
