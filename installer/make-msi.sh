#!/usr/bin/env bash
# Builds an installer package with wixl (Debian's msitools).
#
#   make-msi.sh --arch x86|x64 --bin32 DIR [--bin64 DIR] --prefix-source PREFIX -o PACKAGE.msi
#
# x86 installs the DLLs of --bin32; x64 those of --bin64 beside them. The
# registry rows are what registration writes: in a scratch copy of the Wine
# prefix PREFIX (WoW64), regsvr32 registers each DLL, the 32-bit ones first,
# and installer/registry.py turns what appeared under the machine's classes
# into the package's rows. So the package writes exactly what regsvr32 writes,
# and a new class or interface needs nothing here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

# The DLLs, in the order they are registered (a later one's entries win where
# two write the same value, as with regsvr32 in this order).
DLLS=(KvAudioEncoder KvAudioComponents KvAudioDecoder)

arch= bin32= bin64= prefix_source= out=
while [ $# -gt 0 ]; do
    case $1 in
        --arch) arch=$2 ;;
        --bin32) bin32=$2 ;;
        --bin64) bin64=$2 ;;
        --prefix-source) prefix_source=$2 ;;
        -o) out=$2 ;;
        *) echo "make-msi.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift 2
done
if [ -z "$out" ] || [ ! -d "$bin32" ] || [ ! -f "$prefix_source/system.reg" ] ||
    { [ "$arch" != x86 ] && { [ "$arch" != x64 ] || [ ! -d "$bin64" ]; }; }; then
    echo "usage: make-msi.sh --arch x86|x64 --bin32 DIR [--bin64 DIR] --prefix-source PREFIX -o PACKAGE.msi" >&2
    exit 2
fi
version=$(sed -n 's/^project(KvAudioEncoder VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

set -a
. "$root/cmake/wine.env"
set +a
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-msi.XXXXXX")
export WINEPREFIX=$work/prefix
log=$work/wine.log
stop_wine() { wineserver -k >/dev/null 2>&1 </dev/null || true; wineserver -w >/dev/null 2>&1 </dev/null || true; }
trap 'stop_wine; rm -rf "$work"' EXIT
fail() {
    [ -s "$log" ] && cat "$log" >&2
    echo "make-msi.sh: $*" >&2
    exit 1
}

mkdir -p "$WINEPREFIX"
tar -C "$prefix_source" --exclude='./drive_c/users/*/Temp/*' --exclude='./drive_c/windows/temp/*' -cf - . |
    tar -C "$WINEPREFIX" -xf - || fail "cannot copy the Wine prefix $prefix_source"

# Where the DLLs lie while registered: their paths in what registration
# writes become the package's references to its files and folders.
declare -A source=([32]=$bin32 [64]=$bin64) folder=([32]=bin [64]=bin64)
regsvr32=([32]='C:\windows\syswow64\regsvr32.exe' [64]='C:\windows\system32\regsvr32.exe')
bitnesses=(32)
[ "$arch" = x64 ] && bitnesses+=(64)
rows_args=()
for bits in "${bitnesses[@]}"; do
    dir='C:\kvmsi\'${folder[$bits]}
    mkdir -p "$WINEPREFIX/drive_c/kvmsi/${folder[$bits]}"
    for dll in "${DLLS[@]}"; do
        cp "${source[$bits]}/$dll.dll" "$WINEPREFIX/drive_c/kvmsi/${folder[$bits]}/" || fail "no $dll.dll in ${source[$bits]}"
        rows_args+=(--file "$dir\\$dll.dll=$bits:${dll}_$bits:prefix/drive_c/kvmsi/${folder[$bits]}/$dll.dll")
    done
    rows_args+=(--dir "$dir=BIN$bits")
done

# The server writes the registry to its files when it ends.
stop_wine
cp "$WINEPREFIX/system.reg" "$work/before.reg"
for bits in "${bitnesses[@]}"; do
    for dll in "${DLLS[@]}"; do
        wine "${regsvr32[$bits]}" /s "C:\\kvmsi\\${folder[$bits]}\\$dll.dll" >>"$log" 2>&1 </dev/null ||
            fail "regsvr32 could not register the $bits-bit $dll.dll"
    done
done
stop_wine

python3 "$here/registry.py" rows --arch "$arch" --before "$work/before.reg" --after "$WINEPREFIX/system.reg" \
    "${rows_args[@]}" -o "$work/servers.wxs"
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
# The package takes the files that were registered; wixl finds them only by
# a path relative to where it runs.
(cd "$work" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -o "$out" "$here/KvAudioEncoder.wxs" servers.wxs) \
    >>"$log" 2>&1 || fail "wixl could not build $out"
# wixl writes HKMU as 4; Windows Installer's root for "the machine's or the
# user's, as the installation is" is -1.
msibuild "$out" -q "UPDATE Registry SET Root = -1 WHERE Root = 4" >>"$log" 2>&1 || fail "cannot set the registry root of $out"
