#!/usr/bin/env python3
"""Prints the table of `kv demo`: for every format, the input's length, the
encoded size, the bit rate over the input's length, the number of codec
blocks, whether the win32 and host tools wrote the same bytes, and how the
stream decoded by kvdecode compares with the input: its SNR and the change of
its level. Exits 1 when any pair differs or anything is missing.

usage: demo-table.py INPUT.wav OUTDIR
  (reads OUTDIR/{win32,host}/speech.FORMAT and OUTDIR/win32/speech.FORMAT.wav)"""
import array
import math
import operator
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


def samples(path):
    """The 16-bit samples of a mono WAV file, or None."""
    try:
        with wave.open(path) as w:
            return array.array("h", w.readframes(w.getnframes()))
    except (OSError, EOFError, wave.Error):
        return None


def energy(x):
    return sum(map(operator.mul, x, x))


def compare(source, decoded, max_lag):
    """SNR and level change in dB of `decoded` against `source`, at the
    delay up to max_lag samples where the two correlate best, and that delay."""
    n = len(source)
    lag = max(range(max_lag + 1), key=lambda k: sum(map(operator.mul, source, decoded[k:k + n])))
    out = decoded[lag:lag + n]
    out.extend([0] * (n - len(out)))
    noise = sum((a - b) * (a - b) for a, b in zip(source, out))
    snr = 10 * math.log10(energy(source) / noise) if noise else math.inf
    level = 10 * math.log10(max(energy(out), 1) / energy(source))
    return snr, level, lag


def main(source, outdir):
    with wave.open(source) as w:
        seconds = w.getnframes() / w.getframerate()
    reference = samples(source)
    print(f"{'format':<14}{'input s':>8}{'output bytes':>14}{'kbit/s':>8}{'frames':>16}  win32 = host"
          f"{'SNR dB':>8}{'level dB':>10}")
    ok = True
    g7231_lag = 0
    for fmt, name, block in FORMATS:
        win32 = read(os.path.join(outdir, "win32", "speech." + fmt))
        host = read(os.path.join(outdir, "host", "speech." + fmt))
        same = win32 is not None and win32 == host
        ok = ok and same
        size = len(host if host is not None else win32 or b"")
        frames = f"{size // block} x {block}" + ("" if size % block == 0 else " + part")
        decoded = samples(os.path.join(outdir, "win32", "speech." + fmt + ".wav"))
        figures = "      --        --"
        if decoded is None:
            ok = False
        else:
            # G.723.1 delays what it decodes; the waveform coders do not.
            snr, level, lag = compare(reference, decoded, 480 if fmt == "g7231" else 0)
            g7231_lag = lag if fmt == "g7231" else g7231_lag
            figures = f"{snr:>8.1f}{level:>+10.2f}"
        print(f"{name:<14}{seconds:>8.3f}{size:>14}{size * 8 / seconds / 1000:>8.1f}{frames:>16}  "
              + f"{'yes' if same else 'NO':<12}" + figures)
    print("kbit/s per second of input: the coders take the 16 kHz samples as they come, so G.723.1")
    print("(24 bytes per 240 samples, 6.3 kbit/s at 8 kHz) runs at twice its nominal rate here.")
    print("SNR and level: the win32 stream decoded by kvdecode.exe against the input. G.723.1 keeps")
    print(f"the sound, not the waveform, so its SNR is low by design (taken {g7231_lag} samples late, where")
    print("it lines up best); Quorvan decodes peaks above half scale clipped.")
    return 0 if ok else 1


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
