#!/usr/bin/env bash
# kvx-convert from the outside: the worked examples byte for byte, the capture file left as it
# was, messages on stderr in UTF-8, and the exit statuses.
# Usage: kvx_convert_test.sh KVX_CONVERT DATA_FOLDER
set -uo pipefail
convert=$1
data=$2
work=$(mktemp -d /tmp/kvx-convert-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

# The expected CSV text is kept in UTF-8 with LF; the program writes code page 932 with CR LF.
same_csv() { cmp -s "$1" <(iconv -f utf-8 -t cp932 "$2" | sed 's/$/\r/'); }

run() {  # folder, then kvx-convert's options; keeps stdout, stderr and the exit status
  local folder=$1
  shift
  mkdir -p "$folder"
  "$convert" "$@" --folder "$folder" >"$work/out" 2>"$work/err"
  echo $? >"$work/status"
}

run "$work/k1r" --kind 1 "$data/worked-example-kind1.capture"
check "kind 1, relative time: the worked example" \
  same_csv "$work/k1r/QM-DATA/QM-0001.csv" "$data/worked-example-kind1-relative.csv"
check "the files written are listed on stdout" \
  grep -qx "$work/k1r/QM-DATA/QM-0001.csv" "$work/out"

run "$work/k1a" --kind 1 --time absolute "$data/worked-example-kind1.capture"
check "kind 1, absolute time: the worked example" \
  same_csv "$work/k1a/QM-DATA/QM-0001.csv" "$data/worked-example-kind1-absolute.csv"

for time in relative absolute; do
  mkdir -p "$work/k2$time/QM-DATA" && echo earlier >"$work/k2$time/QM-DATA/QM-0001.csv"
  run "$work/k2$time" --kind 2 --time $time "$data/worked-example-kind2.capture"
  check "kind 2, layout 4, $time time: the worked example as QM-0002.csv" \
    same_csv "$work/k2$time/QM-DATA/QM-0002.csv" "$data/worked-example-kind2.csv"
done

cp "$data/worked-example-kind1.capture" "$work/capture"
touch -d '2001-01-01' "$work/capture"
before=$(stat -c %Y "$work/capture")
run "$work/unchanged" --kind 1 "$work/capture"
check "the capture file is left as it was" \
  bash -c "cmp -s '$work/capture' '$data/worked-example-kind1.capture' &&
           [ \$(stat -c %Y '$work/capture') = $before ]"

mkdir -p "$work/full/QM-DATA" && touch "$work/full/QM-DATA/QM-9999.csv"
run "$work/full" --kind 1 "$data/worked-example-kind1.capture"
check "a stop is told on stderr in UTF-8, and the conversion still ends with 0" \
  bash -c "grep -q 'QM-9999.csv”を超えます。' '$work/err' && [ \$(cat '$work/status') = 0 ]"

"$convert" >/dev/null 2>&1
check "no arguments: exit status 2" [ $? = 2 ]
"$convert" --kind 3 --folder "$work" "$data/worked-example-kind1.capture" >/dev/null 2>&1
check "--kind 3: exit status 2" [ $? = 2 ]
"$convert" --kind 1 --time later --folder "$work" "$data/worked-example-kind1.capture" \
  >/dev/null 2>&1
check "--time later: exit status 2" [ $? = 2 ]
"$convert" --kind 1 --folder "$work" "$work/no-such-capture" >/dev/null 2>"$work/err"
check "a missing capture file: exit status 2 with its reason" \
  bash -c "[ $? = 2 ] && grep -q 'cannot read the capture file' '$work/err'"
"$convert" --help >"$work/out"
check "--help: exit status 0 and the usage text" \
  bash -c "[ $? = 0 ] && grep -q '^Usage: kvx-convert' '$work/out'"

[ $failures -eq 0 ]
