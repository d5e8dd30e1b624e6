#!/usr/bin/env python3
"""Prints the SHA-256 the demo configuration names for each package and, for
every program the wizard started that is still on disk, the digest of that
file: the wizard refuses a download whose digest differs before anything
runs, so what ran matches what the configuration named.

Usage: show_digests.py CONFIG RUNS_JSONL WINEPREFIX
"""

import hashlib
import json
import os
import sys


def unix_path(windows_path, prefix):
    """C:\\users\\... inside the Wine prefix, as a path on this machine."""
    drive, _, rest = windows_path.partition(":")
    if drive.lower() != "c" or not rest:
        return None
    return os.path.join(prefix, "drive_c", *[part for part in rest.replace("\\", "/").split("/") if part])


def main():
    config_path, runs_path, prefix = sys.argv[1:4]
    with open(config_path) as f:
        config = json.load(f)
    named = {}
    product = config.get("i", {})
    if "sha256" in product:
        named[product["sha256"].lower()] = "%s (%s)" % (product.get("ct", "product"), product.get("cf", ""))
    for offer in config.get("o", []):
        ps = offer.get("ps", {})
        if "sha256" in ps:
            named.setdefault(ps["sha256"].lower(), "%s (%s)" % (ps.get("dn", "offer"), ps.get("u", "")))
            print("  %-16s %s" % (ps.get("dn", "offer"), ps["sha256"].lower()))
    if "sha256" in product:
        print("  %-16s %s" % (product.get("ct", "product"), product["sha256"].lower()))
    try:
        with open(runs_path) as f:
            runs = [json.loads(line) for line in f if line.strip()]
    except OSError:
        runs = []
    for run in runs:
        path = unix_path(run["path"], prefix)
        if not path or not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        verdict = "as named for " + named[digest] if digest in named else "named by no package"
        print("  started %s: SHA-256 %s, %s" % (run["path"], digest, verdict))


if __name__ == "__main__":
    main()
