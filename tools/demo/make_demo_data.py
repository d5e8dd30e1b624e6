#!/usr/bin/env python3
"""Writes the demo's server data: a configuration (a product with a picture
and three offers with pictures, one of which a rule rejects, one of which
comes as a ZIP archive), the pictures, and the installers the file host
serves (all of them the sample installer, which notes each run). Every
package names the SHA-256 of the file served for it, so the wizard checks
each download before anything runs.

Usage: make_demo_data.py OUTDIR SAMPLE_INSTALLER   (writes OUTDIR/configs and OUTDIR/files)
"""

import hashlib
import json
import os
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import make_images  # noqa: E402  (the wizard's own picture generator)

BANNER_WIDTH, BANNER_HEIGHT = 624, 320

OFFERS = [
    # code, name, colour, vertical, extra requirements
    # Served as a ZIP archive holding its installer.
    ("aurora-notes", "Aurora Notes", (40.0, 150.0, 110.0), 1, {"u": "dl/aurora-notes.zip"}),
    ("breeze-backup", "Breeze Backup", (120.0, 80.0, 200.0), 2, {}),
    # Needs a Windows version no system has: the rules reject it.
    ("cinder-clean", "Cinder Clean", (220.0, 120.0, 40.0), 3, {"ov": 64}),
]


def banner(colour):
    """A rounded coloured card with a white ring: stands in for an offer's artwork."""
    rows = []
    for py in range(BANNER_HEIGHT):
        y = py + 0.5
        base = make_images.shade(colour, y, BANNER_HEIGHT)
        row = bytearray()
        for px in range(BANNER_WIDTH):
            x = px + 0.5
            a = make_images.coverage(make_images.sd_round_box(x, y, 8, 8, BANNER_WIDTH - 8, BANNER_HEIGHT - 8, 36))
            if a <= 0.0:
                row += b"\0\0\0\0"
                continue
            ring = abs(make_images.sd_circle(x, y, BANNER_WIDTH / 2, BANNER_HEIGHT / 2, 90)) - 14
            m = make_images.coverage(ring)
            row += bytes(int(c + (255.0 - c) * m + 0.5) for c in base) + bytes((int(a * 255 + 0.5),))
        rows.append(bytes(row))
    return rows


def offer_json(code, name, vertical, extra):
    ps = {"i": "img/%s.png" % code, "dn": name, "u": "dl/%s.exe" % code, "p": "/S /ref={pubid}",
          "v": vertical, "cp": "https://127.0.0.1/site/%s/privacy" % code,
          "ctu": "https://127.0.0.1/site/%s/eula" % code}
    ps.update(extra)
    return {"ad": {"f": "demo-" + code, "o": code}, "ps": ps}


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "configs"), exist_ok=True)
    os.makedirs(os.path.join(out, "files", "img"), exist_ok=True)
    write_installers(out, sys.argv[2])
    files = os.path.join(out, "files")
    config = {
        "l": "demo-cc",
        "i": {"ct": "Kestrel Viewer", "cu": "https://127.0.0.1/f/kestrel-viewer.exe",
              "cl": "https://127.0.0.1/f/kestrel-viewer.png", "cf": "KestrelViewerSetup.exe",
              "cp": "https://127.0.0.1/site/privacy", "ctu": "https://127.0.0.1/site/terms",
              "ch": "demo", "cfl": "winter", "sha256": sha256_of(os.path.join(files, "kestrel-viewer.exe"))},
        "f": {"a": "pub-42", "m": 3},
        "o": [offer_json(code, name, vertical, extra) for code, name, _, vertical, extra in OFFERS],
    }
    for offer in config["o"]:
        offer["ps"]["sha256"] = sha256_of(os.path.join(files, offer["ps"]["u"]))
    with open(os.path.join(out, "configs", "default.json"), "w") as f:
        json.dump(config, f, indent=1)
    with open(os.path.join(out, "files", "kestrel-viewer.png"), "wb") as f:
        f.write(make_images.encode_png(make_images.render_badge(128, make_images.ICON_BLUE, make_images.mark_download)))
    for code, _, colour, _, _ in OFFERS:
        with open(os.path.join(out, "files", "img", code + ".png"), "wb") as f:
            f.write(make_images.encode_png(banner(colour)))


def write_installers(out, sample_installer):
    """The product, the offers and the installer wizard's own product all run
    the sample installer; one offer comes inside a ZIP archive."""
    with open(sample_installer, "rb") as f:
        program = f.read()
    os.makedirs(os.path.join(out, "files", "dl"), exist_ok=True)
    for name in ("kestrel-viewer.exe", "ostrel-tester.exe", "dl/breeze-backup.exe", "dl/cinder-clean.exe"):
        with open(os.path.join(out, "files", name), "wb") as f:
            f.write(program)
    with zipfile.ZipFile(os.path.join(out, "files", "dl", "aurora-notes.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("readme.txt", "Aurora Notes\r\n")
        archive.writestr("aurora-setup.exe", program)


if __name__ == "__main__":
    main()
