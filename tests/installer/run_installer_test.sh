#!/usr/bin/env bash
# The installer package as a user meets it, in a fresh prefix, for each mode
# of the table below: msiexec installs it quietly; the classes are then used
# by a script and a C++ client of each bitness the package installs
# (encode.vbs under cscript, kvcapture.exe), which must give kvencode's
# stream; what the package wrote into the registry must be what regsvr32
# writes for the same files; msiexec uninstalls it, and no file and no key
# may be left.
#
#   run_installer_test.sh --arch x86|x64 --bin32 DIR [--bin64 DIR] --kvcapture32 EXE
#                         [--kvcapture64 EXE] --kvencode EXE --script VBS --input WAV
#                         [--prefix-source DIR]
set -uo pipefail

arch= bin32= bin64= kvcapture32= kvcapture64= kvencode= script= input= prefix_source=
while [ $# -gt 0 ]; do
    case $1 in
        --arch) arch=$2 ;;
        --bin32) bin32=$2 ;;
        --bin64) bin64=$2 ;;
        --kvcapture32) kvcapture32=$2 ;;
        --kvcapture64) kvcapture64=$2 ;;
        --kvencode) kvencode=$2 ;;
        --script) script=$2 ;;
        --input) input=$2 ;;
        --prefix-source) prefix_source=$2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift 2
done
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/prefix.sh"
start_private_prefix "${prefix_source:-${WINEPREFIX:-}}"
forget_our_registrations

# How each mode is asked for. Wine 8's msiexec has no MSIINSTALLPERUSER (it
# installs for the machine): ALLUSERS="" asks for the user there.
modes=("machine" "user ALLUSERS=\"\"")
# The bitnesses the package installs: folder, regsvr32, script host, client.
bitnesses=(32)
[ "$arch" = x64 ] && bitnesses+=(64)
declare -A folder=([32]="Program Files (x86)/KvAudioEncoder/bin" [64]="Program Files/KvAudioEncoder/bin64")
declare -A cscript=([32]='C:\windows\syswow64\cscript.exe' [64]='C:\windows\system32\cscript.exe')
declare -A view=([32]=/reg:32 [64]=/reg:64) client=([32]=$kvcapture32 [64]=$kvcapture64) bin=([32]=$bin32 [64]=$bin64)
dlls=$(sed -n 's/^DLLS=(\(.*\))$/\1/p' "$here/../../installer/make-msi.sh")
[ -n "$dlls" ] || fail "no DLLS=(...) in installer/make-msi.sh"

package=$work/KvAudioEncoder-$arch.msi
bash "$here/../../installer/make-msi.sh" --arch "$arch" --bin32 "$bin32" ${bin64:+--bin64 "$bin64"} \
    --prefix-source "$WINEPREFIX" -o "$package" >>"$log" 2>&1 || fail "make-msi.sh could not build the package"

c=$WINEPREFIX/drive_c
cp "$input" "$c/in.wav" && cp "$script" "$c/encode.vbs" || fail "cannot copy the input and the script"
wine_quiet "$kvencode" -f g7231 -i 'C:\in.wav' -o 'C:\expected.g7231' || fail "kvencode exited with $?"
# The script host registers its own type library when it first runs: before
# the registry is saved, not between two saves.
: >"$c/nothing.vbs"
for bits in "${bitnesses[@]}"; do
    "$(wine_for "${view[$bits]}")" "${cscript[$bits]}" //nologo 'C:\nothing.vbs' >>"$log" 2>&1 </dev/null ||
        fail "cscript ($bits-bit) exited with $?"
done

# save NAME: the registry as Wine keeps it (its server writes it when it
# ends), and the list of files.
save() {
    wineserver -k >/dev/null 2>&1 </dev/null
    wineserver -w >/dev/null 2>&1 </dev/null
    mkdir -p "$work/$1"
    cp "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" "$work/$1/"
    # Windows Installer's own folder of cached packages stays, emptied.
    (cd "$c" && find . \( -path './users/*/Temp' -o -path ./windows/temp -o -path ./windows/logs \) -prune -o \
        ! -path ./windows/Installer -print | sort) >"$work/$1/files"
}
python=(python3 "$here/check_registry.py")
# The C: path of a path under drive_c, as the package writes it.
cpath() { local p=$1; printf 'C:\\%s' "${p//\//\\}"; }

status=0
for entry in "${modes[@]}"; do
    read -r mode options <<<"$entry"
    echo "== $arch package, $mode"
    save before
    wine_quiet msiexec /i "$(winpath "$package")" /qn $options || fail "msiexec /i ($mode) exited with $?"
    for bits in "${bitnesses[@]}"; do
        for dll in $dlls; do
            [ -f "$c/${folder[$bits]}/$dll.dll" ] || fail "$dll.dll ($bits-bit) is not in C:/${folder[$bits]}"
        done
    done
    save installed

    if [ "$mode" = machine ]; then
        for bits in "${bitnesses[@]}"; do
            rm -f "$c/script.g7231" "$c/client.g7231"
            "$(wine_for "${view[$bits]}")" "${cscript[$bits]}" //nologo 'C:\encode.vbs' G7231 'C:\in.wav' 'C:\script.g7231' \
                >>"$log" 2>&1 </dev/null || fail "encode.vbs ($bits-bit) exited with $?"
            wine_quiet "${client[$bits]}" G7231 'C:\client.g7231' 'C:\in.wav' || fail "kvcapture ($bits-bit) exited with $?"
            for out in script client; do
                if [ -s "$c/expected.g7231" ] && cmp -s "$c/expected.g7231" "$c/$out.g7231"; then
                    echo "ok: the $bits-bit $out encoded through the installed classes, as kvencode"
                else
                    echo "FAILED: the $bits-bit $out's stream differs from kvencode's"; status=1
                fi
            done
        done
        rm -f "$c/script.g7231" "$c/client.g7231"
    else
        echo "not used: Wine 8 creates no class from the user's class keys"
    fi

    wine_quiet msiexec /x "$(winpath "$package")" /qn $options || fail "msiexec /x ($mode) exited with $?"
    save uninstalled
    if "${python[@]}" clean "$work/before" "$work/uninstalled" && diff "$work/before/files" "$work/uninstalled/files"; then
        echo "ok: uninstalled, no file and no key left"
    else
        echo "FAILED: the uninstallation left the above"; status=1
    fi

    # What regsvr32 writes for the same files, registered in the package's order.
    for bits in "${bitnesses[@]}"; do
        mkdir -p "$c/${folder[$bits]}"
        for dll in $dlls; do cp "${bin[$bits]}/$dll.dll" "$c/${folder[$bits]}/"; done
    done
    flags=()
    [ "$mode" = user ] && flags=(/n /i:user)
    saves=()
    for bits in "${bitnesses[@]}"; do
        for dll in $dlls; do
            wine_quiet "$(regsvr32_for "${view[$bits]}")" /s "${flags[@]}" "$(cpath "${folder[$bits]}/$dll.dll")" ||
                fail "regsvr32 $dll.dll ($bits-bit, $mode) exited with $?"
        done
        save "regsvr32-$bits"
        saves+=("$work/regsvr32-$bits")
    done
    if "${python[@]}" same --arch "$arch" --mode "$mode" "$work/before" "$work/installed" "${saves[@]}"; then
        echo "ok: the package wrote what regsvr32 writes ($mode)"
    else
        echo "FAILED: the package's registry entries differ from regsvr32's ($mode)"; status=1
    fi
    for bits in "${bitnesses[@]}"; do
        for dll in $dlls; do
            wine_quiet "$(regsvr32_for "${view[$bits]}")" /s /u "${flags[@]}" "$(cpath "${folder[$bits]}/$dll.dll")" ||
                fail "regsvr32 /u $dll.dll ($bits-bit, $mode) exited with $?"
        done
    done
    rm -rf "$c/Program Files (x86)/KvAudioEncoder" "$c/Program Files/KvAudioEncoder"
done
[ $status -eq 0 ] || fail "the $arch package"
echo "the $arch package installed, served and uninstalled cleanly, per machine and per user"
