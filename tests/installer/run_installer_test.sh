#!/usr/bin/env bash
# The installer package as a user meets it, in a fresh prefix, in each mode of
# the table below: msiexec installs it quietly; a script and a C++ client of
# each bitness it installs (encode.vbs, kvcapture.exe) encode through it and
# must give kvencode's stream; msiexec uninstalls it, leaving no file and no
# key; and what it wrote into the registry must be what regsvr32 writes for
# the same files.
#
#   run_installer_test.sh --arch x86|x64 --bin32 DIR [--bin64 DIR] --kvcapture32 EXE
#       [--kvcapture64 EXE] --kvencode EXE --script VBS --input WAV [--prefix-source DIR]
set -uo pipefail
arch= bin32= bin64= kvcapture32= kvcapture64= kvencode= script= input= prefix_source=
while [ $# -gt 1 ]; do  # --name value sets $name (dashes as underscores)
    name=${1#--}
    printf -v "${name//-/_}" '%s' "$2"
    shift 2
done
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/prefix.sh"
start_private_prefix "${prefix_source:-${WINEPREFIX:-}}"
forget_our_registrations

# Wine 8's msiexec has no MSIINSTALLPERUSER (it installs for the machine):
# ALLUSERS="" asks for the user there. Wine creates no class from the user's
# keys, so only the machine's installation is used.
modes=("machine" "user ALLUSERS=\"\"")
bitnesses=(32)
[ "$arch" = x64 ] && bitnesses+=(64)
declare -A folder=([32]="Program Files (x86)/KvAudioEncoder/bin" [64]="Program Files/KvAudioEncoder/bin64")
declare -A cscript=([32]='C:\windows\syswow64\cscript.exe' [64]='C:\windows\system32\cscript.exe')
declare -A view=([32]=/reg:32 [64]=/reg:64) client=([32]=$kvcapture32 [64]=$kvcapture64) bin=([32]=$bin32 [64]=$bin64)
dlls=$(sed -n 's/^DLLS=(\(.*\))$/\1/p' "$here/../../installer/make-msi.sh")
package=$work/KvAudioEncoder-$arch.msi
bash "$here/../../installer/make-msi.sh" --arch "$arch" --bin32 "$bin32" ${bin64:+--bin64 "$bin64"} \
    --prefix-source "$WINEPREFIX" -o "$package" >>"$log" 2>&1 || fail "make-msi.sh could not build the package"

c=$WINEPREFIX/drive_c
cp "$input" "$c/in.wav" && cp "$script" "$c/encode.vbs" && : >"$c/nothing.vbs" || fail "cannot copy the input"
wine_quiet "$kvencode" -f g7231 -i 'C:\in.wav' -o 'C:\expected.g7231' || fail "kvencode exited with $?"
# The script host registers its own type library when it first runs.
for bits in "${bitnesses[@]}"; do
    "$(wine_for "${view[$bits]}")" "${cscript[$bits]}" //nologo 'C:\nothing.vbs' >>"$log" 2>&1 </dev/null
done

# save NAME: the registry as Wine's server writes it when it ends, and the
# files (Windows Installer's own folder of cached packages stays, emptied).
save() {
    wineserver -k >/dev/null 2>&1 </dev/null
    wineserver -w >/dev/null 2>&1 </dev/null
    mkdir -p "$work/$1" && cp "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" "$work/$1/"
    (cd "$c" && find . \( -path './users/*/Temp' -o -path ./windows/temp -o -path ./windows/logs \) -prune -o \
        ! -path ./windows/Installer -print | sort) >"$work/$1/files"
}
check() {  # check WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; status=1; fi
}
# regsvr32_all FLAGS...: every DLL where the package puts it, 32-bit first.
regsvr32_all() {
    local bits dll p
    for bits in "${bitnesses[@]}"; do
        for dll in $dlls; do
            p=${folder[$bits]}/$dll.dll
            wine_quiet "$(regsvr32_for "${view[$bits]}")" /s "$@" "C:\\${p//\//\\}" || fail "regsvr32 $* $p exited with $?"
        done
        [ "${1:-}" = /u ] || save "regsvr32-$bits"
    done
}

status=0
for entry in "${modes[@]}"; do
    read -r mode options <<<"$entry"
    echo "== $arch package, $mode"
    flags=()
    [ "$mode" = user ] && flags=(/n /i:user)
    save before
    wine_quiet msiexec /i "$(winpath "$package")" /qn $options || fail "msiexec /i ($mode) exited with $?"
    save installed
    for bits in "${bitnesses[@]}"; do
        [ "$mode" = machine ] || break
        rm -f "$work"/out.*
        "$(wine_for "${view[$bits]}")" "${cscript[$bits]}" //nologo 'C:\encode.vbs' G7231 'C:\in.wav' \
            "$(winpath "$work/out.script")" >>"$log" 2>&1 </dev/null
        wine_quiet "${client[$bits]}" G7231 "$(winpath "$work/out.client")" 'C:\in.wav'
        for out in script client; do
            check "the $bits-bit $out encodes through the installed classes as kvencode does" \
                cmp "$c/expected.g7231" "$work/out.$out"
        done
    done
    wine_quiet msiexec /x "$(winpath "$package")" /qn $options || fail "msiexec /x ($mode) exited with $?"
    save uninstalled
    check "uninstalled: no key left" python3 "$here/check_registry.py" clean "$work/before" "$work/uninstalled"
    check "uninstalled: no file left" diff "$work/before/files" "$work/uninstalled/files"

    for bits in "${bitnesses[@]}"; do
        mkdir -p "$c/${folder[$bits]}" && for dll in $dlls; do cp "${bin[$bits]}/$dll.dll" "$c/${folder[$bits]}/"; done
    done
    regsvr32_all "${flags[@]}"
    check "the package wrote what regsvr32 writes ($mode)" python3 "$here/check_registry.py" same "$work/before" \
        "$work/installed" "${bitnesses[@]/#/$work/regsvr32-}"
    regsvr32_all /u "${flags[@]}"
    rm -rf "$c/Program Files (x86)/KvAudioEncoder" "$c/Program Files/KvAudioEncoder"
done
[ $status -eq 0 ] || fail "the $arch package"
echo "the $arch package installed, served and uninstalled cleanly, per machine and per user"
