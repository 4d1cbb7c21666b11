#!/usr/bin/python3
"""Replays the plot target's inputs, keeping every file the library writes,
and has outside readers open them: qpdf for PDF, ghostscript for PostScript,
libtiff for TIFF, xmllint for SVG, PIL for PNG, BMP and PPM.  The fuzz target's own checks are
thus held against independent readers.

    outside_readers.py REPLAY_BINARY INPUT...
"""
import os
import subprocess
import sys
import tempfile

from PIL import Image


def run(*cmd):
    p = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    return p.returncode, (p.stdout + p.stderr).strip()


def check(path):
    """(kind, problem) of one file; kind None for the formats without a reader here."""
    with open(path, "rb") as f:
        head = f.read(8)
    if head.startswith(b"%PDF"):
        status, out = run("qpdf", "--check", path)
        return "PDF", None if status == 0 else out
    if head.startswith(b"%!PS"):
        # The bbox device reports each page it is given: exactly one.
        status, out = run("gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=bbox", path)
        pages = [l for l in out.splitlines() if l.startswith("%%BoundingBox:")]
        other = [l for l in out.splitlines() if not l.startswith("%%")]
        return "PostScript", None if status == 0 and len(pages) == 1 and not other else out or "no page"
    if head[:4] in (b"II*\0", b"MM\0*"):
        status, out = run("tiffinfo", "-D", path)
        warnings = [l for l in out.splitlines() if "Warning" in l or "Error" in l]
        return "TIFF", None if status == 0 and not warnings else out
    if head.startswith(b"<?xml") or head.startswith(b"<svg"):
        status, out = run("xmllint", "--noout", path)
        return "SVG", None if status == 0 else out
    for magic, kind in ((b"\x89PNG", "PNG"), (b"BM", "BMP"), (b"P6", "PPM")):
        if head.startswith(magic):
            try:
                with Image.open(path) as im:
                    im.load()
                    if im.format != kind:
                        return kind, "read as " + im.format
            except Exception as e:  # any refusal of the reader
                return kind, str(e)
            return kind, None
    return None, None


def main():
    replay, inputs = sys.argv[1], sys.argv[2:]
    with tempfile.TemporaryDirectory() as keep:
        env = dict(os.environ, FASOGRAM_FUZZ_KEEP=keep)
        p = subprocess.run([replay] + inputs, env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if p.returncode != 0:
            print(p.stderr[-3000:])
            return 1
        seen, failed = {}, 0
        for name in sorted(os.listdir(keep)):
            kind, problem = check(os.path.join(keep, name))
            if kind is None:
                continue
            seen[kind] = seen.get(kind, 0) + 1
            if problem is not None:
                print(f"{name} ({kind}) is refused: {problem}")
                failed = 1
        for kind in ("PDF", "PostScript", "SVG", "TIFF", "PNG", "BMP", "PPM"):
            if kind not in seen:
                print(f"no {kind} file among the outputs")
                failed = 1
        print("outside readers:", ", ".join(f"{n} {k}" for k, n in sorted(seen.items())))
        return failed


if __name__ == "__main__":
    sys.exit(main())
