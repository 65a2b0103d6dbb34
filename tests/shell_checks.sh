# shellcheck shell=bash
# Sourced by the shell tests. `check DESCRIPTION COMMAND...` runs the command and prints
# "ok   DESCRIPTION" or "FAIL DESCRIPTION", counting the failures in $failures; a test ends
# with `[ $failures -eq 0 ]`. `same_csv FILE EXPECTED` compares a CSV file as written (code page
# 932, CR LF) with an expected text kept in UTF-8 with LF.
failures=0

check() {
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

same_csv() { cmp -s "$1" <(iconv -f utf-8 -t cp932 "$2" | sed 's/$/\r/'); }

# usage_error PROGRAM SAID ARGUMENT...: PROGRAM run with the arguments ends with exit status 2,
# having written nothing but "<name>: SAID" and where to read on, on stderr.
usage_error() {
  local program=$1 said=$2 status=0 name
  shift 2
  name=$(basename "$program")
  "$program" "$@" >"$work/usage.out" 2>"$work/usage.err" || status=$?
  check "usage error: $name $*: \"$said\"" \
    [ "$status/$(cat "$work/usage.out")/$(cat "$work/usage.err")" = \
    "2//$name: $said"$'\n'"Try '$name --help'." ]
}
