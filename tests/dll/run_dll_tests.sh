#!/usr/bin/env bash
# Runs dll_client_test against the real KvAudioEncoder.dll in a Wine prefix of
# its own: a copy of the project's prefix, thrown away afterwards, so the run
# neither sees nor leaves registry state anywhere else.
#
#   run_dll_tests.sh --name NAME --results DIR --client EXE --dll DLL
#                    --kvlib TLB --data DIR [--prefix-source DIR] [--arg ARG]...
#
# Installs the module as a user would, into a folder whose path has spaces and
# an apostrophe, registers it with regsvr32, runs the client with its report
# in DIR/NAME.xml (and every --arg on its command line), unregisters it and
# checks that it is gone.
set -uo pipefail

name= results= client= dll= kvlib= data= prefix_source=
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
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done
for v in name results client dll kvlib data; do
    [ -n "${!v}" ] || { echo "missing --$v" >&2; exit 2; }
done

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
clsid_key='HKCR\CLSID\{E078E6AE-97CD-4380-BC5A-E46C838177DC}'

wine_quiet regsvr32 /s "$module" || fail "regsvr32 /s \"$module\" exited with $?"
wine_quiet reg query "$clsid_key\\InprocServer32" || fail "regsvr32 registered nothing"

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
