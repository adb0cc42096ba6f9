#!/usr/bin/env bash
# Runs dll_client_test against the real KvAudioEncoder.dll in a Wine prefix of
# its own: a copy of the project's prefix, thrown away afterwards, so the run
# neither sees nor leaves registry state anywhere else.
#
#   run_dll_tests.sh --name NAME --results DIR --client EXE --dll DLL
#                    --kvlib TLB --data DIR [--prefix-source DIR] [--arg ARG]...
#                    [--components DLL --kvencode EXE] [--decoder DLL]
#                    [--arch win32|win64] [--peer-dll DLL] [--per-user]
#
# Installs the module as a user would, into a folder whose path has spaces and
# an apostrophe, registers it with regsvr32, runs the client with its report
# in DIR/NAME.xml (and every --arg on its command line), unregisters it and
# checks that it is gone.
#
# With --components, KvAudioComponents.dll is installed and registered too
# (and KvLib comes from it, not from --kvlib), and the client is given
# --components, --input (a WAV made from the G.723.1 speech vector) and
# --expected, a folder where kvencode.exe (--kvencode) wrote that input's
# stream in every format (flushed at the end, as the recorder flushes).
#
# With --decoder, KvAudioDecoder.dll is installed and registered beside the
# module, and the client is given --decoder.
#
# --arch (win32 by default) says which regsvr32 and registry view the modules
# go through. --peer-dll registers KvAudioEncoder.dll of the other bitness
# beside the module for the whole run. --per-user then registers the module
# for the user alone and checks that HKEY_LOCAL_MACHINE did not change.
set -uo pipefail

name= results= client= dll= kvlib= data= prefix_source= components= kvencode= decoder= arch=win32 peer_dll= per_user=
client_args=()
while [ $# -gt 0 ]; do
    case $1 in
        --per-user) per_user=1; shift; continue ;;
        --arch) arch=$2 ;;
        --peer-dll) peer_dll=$2 ;;
        --name) name=$2 ;;
        --results) results=$2 ;;
        --client) client=$2 ;;
        --dll) dll=$2 ;;
        --kvlib) kvlib=$2 ;;
        --data) data=$2 ;;
        --prefix-source) prefix_source=$2 ;;
        --arg) client_args+=("$2") ;;
        --components) components=$2 ;;
        --kvencode) kvencode=$2 ;;
        --decoder) decoder=$2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done
for v in name results client dll kvlib data; do
    [ -n "${!v}" ] || { echo "missing --$v" >&2; exit 2; }
done
case $arch in
    win32) view=/reg:32 peer_view=/reg:64 ;;
    win64) view=/reg:64 peer_view=/reg:32 ;;
    *) echo "unknown --arch $arch" >&2; exit 2 ;;
esac

# The project's prefix, as cmake/wine-run picks it: the one CMake was given,
# else the environment's.
. "$(dirname "$0")/../wine/prefix.sh"
start_private_prefix "${prefix_source:-${WINEPREFIX:-}}"

forget_our_registrations

# Install: the module where a user would put it, KvLib where the outside
# components keep it.
install_dir="$WINEPREFIX/drive_c/Program Files/Kv's Encoder"
components_dir="$WINEPREFIX/drive_c/Program Files/Kv Components"
mkdir -p "$install_dir" "$components_dir"
cp "$dll" "$install_dir/KvAudioEncoder.dll" || fail "cannot install $dll"
cp "$kvlib" "$components_dir/KvLib.tlb" || fail "cannot install $kvlib"
module="C:\\Program Files\\Kv's Encoder\\KvAudioEncoder.dll"
clsid_key="HKCR\\CLSID\\$(published kG711A clsid)"

regsvr32=$(regsvr32_for $view)
if [ -n "$peer_dll" ]; then
    peer_dir="$WINEPREFIX/drive_c/Program Files/Kv's Encoder (other bitness)"
    mkdir -p "$peer_dir"
    cp "$peer_dll" "$peer_dir/KvAudioEncoder.dll" || fail "cannot install $peer_dll"
    peer_module="C:\\Program Files\\Kv's Encoder (other bitness)\\KvAudioEncoder.dll"
    wine_quiet "$(regsvr32_for $peer_view)" /s "$peer_module" || fail "regsvr32 /s \"$peer_module\" exited with $?"
    wine_quiet reg query "$clsid_key\\InprocServer32" $peer_view || fail "the other bitness registered nothing"
fi
wine_quiet "$regsvr32" /s "$module" || fail "regsvr32 /s \"$module\" exited with $?"
wine_quiet reg query "$clsid_key\\InprocServer32" $view || fail "regsvr32 registered nothing"

# add_module FILE FOLDER MODULE CLASS_KEY OPTION: installs FILE in FOLDER as
# MODULE, registers it and gives the client --OPTION=MODULE.
add_module() {
    cp "$1" "$2/${3##*\\}" || fail "cannot install $1"
    wine_quiet "$regsvr32" /s "$3" || fail "regsvr32 /s \"$3\" exited with $?"
    wine_quiet reg query "$4\\InprocServer32" $view || fail "regsvr32 registered nothing of $3"
    client_args+=("--$5=$3")
}
remove_module() {
    wine_quiet "$regsvr32" /u /s "$1" || fail "regsvr32 /u /s \"$1\" exited with $?"
    if wine_quiet reg query "$2" $view; then fail "$1 is still registered after regsvr32 /u"; fi
    echo "registered, tested and unregistered $1 in a fresh prefix"
}
components_module="C:\\Program Files\\Kv Components\\KvAudioComponents.dll"
components_key="HKCR\\CLSID\\$(published kRegistry clsid)"
[ -n "$components" ] && add_module "$components" "$components_dir" "$components_module" "$components_key" components
decoder_module="C:\\Program Files\\Kv's Encoder\\KvAudioDecoder.dll"
decoder_key="HKCR\\CLSID\\$(published kDecoderG711A clsid)"
[ -n "$decoder" ] && add_module "$decoder" "$install_dir" "$decoder_module" "$decoder_key" decoder
if [ -n "$kvencode" ]; then
    # The input: the speech vector as a 16 kHz mono 16-bit WAV, which the
    # capture format takes as it is.
    input=$work/speech_en.wav expected=$work/expected
    mkdir -p "$expected"
    python3 - "$data/g7231/speech_en.pcm" "$input" <<'PY' || fail "cannot make $input"
import sys, wave
with open(sys.argv[1], "rb") as f:
    samples = f.read()
with wave.open(sys.argv[2], "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(16000)
    w.writeframes(samples)
PY
    for f in g711a g711u g7231 quorvan; do
        wine "$kvencode" -f "$f" -i "$(winpath "$input")" -o "$(winpath "$expected/$f")" >>"$log" 2>&1 </dev/null ||
            fail "kvencode -f $f failed"
    done
    client_args+=("--input=$(winpath "$input")" "--expected=$(winpath "$expected")")
fi

mkdir -p "$results"
report=$results/$name.xml
rm -f "$report"
wine "$client" "--dll=$module" "--kvlib=C:\\Program Files\\Kv Components\\KvLib.tlb" \
    "--data=$(winpath "$data")" "--gtest_output=xml:$(winpath "$report")" "${client_args[@]}" \
    >"$work/client.out" 2>&1 </dev/null
status=$?
cat "$work/client.out"
[ -s "$report" ] || fail "the client wrote no report (exit status $status)"
[ "$status" -eq 0 ] || fail "the client failed (exit status $status)"

# Per-user registration beside the machine's: HKEY_LOCAL_MACHINE, exported
# before and after, must not change by a byte.
machine_export() { wine_quiet regedit /e "$(winpath "$work/$1.reg")" 'HKEY_LOCAL_MACHINE\Software\Classes'; }
same_machine() {  # same_machine EXPORT EXPORT: equal, or the difference is shown
    cmp -s "$work/$1.reg" "$work/$2.reg" && return 0
    diff <(iconv -f UTF-16 -t UTF-8 "$work/$1.reg") <(iconv -f UTF-16 -t UTF-8 "$work/$2.reg") | head -n 40
    return 1
}
# Each module with a class key and its type library's key under the user's classes.
per_user_modules=("$module|CLSID\\$(published kG711A clsid)|TypeLib\\$(published kEncoderLib libId)")
[ -n "$components" ] &&
    per_user_modules+=("$components_module|CLSID\\$(published kRegistry clsid)|TypeLib\\$(published kKvLib libId)")
[ -n "$decoder" ] &&
    per_user_modules+=("$decoder_module|CLSID\\$(published kDecoderG711A clsid)|TypeLib\\$(published kDecoderLib libId)")
if [ -n "$per_user" ]; then
    machine_export machine-before || fail "cannot export the machine's classes"
    for entry in "${per_user_modules[@]}"; do
        IFS='|' read -r m class_key lib_key <<<"$entry"
        user_class="HKCU\\Software\\Classes\\$class_key\\InprocServer32" user_lib="HKCU\\Software\\Classes\\$lib_key"
        wine_quiet "$regsvr32" /s /n /i:user "$m" || fail "regsvr32 /n /i:user \"$m\" exited with $?"
        wine_quiet reg query "$user_class" || fail "the per-user registration of $m wrote no class"
        wine_quiet reg query "$user_lib" || fail "the per-user registration of $m wrote no type library"
        machine_export machine-user || fail "cannot export the machine's classes"
        same_machine machine-before machine-user || fail "the per-user registration of $m changed HKEY_LOCAL_MACHINE"
        wine_quiet "$regsvr32" /s /u /n /i:user "$m" || fail "regsvr32 /u /n /i:user \"$m\" exited with $?"
        if wine_quiet reg query "$user_class"; then fail "$m is still registered for the user"; fi
        if wine_quiet reg query "$user_lib"; then fail "the type library of $m is still registered for the user"; fi
        machine_export machine-after || fail "cannot export the machine's classes"
        same_machine machine-before machine-after ||
            fail "the per-user unregistration of $m changed HKEY_LOCAL_MACHINE"
        echo "registered and unregistered $m for the user alone; the machine's registration stayed as it was"
    done
fi

wine_quiet "$regsvr32" /u /s "$module" || fail "regsvr32 /u /s \"$module\" exited with $?"
if wine_quiet reg query "$clsid_key" $view; then fail "the class is still registered after regsvr32 /u"; fi
if [ -n "$peer_dll" ]; then
    wine_quiet reg query "$clsid_key\\InprocServer32" $peer_view || fail "the other bitness lost its registration"
    wine_quiet "$(regsvr32_for $peer_view)" /u /s "$peer_module" || fail "regsvr32 /u \"$peer_module\" exited with $?"
fi
echo "registered, tested and unregistered $module in a fresh prefix"
if [ -n "$components" ]; then remove_module "$components_module" "$components_key"; fi
if [ -n "$decoder" ]; then remove_module "$decoder_module" "$decoder_key"; fi
