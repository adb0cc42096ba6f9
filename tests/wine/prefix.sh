# Sourced by the Wine test runners: a throwaway copy of the project's prefix
# for one run, so a run neither sees nor leaves registry state anywhere else.
#
#   start_private_prefix SOURCE_PREFIX   sets WINEPREFIX, work, log; cleans up at exit
#   wine_quiet COMMAND...                runs Wine with its output in $log
#   winpath PATH                         the Windows path of a Linux path
#   fail MESSAGE                         prints it (and Wine's output) and exits 1
#   regsvr32_for /reg:32|/reg:64         the regsvr32 that registers into that registry view
#   wine_for /reg:32|/reg:64             the Wine loader for a system program of that bitness
#
# The prefix is WoW64: 32-bit modules register through the 32-bit regsvr32
# into the 32-bit view, 64-bit ones into the 64-bit view.

set -a
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/../../cmake" && pwd)/wine.env"
set +a

fail() {
    echo "FAILED: $*"
    [ -s "${log:-}" ] && { echo "--- Wine output ---"; cat "$log"; }
    exit 1
}

# Wine's own output never goes to CTest's pipe: Wine's server and services
# outlive the command that starts them, and CTest would wait for them.
wine_quiet() { wine "$@" >>"$log" 2>&1 </dev/null; }

# A Windows path for a path on the Linux side (drive Z: is the root).
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

regsvr32_for() { [ "$1" = /reg:32 ] && echo 'C:\windows\syswow64\regsvr32.exe' || echo 'C:\windows\system32\regsvr32.exe'; }

# The loader for a system program of that view's bitness. Debian's `wine` is
# the 32-bit loader, and for it C:\windows\system32 is syswow64: a 64-bit
# script host needs the 64-bit loader. (regsvr32 finds the right one itself.)
wine_for() {
    if [ "$1" = /reg:64 ]; then
        command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || echo wine
    else
        echo wine
    fi
}

start_private_prefix() {
    local source_prefix=$1
    work=$(mktemp -d "${TMPDIR:-/tmp}/kv-wine-test.XXXXXX")
    export WINEPREFIX=$work/prefix
    log=$work/wine.log
    trap _end_private_prefix EXIT
    trap 'exit 143' TERM INT

    if [ -n "$source_prefix" ] && grep -q '^#arch=win64' "$source_prefix/system.reg" 2>/dev/null; then
        # Other tests run in the source prefix meanwhile: their scratch files
        # come and go, so what the temporary folders hold is left out of the
        # copy. A file that changes while it is read still comes over, so
        # only the unpacking side decides.
        mkdir -p "$WINEPREFIX"
        { tar -C "$source_prefix" --exclude='./drive_c/users/*/Temp/*' \
            --exclude='./drive_c/users/*/AppData/Local/Temp/*' --exclude='./drive_c/windows/temp/*' \
            --ignore-failed-read -cf - . 2>/dev/null || true; } |
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
}

_end_private_prefix() {
    # Ends this prefix's server and every process of it, then the prefix.
    wineserver -k >/dev/null 2>&1 </dev/null
    wineserver -w >/dev/null 2>&1 </dev/null
    rm -rf "$work"
}

# The copy may hold what other tests were doing in the project's prefix when
# it was taken: start without any entry of our DLLs or of KvLib, in either
# registry view and for the user.
forget_our_registrations() {
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
    sed -n 's/^\[-HKEY_CLASSES_ROOT\\/[-HKEY_CURRENT_USER\\Software\\Classes\\/p' "$work/clean.reg" >"$work/user.reg"
    cat "$work/user.reg" >>"$work/clean.reg"
    wine_quiet regedit /s "$(winpath "$work/clean.reg")" || fail "regedit"
    wine_quiet 'C:\windows\syswow64\regedit.exe' /s "$(winpath "$work/clean.reg")" || fail "regedit (32-bit)"
}
