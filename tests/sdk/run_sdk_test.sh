#!/usr/bin/env bash
# The SDK as a new user meets it: in a fresh prefix with nothing of ours
# registered, install the SDK folder, register its three DLLs, and encode one
# WAV file into each format with the example host and with the example
# script. Both must give exactly the stream kvencode gives.
#
#   run_sdk_test.sh --sdk DIR --input WAV [--prefix-source DIR] [--arch win32|win64]
#
# --arch says which of the SDK's folders (bin/, bin64/), regsvr32 and script
# host the run goes through.
set -uo pipefail

sdk= input= prefix_source= arch=win32
while [ $# -gt 0 ]; do
    case $1 in
        --arch) arch=$2 ;;
        --sdk) sdk=$2 ;;
        --input) input=$2 ;;
        --prefix-source) prefix_source=$2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done
[ -d "$sdk" ] && [ -f "$input" ] || { echo "usage: $0 --sdk DIR --input WAV [--prefix-source DIR]" >&2; exit 2; }

. "$(dirname "$0")/../wine/prefix.sh"
start_private_prefix "${prefix_source:-${WINEPREFIX:-}}"
forget_our_registrations

install="$WINEPREFIX/drive_c/Program Files/KvAudio SDK"
mkdir -p "$install" && cp -r "$sdk"/. "$install"/ || fail "cannot install $sdk"
cp "$input" "$WINEPREFIX/drive_c/in.wav" || fail "cannot copy $input"
# The SDK's DLLs, its example host and the script host share one bitness.
case $arch in
    win32) view=/reg:32 bin='C:\Program Files\KvAudio SDK\bin' cscript='C:\windows\syswow64\cscript.exe' ;;
    *) view=/reg:64 bin='C:\Program Files\KvAudio SDK\bin64' cscript='C:\windows\system32\cscript.exe' ;;
esac
regsvr32=$(regsvr32_for $view) script_wine=$(wine_for $view)
for dll in KvAudioEncoder KvAudioComponents KvAudioDecoder; do
    wine_quiet "$regsvr32" /s "$bin\\$dll.dll" || fail "regsvr32 $dll.dll exited with $?"
done

status=0
for format in G711A G711U G7231 Quorvan; do
    lower=$(echo "$format" | tr 'A-Z' 'a-z')
    wine_quiet "$bin\\kvencode.exe" -f "$lower" -i 'C:\in.wav' -o "C:\\ref.$lower" ||
        fail "kvencode -f $lower exited with $?"
    wine_quiet "$bin\\kvcapture.exe" "$format" "C:\\host.$lower" 'C:\in.wav' ||
        fail "kvcapture $format exited with $?"
    "$script_wine" "$cscript" //nologo 'C:\Program Files\KvAudio SDK\examples\encode.vbs' "$format" 'C:\in.wav' \
        "C:\\script.$lower" >>"$log" 2>&1 </dev/null || fail "encode.vbs $format exited with $?"
    c=$WINEPREFIX/drive_c
    bytes=$(stat -c %s "$c/ref.$lower")
    for got in host script; do
        if [ "$bytes" -gt 0 ] && cmp -s "$c/ref.$lower" "$c/$got.$lower"; then
            echo "ok: $format through the example $got: $bytes bytes, as kvencode"
        else
            echo "FAILED: $format through the example $got differs from kvencode" \
                 "($(stat -c %s "$c/$got.$lower" 2>/dev/null || echo no) bytes against $bytes)"
            status=1
        fi
    done
done
[ $status -eq 0 ] || fail "the SDK examples do not match kvencode"
