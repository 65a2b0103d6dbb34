#!/usr/bin/env bash
# kvx-chart from the outside: the worked examples charted beside their CSV files, into a folder
# and onto one page; files that are not KVX-300's CSV files turned away with one line and no
# chart; every exit status.
# Usage: kvx_chart_test.sh KVX_CHART DATA_FOLDER
set -uo pipefail
chart=$1
data=$2
work=$(mktemp -d /tmp/kvx-chart-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/shell_checks.sh"

run() {  # kvx-chart's arguments; keeps stdout, stderr and the exit status
  "$chart" "$@" >"$work/out" 2>"$work/err"
  echo $? >"$work/status"
}
status() { [ "$(cat "$work/status")" = "$1" ]; }
one_line_error() { [ "$(wc -l <"$work/err")" = 1 ] && grep -q "^kvx-chart: .*$1" "$work/err"; }
no_leftovers() { [ -z "$(find "$work" -name '*.tmp')" ]; }
well_formed() { ! command -v python3 >/dev/null || python3 -c \
  'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$1"; }
# The checks run in their own shells.
export work
export -f status one_line_error no_leftovers well_formed

# The worked examples as the program writes them: code page 932, CR LF.
mkdir -p "$work/csv"
for example in "$data"/worked-example-*.csv; do
  iconv -f utf-8 -t cp932 "$example" | sed 's/$/\r/' >"$work/csv/$(basename "$example")"
done
k1r=$work/csv/worked-example-kind1-relative
k1a=$work/csv/worked-example-kind1-absolute
k2=$work/csv/worked-example-kind2

run "$k1r.csv" "$k1a.csv" "$k2.csv"
check "the worked examples: exit status 0" status 0
check "each chart beside its CSV file, listed on stdout" \
  bash -c "[ -s '$k1r.svg' ] && [ -s '$k1a.svg' ] && [ -s '$k2.svg' ] &&
           [ \"\$(cat '$work/out')\" = \"$k1r.svg
$k1a.svg
$k2.svg\" ]"
check "nothing on stderr" [ ! -s "$work/err" ]
for svg in "$k1r.svg" "$k1a.svg" "$k2.svg"; do
  check "$(basename "$svg") is well-formed XML with a fixed viewBox" \
    bash -c "well_formed '$svg' && grep -q 'viewBox=\"0 0 960 440\"' '$svg'"
done
check "kind 1: one reading drawn, and one mark for 32767 at the top" \
  bash -c "[ \$(grep -c 'class=\"dot\"' '$k1r.svg') = 1 ] &&
           [ \$(grep -c 'class=\"over-range\"' '$k1r.svg') = 1 ] &&
           grep -q '№1: 32767' '$k1r.svg'"
check "kind 1, relative: elapsed time on the axis, title with start time and interval" \
  bash -c "grep -q '>経過時間 (時:分:秒)<' '$k1r.svg' && grep -q '>0:01:00<' '$k1r.svg' &&
           grep -q '>測定開始 07/03/15 10:30:00　インターバル 01分00秒<' '$k1r.svg'"
check "kind 1, absolute: calendar times and the date on the axis" \
  bash -c "grep -q '>日時<' '$k1a.svg' && grep -q '>10:31:00<' '$k1a.svg' &&
           grep -q '>07/03/15<' '$k1a.svg'"
check "kind 2: the measurement clock, in °F, with minimum, maximum and mean" \
  bash -c "grep -q '>計測時間 (時:分:秒)<' '$k2.svg' && grep -q '>1:05:20<' '$k2.svg' &&
           grep -q 'class=\"unit\"[^>]*>°F<' '$k2.svg' &&
           grep -q '>最小 -10.0 °F　最大 23.5 °F　平均 6.75 °F<' '$k2.svg'"
check "kind 2: the line broken where the reading was out of range" \
  bash -c "[ \$(grep -c 'class=\"readings\"' '$k2.svg') = 2 ] &&
           [ \$(grep -c 'class=\"over-range\"' '$k2.svg') = 1 ]"

# The same charts into a folder, byte for byte; one page with all of them.
mkdir "$work/charts"
run --folder "$work/charts" "$k1r.csv" "$k1a.csv" "$k2.csv"
check "--folder: the same charts, byte for byte" \
  bash -c "status 0 && cmp -s '$work/charts/worked-example-kind1-relative.svg' '$k1r.svg' &&
           cmp -s '$work/charts/worked-example-kind2.svg' '$k2.svg'"
run --output "$work/page.svg" "$k1r.csv" "$k1a.csv" "$k2.csv"
check "--output: one page of three charts, one under the other" \
  bash -c "status 0 && well_formed '$work/page.svg' &&
           [ \$(grep -c 'class=\"chart\"' '$work/page.svg') = 3 ] &&
           grep -q 'viewBox=\"0 0 960 1320\"' '$work/page.svg' &&
           [ \"\$(cat '$work/out')\" = '$work/page.svg' ]"
# Any name the system takes, even one that code page 932 cannot write, with "ā" (C4 81) whose
# second byte a reading in code page 932 would take for the start of a character.
mkdir -p "$work/café ☃ ā" && cp "$k2.csv" "$work/café ☃ ā/day ā.csv"
run "$work/café ☃ ā/day ā.csv"
check "a CSV file in a folder whose name code page 932 cannot write: its chart beside it" \
  bash -c "status 0 && cmp -s '$work/café ☃ ā/day ā.svg' '$k2.svg' &&
           [ \"\$(cat '$work/out')\" = '$work/café ☃ ā/day ā.svg' ]"
run --output - "$k1r.csv" "$k1a.csv" "$k2.csv"
check "--output -: the same page on stdout, byte for byte, and nothing else" \
  bash -c "status 0 && cmp -s '$work/out' '$work/page.svg' && [ ! -e ./- ]"
echo stale >"$work/charts/worked-example-kind2.svg"
run --folder "$work/charts" "$k2.csv"
check "an earlier chart of the same name is replaced" \
  cmp -s "$work/charts/worked-example-kind2.svg" "$k2.svg"
cp "$k2.csv" "$work/csv/記録.CSV"
run "$work/csv/記録.CSV"
check "a Japanese file name, .CSV in capitals: 記録.svg" \
  bash -c "status 0 && cmp -s '$work/csv/記録.svg' '$k2.svg'"

# Files that are not KVX-300's CSV files: one line on stderr, exit status 3, no chart.
mkdir "$work/bad"
: >"$work/bad/empty.csv"
cp "$data/worked-example-kind2.csv" "$work/bad/utf8.csv"
head -c 120 "$k2.csv" >"$work/bad/cut.csv"
printf 'time,value\r\n10:00,23.5\r\n' >"$work/bad/foreign.csv"
printf '\x89PNG\r\n\x1a\n\x00\x00' >"$work/bad/binary.csv"
sed '4s/23.5/23,5/' "$k2.csv" >"$work/bad/row.csv"
for bad in empty:empty utf8:UTF-8 cut:"cut short" foreign:ファイルネーム binary:NUL \
  row:"line 4"; do
  name=${bad%%:*}
  run "$work/bad/$name.csv"
  check "$name.csv: not a KVX-300 CSV file, exit status 3, one line, no chart" \
    bash -c "status 3 &&
             one_line_error '$name.csv: not a KVX-300 CSV file: .*${bad#*:}' &&
             [ ! -e '$work/bad/$name.svg' ] && [ ! -s '$work/out' ]"
done
run "$work/bad/missing.csv"
check "a file that is not there: exit status 3" \
  bash -c "status 3 && one_line_error 'cannot read'"
run "$work/bad"
check "a folder: exit status 3" status 3
run "$work/bad/empty.csv" "$k1r.csv"
check "a bad file among good ones: the good ones drawn, exit status 3" \
  bash -c "status 3 && [ \"\$(cat '$work/out')\" = '$k1r.svg' ]"
run --output "$work/bad-page.svg" "$k1r.csv" "$work/bad/cut.csv"
check "--output with a bad file among them: no page, exit status 3" \
  bash -c "status 3 && [ ! -e '$work/bad-page.svg' ] &&
           grep -q 'no page written' '$work/err'"
check "no file left under a temporary name" no_leftovers

# A chart that cannot be written: exit status 4, nothing left behind.
run --output "$work/no-such-folder/page.svg" "$k1r.csv"
check "--output into a folder that is not there: exit status 4" \
  bash -c "status 4 && one_line_error 'cannot write'"
mkdir -p "$work/taken" && cp "$k1r.csv" "$work/taken/QM-0001.csv" && mkdir "$work/taken/QM-0001.svg"
run "$work/taken/QM-0001.csv" "$k2.csv"
check "a chart whose name is a folder: exit status 4, the others drawn" \
  bash -c "status 4 && [ \"\$(cat '$work/out')\" = '$k2.svg' ] &&
           [ -z \"\$(ls -A '$work/taken/QM-0001.svg')\" ]"
check "no file left under a temporary name" no_leftovers

# Usage errors: exit status 2, one line and where to read on, nothing drawn.
rm -f "$k1r.svg"
usage_error "$chart" "give at least one CSV file"
usage_error "$chart" "--folder and --output exclude each other" \
  --folder "$work/charts" --output "$work/p.svg" "$k1r.csv"
usage_error "$chart" "no folder $work/nowhere" --folder "$work/nowhere" "$k1r.csv"
usage_error "$chart" "--output is empty" --output= "$k1r.csv"
usage_error "$chart" "unknown option --colour" --colour red "$k1r.csv"
usage_error "$chart" "unknown option -c" -c "$k1r.csv"
usage_error "$chart" "--folder is given twice" --folder "$work/charts" --folder "$work" "$k1r.csv"
usage_error "$chart" "$k1r.csv and $work/taken/../csv/worked-example-kind1-relative.csv $(
  )would both be drawn into $work/charts/worked-example-kind1-relative.svg" \
  --folder "$work/charts" "$k1r.csv" "$work/taken/../csv/worked-example-kind1-relative.csv"
check "and nothing was drawn" bash -c "[ ! -e '$k1r.svg' ] && [ ! -e '$work/p.svg' ]"
run --help
check "--help: the exit statuses, on stdout, exit status 0" \
  bash -c "status 0 && grep -q '^Exit status' '$work/out' &&
           grep -q '^  4 ' '$work/out'"

echo "$failures failure(s)"
[ "$failures" = 0 ]
