#!/usr/bin/env bash
# A private MariaDB server for tests and benchmarks, never the system's.
#
#   mariadb-instance.sh start DIR [MARIADBD_OPTION...]
#       Starts a fresh server whose data directory, socket, pid file and log
#       live in DIR, listening on a free port of 127.0.0.1, and writes DIR/env
#       (shell-sourceable) once it answers. Options given are passed to
#       mariadbd after the defaults of this script, so they override them.
#   mariadb-instance.sh stop DIR
#       Stops the server of DIR by the PID in its pid file: SIGTERM, then
#       SIGKILL when it has not ended within the time limit. The data
#       directory stays for a restart or a look; the next start replaces it.
#   mariadb-instance.sh restart DIR
#       Stops the server of DIR if it runs and starts it again on the same
#       data directory, port, socket and options.
#
# DIR/env holds MARIADB_SOCKET, MARIADB_PORT, MARIADB_HOST, MARIADB_PID and the
# names and passwords of two users: MARIADB_ADMIN_USER (every right) and
# MARIADB_LIMITED_USER (may use the tables of acd_db, may create nothing).
#
# Without mariadbd installed, `start` exits 0 without writing DIR/env so that
# tests can skip, unless CI=true, where it fails.
set -euo pipefail
shopt -s inherit_errexit

readonly port_attempts=20
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/mariadb-lib.sh"

# Runs mariadbd for DIR with the settings of DIR/instance and waits until it
# answers. Returns 2 when the port was taken, 1 on any other failure.
launch() {
  local dir=$1 mariadbd
  # shellcheck source=/dev/null
  source "$dir/instance"
  mariadbd=$(find_mariadbd) || die "mariadbd not found"
  : >"$dir/mariadbd.log"
  rm -f "$dir/mariadbd.pid" "$socket"
  local mark=--pid-file=$dir/mariadbd.pid
  local command=("$mariadbd" --no-defaults --user="$(id -un)" --datadir="$dir/data"
    --socket="$socket" --port="$port" "$mark"
    --log-error="$dir/mariadbd.log" --bind-address=127.0.0.1 --skip-name-resolve
    --innodb-flush-log-at-trx-commit=2 --character-set-server=utf8mb4
    --collation-server=utf8mb4_general_ci "${options[@]}")
  # Its own session and no inherited descriptors, so that a test runner
  # waiting for our output does not wait for the server too.
  setsid "${command[@]}" </dev/null >/dev/null 2>&1 &
  local launched=$!
  if ! await_server "$dir" "$socket" "$launched" "$mark"; then
    if ! is_our_process "$launched" "$mark"; then
      if grep -qE "Bind on TCP/IP port|Address already in use" "$dir/mariadbd.log"; then
        return 2
      fi
      echo "mariadb-instance: mariadbd ended during start:" >&2
      tail -n 20 "$dir/mariadbd.log" >&2
    fi
    stop_server "$dir"
    return 1
  fi
  local pid
  pid=$(cat "$dir/mariadbd.pid" 2>/dev/null || echo "$launched")
  {
    echo "MARIADB_SOCKET=$socket"
    echo "MARIADB_PORT=$port"
    echo "MARIADB_HOST=127.0.0.1"
    echo "MARIADB_PID=$pid"
    cat "$dir/users.env"
  } >"$dir/env.tmp"
  mv "$dir/env.tmp" "$dir/env"
}

stop_server() {
  local dir=$1
  rm -f "$dir/env"
  stop_process "$dir/mariadbd.pid" "--pid-file=$dir/mariadbd.pid"
}

command_start() {
  local dir=$1
  shift
  local mariadbd
  if ! mariadbd=$(find_mariadbd); then
    if [[ ${CI:-} == true ]]; then die "mariadbd not found"; fi
    echo "mariadb-instance: mariadbd not found; tests that need MariaDB will skip" >&2
    return 0
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  # DIR/env and DIR/instance hold paths unquoted.
  [[ $dir != *[[:space:]\'\"\\\$]* ]] || die "DIR must not hold blanks or quotes: $dir"
  stop_server "$dir"
  local template
  template=$(prepare_template "$mariadbd")
  rm -rf "$dir/data"
  cp -a --sparse=always "$template/data" "$dir/data"
  cp "$template/users.env" "$dir/users.env"
  local socket attempt status
  socket=$(choose_socket "$dir")
  for ((attempt = 1; attempt <= port_attempts; attempt++)); do
    {
      echo "socket=$(printf '%q' "$socket")"
      echo "port=$(pick_port)"
      printf 'options=('
      if (($# > 0)); then printf '%q ' "$@"; fi
      printf ')\n'
    } >"$dir/instance"
    status=0
    launch "$dir" || status=$?
    if ((status != 2)); then return "$status"; fi
  done
  die "no free port after $port_attempts attempts"
}

command_stop() {
  local dir=$1
  [[ -d $dir ]] || return 0
  dir=$(cd "$dir" && pwd)
  stop_server "$dir"
  if [[ -f $dir/instance ]]; then
    local socket port options
    # shellcheck source=/dev/null
    source "$dir/instance"
    remove_socket "$socket"
  fi
}

command_restart() {
  local dir=$1
  [[ -f $dir/instance ]] || die "no instance in $dir"
  dir=$(cd "$dir" && pwd)
  stop_server "$dir"
  launch "$dir"
}

(($# >= 2)) || die "usage: $0 start|stop|restart DIR [MARIADBD_OPTION...]"
action=$1
shift
case $action in
  start) command_start "$@" ;;
  stop) command_stop "$1" ;;
  restart) command_restart "$1" ;;
  *) die "unknown command $action" ;;
esac
