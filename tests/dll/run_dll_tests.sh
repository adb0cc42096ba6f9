#!/usr/bin/env bash
# Runs dll_client_test against the real KvAudioEncoder.dll in a Wine prefix of
# its own: a copy of the project's prefix, thrown away afterwards, so the run
# neither sees nor leaves registry state anywhere else.
#
#   run_dll_tests.sh --name NAME --results DIR --client EXE --dll DLL
#                    --kvlib TLB --data DIR [--prefix-source DIR] [--arg ARG]...
#                    [--arch win32|win64] [--peer-dll DLL] [--per-user]
#
# Installs the module as a user would, into a folder whose path has spaces and
# an apostrophe, registers it with regsvr32 of its bitness (--arch, win32 by
# default; the prefix is WoW64), runs the client with its report in
# DIR/NAME.xml (and every --arg on its command line), unregisters it and
# checks that it is gone. --peer-dll registers the same module of the other
# bitness beside it for the whole run. --per-user then registers the module
# for the user alone and checks that only HKEY_CURRENT_USER changed.
set -uo pipefail

name= results= client= dll= kvlib= data= prefix_source= arch=win32 peer_dll= per_user=
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
# Each bitness registers with its own regsvr32, into its own registry view.
regsvr32_for() { [ "$1" = /reg:32 ] && echo 'C:\windows\syswow64\regsvr32.exe' || echo 'C:\windows\system32\regsvr32.exe'; }

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

if [ -n "$source_prefix" ] && grep -q '^#arch=win64' "$source_prefix/system.reg" 2>/dev/null; then
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
# it was taken: start without any entry of this module or of KvLib, in either
# view and for the user.
our_keys=(
    'AppID\{AFEA8802-29E0-48ED-AA81-B04D306642A9}'
    'AppID\KvAudioEncoder.DLL'
    'CLSID\{E078E6AE-97CD-4380-BC5A-E46C838177DC}'
    'CLSID\{92715B73-1FA7-4476-90E8-BD8ABA9DEADA}'
    'CLSID\{3E12020B-744C-4FD1-B9F8-03E1B81AF6F9}'
    'CLSID\{80C6869B-6799-40a9-BC55-3B6D49FD0D27}'
    'KvAudioEncoder.KV_AudioG711A.1'
    'KvAudioEncoder.KV_AudioG711A'
    'KvAudioEncoder.KV_AudioG711U.1'
    'KvAudioEncoder.KV_AudioG711U'
    'KvAudioEncoder.KV_AudioG7231.1'
    'KvAudioEncoder.KV_AudioG7231'
    'KvAudioEncoder.KV_AudioQuorvan.1'
    'KvAudioEncoder.KV_AudioQuorvan'
    'TypeLib\{43CFE32C-E2DD-487D-8A1C-6888F61998D9}'
    'TypeLib\{575AA7B5-E1A9-414D-8EF9-AAE317E10B10}'
    'Interface\{2C5F51DD-0EB8-4481-850A-B8AEE2872007}'
    'Interface\{D66BF624-6E29-4EC8-9C3F-BC7B1BDF3031}'
    'Interface\{8216FC5A-A89E-446E-A253-D44E1FD35520}'
    'Interface\{43AB6695-8EC3-45FB-87F7-89C90991048F}'
    'Interface\{ABF09E32-54C3-4425-90F1-0B34CDC09690}'
)
{
    echo REGEDIT4
    for k in "${our_keys[@]}"; do
        printf '[-HKEY_CLASSES_ROOT\\%s]\n[-HKEY_CURRENT_USER\\Software\\Classes\\%s]\n' "$k" "$k"
    done
} >"$work/clean.reg"
wine_quiet regedit /s "$(winpath "$work/clean.reg")" || fail "regedit"
wine_quiet 'C:\windows\syswow64\regedit.exe' /s "$(winpath "$work/clean.reg")" || fail "regedit (32-bit)"

# Install: the module where a user would put it, KvLib where the outside
# components keep it.
install_dir="$WINEPREFIX/drive_c/Program Files/Kv's Encoder"
components_dir="$WINEPREFIX/drive_c/Program Files/Kv Components"
mkdir -p "$install_dir" "$components_dir"
cp "$dll" "$install_dir/KvAudioEncoder.dll" || fail "cannot install $dll"
cp "$kvlib" "$components_dir/KvLib.tlb" || fail "cannot install $kvlib"
module="C:\\Program Files\\Kv's Encoder\\KvAudioEncoder.dll"
clsid_key='HKCR\CLSID\{E078E6AE-97CD-4380-BC5A-E46C838177DC}'

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
user_key="HKCU\\Software\\Classes\\CLSID\\{E078E6AE-97CD-4380-BC5A-E46C838177DC}\\InprocServer32"
if [ -n "$per_user" ]; then
    machine_export machine-before || fail "cannot export the machine's classes"
    wine_quiet "$regsvr32" /s /n /i:user "$module" || fail "regsvr32 /n /i:user exited with $?"
    wine_quiet reg query "$user_key" || fail "the per-user registration wrote no class"
    wine_quiet reg query "HKCU\\Software\\Classes\\TypeLib\\{43CFE32C-E2DD-487D-8A1C-6888F61998D9}" ||
        fail "the per-user registration wrote no type library"
    machine_export machine-user || fail "cannot export the machine's classes"
    same_machine machine-before machine-user ||
        fail "the per-user registration changed HKEY_LOCAL_MACHINE"
    wine_quiet "$regsvr32" /s /u /n /i:user "$module" || fail "regsvr32 /u /n /i:user exited with $?"
    if wine_quiet reg query "$user_key"; then fail "the class is still registered for the user"; fi
    if wine_quiet reg query "HKCU\\Software\\Classes\\TypeLib\\{43CFE32C-E2DD-487D-8A1C-6888F61998D9}"; then
        fail "the type library is still registered for the user"
    fi
    machine_export machine-after || fail "cannot export the machine's classes"
    same_machine machine-before machine-after ||
        fail "the per-user unregistration changed HKEY_LOCAL_MACHINE"
    echo "registered and unregistered $module for the user alone; the machine's registration stayed as it was"
fi

wine_quiet "$regsvr32" /u /s "$module" || fail "regsvr32 /u /s \"$module\" exited with $?"
if wine_quiet reg query "$clsid_key" $view; then fail "the class is still registered after regsvr32 /u"; fi
if [ -n "$peer_dll" ]; then
    wine_quiet reg query "$clsid_key\\InprocServer32" $peer_view || fail "the other bitness lost its registration"
    wine_quiet "$(regsvr32_for $peer_view)" /u /s "$peer_module" || fail "regsvr32 /u \"$peer_module\" exited with $?"
fi
echo "registered, tested and unregistered $module in a fresh prefix"
