#!/usr/bin/env bash
# decode_round_trip.vbs under cscript in a fresh prefix with the three DLLs registered: its WAVE file
# must be kvdecode's for kvencode's stream of the same input, and its player, on our ALSA file plugin,
# must play kvdecode's raw output byte for byte with nothing but silence added. Options: --encoder,
# --components, --decoder, --kvencode, --kvdecode, --plugin, --input; [--prefix-source DIR] [--arch A]
set -uo pipefail
prefix_source= arch=win32
while [ $# -gt 0 ]; do
    case $1 in
        --encoder | --components | --decoder | --kvencode | --kvdecode | --plugin | --input | --prefix-source | --arch)
            name=${1#--} && declare "${name/-/_}=$2" ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done

. "$(dirname "$0")/../wine/prefix.sh"
start_private_prefix "${prefix_source:-${WINEPREFIX:-}}"
forget_our_registrations
[ "$arch" = win32 ] && view=/reg:32 cscript='C:\windows\syswow64\cscript.exe' ||
    view=/reg:64 cscript='C:\windows\system32\cscript.exe'
for dll in "$encoder" "$components" "$decoder"; do
    wine_quiet "$(regsvr32_for $view)" /s "$(winpath "$dll")" || fail "regsvr32 $dll exited with $?"
done

c=$WINEPREFIX/drive_c
cp "$input" "$c/in.wav" || fail "cannot copy $input"
wine_quiet "$(winpath "$kvencode")" -f g7231 -i 'C:\in.wav' -o 'C:\stream.g7231' || fail "kvencode exited with $?"
for out in wav pcm; do
    wine_quiet "$(winpath "$kvdecode")" -f g7231 -i 'C:\stream.g7231' -o "C:\\kvdecode.$out" || fail "kvdecode: $?"
done
script=$(winpath "$(cd "$(dirname "$0")" && pwd)/decode_round_trip.vbs")
run_script() { "$(wine_for $view)" "$cscript" //nologo "$script" 'C:\in.wav' "$@" >>"$log" 2>&1 </dev/null; }

run_script wav 'C:\script.wav' || fail "the script exited with $?"
cmp "$c/kvdecode.wav" "$c/script.wav" || fail "the WAVE file target did not write kvdecode's file"
echo "ok: the WAVE file target wrote kvdecode's file, $(stat -c %s "$c/script.wav") bytes"

: >"$work/played.raw"
printf 'pcm_type.kvfile { lib "%s" }\npcm.!default { type kvfile file "%s" }\n' "$plugin" "$work/played.raw" \
    >"$work/asound.conf"
ALSA_CONFIG_PATH=$work/asound.conf WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winepulse.drv=d" run_script player ||
    fail "the script exited with $?"
python3 - "$c/kvdecode.pcm" "$work/played.raw" <<'PY' || fail "the player did not play kvdecode's samples"
import sys
ref, got = (memoryview(open(p, "rb").read()).cast("h") for p in sys.argv[1:3])
# In order, with nothing but silence added: around the samples, or in a gap
# where Wine's mixer ran dry on a loaded machine.
j, gaps = 0, 0
ok = len(ref) > 0
for s in ref:
    while ok and j < len(got) and got[j] != s:
        ok, j, gaps = got[j] == 0, j + 1, gaps + 1
    ok, j = ok and j < len(got), j + 1
ok = ok and not any(got[j:])
print(f"{'ok' if ok else 'FAILED'}: {2 * len(got)} bytes played, kvdecode's {2 * len(ref)} and {gaps} silent samples")
sys.exit(0 if ok else 1)
PY
