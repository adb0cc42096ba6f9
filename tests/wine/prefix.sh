# Sourced by the Wine test runners: a throwaway copy of the project's prefix
# for one run, so a run neither sees nor leaves registry state anywhere else.
#
#   start_private_prefix SOURCE_PREFIX   sets WINEPREFIX, work, log; cleans up at exit
#   wine_quiet COMMAND...                runs Wine with its output in $log
#   winpath PATH                         the Windows path of a Linux path
#   fail MESSAGE                         prints it (and Wine's output) and exits 1
#   regsvr32_for /reg:32|/reg:64         the regsvr32 that registers into that registry view
#   wine_for /reg:32|/reg:64             the Wine loader for a system program of that bitness
#   published NAME FIELD                 an identity of tests/published_ids.h, e.g. published kG711A clsid
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

# The identities the tests know, read from tests/published_ids.h, where each
# `.field = "text"` stands on one line.
published_ids=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/published_ids.h

# published NAME FIELD: the text of FIELD in the entry NAME, e.g. kG711A clsid.
published() { sed -n "/constexpr [A-Za-z]* $1{/,/;/s/.*[.]$2 = \"\([^\"]*\)\".*/\1/p" "$published_ids"; }

# Every key a module of ours may write under a classes root: its classes,
# ProgIDs, AppID, type libraries and their interfaces.
our_keys() {
    grep -o -e '[.][A-Za-z]* = "[^"]*"' -e 'k[A-Za-z]*Iid = "[^"]*"' "$published_ids" | sed -n \
        -e 's/^[.]clsid = "\(.*\)"$/CLSID\\\1/p' \
        -e 's/^[.]versionIndependentProgId = "\(.*\)"$/\1\n\1.1/p' \
        -e 's/^[.]appId\(Module\)\{0,1\} = "\(.*\)"$/AppID\\\2/p' \
        -e 's/^[.]libId = "\(.*\)"$/TypeLib\\\1/p' \
        -e 's/^[.k][A-Za-z]*Iid = "\(.*\)"$/Interface\\\1/p'
}

# The copy may hold what other tests were doing in the project's prefix when
# it was taken: start without any entry of our DLLs or of KvLib, in either
# registry view and for the user.
forget_our_registrations() {
    local keys
    keys=$(our_keys)
    [ -n "$keys" ] || fail "no identities in $published_ids"
    {
        printf 'REGEDIT4\n\n'
        printf '%s\n' "$keys" | sed 's/.*/[-HKEY_CLASSES_ROOT\\&]\n[-HKEY_CURRENT_USER\\Software\\Classes\\&]/'
    } >"$work/clean.reg"
    wine_quiet regedit /s "$(winpath "$work/clean.reg")" || fail "regedit"
    wine_quiet 'C:\windows\syswow64\regedit.exe' /s "$(winpath "$work/clean.reg")" || fail "regedit (32-bit)"
}
