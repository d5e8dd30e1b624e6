#!/usr/bin/env python3
"""Sums what each input object (or archive member) contributes to the
sections of a program, from a GNU ld map file (-Wl,-Map=FILE), largest first.

    bench/size-map.py FILE.map [--top N] [--by archive|object]

With link-time optimisation the program's own code arrives as the linker's
ltrans objects; the runtime libraries (libstdc++, libgcc, the C runtime)
still show per member, which is where accidental pulls show up.
"""
import argparse
import collections
import re
import sys

# " .text   0x00401000   0x1a4 path/lib.a(member.o)" or, when the input
# section's name is long, the name alone with the rest on the next line.
INPUT_LINE = re.compile(r"^ (\S+)?\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$")
OUTPUT_SECTION = re.compile(r"^(\.\S+)\s+0x[0-9a-fA-F]+\s+0x[0-9a-fA-F]+")
SECTION_ALONE = re.compile(r"^ (\S+)$")


def contributions(lines):
    """Yields (output section, input file, bytes) for every input section."""
    output = None
    pending = None
    in_map = False
    for line in lines:
        line = line.rstrip("\n")
        if not in_map:
            in_map = line.startswith("Linker script and memory map")
            continue
        heading = OUTPUT_SECTION.match(line)
        if heading:
            output, pending = heading.group(1), None
            continue
        alone = SECTION_ALONE.match(line)
        if alone:
            pending = alone.group(1)
            continue
        entry = INPUT_LINE.match(line)
        if entry and output and (entry.group(1) or pending):
            size = int(entry.group(3), 16)
            if size:
                yield output, entry.group(4).strip(), size
        pending = None


def owner(path, by):
    """The archive (or object) a contribution is charged to."""
    path = re.sub(r"^.*/", "", path) if "(" not in path else re.sub(r"^.*/(?=[^/]*\()", "", path)
    if by == "archive":
        path = path.split("(", 1)[0]
    return re.sub(r"^cc\w+\.ltrans\d+\.ltrans\.o$", "ltrans.o (this program, after LTO)", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("map")
    parser.add_argument("--top", type=int, default=30)
    parser.add_argument("--by", choices=("archive", "object"), default="object")
    args = parser.parse_args()

    totals = collections.Counter()
    per_section = collections.defaultdict(collections.Counter)
    with open(args.map, errors="replace") as handle:
        for section, path, size in contributions(handle):
            name = owner(path, args.by)
            totals[name] += size
            per_section[name][section] += size
    if not totals:
        sys.exit(f"{args.map}: no input sections found (not a GNU ld map?)")

    grand = sum(totals.values())
    print(f"{'KiB':>8} {'share':>6}  {'sections':<40} what")
    for name, size in totals.most_common(args.top):
        sections = ", ".join(f"{s} {b / 1024:.0f}" for s, b in per_section[name].most_common(3))
        print(f"{size / 1024:8.1f} {100 * size / grand:5.1f}%  {sections:<40} {name}")
    print(f"{grand / 1024:8.1f} 100.0%  all input sections")


if __name__ == "__main__":
    main()
