# shellcheck shell=bash
# Sourced by the scripts and the shell tests that run the instrument's emulator or Windows
# programs: where kvx-emulator presents the instrument, starting and stopping it (natively and
# under Wine) by its process id, and a Wine prefix of one's own. Nothing here stops a process
# that the caller did not start.

# The folder of the instrument's device interface class below a driver registry root.
kvx_interface_class='{5ff884a1-b0e8-11d3-abc7-0080c8792d99}'

# emulator_socket ROOT [NAME]: the socket by which kvx-emulator presents the instrument below
# ROOT, under its --name NAME.
emulator_socket() { printf '%s/%s/%s' "$1" "$kvx_interface_class" "${2:-0000-kvx-emulator}"; }

# running PID: whether the process runs (a child that has ended but not been waited for does
# not count).
running() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

emulator_pid=
# start_emulator ROOT PROGRAM OPTION...: kvx-emulator (PROGRAM) in the background with its driver
# registry in ROOT, its process id in $emulator_pid; returns once it presents the instrument,
# non-zero (the emulator stopped) when it has not done so within 10 s. Redirect the call to
# redirect its output.
start_emulator() {
  local root=$1 program=$2
  shift 2
  mkdir -p "$root"
  TARVO_DEVICE_ROOT=$root "$program" "$@" &
  emulator_pid=$!
  local socket name= previous=
  for option in "$@"; do
    [ "$previous" = --name ] && name=$option
    previous=$option
  done
  socket=$(emulator_socket "$root" "$name")
  for _ in $(seq 1000); do
    [ -S "$socket" ] && return 0
    running "$emulator_pid" || break
    sleep 0.01
  done
  stop_emulator
  return 1
}

# stop_emulator: SIGTERM for the emulator that start_emulator started in this shell, which
# withdraws the instrument as it ends; SIGKILL should it still run 10 s later.
stop_emulator() {
  [ -n "$emulator_pid" ] || return 0
  kill -TERM "$emulator_pid" 2>/dev/null || true
  for _ in $(seq 1000); do
    running "$emulator_pid" || break
    sleep 0.01
  done
  if running "$emulator_pid"; then kill -KILL "$emulator_pid" 2>/dev/null || true; fi
  wait "$emulator_pid" 2>/dev/null || true
  emulator_pid=
}

# start_wine_emulator EXE OUT LOG OPTION...: kvx-emulator.exe under Wine in the background, its
# output in OUT and its dialogue log in LOG, its process id in $emulator_pid; returns once it
# presents the instrument, non-zero (the emulator stopped) when it has not done so within 30 s.
start_wine_emulator() {
  local exe=$1 log=$3
  wine_emulator_out=$2
  shift 3
  rm -f "$wine_emulator_out" "$log"
  WINEDEBUG=-all wine "$exe" --log "$(winepath -w "$log")" "$@" >"$wine_emulator_out" &
  emulator_pid=$!
  for _ in $(seq 300); do
    grep -q presenting "$wine_emulator_out" 2>/dev/null && return 0
    sleep 0.1
  done
  stop_wine_emulator
  return 1
}

# stop_wine_emulator: Ctrl-C for it (Wine turns SIGINT into the console's Ctrl-C), which
# removes its registration; then its end awaited.
stop_wine_emulator() {
  [ -n "$emulator_pid" ] || return 0
  kill -INT "$emulator_pid" 2>/dev/null || true
  for _ in $(seq 100); do grep -q stopped "$wine_emulator_out" 2>/dev/null && break; sleep 0.1; done
  wait "$emulator_pid" 2>/dev/null || true
  emulator_pid=
}

# start_wine_prefix FOLDER: an empty Wine prefix of its own in FOLDER (made if need be), with
# one Wine server for the whole run: a server that is shutting down after its last client
# exits can turn away the next program started in the prefix. No Gecko or Mono installers, no
# menu entries.
start_wine_prefix() {
  export WINEPREFIX=$1
  wine_prefix_made=$1
  mkdir -p "$WINEPREFIX"
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # Wine keeps its server's lock in /tmp/wine-*/server-<device>-<inode of the prefix>.
  wine_server_dirs=$(printf '/tmp/wine-*/server-%x-%x' "$(stat -c %d "$WINEPREFIX")" \
    "$(stat -c %i "$WINEPREFIX")")
  wineserver -p
}

# stop_wine_prefix: ends the server of the prefix that start_wine_prefix made and every program
# still running in it, and removes the prefix and the server's lock folder. Any other prefix is
# left alone.
stop_wine_prefix() {
  [ -n "${wine_prefix_made:-}" ] && [ "$wine_prefix_made" = "${WINEPREFIX:-}" ] || return 0
  wineserver -k 2>/dev/null || true
  rm -rf "$wine_prefix_made"
  wine_prefix_made=
  local dir
  for dir in ${wine_server_dirs:-}; do
    [ -d "$dir" ] && rm -rf "$dir" && rmdir "$(dirname "$dir")" 2>/dev/null
  done
  true
}
