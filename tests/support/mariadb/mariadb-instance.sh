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

readonly start_limit_seconds=60
readonly stop_limit_seconds=30
readonly port_attempts=20
readonly admin_user=callsink_admin
readonly limited_user=callsink_limited

die() {
  echo "mariadb-instance: $*" >&2
  exit 1
}

find_mariadbd() {
  local candidate
  for candidate in "${MARIADBD:-}" "$(command -v mariadbd || true)" /usr/sbin/mariadbd \
    /usr/sbin/mysqld; do
    if [[ -n $candidate && -x $candidate ]]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

find_admin_tool() {
  local candidate
  for candidate in "$(command -v mariadb-admin || true)" "$(command -v mysqladmin || true)"; do
    if [[ -n $candidate && -x $candidate ]]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

# True while PID names a live (not zombie) process that is the server of
# this DIR: its command line carries this DIR's pid file.
is_our_server() {
  local pid=$1 dir=$2 state
  [[ -r /proc/$pid/stat ]] || return 1
  state=$(sed -E 's/^.*\) ([A-Za-z]).*$/\1/' "/proc/$pid/stat" 2>/dev/null) || return 1
  [[ $state != Z && $state != X ]] || return 1
  tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | grep -qxF -- "--pid-file=$dir/mariadbd.pid"
}

random_password() {
  od -An -N12 -tx1 /dev/urandom | tr -d ' \n'
}

# A bootstrapped data directory with the users, built once per server
# version and version of this script and then copied for every instance.
# Prints the template folder.
prepare_template() {
  local mariadbd=$1 version key cache template work
  version=$("$mariadbd" --no-defaults --version)
  key=$( (echo "$version"; cat "${BASH_SOURCE[0]}") | sha256sum | cut -c1-16)
  cache=${CALLSINK_MARIADB_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/callsink}
  if ! mkdir -p "$cache" 2>/dev/null || [[ ! -w $cache ]]; then
    cache=${TMPDIR:-/tmp}/callsink-cache-$(id -u)
    mkdir -p "$cache"
  fi
  template=$cache/mariadb-template-$key
  (
    flock 9
    if [[ -f $template/ready ]]; then exit 0; fi
    work=$(mktemp -d "$cache/mariadb-template.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    mkdir "$work/data"
    local admin_password limited_password
    admin_password=$(random_password)
    limited_password=$(random_password)
    {
      printf 'create database if not exists mysql;\nuse mysql;\n'
      printf "SET @auth_root_socket='%s';\n" "$(id -un)"
      cat /usr/share/mysql/mysql_system_tables.sql /usr/share/mysql/mysql_system_tables_data.sql
      # Bootstrap runs without the grant tables loaded.
      printf 'FLUSH PRIVILEGES;\n'
      local host
      for host in localhost %; do
        printf "CREATE USER '%s'@'%s' IDENTIFIED BY '%s';\n" "$admin_user" "$host" "$admin_password"
        printf "GRANT ALL PRIVILEGES ON *.* TO '%s'@'%s' WITH GRANT OPTION;\n" "$admin_user" "$host"
        printf "CREATE USER '%s'@'%s' IDENTIFIED BY '%s';\n" "$limited_user" "$host" \
          "$limited_password"
        printf "GRANT SELECT, INSERT, UPDATE, DELETE ON acd_db.* TO '%s'@'%s';\n" \
          "$limited_user" "$host"
      done
    } | "$mariadbd" --no-defaults --bootstrap --user="$(id -un)" --datadir="$work/data" \
      --log-error="$work/bootstrap.log" >/dev/null 2>&1 ||
      die "bootstrap failed, see $work/bootstrap.log: $(tail -n 5 "$work/bootstrap.log")"
    {
      echo "MARIADB_ADMIN_USER=$admin_user"
      echo "MARIADB_ADMIN_PASSWORD=$admin_password"
      echo "MARIADB_LIMITED_USER=$limited_user"
      echo "MARIADB_LIMITED_PASSWORD=$limited_password"
    } >"$work/users.env"
    rm -rf "$template"
    # Sparse copies keep the mostly empty redo log from costing disk and time.
    cp -a --sparse=always "$work" "$template.tmp.$$"
    touch "$template.tmp.$$/ready"
    mv "$template.tmp.$$" "$template"
  ) 9>"$cache/template.lock"
  echo "$template"
}

port_in_use() {
  local port=$1
  ss -Htan "sport = :$port" 2>/dev/null | grep -q . && return 0
  return 1
}

# A port outside the kernel's range for outgoing connections, so client
# sockets of other tests cannot take it between our check and the bind.
pick_port() {
  local low=20000 high=32000 port
  while true; do
    port=$((low + (RANDOM * 32768 + RANDOM) % (high - low)))
    if ! port_in_use "$port"; then
      echo "$port"
      return 0
    fi
  done
}

# Socket paths are limited to 107 bytes; a deep DIR gets a short folder in /tmp.
choose_socket() {
  local dir=$1 socket=$1/mariadbd.sock
  if ((${#socket} > 100)); then
    socket=$(mktemp -d /tmp/callsink-mariadb.XXXXXX)/mariadbd.sock
  fi
  echo "$socket"
}

# Runs mariadbd for DIR with the settings of DIR/instance and waits until it
# answers. Returns 2 when the port was taken, 1 on any other failure.
launch() {
  local dir=$1 mariadbd admin
  # shellcheck source=/dev/null
  source "$dir/instance"
  # shellcheck source=/dev/null
  source "$dir/users.env"
  mariadbd=$(find_mariadbd) || die "mariadbd not found"
  admin=$(find_admin_tool) || die "mariadb-admin not found"
  : >"$dir/mariadbd.log"
  rm -f "$dir/mariadbd.pid" "$socket"
  local command=("$mariadbd" --no-defaults --user="$(id -un)" --datadir="$dir/data"
    --socket="$socket" --port="$port" --pid-file="$dir/mariadbd.pid"
    --log-error="$dir/mariadbd.log" --bind-address=127.0.0.1 --skip-name-resolve
    --innodb-flush-log-at-trx-commit=2 --character-set-server=utf8mb4
    --collation-server=utf8mb4_general_ci "${options[@]}")
  # Its own session and no inherited descriptors, so that a test runner
  # waiting for our output does not wait for the server too.
  setsid "${command[@]}" </dev/null >/dev/null 2>&1 &
  local launched=$! deadline=$((SECONDS + start_limit_seconds))
  while ((SECONDS < deadline)); do
    if ! kill -0 "$launched" 2>/dev/null || ! is_our_server "$launched" "$dir"; then
      wait "$launched" 2>/dev/null || true
      if grep -qE "Bind on TCP/IP port|Address already in use" "$dir/mariadbd.log"; then
        return 2
      fi
      echo "mariadb-instance: mariadbd ended during start:" >&2
      tail -n 20 "$dir/mariadbd.log" >&2
      return 1
    fi
    if MYSQL_PWD=$MARIADB_ADMIN_PASSWORD "$admin" --no-defaults --socket="$socket" \
      --user="$MARIADB_ADMIN_USER" --connect-timeout=2 ping >/dev/null 2>&1; then
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
      return 0
    fi
    sleep 0.02
  done
  echo "mariadb-instance: no answer within ${start_limit_seconds} s" >&2
  stop_server "$dir"
  return 1
}

stop_server() {
  local dir=$1 pid
  rm -f "$dir/env"
  pid=$(cat "$dir/mariadbd.pid" 2>/dev/null || true)
  if [[ -z $pid ]] || ! is_our_server "$pid" "$dir"; then return 0; fi
  kill -TERM "$pid" 2>/dev/null || true
  # A stopped (SIGSTOP) server must run again to see the SIGTERM.
  kill -CONT "$pid" 2>/dev/null || true
  local deadline=$((SECONDS + stop_limit_seconds))
  while is_our_server "$pid" "$dir"; do
    if ((SECONDS >= deadline)); then
      echo "mariadb-instance: server $pid did not stop within ${stop_limit_seconds} s; killing" >&2
      kill -KILL "$pid" 2>/dev/null || true
      deadline=$((SECONDS + stop_limit_seconds))
    fi
    sleep 0.02
  done
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
    rm -f "$socket"
    if [[ $socket == /tmp/callsink-mariadb.* ]]; then rmdir "$(dirname "$socket")" 2>/dev/null || true; fi
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
