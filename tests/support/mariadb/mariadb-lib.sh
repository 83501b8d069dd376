# shellcheck shell=bash
# Functions shared by the private server scripts (mariadb-instance.sh and
# ../galera/galera-cluster.sh); sourced, not run. Messages start with the
# name of the script that sources it.

readonly start_limit_seconds=60
readonly stop_limit_seconds=30
readonly admin_user=callsink_admin
readonly limited_user=callsink_limited
script_name=$(basename "$0" .sh)
readonly script_name

die() {
  echo "$script_name: $*" >&2
  exit 1
}

# Prints the first non-empty CANDIDATE for which `test OPTION CANDIDATE`
# holds (-x: runs, -r: reads); fails when none does.
first_candidate() {
  local option=$1 candidate
  shift
  for candidate in "$@"; do
    if [[ -n $candidate ]] && test "$option" "$candidate"; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

find_mariadbd() {
  first_candidate -x "${MARIADBD:-}" "$(command -v mariadbd || true)" /usr/sbin/mariadbd \
    /usr/sbin/mysqld
}

find_admin_tool() {
  first_candidate -x "$(command -v mariadb-admin || true)" "$(command -v mysqladmin || true)"
}

# True while PID names a live (not zombie) process whose command line holds
# MARK as one argument (each server gets its own --pid-file=..., so no other
# process passes for it).
is_our_process() {
  local pid=$1 mark=$2 state
  [[ -r /proc/$pid/stat ]] || return 1
  state=$(sed -E 's/^.*\) ([A-Za-z]).*$/\1/' "/proc/$pid/stat" 2>/dev/null) || return 1
  [[ $state != Z && $state != X ]] || return 1
  tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | grep -qxF -- "$mark"
}

# Ends the process of PID_FILE whose command line holds MARK: SIGTERM, then
# SIGKILL when it has not ended within the limit. Nothing when it is gone.
stop_process() {
  local pid_file=$1 mark=$2 pid
  pid=$(cat "$pid_file" 2>/dev/null || true)
  if [[ -z $pid ]] || ! is_our_process "$pid" "$mark"; then return 0; fi
  kill -TERM "$pid" 2>/dev/null || true
  # A stopped (SIGSTOP) process must run again to see the SIGTERM.
  kill -CONT "$pid" 2>/dev/null || true
  local deadline=$((SECONDS + stop_limit_seconds))
  while is_our_process "$pid" "$mark"; do
    if ((SECONDS >= deadline)); then
      echo "$script_name: process $pid did not stop within ${stop_limit_seconds} s; killing" >&2
      kill -KILL "$pid" 2>/dev/null || true
      deadline=$((SECONDS + stop_limit_seconds))
    fi
    sleep 0.02
  done
}

random_password() {
  od -An -N12 -tx1 /dev/urandom | tr -d ' \n'
}

# A bootstrapped data directory with the users, built once per server
# version and version of this file and then copied for every instance.
# Prints the template folder, which holds data/ and users.env.
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

# DIR/NAME (default mariadbd.sock) for a socket; paths are limited to 107
# bytes, so a deep DIR gets a short folder in /tmp instead.
choose_socket() {
  local dir=$1 name=${2:-mariadbd.sock} socket=$1/${2:-mariadbd.sock}
  if ((${#socket} > 100)); then
    socket=$(mktemp -d /tmp/callsink-mariadb.XXXXXX)/$name
  fi
  echo "$socket"
}

# Removes a socket of choose_socket and its short folder.
remove_socket() {
  local socket=$1
  rm -f "$socket"
  if [[ $socket == /tmp/callsink-mariadb.* ]]; then rmdir "$(dirname "$socket")" 2>/dev/null || true; fi
}

# Waits up to LIMIT seconds (default the start limit) until the server of
# SOCKET answers the admin user of users.env in DIR; fails at once when PID
# (the launched process) ends or stops being the server with MARK.
await_server() {
  local dir=$1 socket=$2 pid=$3 mark=$4 limit=${5:-$start_limit_seconds} admin
  admin=$(find_admin_tool) || die "mariadb-admin not found"
  # shellcheck source=/dev/null
  source "$dir/users.env"
  local deadline=$((SECONDS + limit))
  while ((SECONDS < deadline)); do
    if ! kill -0 "$pid" 2>/dev/null || ! is_our_process "$pid" "$mark"; then
      wait "$pid" 2>/dev/null || true
      return 1
    fi
    if MYSQL_PWD=$MARIADB_ADMIN_PASSWORD "$admin" --no-defaults --socket="$socket" \
      --user="$MARIADB_ADMIN_USER" --connect-timeout=2 ping >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.02
  done
  echo "$script_name: no answer within $limit s" >&2
  return 1
}
