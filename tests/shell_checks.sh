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
