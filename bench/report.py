#!/usr/bin/env python3
"""One table of the benchmark figures; prepends it to bench/RESULTS.md.

usage: report.py BENCH_BIN_DIR WORK_DIR [--win32 WIN32_BIN_DIR] [--no-save] [--decoders]

--decoders measures and prints only the G.723.1 decoder rows (ours and
FFmpeg's), without saving.

Instructions are callgrind's totals (Ir) of two runs of the same work at two
sizes, subtracted, so start-up and reading the data drop out, divided by the
units the larger run did more. Wall-time figures come from Google Benchmark
(host) and from timing kvencode.exe under Wine (win32).
"""
import json
import os
import platform
import re
import shutil
import subprocess
import sys
import time
from datetime import datetime, timezone

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SPEECH = os.path.join(ROOT, "tests", "data", "g7231", "speech_en.pcm")
# The coded speech of the decoder rows, by rate: (probe stage, stream).
DECODE_STREAMS = [("6.3", "g7231dec63", "speech_en.r63.g7231"), ("5.3", "g7231dec53", "speech_en.r53.g7231")]
DECODE_SHORT = 10  # frames of the start-up run
RATE = 16000
# Seconds of speech each format codes end to end (G.723.1 is slow under callgrind).
SECONDS = {"g711a": 60, "g711u": 60, "quorvan": 60, "g7231": 6}
TINY = 4800  # samples of the start-up run
# Longer inputs for the wall time under Wine, so that its start-up is small beside them.
WINE_SECONDS = {"g711a": 3600, "g711u": 3600, "quorvan": 120, "g7231": 30}
FORMATS = ["g711a", "g711u", "quorvan", "g7231"]


def callgrind_ir(cmd):
    out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + cmd,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True).stderr
    m = re.search(r"Collected : (\d+)", out)
    if not m:
        sys.exit("no instruction count from callgrind for " + " ".join(cmd))
    return int(m.group(1))


def callgrind_split(cmd, groups, inclusive=False):
    """(all instructions, then for each group of names those in functions whose names contain one of them),
    self or inclusive cost."""
    out_file = "/tmp/kv-bench-callgrind.{}.out".format(os.getpid())
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file] + cmd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    text = subprocess.run(["callgrind_annotate", "--auto=no", "--threshold=100",
                           "--inclusive=" + ("yes" if inclusive else "no"), out_file], stdout=subprocess.PIPE,
                          text=True, check=True).stdout
    os.unlink(out_file)
    total, matched = 0, [0] * len(groups)
    for line in text.splitlines():
        m = re.match(r"\s*([\d,]+)\s+\(.*?\)\s+(.*)", line)
        if not m:
            continue
        count = int(m.group(1).replace(",", ""))
        if "PROGRAM TOTALS" in line:
            total = count
        for i, names in enumerate(groups):
            if any(n in m.group(2) for n in names):
                matched[i] += count
    return [total] + matched


def per_unit_less(cmd_for, small, large, names):
    """Instructions per unit outside the functions named."""
    t1, m1 = callgrind_split(cmd_for(small), [names])
    t2, m2 = callgrind_split(cmd_for(large), [names])
    return ((t2 - m2) - (t1 - m1)) / (large - small)


def per_unit_inside_less(cmd_for, small, large, entry, less):
    """Instructions per unit from entering the functions named entry to their return, the (inclusive) cost of
    those named less taken out."""
    _, e1, l1 = callgrind_split(cmd_for(small), [entry, less], inclusive=True)
    _, e2, l2 = callgrind_split(cmd_for(large), [entry, less], inclusive=True)
    return ((e2 - l2) - (e1 - l1)) / (large - small)


def per_unit(cmd_for, small, large):
    """Instructions per unit: cmd_for(n) does n units of work."""
    return (callgrind_ir(cmd_for(large)) - callgrind_ir(cmd_for(small))) / (large - small)


def make_input(work, seconds):
    """Speech looped to the length asked for, raw 16 kHz mono: no conversion on the way."""
    os.makedirs(work, exist_ok=True)
    data = open(SPEECH, "rb").read()
    path = os.path.join(work, "speech{}.pcm".format(seconds))
    n = int(seconds * RATE * 2)
    open(path, "wb").write((data * (n // len(data) + 1))[:n])
    return path


def kvencode_ir(kvencode, fmt, pcm, work):
    return callgrind_ir([kvencode, "-f", fmt, "-i", pcm, "-o", os.path.join(work, "out." + fmt)])


def frame_sizes(stream):
    data = open(stream, "rb").read()
    sizes, at = [], 0
    while at < len(data):
        sizes.append((24, 20, 4, 1)[data[at] & 3])
        at += sizes[-1]
    return data, sizes


def decoder_rows(probe, work, rate):
    """Instructions per frame of our decoder and of FFmpeg's on the same speech, postfilter on (rate: our
    host frames/s at 6.3 kbit/s). FFmpeg decodes the whole stream and its first frames alone, in one thread
    (callgrind counts only the main one)."""
    rows = []
    ffmpeg = shutil.which("ffmpeg")
    for kbit, stage, name in DECODE_STREAMS:
        data, sizes = frame_sizes(os.path.join(ROOT, "tests", "data", "g7231-decode", name))
        ours = per_unit(lambda n: [probe, stage, str(n)], DECODE_SHORT, len(sizes))
        rows.append(("G.723.1 decoder, {} kbit/s speech, postfilter on".format(kbit), "frame",
                     rate if kbit == "6.3" else None, None, ours, 1))
        if not ffmpeg:
            print("no ffmpeg: its decoder row is left out", file=sys.stderr)
            continue
        os.makedirs(work, exist_ok=True)
        short = os.path.join(work, "short." + name)
        open(short, "wb").write(data[:sum(sizes[:DECODE_SHORT])])

        def ffmpeg_cmd(n):
            src = short if n == DECODE_SHORT else os.path.join(ROOT, "tests", "data", "g7231-decode", name)
            return [ffmpeg, "-hide_banner", "-loglevel", "error", "-threads", "1", "-f", "g723_1", "-i", src,
                    "-f", "s16le", "-y", os.path.join(work, "ffmpeg.pcm")]

        theirs = per_unit(ffmpeg_cmd, DECODE_SHORT, len(sizes))
        rows.append(("FFmpeg g723_1 decoder, the same stream ({:.1f} times ours)".format(theirs / ours), "frame",
                     None, None, theirs, 1))
    return rows


def google_benchmark(binary):
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_min_time=0.5"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, check=True).stdout
    rates = {}
    for b in json.loads(out)["benchmarks"]:
        rate = [v for k, v in b.items() if k.endswith("/s") and k != "bytes_per_second"]
        rates[b["name"]] = rate[0] if rate else None
    return rates


def wine_seconds(exe, fmt, pcm, work):
    """Best of three wall times of kvencode.exe under Wine."""
    best = None
    for _ in range(3):
        t = time.monotonic()
        subprocess.run(["wine", exe, "-f", fmt, "-i", pcm, "-o", os.path.join(work, "wine." + fmt)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        dt = time.monotonic() - t
        best = dt if best is None else min(best, dt)
    return best


def wine_rate(exe, fmt, work, tiny):
    """Samples per second of kvencode.exe under Wine, the start-up (a run on the tiny input) subtracted."""
    seconds = WINE_SECONDS[fmt]
    big = make_input(work, seconds)
    whole = wine_seconds(exe, fmt, big, work)
    coding = whole - wine_seconds(exe, fmt, tiny, work)
    os.unlink(big)
    # Within the start-up's own jitter the difference says nothing.
    return (seconds * RATE - TINY) / coding if coding > 0.2 * whole else None


def main():
    args = sys.argv[1:]
    decoders_only = "--decoders" in args
    save = "--no-save" not in args and not decoders_only
    args = [a for a in args if a not in ("--no-save", "--decoders")]
    win32 = None
    if "--win32" in args:
        i = args.index("--win32")
        win32 = args[i + 1]
        del args[i:i + 2]
    bin_dir, work = args
    probe = os.path.join(bin_dir, "probe")
    kvencode = os.path.join(bin_dir, "kvencode")
    if decoders_only:
        for what, unit, _, _, ins, _ in decoder_rows(probe, work, None):
            print("| {} | {} | {:.2f} |".format(what, unit, ins))
        return
    tiny = make_input(work, TINY / RATE)

    rows = []  # (what, unit, host rate, win32 rate, instructions)
    codec_rates = google_benchmark(os.path.join(bin_dir, "codecs_bench"))
    object_rates = google_benchmark(os.path.join(bin_dir, "objects_bench"))

    def probe_cmd(stage):
        return lambda n: [probe, stage, str(n)]

    g711a = per_unit(probe_cmd("g711a"), 100, 2100) / 160
    g711u = per_unit(probe_cmd("g711u"), 100, 2100) / 160
    quorvan = per_unit(probe_cmd("quorvan"), 20, 420) / 240
    coder = per_unit(probe_cmd("g7231"), 5, 45)
    # The codec's own functions are left out: what remains is the core's work and the delivery.
    codec = ["kv::codecs::CG711Codec", "kv::codecs::(anonymous namespace)::encode"]
    # The encoder's own cost, entry to return (the counting sink's three
    # instructions in it), and the same with the probe's loop around it.
    call = per_unit_inside_less(probe_cmd("datapath"), 100, 2100, ["::OnAudioData("], ["CG711Codec::encode"])
    loop = per_unit_less(probe_cmd("datapath"), 100, 2100, codec)
    rows.append(("G.711 A-law codec", "sample", codec_rates.get("G711ALawBlock"), None, g711a, 160))
    rows.append(("G.711 mu-law codec", "sample", codec_rates.get("G711MuLawBlock"), None, g711u, 160))
    rows.append(("Quorvan codec", "sample", codec_rates.get("G722QuorvanBlock"), None, quorvan, 240))
    rows.append(("G.723.1 Coder", "frame", codec_rates.get("G7231Coder"), None, coder, 1))
    rows += decoder_rows(probe, work, codec_rates.get("G7231Decoder"))
    rows.append(("data path: 640 B A-law call, one sink, OnAudioData entry to return, less the codec", "call",
                 object_rates.get("DataPathG711A"), None, call, 1))
    rows.append(("the same with the caller's loop (the table's earlier row)", "call", None, None, loop, 1))

    for fmt in FORMATS:
        big = make_input(work, SECONDS[fmt])
        samples = SECONDS[fmt] * RATE
        e2e = (kvencode_ir(kvencode, fmt, big, work) - kvencode_ir(kvencode, fmt, tiny, work))
        per = e2e / (samples - TINY)
        unit = "sample"
        wine = wine_rate(os.path.join(win32, "kvencode.exe"), fmt, work, tiny) if win32 else None
        if fmt == "g7231":
            per, unit = per * 240, "frame"
            wine = wine / 240 if wine else None
        rows.append(("kvencode " + fmt + " end to end", unit, None, wine, per, 1))

    sizes = subprocess.run([probe, "sizes"], stdout=subprocess.PIPE, text=True, check=True).stdout.split()

    def rate(r, per_unit_count):
        if r is None:
            return "-"
        return "{:,.0f}".format(r * per_unit_count)

    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], stdout=subprocess.PIPE,
                            text=True).stdout.strip()
    dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no"],
                           stdout=subprocess.PIPE, text=True).stdout.strip()
    cpu = "unknown cpu"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    lines = [
        "## {} — {}{}".format(datetime.now(timezone.utc).strftime("%Y-%m-%d %H:%M UTC"), commit,
                              " (with uncommitted changes)" if dirty else ""),
        "",
        "Machine: {}, {} cores, {} {}. Instructions: callgrind, host Release build, start-up subtracted; "
        "end to end: kvencode on {} s of looped speech (raw 16 kHz mono; G.723.1 {} s). Win32: kvencode.exe "
        "under Wine, best of three, start-up subtracted.".format(cpu, os.cpu_count(), platform.system(),
                                                            platform.release(), SECONDS["g711a"], SECONDS["g7231"]),
        "",
        "| what | unit | host units/s | win32 (Wine) units/s | instructions/unit |",
        "|---|---|---:|---:|---:|",
    ]
    for what, unit, host, wine, ins, k in rows:
        lines.append("| {} | {} | {} | {} | {:.2f} |".format(what, unit, rate(host, k), rate(wine, 1), ins))
    lines.append("")
    lines.append("sizeof: " + ", ".join("{} {} B".format(sizes[i], sizes[i + 1]) for i in range(0, len(sizes), 2)))
    lines.append("")
    table = "\n".join(lines)
    print(table)
    if save:
        path = os.path.join(ROOT, "bench", "RESULTS.md")
        head = "# Benchmark results\n\nNewest first; `./kv bench` adds a table.\n\n"
        old = open(path).read() if os.path.exists(path) else head
        rest = old[len(head):] if old.startswith(head) else old
        open(path, "w").write(head + table + "\n" + rest)


if __name__ == "__main__":
    main()
