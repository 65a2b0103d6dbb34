#!/usr/bin/env bash
# kvx-convert from the outside: the worked examples byte for byte, the capture file left as it
# was, messages on stderr in UTF-8, and the exit statuses.
# Usage: kvx_convert_test.sh KVX_CONVERT DATA_FOLDER
set -uo pipefail
convert=$1
data=$2
work=$(mktemp -d /tmp/kvx-convert-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/shell_checks.sh"


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

# Any name the system takes: a space, characters that code page 932 lacks, and "ā" (C4 81),
# whose second byte a reading in code page 932 would take for the start of a character.
odd_name="$work/café ☃ ā"
run "$odd_name" --kind 1 "$data/worked-example-kind1.capture"
odd_name_converted() {
  same_csv "$odd_name/QM-DATA/QM-0001.csv" "$data/worked-example-kind1-relative.csv" &&
    [ "$(cat "$work/out")" = "$odd_name/QM-DATA/QM-0001.csv" ]
}
check "a folder whose name code page 932 cannot write: the worked example, its path on stdout" \
  odd_name_converted

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

check "a well-formed capture gives no warning" [ ! -s "$work/err" ]

# Every way a conversion can stop has its own exit status, and its message on stderr in UTF-8.
mkdir -p "$work/full/QM-DATA" && touch "$work/full/QM-DATA/QM-9999.csv"
run "$work/full" --kind 1 "$data/worked-example-kind1.capture"
check "the numbers used up at QM-9999.csv: exit status 6" \
  bash -c "grep -q 'QM-9999.csv”を超えます。' '$work/err' && [ \$(cat '$work/status') = 6 ]"
mkdir -p "$work/nofolder" && touch "$work/nofolder/QM-DATA"
run "$work/nofolder" --kind 1 "$data/worked-example-kind1.capture"
check "QM-DATA cannot be made: exit status 4, and the system's reason" \
  bash -c "grep -q 'QM-DATAフォルダの作成に失敗しました。' '$work/err' &&
           grep -qx 'kvx-convert: $work/nofolder/QM-DATA: File exists' '$work/err' &&
           [ \$(cat '$work/status') = 4 ]"
long=$work/$(printf 'a%.0s' $(seq 230))
run "$long" --kind 1 "$data/worked-example-kind1.capture"
check "a CSV path over 255 bytes: exit status 5, no file, and the reason" \
  bash -c "grep -q 'QM-DATAフォルダを確認して下さい。' '$work/err' &&
           grep -qx \"kvx-convert: the CSV file's path would be longer than 255 bytes\" '$work/err' &&
           [ \$(cat '$work/status') = 5 ] && [ -z \"\$(ls '$long/QM-DATA')\" ]"
run "$work/unreadable" --kind 1 "$work"
check "a capture that is a folder: exit status 3" [ "$(cat "$work/status")" = 3 ]

header() {  # layout count: a kind-1 header record with that many samples
  printf '0001070315103000000000%s000000000000000000000%06X0000000000' "$1" "$2"
}
{ header 4 2; printf '00G10002'; header 4 3; printf '00EB00EB'; } >"$work/odd-capture"
printf 'This is no capture.\n' >"$work/text"
{ header 4 1; printf '00EB'; header 7 0; } >"$work/odd-layout"

# What no instrument of the kind sends is refused before anything is written: exit status 3,
# one line naming the first group that is not as it should be.
refused() {  # capture kind said
  run "$work/refused" --kind "$2" "$1"
  check "refused: $(basename "$1") as kind $2: $3" \
    [ "$(cat "$work/status")/$(cat "$work/out")/$(cat "$work/err")/$(ls "$work/refused")" = \
    "3//kvx-convert: $1 is not a kind-$2 capture: $3/" ]
}
refused "$work/text" 1 "group 1 (at offset 0): its header record has only 20 of its 60 characters"
refused "$work/odd-capture" 1 "group 1 (at offset 0): its samples hold a character that is no $(
  )hexadecimal digit (at offset 62)"
refused "$work/odd-layout" 1 "group 2 (at offset 64): its header record's layout code $(
  )(character 22) is not 0 or 4"
refused "$data/worked-example-kind2.capture" 1 "group 2 (at offset 72): its header record has $(
  )only 24 of its 60 characters; this looks like a kind-2 capture: use --kind 2"
refused "$data/worked-example-kind1.capture" 2 "group 1 (at offset 0): its header record declares $(
  )2 samples (24 characters), the capture holds 8; this looks like a kind-1 capture: use --kind 1"

# With --force, groups that are not the instrument's own data are written as the layout says,
# as the program converts a transfer, with a warning once per group.
run "$work/odd" --kind 1 --force "$work/odd-capture"
check "--force: a short group and one with a non-digit: one warning each, exit status 0" \
  bash -c "[ \$(cat '$work/status') = 0 ] && [ \$(wc -l <'$work/err') = 2 ] &&
           grep -q 'group 1 (QM-0001.csv) holds a character that is no hexadecimal digit' \
             '$work/err' &&
           grep -q 'group 2 (QM-0002.csv) declares 3 samples, the capture holds 2' '$work/err' &&
           [ \$(ls '$work/odd/QM-DATA' | wc -l) = 2 ]"

# A signal in the middle of a group: that group's file goes, the complete one before it stays.
{ header 4 1; printf '00EB'; header 4 3000000; head -c 12000000 /dev/zero | tr '\0' '0'; } \
  >"$work/big-capture"
{ header 4 1; printf '00EB'; } >"$work/first-group"
run "$work/first" --kind 1 "$work/first-group"
for signal in TERM:143 HUP:129 INT:130; do
  name=${signal%:*}
  folder=$work/signal-$name
  mkdir -p "$folder"
  # A background job of a script starts with SIGINT ignored, as kvx-convert leaves it then.
  env --default-signal=INT "$convert" --kind 1 --folder "$folder" "$work/big-capture" \
    >/dev/null 2>"$work/err" &
  pid=$!
  for _ in $(seq 3000); do [ -e "$folder/QM-DATA/QM-0002.csv" ] && break; sleep 0.01; done
  kill -STOP $pid  # held still while the signal is sent, so that it lands within the group
  kill -$name $pid
  kill -CONT $pid
  wait $pid
  status=$?
  check "SIG$name during a group: exit status ${signal#*:}, its file removed, the one before kept" \
    bash -c "[ $status = ${signal#*:} ] && [ \$(ls '$folder/QM-DATA') = QM-0001.csv ] &&
             cmp -s '$folder/QM-DATA/QM-0001.csv' '$work/first/QM-DATA/QM-0001.csv'"
done

capture1=$data/worked-example-kind1.capture
usage_error "$convert" "--kind is missing"
usage_error "$convert" "--kind must be 1 or 2" --kind 3 --folder "$work" "$capture1"
usage_error "$convert" "--time must be relative or absolute" --kind 1 --time later \
  --folder "$work" "$capture1"
usage_error "$convert" "--folder is missing" --kind 1 "$capture1"
usage_error "$convert" "--kind is given twice" --kind 1 --kind 2 --folder "$work" "$capture1"
usage_error "$convert" "give one capture file" --kind 1 --folder "$work"
"$convert" --kind 1 --folder "$work" "$work/no-such-capture" >/dev/null 2>"$work/err"
check "a missing capture file: exit status 3 with its reason" \
  bash -c "[ $? = 3 ] && grep -q 'cannot read the capture file' '$work/err'"
usage_error "$convert" "no folder $work/no-such-folder" --kind 1 --folder "$work/no-such-folder" \
  "$capture1"
for help in --help -h; do
  "$convert" $help >"$work/out"
  check "$help: exit status 0 and the usage text" \
    bash -c "[ $? = 0 ] && grep -q '^Usage: kvx-convert' '$work/out'"
done
for version in --version -V; do
  "$convert" $version >"$work/out"
  check "$version: exit status 0 and the version alone, on stdout" \
    bash -c "[ $? = 0 ] && grep -qxE 'kvx-convert [0-9]+(\\.[0-9]+){1,3}' '$work/out'"
done

[ $failures -eq 0 ]
