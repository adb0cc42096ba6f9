#!/usr/bin/env bash
# The voice path in a script under Wine's cscript (decode_round_trip.vbs), in
# a fresh prefix with the three DLLs registered: recorder -> G.723.1 encoder
# -> G.723.1 decoder -> WAVE file target must write the file kvdecode writes
# for kvencode's stream of the same input; with a player on ALSA's default
# device instead (our file plugin, as the device tests use it), what the
# device played must be kvdecode's raw output byte for byte, with nothing but
# silence around it.
#
#   run_round_trip_test.sh --encoder DLL --components DLL --decoder DLL
#                          --kvencode EXE --kvdecode EXE --plugin SO --input WAV
#                          [--prefix-source DIR] [--arch win32|win64]
set -uo pipefail

encoder= components= decoder= kvencode= kvdecode= plugin= input= prefix_source= arch=win32
while [ $# -gt 0 ]; do
    case $1 in
        --encoder) encoder=$2 ;;
        --components) components=$2 ;;
        --decoder) decoder=$2 ;;
        --kvencode) kvencode=$2 ;;
        --kvdecode) kvdecode=$2 ;;
        --plugin) plugin=$2 ;;
        --input) input=$2 ;;
        --prefix-source) prefix_source=$2 ;;
        --arch) arch=$2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done
for v in encoder components decoder kvencode kvdecode plugin input; do
    [ -n "${!v}" ] || { echo "missing --$v" >&2; exit 2; }
done

. "$(dirname "$0")/../wine/prefix.sh"
start_private_prefix "${prefix_source:-${WINEPREFIX:-}}"
forget_our_registrations

# The DLLs and the script host share one bitness.
case $arch in
    win32) view=/reg:32 cscript='C:\windows\syswow64\cscript.exe' ;;
    *) view=/reg:64 cscript='C:\windows\system32\cscript.exe' ;;
esac
regsvr32=$(regsvr32_for $view) script_wine=$(wine_for $view)
for dll in "$encoder" "$components" "$decoder"; do
    wine_quiet "$regsvr32" /s "$(winpath "$dll")" || fail "regsvr32 $dll exited with $?"
done

c=$WINEPREFIX/drive_c
cp "$input" "$c/in.wav" || fail "cannot copy $input"
wine_quiet "$(winpath "$kvencode")" -f g7231 -i 'C:\in.wav' -o 'C:\stream.g7231' || fail "kvencode exited with $?"
for out in wav pcm; do
    wine_quiet "$(winpath "$kvdecode")" -f g7231 -i 'C:\stream.g7231' -o "C:\\kvdecode.$out" ||
        fail "kvdecode -o kvdecode.$out exited with $?"
done
script=$(winpath "$(cd "$(dirname "$0")" && pwd)/decode_round_trip.vbs")
run_script() { "$script_wine" "$cscript" //nologo "$script" 'C:\in.wav' "$@" >>"$log" 2>&1 </dev/null; }

run_script wav 'C:\script.wav' || fail "the script (WAVE file target) exited with $?"
bytes=$(stat -c %s "$c/kvdecode.wav")
cmp -s "$c/kvdecode.wav" "$c/script.wav" ||
    fail "the script's WAVE file ($(stat -c %s "$c/script.wav" 2>/dev/null || echo no) bytes) is not kvdecode's ($bytes bytes)"
echo "ok: the script's WAVE file target wrote kvdecode's file, $bytes bytes"

: >"$work/played.raw"
cat >"$work/asound.conf" <<EOF2
pcm_type.kvfile { lib "$plugin" }
pcm.!default { type kvfile file "$work/played.raw" }
EOF2
ALSA_CONFIG_PATH=$work/asound.conf WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winepulse.drv=d" run_script player ||
    fail "the script (player) exited with $?"
python3 - "$c/kvdecode.pcm" "$work/played.raw" <<'PY' || fail "the player did not play kvdecode's samples"
import sys
ref, got = (open(p, "rb").read() for p in sys.argv[1:3])
at = got.find(ref)
if not ref or at < 0:
    sys.exit(f"the {len(got)} bytes played do not hold the {len(ref)} bytes kvdecode wrote")
around = got[:at] + got[at + len(ref):]
if any(around):
    sys.exit("something besides silence was played around them")
print(f"ok: the player played kvdecode's {len(ref)} bytes as they are"
      f" ({at} bytes of silence before them, {len(around) - at} after)")
PY
grep -q '^done' "$log" || fail "the script did not end"
