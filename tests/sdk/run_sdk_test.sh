#!/usr/bin/env bash
# The SDK as a new user meets it: in a fresh prefix with nothing of ours
# registered, install the SDK folder, register its three DLLs, and encode one
# WAV file into each format with the example host and with the example
# script, and with the SDK README's quick start, built as that README says
# (its command line with --cxx in place of g++, and its CMake project with the
# --toolchain file). All must give exactly the stream kvencode gives. Every
# shipped binary must be stripped, its debug information in X.debug beside it.
#
#   run_sdk_test.sh --sdk DIR --input WAV --cxx G++ --toolchain FILE --objdump OBJDUMP
#                   [--prefix-source DIR] [--arch win32|win64]
#
# --arch says which of the SDK's folders (bin/, bin64/), regsvr32 and script
# host the run goes through.
set -uo pipefail

sdk= input= prefix_source= arch=win32 cxx= toolchain= objdump=
while [ $# -gt 0 ]; do
    case $1 in
        --cxx) cxx=$2 ;;
        --toolchain) toolchain=$2 ;;
        --objdump) objdump=$2 ;;
        --arch) arch=$2 ;;
        --sdk) sdk=$2 ;;
        --input) input=$2 ;;
        --prefix-source) prefix_source=$2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done
[ -d "$sdk" ] && [ -f "$input" ] && [ -n "$cxx" ] && [ -f "$toolchain" ] && [ -n "$objdump" ] ||
    { echo "usage: $0 --sdk DIR --input WAV --cxx G++ --toolchain FILE --objdump OBJDUMP [--prefix-source DIR]" >&2; exit 2; }

. "$(dirname "$0")/../wine/prefix.sh"
start_private_prefix "${prefix_source:-${WINEPREFIX:-}}"
forget_our_registrations

status=0
for exe in "$sdk"/bin*/*.dll "$sdk"/bin*/*.exe; do
    name=$(basename "$exe")
    "${objdump%objdump}objcopy" --dump-section .gnu_debuglink="$work/link" "$exe" "$work/copy" 2>>"$log"
    if "$objdump" -h "$exe" | grep ' \.debug_' >/dev/null || ! "$objdump" -h "$exe.debug" | grep ' \.debug_info' >/dev/null ||
        [ "$(tr -d '\0' <"$work/link" | head -c $((${#name} + 6)))" != "$name.debug" ]; then
        echo "FAILED: $name is not stripped with its debug information linked in $name.debug"
        status=1
    fi
    rm -f "$work/link"
done

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

# A capture that fails leaves no output, and bad arguments are named.
c=$WINEPREFIX/drive_c
for args in "xyz C:\\bad.out C:\\in.wav|unknown format 'xyz'" "G711A C:\\bad.out C:\\none.wav|capturing the file failed" \
    "G711A C:\\bad.out --device 0|--device takes whole seconds" "G711A C:\\bad.out --device 9x|not '9x'"; do
    # shellcheck disable=SC2086 # the arguments are words
    said=$(wine "$bin\\kvcapture.exe" ${args%|*} 2>&1 >/dev/null </dev/null) && said="exit 0: $said"
    if [[ $said != *"${args#*|}"* ]] || ls "$c"/bad.out* >/dev/null 2>&1; then
        echo "FAILED: kvcapture ${args%|*} said \"$said\" or left bad.out"
        status=1
    fi
done

# The quick start, as the README gives it, built both ways on the static runtime.
readme_block() { awk -v m="<!-- $1 -->" '$0 == m { on = 1; next } on && /^```/ { if (n++) exit; next } on' "$sdk/README.md"; }
readme_block quickstart.cpp >"$install/quickstart.cpp"
readme_block CMakeLists.txt >"$install/CMakeLists.txt"
line=$(readme_block build)
[[ $line == "g++ "* ]] || fail "no g++ line in the README's build block"
(cd "$install" && eval "\"\$cxx\" ${line#g++ }") >>"$log" 2>&1 || fail "the README's build line failed"
cmake -S "$install" -B "$work/cmake" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$install" \
    >>"$log" 2>&1 && cmake --build "$work/cmake" >>"$log" 2>&1 || fail "the README's CMake project failed"
cp "$work/cmake/quickstart.exe" "$install/quickstart-cmake.exe" || fail "no quickstart.exe from CMake"
for exe in quickstart quickstart-cmake; do
    if "$objdump" -p "$install/$exe.exe" | grep -iE 'DLL Name: lib(stdc|gcc|winpthread)' >/dev/null; then
        echo "FAILED: $exe.exe needs the mingw runtime DLLs"
        status=1
    fi
    said=$(wine "C:\\Program Files\\KvAudio SDK\\$exe.exe" 'C:\in.wav' "C:\\$exe.g7231" 2>>"$log" </dev/null | tr -d '\r')
    bytes=$(stat -c %s "$c/ref.g7231")
    if [ "$said" = "C:\\$exe.g7231: $bytes bytes of G.723.1" ] && cmp -s "$c/ref.g7231" "$c/$exe.g7231"; then
        echo "ok: the README's quick start built as $exe.exe: $said"
    else
        echo "FAILED: $exe.exe said \"$said\", its stream against kvencode's: $(cmp "$c/ref.g7231" "$c/$exe.g7231" 2>&1)"
        status=1
    fi
done
[ $status -eq 0 ] || fail "the SDK does not do what its README says"
