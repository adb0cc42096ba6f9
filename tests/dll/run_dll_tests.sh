#!/usr/bin/env bash
# Runs dll_client_test against the real KvAudioEncoder.dll in a Wine prefix of
# its own: a copy of the project's prefix, thrown away afterwards, so the run
# neither sees nor leaves registry state anywhere else.
#
#   run_dll_tests.sh --name NAME --results DIR --client EXE --dll DLL
#                    --kvlib TLB --data DIR [--prefix-source DIR] [--arg ARG]...
#                    [--components DLL --kvencode EXE]
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
# stream in every format.
set -uo pipefail

name= results= client= dll= kvlib= data= prefix_source= components= kvencode=
client_args=()
while [ $# -gt 0 ]; do
    case $1 in
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
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done
for v in name results client dll kvlib data; do
    [ -n "${!v}" ] || { echo "missing --$v" >&2; exit 2; }
done

# The project's prefix, as cmake/wine-run picks it: the one CMake was given,
# else the environment's.
source_prefix=${prefix_source:-${WINEPREFIX:-}}

work=$(mktemp -d "${TMPDIR:-/tmp}/kv-dll-test.XXXXXX")
set -a
. "$(cd "$(dirname "$0")/../../cmake" && pwd)/wine.env"
set +a
export WINEPREFIX=$work/prefix
log=$work/wine.log

cleanup() {
    # Ends this prefix's server and every process of it, then the prefix.
    wineserver -k >/dev/null 2>&1 </dev/null
    wineserver -w >/dev/null 2>&1 </dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

fail() {
    echo "FAILED: $*"
    [ -s "$log" ] && { echo "--- Wine output ---"; cat "$log"; }
    exit 1
}

# Wine's own output never goes to CTest's pipe: Wine's server and services
# outlive the command that starts them, and CTest would wait for them.
wine_quiet() { wine "$@" >>"$log" 2>&1 </dev/null; }

# A Windows path for a path on the Linux side (drive Z: is the root).
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

if [ -n "$source_prefix" ] && grep -q '^#arch=win32' "$source_prefix/system.reg" 2>/dev/null; then
    # Other tests run in the source prefix meanwhile: their scratch files
    # come and go, so what the temporary folders hold is left out of the copy.
    mkdir -p "$WINEPREFIX"
    # A file that changes while it is read still comes over, so only the
    # unpacking side decides.
    { tar -C "$source_prefix" --exclude='./drive_c/users/*/Temp/*' --exclude='./drive_c/users/*/AppData/Local/Temp/*' \
        --exclude='./drive_c/windows/temp/*' --ignore-failed-read -cf - . 2>/dev/null || true; } |
        tar -C "$WINEPREFIX" -xf - || fail "cannot copy $source_prefix"
    [ -f "$WINEPREFIX/system.reg" ] || fail "cannot copy $source_prefix"
    rm -f "$WINEPREFIX"/*.tmp
else
    echo "no ready prefix at '$source_prefix'; creating one (slow)"
    wineboot -i >>"$log" 2>&1 </dev/null || fail "wineboot"
    wine_quiet reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    wine_quiet reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
fi

# Start the server and the services detached from every pipe of ours; keep
# the server up for the whole run so nothing starts them again later.
wineserver -p30 >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null

# The copy may hold what other tests were doing in the project's prefix when
# it was taken: start without any entry of this module or of KvLib.
cat >"$work/clean.reg" <<'EOF'
REGEDIT4

[-HKEY_CLASSES_ROOT\AppID\{AFEA8802-29E0-48ED-AA81-B04D306642A9}]
[-HKEY_CLASSES_ROOT\AppID\KvAudioEncoder.DLL]
[-HKEY_CLASSES_ROOT\CLSID\{E078E6AE-97CD-4380-BC5A-E46C838177DC}]
[-HKEY_CLASSES_ROOT\CLSID\{92715B73-1FA7-4476-90E8-BD8ABA9DEADA}]
[-HKEY_CLASSES_ROOT\CLSID\{3E12020B-744C-4FD1-B9F8-03E1B81AF6F9}]
[-HKEY_CLASSES_ROOT\CLSID\{80C6869B-6799-40a9-BC55-3B6D49FD0D27}]
[-HKEY_CLASSES_ROOT\KvAudioEncoder.KV_AudioG711A.1]
[-HKEY_CLASSES_ROOT\KvAudioEncoder.KV_AudioG711A]
[-HKEY_CLASSES_ROOT\KvAudioEncoder.KV_AudioG711U.1]
[-HKEY_CLASSES_ROOT\KvAudioEncoder.KV_AudioG711U]
[-HKEY_CLASSES_ROOT\KvAudioEncoder.KV_AudioG7231.1]
[-HKEY_CLASSES_ROOT\KvAudioEncoder.KV_AudioG7231]
[-HKEY_CLASSES_ROOT\KvAudioEncoder.KV_AudioQuorvan.1]
[-HKEY_CLASSES_ROOT\KvAudioEncoder.KV_AudioQuorvan]
[-HKEY_CLASSES_ROOT\TypeLib\{43CFE32C-E2DD-487D-8A1C-6888F61998D9}]
[-HKEY_CLASSES_ROOT\TypeLib\{575AA7B5-E1A9-414D-8EF9-AAE317E10B10}]
[-HKEY_CLASSES_ROOT\Interface\{2C5F51DD-0EB8-4481-850A-B8AEE2872007}]
[-HKEY_CLASSES_ROOT\Interface\{D66BF624-6E29-4EC8-9C3F-BC7B1BDF3031}]
[-HKEY_CLASSES_ROOT\Interface\{8216FC5A-A89E-446E-A253-D44E1FD35520}]
[-HKEY_CLASSES_ROOT\Interface\{43AB6695-8EC3-45FB-87F7-89C90991048F}]
[-HKEY_CLASSES_ROOT\Interface\{ABF09E32-54C3-4425-90F1-0B34CDC09690}]
[-HKEY_CLASSES_ROOT\CLSID\{CF9F1B41-9E58-43C4-9015-A6D2E22614B1}]
[-HKEY_CLASSES_ROOT\CLSID\{D0CC397C-2790-485A-B996-5E7A3111C1ED}]
[-HKEY_CLASSES_ROOT\CLSID\{9B4D24E1-05A5-478A-95E7-3146561265A6}]
[-HKEY_CLASSES_ROOT\CLSID\{8CEA055D-238B-4512-BC78-D45099838CF1}]
[-HKEY_CLASSES_ROOT\KvAudioComponents.Registry.1]
[-HKEY_CLASSES_ROOT\KvAudioComponents.Registry]
[-HKEY_CLASSES_ROOT\KvAudioComponents.Recorder.1]
[-HKEY_CLASSES_ROOT\KvAudioComponents.Recorder]
[-HKEY_CLASSES_ROOT\KvAudioComponents.FileSink.1]
[-HKEY_CLASSES_ROOT\KvAudioComponents.FileSink]
[-HKEY_CLASSES_ROOT\KvAudioComponents.MemorySink.1]
[-HKEY_CLASSES_ROOT\KvAudioComponents.MemorySink]
[-HKEY_CLASSES_ROOT\Interface\{2DA0A25D-0D37-4D6B-B470-8B4ED76C4F53}]
[-HKEY_CLASSES_ROOT\Interface\{41ECC7F6-178E-429E-9B67-050B2E54DFAF}]
[-HKEY_CLASSES_ROOT\Interface\{2F2130A0-68DF-4818-83D0-8C2DFDCC05F4}]
[-HKEY_CLASSES_ROOT\Interface\{23539D5E-EC33-48BA-82F0-39B3DE2393C7}]
EOF
wine_quiet regedit /s "$(winpath "$work/clean.reg")" || fail "regedit"

# Install: the module where a user would put it, KvLib where the outside
# components keep it.
install_dir="$WINEPREFIX/drive_c/Program Files/Kv's Encoder"
components_dir="$WINEPREFIX/drive_c/Program Files/Kv Components"
mkdir -p "$install_dir" "$components_dir"
cp "$dll" "$install_dir/KvAudioEncoder.dll" || fail "cannot install $dll"
cp "$kvlib" "$components_dir/KvLib.tlb" || fail "cannot install $kvlib"
module="C:\\Program Files\\Kv's Encoder\\KvAudioEncoder.dll"
clsid_key='HKCR\CLSID\{E078E6AE-97CD-4380-BC5A-E46C838177DC}'

wine_quiet regsvr32 /s "$module" || fail "regsvr32 /s \"$module\" exited with $?"
wine_quiet reg query "$clsid_key\\InprocServer32" || fail "regsvr32 registered nothing"

components_module="C:\\Program Files\\Kv Components\\KvAudioComponents.dll"
components_key='HKCR\CLSID\{CF9F1B41-9E58-43C4-9015-A6D2E22614B1}'
if [ -n "$components" ]; then
    cp "$components" "$components_dir/KvAudioComponents.dll" || fail "cannot install $components"
    wine_quiet regsvr32 /s "$components_module" || fail "regsvr32 /s \"$components_module\" exited with $?"
    wine_quiet reg query "$components_key\\InprocServer32" || fail "regsvr32 registered no component"
    client_args+=("--components=$components_module")
fi
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
    # The bare object stream: nothing flushed or padded at the end.
    bare=()
    wine "$kvencode" --help 2>/dev/null </dev/null | grep -q -- --no-flush && bare=(--no-flush)
    for f in g711a:640 g711u:640 g7231:480 quorvan:640; do
        wine "$kvencode" -f "${f%%:*}" -i "$(winpath "$input")" -o "$(winpath "$expected/${f%%:*}")" \
            --chunk "${f##*:}" "${bare[@]}" >>"$log" 2>&1 </dev/null || fail "kvencode -f ${f%%:*} failed"
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

wine_quiet regsvr32 /u /s "$module" || fail "regsvr32 /u /s \"$module\" exited with $?"
if wine_quiet reg query "$clsid_key"; then fail "the class is still registered after regsvr32 /u"; fi
echo "registered, tested and unregistered $module in a fresh prefix"
if [ -n "$components" ]; then
    wine_quiet regsvr32 /u /s "$components_module" || fail "regsvr32 /u /s \"$components_module\" exited with $?"
    if wine_quiet reg query "$components_key"; then fail "a component is still registered after regsvr32 /u"; fi
    echo "registered, tested and unregistered $components_module in a fresh prefix"
fi
