#!/usr/bin/env bash
# Runs the device tests of a win32 test program under Wine with our ALSA
# plugin behind ALSA's default devices: capture records the samples of the
# WAVE file's data chunk (KV_WAVEIN_RAW), playback appends to KV_WAVEOUT_RAW.
#
#   run_alsa_test.sh --name NAME --results DIR --client EXE --plugin SO
#                    --wave WAV [--prefix DIR]
#
# Nothing global changes: the ALSA configuration is a file of this run's own
# (ALSA_CONFIG_PATH), and Wine's PulseAudio driver is off for this process
# only, so Wine's waveIn goes through its ALSA driver whatever the machine has.
set -uo pipefail

name= results= client= plugin= wave= prefix=
while [ $# -gt 0 ]; do
    case $1 in
        --name) name=$2 ;;
        --results) results=$2 ;;
        --client) client=$2 ;;
        --plugin) plugin=$2 ;;
        --wave) wave=$2 ;;
        --prefix) prefix=$2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done
for v in name results client plugin wave; do
    [ -n "${!v}" ] || { echo "missing --$v" >&2; exit 2; }
done

set -a
. "$(cd "$(dirname "$0")/../../../cmake" && pwd)/wine.env"
set +a
[ -n "$prefix" ] && export WINEPREFIX=$prefix
[ -n "${WINEPREFIX:-}" ] || { echo "no Wine prefix (give --prefix DIR or set WINEPREFIX)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kv-alsa.XXXXXX")
trap 'rm -rf "$work"' EXIT

winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

python3 - "$wave" "$work/input.raw" <<'PY' || exit 1
import sys, wave
with wave.open(sys.argv[1]) as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (1, 2, 16000), w.getparams()
    open(sys.argv[2], "wb").write(w.readframes(w.getnframes()))
PY

: >"$work/output.raw"
cat >"$work/asound.conf" <<EOF2
pcm_type.kvfile { lib "$plugin" }
pcm.!default { type asym
               capture.pcm { type kvfile file "$work/input.raw" }
               playback.pcm { type kvfile file "$work/output.raw" } }
EOF2
export ALSA_CONFIG_PATH=$work/asound.conf
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winepulse.drv=d"
export KV_WAVEIN_RAW KV_WAVEOUT_RAW
KV_WAVEIN_RAW=$(winpath "$work/input.raw")
KV_WAVEOUT_RAW=$(winpath "$work/output.raw")

mkdir -p "$results"
report=$results/$name.xml
rm -f "$report"
wine "$client" --gtest_filter='WaveInFromFile.*:WaveOutToFile.*' "--gtest_output=xml:$(winpath "$report")" </dev/null
status=$?
[ -s "$report" ] || { echo "FAILED: no report (exit status $status)"; exit 1; }
# A skipped case would mean the file never reached the program.
if ! grep -q '<testcase' "$report" || grep -q 'result="skipped"' "$report"; then
    echo "FAILED: the device tests did not run"
    exit 1
fi
exit $status
