#!/usr/bin/env python3
"""Prints the table of `kv demo`: for every format, the input's length, the
encoded size, the bit rate over the input's length, the number of codec
blocks, and whether the win32 and host tools wrote the same bytes.
Exits 1 when any pair differs or is missing.

usage: demo-table.py INPUT.wav OUTDIR   (reads OUTDIR/{win32,host}/speech.FORMAT)"""
import os
import sys
import wave

# format, name shown, bytes per block the encoder delivers
FORMATS = [
    ("g711a", "G.711 A-law", 160),
    ("g711u", "G.711 mu-law", 160),
    ("g7231", "G.723.1", 24),
    ("quorvan", "Quorvan", 240),
]


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def main(source, outdir):
    with wave.open(source) as w:
        seconds = w.getnframes() / w.getframerate()
    print(f"{'format':<14}{'input s':>8}{'output bytes':>14}{'kbit/s':>8}{'frames':>16}  win32 = host")
    ok = True
    for fmt, name, block in FORMATS:
        win32 = read(os.path.join(outdir, "win32", "speech." + fmt))
        host = read(os.path.join(outdir, "host", "speech." + fmt))
        same = win32 is not None and win32 == host
        ok = ok and same
        size = len(host if host is not None else win32 or b"")
        frames = f"{size // block} x {block}" + ("" if size % block == 0 else " + part")
        print(f"{name:<14}{seconds:>8.3f}{size:>14}{size * 8 / seconds / 1000:>8.1f}{frames:>16}  "
              + ("yes" if same else "NO"))
    print("kbit/s per second of input: the coders take the 16 kHz samples as they come, so G.723.1")
    print("(24 bytes per 240 samples, 6.3 kbit/s at 8 kHz) runs at twice its nominal rate here.")
    return 0 if ok else 1


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
