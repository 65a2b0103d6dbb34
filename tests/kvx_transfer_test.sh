#!/usr/bin/env bash
# kvx-transfer from the outside, against kvx-emulator processes, with the protocol's real
# pauses: every exit status, the bound on a transfer that makes no progress and the processor
# time it costs meanwhile, one transfer at a time, and signals in the middle of a transfer.
# The cases run side by side, each with a driver registry and a temporary folder of its own.
# Usage: kvx_transfer_test.sh KVX_TRANSFER KVX_EMULATOR KVX_CONVERT TARVO_LINK
set -uo pipefail
transfer=$1
emulator=$2
convert=$3
link=$4
work=$(mktemp -d /tmp/kvx-transfer-test.XXXXXX)
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/harness.sh"
cleanup() {
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
capture=000102030405  # six one-byte blocks

# start_case_emulator CASE OPTION...: an emulator of its own for the case, in the background.
start_case_emulator() {
  local case=$1
  shift
  mkdir -p "$work/$case/root" "$work/$case/tmp" "$work/$case/save"
  printf '%s' "$capture" >"$work/$case/capture"
  start_emulator "$work/$case/root" "$emulator" --capture "$work/$case/capture" \
    --block-bytes 1 --log "$work/$case/log" "$@" >/dev/null 2>&1
}

# stop_case_emulator CASE: the case's emulator stopped once it has seen a link that was opened
# closed again, which the check of a clean end reads in its log.
stop_case_emulator() {
  local log=$work/$1/log
  for _ in $(seq 500); do
    ! grep -q '^link opened' "$log" 2>/dev/null || grep -q '^link closed' "$log" && break
    sleep 0.01
  done
  stop_emulator
}

# run_transfer CASE OPTION...: kvx-transfer into the case's folder; its exit status, wall time
# and processor time (user + system) in CASE/status, CASE/times.
run_transfer() {
  local case=$1
  shift
  local TIMEFORMAT='%R %U %S'
  {
    time TARVO_DEVICE_ROOT=$work/$case/root TMPDIR=$work/$case/tmp \
      "$transfer" --folder "$work/$case/save" "$@" >"$work/$case/out" 2>"$work/$case/err"
    echo $? >"$work/$case/status"
  } 2>"$work/$case/times"
}

# case_ NAME EMULATOR-OPTION... -- TRANSFER-OPTION...: one transfer against its own emulator.
case_() {
  local name=$1
  shift
  local options=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    options+=("$1")
    shift
  done
  shift
  start_case_emulator "$name" "${options[@]}"
  run_transfer "$name" "$@"
  stop_case_emulator "$name"
}

source "$(dirname "${BASH_SOURCE[0]}")/shell_checks.sh"
status_of() { cat "$work/$1/status" 2>/dev/null; }
clean_end() {  # no capture file left behind, and a link that was opened closed again
  [ -z "$(ls "$work/$1/tmp")" ] &&
    { ! grep -q '^link opened' "$work/$1/log" || grep -q '^link closed' "$work/$1/log"; }
}
csv_count() { ls "$work/$1/save/QM-DATA" 2>/dev/null | wc -l; }

# The ends of a transfer, side by side.
case_ finished -- &
case_ lost-link --drop-at-block 2 -- &
case_ send-error --fail-writes-from STATUS -- &
case_ ended --refuse TRANS=YYY -- &
case_ no-data --refuse "STATUS=? T" -- &
case_ damaged --corrupt-always 2 -- &
case_ json --corrupt 2 -- --summary json &
case_ silent --silent-from STATUS2 -- --timeout 3 &
case_ empty --empty-reads-from NEXT:2 -- --timeout 3 &
case_ unknown --unknown-replies-from STATUS2 -- --timeout 3 &
case_ kept -- --keep-capture "$work/kept/save/kept.txt" &
# A slow instrument, and one that wakes up: each answer is taken for the command it answers.
case_ slow --reply-delay 1500 -- &
case_ waking --first-reply-delay 5000 -- &
# A folder whose name needs quoting in a shell, for the command that the transfer suggests.
incomplete="in'complete one"
(mkdir -p "$work/$incomplete/save" && touch "$work/$incomplete/save/QM-DATA" &&
  case_ "$incomplete" --) &
(start_case_emulator no-temporary-folder && TMPDIR=$work/no-temporary-folder/none \
  TARVO_DEVICE_ROOT=$work/no-temporary-folder/root "$transfer" \
  --folder "$work/no-temporary-folder/save" >/dev/null 2>&1
  echo $? >"$work/no-temporary-folder/status"
  stop_case_emulator no-temporary-folder) &
# No instrument at all: its emulator is gone before the transfer starts.
(start_case_emulator no-instrument && stop_emulator && run_transfer no-instrument) &

# One transfer at a time: a second one, started while the first has the instrument, ends at
# once and leaves the first to finish.
pair_case() {
  start_case_emulator pair
  run_transfer pair &
  local first=$!
  for _ in $(seq 500); do grep -q '^link opened' "$work/pair/log" 2>/dev/null && break; sleep 0.01; done
  mkdir -p "$work/second"
  local TIMEFORMAT='%R'
  { time TARVO_DEVICE_ROOT=$work/pair/root "$transfer" --folder "$work/second" \
    >/dev/null 2>"$work/second/err"; echo $? >"$work/second/status"; } 2>"$work/second/times"
  TARVO_DEVICE_ROOT=$work/pair/root "$link" >/dev/null 2>"$work/second/link-err"
  wait $first
  stop_case_emulator pair
}

# Signals in the middle of a transfer: the instrument is told "END\r", nothing is left.
signal_case() {  # case signal log-line-to-wait-for
  local case=$1 signal=$2 line=$3
  start_case_emulator "$case"
  # A background job of a script starts with SIGINT ignored, as kvx-transfer leaves it then.
  TARVO_DEVICE_ROOT=$work/$case/root TMPDIR=$work/$case/tmp env --default-signal=INT \
    "$transfer" --folder "$work/$case/save" >/dev/null 2>"$work/$case/err" &
  local pid=$!
  for _ in $(seq 1000); do grep -q "$line" "$work/$case/log" 2>/dev/null && break; sleep 0.01; done
  kill -"$signal" $pid
  wait $pid
  echo $? >"$work/$case/status"
  stop_case_emulator "$case"
}
# Started with SIGINT ignored (a background job, nohup), kvx-transfer lets it be.
ignored_case() {
  start_case_emulator ignored
  TARVO_DEVICE_ROOT=$work/ignored/root TMPDIR=$work/ignored/tmp "$transfer" \
    --folder "$work/ignored/save" >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 1000); do grep -q 'command "STATUS2' "$work/ignored/log" 2>/dev/null && break; sleep 0.01; done
  kill -INT $pid
  wait $pid
  echo $? >"$work/ignored/status"
  stop_case_emulator ignored
}
# Two instruments: the list in the order of discovery, and --device taking the second.
device_case() {
  start_case_emulator devices --name 1-first || return
  local first=$emulator_pid
  start_emulator "$work/devices/root" "$emulator" --capture "$work/devices/capture" \
    --block-bytes 1 --log "$work/devices/second-log" --name 2-second >/dev/null 2>&1
  TARVO_DEVICE_ROOT=$work/devices/root "$transfer" --list >"$work/devices/list"
  run_transfer devices --device "$(tail -1 "$work/devices/list")"
  for _ in $(seq 500); do grep -q '^link closed' "$work/devices/second-log" && break; sleep 0.01; done
  mkdir -p "$work/devices-none"
  TARVO_DEVICE_ROOT=$work/devices/root "$transfer" --folder "$work/devices-none" \
    --device "$work/devices/root/none" 2>"$work/devices-none/err"
  echo $? >"$work/devices-none/status"
  stop_emulator
  emulator_pid=$first
  stop_case_emulator devices
}
pair_case &
ignored_case &
device_case &
signal_case sigint-in-the-handshake INT 'command "STATUS2' &
signal_case sigterm-in-the-data TERM '^reply block 2' &
signal_case sighup-in-the-data HUP '^reply block 1' &
wait

ends_with() {  # case status CSV-files: the exit status, the CSV files, nothing left behind
  [ "$(status_of "$1")" = "$2" ] && [ "$(csv_count "$1")" = "$3" ] && clean_end "$1"
}
check "finished: exit status 0, its CSV file, nothing left" ends_with finished 0 1
check "no instrument: exit status 3" ends_with no-instrument 3 0
check "  and where it was looked for: the registry below TARVO_DEVICE_ROOT, the USB ids" \
  grep -qF "kvx-transfer: no instrument was found in the driver stand-in's registry $(
  )$work/no-instrument/root/{" "$work/no-instrument/err"
listed_in_order() {
  local folder="$work/devices/root/{5ff884a1-b0e8-11d3-abc7-0080c8792d99}"
  [ "$(cat "$work/devices/list")" = "$folder/1-first"$'\n'"$folder/2-second" ]
}
check "--list: the two instruments found, one path a line, in the order of discovery" \
  listed_in_order
second_taken() {
  ends_with devices 0 1 && grep -q "^link closed" "$work/devices/second-log" &&
    ! grep -q "^link opened" "$work/devices/log"
}
check "--device: the second instrument's transfer, the first one untouched" second_taken
none_such() {
  [ "$(status_of devices-none)" = 3 ] && [ ! -e "$work/devices-none/QM-DATA" ] &&
    grep -qF "kvx-transfer: the instrument $work/devices/root/none was not found in the driver" \
      "$work/devices-none/err"
}
check "--device naming no instrument found: exit status 3, with the path and where it looked" \
  none_such
listed_none() {
  TARVO_DEVICE_ROOT=$work/no-instrument/root "$transfer" --list 2>"$work/no-instrument/list" &&
    return 1
  [ $? = 3 ] && grep -q "^kvx-transfer: no instrument was found in the driver stand-in" \
    "$work/no-instrument/list"
}
check "--list with no instrument: exit status 3, and where it looked" listed_none
check "the link lost in the data: exit status 4" ends_with lost-link 4 0
check "a command that cannot be sent: exit status 5" ends_with send-error 5 0
check "the instrument ends before its data: exit status 6" ends_with ended 6 0
check "the instrument has no data: exit status 7" ends_with no-data 7 0
check "damaged data: exit status 8" ends_with damaged 8 0
said_what_it_did() {  # its CSV file on stdout, then the summary
  grep -qx "$work/finished/save/QM-DATA/QM-0001.csv" "$work/finished/out" &&
    [[ "$(tail -1 "$work/finished/out")" =~ ^kind\ 1:\ 1\ group,\ 0\ samples,\ 12\ characters,\ 0\ resent,\ [0-9.]+\ s$ ]]
}
check "finished: its CSV file listed on stdout, then the summary line" said_what_it_did
json_summary() {  # one object alone on stdout; the progress, with the block asked for again, on stderr
  [ "$(sed 's/"seconds": [0-9.]*/"seconds": S/' "$work/json/out")" = "{\"files\": [$(
    )\"$work/json/save/QM-DATA/QM-0001.csv\"], \"kind\": 1, \"groups\": 1, \"samples\": 0, $(
    )\"characters\": 12, \"resends\": 1, \"seconds\": S, \"end\": \"finished\", \"exit_status\": 0}" ] &&
    [[ "$(grep '^blocks' "$work/json/err" | tail -1)" =~ ^blocks\ stored\ 6,\ 12\ characters,\ 1\ resent ]]
}
check "--summary json: one JSON object alone on stdout, the progress (one block resent) on stderr" \
  json_summary
check "no temporary folder: exit status 9" [ "$(status_of no-temporary-folder)" = 9 ]

# The bound on a transfer that makes no progress: within the bound and a little, and waiting
# costs next to no processor time (a busy loop would cost all of the wall time).
within_bound() {  # case: exit status 4 with its message, after the bound of 3 s and a little
  ends_with "$1" 4 0 && grep -q '計測器と通信できません。' "$work/$1/err" &&
    awk "BEGIN { exit !($wall >= 3 && $wall < 12) }"
}
for case in silent empty unknown; do
  read -r wall user system <"$work/$case/times"
  check "an instrument that goes $case: exit status 4 after the 3 s bound, in $wall s" \
    within_bound $case
  check "  and it used $user + $system s of processor time, under 10 % of the wall time" \
    awk "BEGIN { exit !(($user + $system) < 0.1 * $wall) }"
done

# The commands the instrument took, on one line: "END STATUS2 … ".
commands_of() { grep '^command' "$work/$1/log" | sed 's/^command "\(.*\)\\r"$/\1/' | tr '\n' ' '; }
in_step() {  # case least-ENDs: the finished download's file, every command after the ENDs once
  local commands
  commands=$(commands_of "$1")
  ends_with "$1" 0 1 &&
    cmp -s "$work/$1/save/QM-DATA/QM-0001.csv" "$work/finished/save/QM-DATA/QM-0001.csv" &&
    [[ $commands =~ ^(END\ )+STATUS2\ STATUS\ TRANS\ N\ (NEXT\ ){6}$ ]] &&
    [ "$(grep -o END <<<"$commands" | wc -l)" -ge "$2" ]
}
check "replies 1.5 s late: exit status 0 and the same CSV file, each command sent once" \
  in_step slow 1
check "a first reply 5 s late: \"END\\r\" asked again, its late answers passed over, the same file" \
  in_step waking 2

kept_as_asked() {
  ends_with kept 0 1 && cmp -s "$work/kept/save/kept.txt" "$work/kept/capture"
}
check "--keep-capture: the downloaded data kept as asked, and the CSV file written" kept_as_asked
kept_when_incomplete() {
  [ "$(status_of "$incomplete")" = 10 ] && clean_end "$incomplete" &&
    cmp -s "$work/$incomplete/save/kvx-capture-kind1.txt" "$work/$incomplete/capture" &&
    grep -q "kvx-convert --force --kind 1" "$work/$incomplete/err"
}
check "the CSV file cannot be written: exit status 10, the data kept in the chosen folder" \
  kept_when_incomplete
rm "$work/$incomplete/save/QM-DATA"
# The command the transfer suggests, run as the operator would paste it into a shell.
kvx-convert() { "$convert" "$@"; }
(eval "$(tail -1 "$work/$incomplete/err")") >/dev/null 2>&1
check "  which the suggested kvx-convert command turns into the CSV file once the cause is mended" \
  cmp -s "$work/$incomplete/save/QM-DATA/QM-0001.csv" "$work/finished/save/QM-DATA/QM-0001.csv"

refused_at_once() {
  [ "$(status_of second)" = 11 ] && grep -q 'another transfer is running' "$work/second/err" &&
    awk "BEGIN { exit !($(cat "$work/second/times") < 2) }" && [ ! -e "$work/second/QM-DATA" ]
}
check "tarvo-link meanwhile: the instrument is in use by another transfer" \
  grep -qx 'tarvo-link: the instrument is in use by another transfer (KVX-300 or kvx-transfer)' \
  "$work/second/link-err"
check "a second transfer at the same time: exit status 11 at once, with its reason" \
  refused_at_once
check "  while the first finishes with its file" \
  cmp -s "$work/pair/save/QM-DATA/QM-0001.csv" "$work/finished/save/QM-DATA/QM-0001.csv"

stopped_cleanly() {  # case status: "END\r" the last command, nothing left
  ends_with "$1" "$2" 0 &&
    [ "$(grep '^command' "$work/$1/log" | tail -1)" = 'command "END\r"' ]
}
for entry in sigint-in-the-handshake:130 sigterm-in-the-data:143 sighup-in-the-data:129; do
  check "${entry%:*}: exit status ${entry#*:}, \"END\\r\" sent, nothing left" \
    stopped_cleanly "${entry%:*}" "${entry#*:}"
done
check "stopped in the handshake, with nothing downloaded: nothing is said deleted" \
  grep -qx 'kvx-transfer: stopped by signal 2' "$work/sigint-in-the-handshake/err"
check "a SIGINT that the transfer was started with ignored: it finishes (exit status 0)" \
  ends_with ignored 0 1

usage_error "$transfer" "--folder is missing"
usage_error "$transfer" "--timeout must be a number of seconds from 1 to 86400" \
  --folder "$work" --timeout 0
usage_error "$transfer" "--folder is given twice" --folder "$work" --folder "$work/finished"
usage_error "$transfer" "--list takes no other option" --list --folder "$work"
usage_error "$transfer" "cannot write into the folder /sys: Permission denied" --folder /sys
usage_error "$transfer" "--keep-capture needs the name of a new file: $work/finished/capture" \
  --folder "$work" --keep-capture "$work/finished/capture"
usage_error "$transfer" "--keep-capture names a file in a folder that does not exist: $(
  )$work/no-such-folder/capture" --folder "$work" --keep-capture "$work/no-such-folder/capture"

[ $failures -eq 0 ]
