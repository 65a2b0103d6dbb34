#!/usr/bin/env bash
# The locale plays no part in the CSV files: kvx-convert on the worked examples (both kinds,
# relative and absolute time) and whole kvx-transfer downloads from kvx-emulator give the bytes
# of tests/data, the same under LC_ALL=C, de_DE.UTF-8 (a decimal comma) and ja_JP.UTF-8, into a
# folder with a Japanese name; and kvx-chart's page of those CSV files is the same in every
# locale too. It sets the language of their messages, which they take from the locale's
# LC_MESSAGES and nothing else: Japanese under ja_JP.UTF-8, English elsewhere with the
# program's Japanese messages followed by their English meaning. So each tool runs twice per
# locale: as it is, with only its environment changed, and with locale-from-environment preloaded,
# which puts the process into the environment's locale before main, so that any use of the
# locale (printf's decimal point, the character classes, the multibyte conversions) would
# change the files. The locales are compiled into the test's own folder (LOCPATH), and each is
# checked to be in effect: a locale that fell back to "C" would prove nothing.
# Usage: kvx_locale_test.sh KVX_CONVERT KVX_TRANSFER KVX_EMULATOR LOCALE_FROM_ENVIRONMENT DATA
#                           KVX_CHART
set -uo pipefail
convert=$1
transfer=$2
emulator=$3
preload=$4
data=$5
chart=$6
work=$(mktemp -d /tmp/kvx-locale-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/shell_checks.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/harness.sh"

# The locales, compiled from the system's locale sources into a folder of the test's own.
export LOCPATH=$work/locales
mkdir -p "$LOCPATH"
localedef -i de_DE -f UTF-8 "$LOCPATH/de_DE.UTF-8" >"$work/de.localedef" 2>&1 &
german=$!
localedef -i ja_JP -f UTF-8 "$LOCPATH/ja_JP.UTF-8" >"$work/ja.localedef" 2>&1 &
japanese=$!
if ! wait $german || ! wait $japanese; then
  cat "$work"/*.localedef
  echo "FAIL localedef cannot compile the locales (the package locales has their sources)"
  exit 1
fi

locales=(C de_DE.UTF-8 ja_JP.UTF-8)
declare -A shown=(  # what `locale decimal_point int_curr_symbol charmap` shows in each
  [C]=$'.\n\nANSI_X3.4-1968' [de_DE.UTF-8]=$',\nEUR \nUTF-8' [ja_JP.UTF-8]=$'.\nJPY \nUTF-8')
declare -A reported=(  # what locale-from-environment reports: name|decimal point|codeset
  [C]='C|.|ANSI_X3.4-1968' [de_DE.UTF-8]='de_DE.UTF-8|,|UTF-8' [ja_JP.UTF-8]='ja_JP.UTF-8|.|UTF-8')
for locale in "${locales[@]}"; do
  check "$locale is in effect (decimal point, currency, character set, no warning)" \
    [ "$(LC_ALL=$locale locale decimal_point int_curr_symbol charmap 2>&1)" = "${shown[$locale]}" ]
done

# The sanitizers' runtimes must come first among the preloaded libraries.
runtimes=$(ldd "$convert" | awk '$1 ~ /^lib(asan|ubsan|tsan)\./ { printf "%s ", $3 }')

# tool LOCALE MODE REPORT COMMAND...: the command in the locale, with the locale set in the
# process when MODE is "preloaded" (its report in REPORT).
tool() {
  local locale=$1 mode=$2 report=$3
  shift 3
  if [ "$mode" = preloaded ]; then
    LC_ALL=$locale LD_PRELOAD="$runtimes$preload" KVX_LOCALE_REPORT=$report "$@"
  else
    LC_ALL=$locale "$@"
  fi
}

# download CASE NAME KIND CAPTURE TIME: a whole transfer of CAPTURE from an emulator of its own
# into CASE/NAME/保存先, with its exit status in CASE/NAME/status.
download() {
  local case=$1 name=$2 kind=$3 capture=$4 time=$5
  local place=$work/$case/$name
  local root=$place/root
  mkdir -p "$root" "$place/tmp" "$place/保存先"
  start_emulator "$root" "$emulator" --kind "$kind" --capture "$capture" >/dev/null 2>&1
  TARVO_DEVICE_ROOT=$root TMPDIR=$place/tmp tool "${case#*-}" "${case%%-*}" "$place/report" \
    "$transfer" --folder "$place/保存先" --time "$time" >/dev/null 2>"$place/err"
  echo $? >"$place/status"
  stop_emulator
}

# A case is a mode and a locale ("plain-C", "preloaded-de_DE.UTF-8" …): its two downloads in
# the background, its conversions one after another meanwhile.
run_case() {
  local case=$1
  local mode=${case%%-*} locale=${case#*-}
  local conversion name kind time place
  mkdir -p "$work/$case/download-k2/保存先/QM-DATA"
  echo earlier >"$work/$case/download-k2/保存先/QM-DATA/QM-0001.csv"
  download "$case" download-k1 1 "$data/worked-example-kind1.capture" absolute &
  download "$case" download-k2 2 "$data/worked-example-kind2.capture" relative &
  for conversion in k1-relative:1:relative k1-absolute:1:absolute k2-relative:2:relative \
    k2-absolute:2:absolute; do
    IFS=: read -r name kind time <<<"$conversion"
    place=$work/$case/$name
    mkdir -p "$place/保存先"
    # Kind 2's worked example is the second file of its folder.
    if [ "$kind" = 2 ]; then
      mkdir -p "$place/保存先/QM-DATA" && echo earlier >"$place/保存先/QM-DATA/QM-0001.csv"
    fi
    tool "$locale" "$mode" "$place/report" "$convert" --kind "$kind" --time "$time" \
      --folder "$place/保存先" "$data/worked-example-kind$kind.capture" >"$place/out" \
      2>"$place/err"
    echo $? >"$place/status"
  done
  # The four conversions drawn onto one page, in the folder with the Japanese name.
  place=$work/$case/chart
  mkdir -p "$place/保存先"
  tool "$locale" "$mode" "$place/report" "$chart" --output "$place/保存先/記録.svg" \
    "$work/$case"/k1-{relative,absolute}/保存先/QM-DATA/QM-0001.csv \
    "$work/$case"/k2-{relative,absolute}/保存先/QM-DATA/QM-0002.csv >"$place/out" 2>"$place/err"
  echo $? >"$place/status"
  wait
}

cases=()
for locale in "${locales[@]}"; do cases+=("plain-$locale" "preloaded-$locale"); done
for case in "${cases[@]}"; do run_case "$case" & done
wait

expected=(k1-relative:QM-0001:kind1-relative k1-absolute:QM-0001:kind1-absolute
  k2-relative:QM-0002:kind2 k2-absolute:QM-0002:kind2 download-k1:QM-0001:kind1-absolute
  download-k2:QM-0002:kind2)
# A run ends well: exit status 0, no warning, and in a preloaded run the locale in effect.
ran_well() {
  local case=$1 run=$2
  [ "$(cat "$work/$case/$run/status")" = 0 ] && [ ! -s "$work/$case/$run/err" ] &&
    { [ "${case%%-*}" = plain ] ||
      [ "$(cat "$work/$case/$run/report" 2>/dev/null)" = "${reported[${case#*-}]}" ]; }
}
for case in "${cases[@]}"; do
  for entry in "${expected[@]}"; do
    IFS=: read -r run file example <<<"$entry"
    what="$case, ${run/-/ }"
    check "$what: exit status 0, no warning$([ "${case%%-*}" = preloaded ] &&
      echo ", the locale set in the process")" ran_well "$case" "$run"
    check "$what: the worked example byte for byte" \
      same_csv "$work/$case/$run/保存先/QM-DATA/$file.csv" "$data/worked-example-$example.csv"
  done
  check "$case: the file listed on stdout under its Japanese folder name" \
    grep -qxF "$work/$case/k1-relative/保存先/QM-DATA/QM-0001.csv" "$work/$case/k1-relative/out"
  check "$case, kvx-chart: exit status 0, nothing on stderr$([ "${case%%-*}" = preloaded ] &&
    echo ", the locale set in the process")" ran_well "$case" chart
  check "$case, kvx-chart: a page of the four charts" \
    [ "$(grep -c 'class="chart"' "$work/$case/chart/保存先/記録.svg")" = 4 ]
done

# One language per run: the tools' own messages in the locale's, and in a locale that is not
# Japanese the program's Japanese message followed by its English meaning.
for locale in "${locales[@]}"; do
  LC_ALL=$locale "$convert" --kind 3 >"$work/usage-$locale" 2>&1
  LC_ALL=$locale "$transfer" --help >"$work/help-$locale" 2>&1
  LC_ALL=$locale "$transfer" --folder /sys >"$work/reason-$locale" 2>&1
  mkdir -p "$work/no-instrument-$locale"
  LC_ALL=$locale TARVO_DEVICE_ROOT=$work/no-instrument-$locale/root "$transfer" \
    --folder "$work/no-instrument-$locale" >/dev/null 2>"$work/no-instrument-$locale/err"
done
LC_ALL=de_DE.UTF-8 LANGUAGE=ja "$convert" --kind 3 >"$work/usage-language" 2>&1
japanese_usage_error() {
  [ "$(wc -l <"$work/usage-$1")" = 2 ] && [ "$(head -c 13 "$work/usage-$1")" = "kvx-convert: " ] &&
    [ "$(tail -1 "$work/usage-$1")" = "詳しくは 'kvx-convert --help' を実行してください。" ] &&
    ! grep -q 'must be' "$work/usage-$1"
}
check "ja_JP.UTF-8: a usage error in Japanese, in its two lines" japanese_usage_error ja_JP.UTF-8
check "  and so under de_DE.UTF-8 with LANGUAGE=ja, which goes first" japanese_usage_error language
check "ja_JP.UTF-8: kvx-transfer --help in Japanese" \
  grep -q "^使い方: kvx-transfer --folder DIR" "$work/help-ja_JP.UTF-8"
no_instrument_said() {  # locale meaning-or-empty: the program's message, then the tool's line
  local err=$work/no-instrument-$1/err
  grep -qx "kvx-transfer: USBドライバを認識できません。" "$err" &&
    grep -qx "  ドライバをインストールして下さい。$2" "$err" && [ "$(wc -l <"$err")" = 3 ] &&
    [ "$(grep -c "^kvx-transfer: no instrument was found in" "$err")" = "$([ -n "$2" ] && echo 1 || echo 0)" ]
}
check "ja_JP.UTF-8: the system's reason in Japanese too, in UTF-8" \
  grep -qx "kvx-transfer: フォルダ /sys に書き込めません: [^?]*" "$work/reason-ja_JP.UTF-8"
for locale in C de_DE.UTF-8; do
  check "$locale: the tools' messages in English" \
    grep -qx "Try 'kvx-convert --help'." "$work/usage-$locale"
  check "$locale: the system's reason in English too" \
    grep -qx "kvx-transfer: cannot write into the folder /sys: Permission denied" \
    "$work/reason-$locale"
  check "$locale: the program's Japanese message, then its English meaning" \
    no_instrument_said "$locale" " (the USB driver is not recognised; install the driver)"
done
check "ja_JP.UTF-8: the program's message alone, and the tool's line after it in Japanese" \
  no_instrument_said ja_JP.UTF-8 ""

# And every locale's files equal those of C, byte for byte and with the same names.
same_files() {
  local run
  for entry in "${expected[@]}"; do
    run=${entry%%:*}
    diff -r "$work/plain-C/$run/保存先" "$work/$1/$run/保存先" >/dev/null || return 1
  done
}
for case in "${cases[@]:1}"; do
  check "$case: every CSV file as under plain-C" same_files "$case"
  check "$case: kvx-chart's page as under plain-C" \
    cmp -s "$work/plain-C/chart/保存先/記録.svg" "$work/$case/chart/保存先/記録.svg"
done

[ $failures -eq 0 ]
