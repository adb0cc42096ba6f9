#!/usr/bin/env bash
# valgrind memcheck over kvencode, one run per format: any error, and any
# block still allocated at exit (of whatever kind), fails the run.
#
#   memcheck.sh KVENCODE INPUT
set -uo pipefail
kvencode=$1 input=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-memcheck.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
for format in g711a g711u g7231 quorvan; do
    log=$work/$format.log
    if valgrind --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all --error-exitcode=1 \
        "$kvencode" -f "$format" -i "$input" -o "$work/out.$format" >"$log" 2>&1 </dev/null; then
        [ -s "$work/out.$format" ] || { echo "memcheck $format: no output"; failed=1; continue; }
        echo "memcheck $format: clean;$(sed -n 's/.*total heap usage:/ heap:/p' "$log")"
    else
        cat "$log"
        echo "memcheck $format: FAILED"
        failed=1
    fi
done
exit $failed
