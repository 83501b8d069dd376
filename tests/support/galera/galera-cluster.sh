#!/usr/bin/env bash
# The ports, sockets and passwords come from DIR/cluster (choose_settings).
# shellcheck disable=SC2154
# A private three-node Galera cluster behind haproxy, on loopback, for tests,
# benchmarks and the demo; never the system's services.
#
#   galera-cluster.sh start DIR
#       Starts node 1 as a new cluster on a copy of the private server's
#       template, lets nodes 2 and 3 join it by a full state transfer (SST),
#       starts haproxy in front of them and writes DIR/env once a query
#       through haproxy answers.
#   galera-cluster.sh stop DIR
#       Stops haproxy and the nodes by the PIDs in their pid files (SIGTERM,
#       then SIGKILL after the time limit) and removes the nodes' data
#       and temporary directories (some 180 MB each); the logs stay.
#   galera-cluster.sh kill-node DIR N
#       SIGKILL to node N (1-3); returns once it is gone.
#   galera-cluster.sh restart-node DIR N
#       Stops node N if it runs, recovers its last committed position and
#       starts it again; it rejoins by an incremental transfer (IST) when the
#       others still hold what it missed, else by SST. Returns once it is
#       Synced. At least one other node must be running.
#   galera-cluster.sh status DIR
#       One line per node (PID, Galera state, haproxy's view) and the node
#       that haproxy sends new connections to.
#
# DIR/env (shell-sourceable) holds MARIADB_HOST and MARIADB_PORT (haproxy),
# the users of the private server's template (MARIADB_ADMIN_USER ... as in
# mariadb-instance.sh), GALERA_HAPROXY_PID, GALERA_HAPROXY_SOCKET (its admin
# socket) and for N in 1-3 GALERA_NODEN_PORT, GALERA_NODEN_SOCKET and
# GALERA_NODEN_PID (empty while the node is down). DIR/nodeN/env describes
# node N in the format of mariadb-instance.sh. Both are rewritten after every
# command.
#
# Without mariadbd, the Galera library or haproxy, `start` exits 0 without
# writing DIR/env so that tests can skip, unless CI=true, where it fails.
#
# The settings that make a state transfer work with three nodes on one host,
# run as root (the defaults fail in both the rsync and the mariabackup
# method):
# - Every node reads its own option file (--defaults-file=DIR/nodeN/my.cnf),
#   never --no-defaults. The server hands that file to the transfer script,
#   which reads the data directory, socket and transfer settings from it;
#   without it the script reads /etc/mysql/my.cnf and talks to the system's
#   socket and data directory.
# - wsrep_sst_method=mariabackup. The rsync method starts an rsync daemon on
#   the joiner; run by root, that daemon drops to the user "nobody", which
#   may not write the root-owned data directory, and the method offers no
#   setting for the daemon's user. mariabackup streams through socat and
#   runs as the server's user; it also keeps the donor writable except for
#   a moment at the end of its copy.
# - wsrep_sst_auth names a user of our own (RELOAD, PROCESS, LOCK TABLES,
#   BINLOG MONITOR) that the donor's mariabackup logs in with through the
#   donor's socket. It is created on node 1 before the others join and
#   arrives on them with the transfer.
# - user=root (the current user) in the option file: the server refuses to
#   run as root otherwise, and the transfer runs as the server's user.
# - Four ports per node on 127.0.0.1, all distinct: the client port; the
#   group port (wsrep_node_address=127.0.0.1:PORT and gmcast.listen_addr);
#   the IST port (ist.recv_addr, by default the group port + 1); the SST
#   port (wsrep_sst_receive_address, by default 4444 for every node, so a
#   second joiner on the host collides with the first). The donor reaches
#   the joiner at the address the joiner announces, so every address is
#   127.0.0.1 with its own port.
# - After a SIGKILL the node's state file says "position unknown" (seqno
#   -1), which makes it ask for a full SST. restart-node first runs the
#   server with --wsrep-recover, which reads the last committed position from
#   InnoDB, and starts it with --wsrep-start-position, so the donor can send
#   just the missing write sets (IST) from its write-set cache
#   (gcache.size).
# - Node 1 starts with --wsrep-new-cluster only on `start`; a restarted node
#   1 joins the running cluster like any other.
# - binlog_format=ROW and innodb_autoinc_lock_mode=2, which Galera requires.
# - tmpdir and the [sst] group's sst-log-archive-dir in DIR/nodeN: the
#   transfer's scratch folders and its archived logs otherwise go to /tmp,
#   shared with every other run on the host.
#
# haproxy sends every connection to node 1 while node 1 is up, else to node
# 2, else to node 3 (backup servers), so one node takes all writes and
# certification conflicts between nodes cannot arise from the proxy. Its
# health check is an external check (check-node.sh) that logs in with a
# check user without rights and passes only while the node is ready
# (wsrep_ready ON: in the primary component) and Synced or a donor
# (wsrep_local_state 4 or 2): a node that is joining, has not caught up yet
# or is cut off from the others is out, which haproxy's mysql-check (a login
# alone) cannot tell. A donor stays in because a mariabackup transfer (and
# an IST) leaves it writable; taking it out would close every session on it
# and cost its clients a second failover for nothing. Checks run every
# second; two failures take a node out and close its sessions, so clients
# reconnect to the next node; one pass takes it back.
set -euo pipefail
shopt -s inherit_errexit

readonly node_count=3
readonly join_limit_seconds=180
readonly sst_user=callsink_sst
readonly check_user=callsink_check
readonly galera_library_candidates=(/usr/lib/galera/libgalera_smm.so /usr/lib/libgalera_smm.so
  /usr/lib64/galera-4/libgalera_smm.so)
# shellcheck source-path=SCRIPTDIR/../mariadb
source "$(dirname "${BASH_SOURCE[0]}")/../mariadb/mariadb-lib.sh"

find_galera_library() {
  first_candidate -r "${GALERA_LIBRARY:-}" "${galera_library_candidates[@]}"
}

node_mark() { echo "--pid-file=$1/node$2/mariadbd.pid"; }
haproxy_mark() { echo "$1/haproxy/haproxy.cfg"; }

# The admin user's client on node N's socket; arguments go to the client.
node_sql() {
  local dir=$1 node=$2
  shift 2
  local socket_name=node${node}_socket
  # shellcheck source=/dev/null
  source "$dir/users.env"
  MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb --no-defaults --socket="${!socket_name}" \
    --user="$MARIADB_ADMIN_USER" --connect-timeout=2 -N -B "$@"
}

node_pid() {
  local dir=$1 node=$2 pid
  pid=$(cat "$dir/node$node/mariadbd.pid" 2>/dev/null || true)
  if [[ -n $pid ]] && is_our_process "$pid" "$(node_mark "$dir" "$node")"; then echo "$pid"; fi
}

# Galera's state of node N: Synced, Donor/Desynced, Joining, Joined, ...
node_state() {
  node_sql "$1" "$2" -e "select variable_value from information_schema.global_status
    where variable_name = 'wsrep_local_state_comment'" 2>/dev/null || echo down
}

write_node_config() {
  local dir=$1 node=$2 library=$3 peers="" i
  for ((i = 1; i <= node_count; i++)); do
    local group=node${i}_group_port
    peers+="${peers:+,}127.0.0.1:${!group}"
  done
  local port=node${node}_port socket=node${node}_socket group=node${node}_group_port
  local ist=node${node}_ist_port sst=node${node}_sst_port
  cat >"$dir/node$node/my.cnf" <<EOF
[mysqld]
user=$(id -un)
datadir=$dir/node$node/data
tmpdir=$dir/node$node/tmp
socket=${!socket}
port=${!port}
bind-address=127.0.0.1
log-error=$dir/node$node/mariadbd.log
skip-name-resolve
innodb-flush-log-at-trx-commit=2
character-set-server=utf8mb4
collation-server=utf8mb4_general_ci
binlog-format=ROW
innodb-autoinc-lock-mode=2
wsrep-on=ON
wsrep-provider=$library
wsrep-cluster-name=callsink
wsrep-cluster-address=gcomm://$peers
wsrep-node-name=node$node
wsrep-node-address=127.0.0.1:${!group}
wsrep-node-incoming-address=127.0.0.1:${!port}
wsrep-provider-options="gmcast.listen_addr=tcp://127.0.0.1:${!group};ist.recv_addr=127.0.0.1:${!ist};gcache.size=32M"
wsrep-sst-method=mariabackup
wsrep-sst-auth=$sst_user:$sst_password
wsrep-sst-receive-address=127.0.0.1:${!sst}

[sst]
sst-log-archive-dir=$dir/node$node/sst-logs
EOF
}

write_haproxy_config() {
  local dir=$1 i
  # shellcheck source=/dev/null
  source "$dir/users.env"
  printf '[client]\nuser=%s\npassword=%s\n' "$check_user" "$check_password" \
    >"$dir/haproxy/check.cnf"
  chmod 600 "$dir/haproxy/check.cnf"
  # haproxy calls it with the proxy's and the server's address and port.
  cat >"$dir/haproxy/check-node.sh" <<EOF
#!/bin/sh
state=\$(mariadb --defaults-file=$dir/haproxy/check.cnf --host="\$3" --port="\$4" \\
  --connect-timeout=1 -N -B -e "select concat(
    (select variable_value from information_schema.global_status where variable_name = 'wsrep_local_state'), '/',
    (select variable_value from information_schema.global_status where variable_name = 'wsrep_ready'))" 2>/dev/null)
[ "\$state" = "4/ON" ] || [ "\$state" = "2/ON" ]
EOF
  chmod 755 "$dir/haproxy/check-node.sh"
  {
    cat <<EOF
global
  maxconn 2000
  external-check
  insecure-fork-wanted
  stats socket $haproxy_socket mode 600 level admin

defaults
  mode tcp
  timeout connect 2s
  timeout client 8h
  timeout server 8h
  timeout check 2s

listen galera
  bind 127.0.0.1:$haproxy_port
  option external-check
  external-check path "/usr/bin:/bin"
  external-check command $dir/haproxy/check-node.sh
  default-server check inter 1s fall 2 rise 1 on-marked-down shutdown-sessions
EOF
    for ((i = 1; i <= node_count; i++)); do
      local port=node${i}_port
      printf '  server node%d 127.0.0.1:%d%s\n' "$i" "${!port}" "$( ((i > 1)) && echo ' backup')"
    done
  } >"$dir/haproxy/haproxy.cfg"
}

write_env() {
  local dir=$1 i
  # shellcheck source=/dev/null
  source "$dir/cluster"
  local haproxy_pid
  haproxy_pid=$(cat "$dir/haproxy/haproxy.pid" 2>/dev/null || true)
  if [[ -n $haproxy_pid ]] && ! is_our_process "$haproxy_pid" "$(haproxy_mark "$dir")"; then
    haproxy_pid=""
  fi
  {
    echo "MARIADB_HOST=127.0.0.1"
    echo "MARIADB_PORT=$haproxy_port"
    cat "$dir/users.env"
    echo "GALERA_HAPROXY_PID=$haproxy_pid"
    echo "GALERA_HAPROXY_SOCKET=$haproxy_socket"
    for ((i = 1; i <= node_count; i++)); do
      local port=node${i}_port socket=node${i}_socket pid
      pid=$(node_pid "$dir" "$i")
      echo "GALERA_NODE${i}_PORT=${!port}"
      echo "GALERA_NODE${i}_SOCKET=${!socket}"
      echo "GALERA_NODE${i}_PID=$pid"
      {
        echo "MARIADB_SOCKET=${!socket}"
        echo "MARIADB_PORT=${!port}"
        echo "MARIADB_HOST=127.0.0.1"
        echo "MARIADB_PID=$pid"
        cat "$dir/users.env"
      } >"$dir/node$i/env.tmp"
      mv "$dir/node$i/env.tmp" "$dir/node$i/env"
    done
  } >"$dir/env.tmp"
  mv "$dir/env.tmp" "$dir/env"
}

# Starts node N with the given extra options and waits until it is Synced.
# Returns 2 when one of its ports was taken, 1 on any other failure.
launch_node() {
  local dir=$1 node=$2
  shift 2
  # shellcheck source=/dev/null
  source "$dir/cluster"
  local mariadbd socket=node${node}_socket mark
  mariadbd=$(find_mariadbd) || die "mariadbd not found"
  mark=$(node_mark "$dir" "$node")
  : >"$dir/node$node/mariadbd.log"
  rm -f "$dir/node$node/mariadbd.pid" "${!socket}"
  setsid "$mariadbd" --defaults-file="$dir/node$node/my.cnf" "$mark" "$@" \
    </dev/null >/dev/null 2>&1 &
  local launched=$!
  if await_server "$dir" "${!socket}" "$launched" "$mark" "$join_limit_seconds"; then
    local deadline=$((SECONDS + join_limit_seconds))
    while ((SECONDS < deadline)); do
      [[ $(node_state "$dir" "$node") == Synced ]] && return 0
      sleep 0.1
    done
    echo "$script_name: node $node not Synced within $join_limit_seconds s" >&2
  fi
  if grep -qE "Address already in use|Bind on TCP/IP port" "$dir/node$node/mariadbd.log"; then
    stop_process "$dir/node$node/mariadbd.pid" "$mark"
    return 2
  fi
  echo "$script_name: node $node failed to start:" >&2
  tail -n 30 "$dir/node$node/mariadbd.log" >&2
  stop_process "$dir/node$node/mariadbd.pid" "$mark"
  return 1
}

launch_haproxy() {
  local dir=$1 mark
  # shellcheck source=/dev/null
  source "$dir/cluster"
  mark=$(haproxy_mark "$dir")
  rm -f "$dir/haproxy/haproxy.pid" "$haproxy_socket"
  # Daemon mode: the launched process forks the proxy, writes its PID and ends.
  if ! setsid haproxy -D -q -f "$mark" -p "$dir/haproxy/haproxy.pid" </dev/null \
    >"$dir/haproxy/haproxy.log" 2>&1; then
    grep -q "cannot bind socket" "$dir/haproxy/haproxy.log" && return 2
    cat "$dir/haproxy/haproxy.log" >&2
    return 1
  fi
  # shellcheck source=/dev/null
  source "$dir/users.env"
  local deadline=$((SECONDS + start_limit_seconds))
  while ((SECONDS < deadline)); do
    if MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb --no-defaults --host=127.0.0.1 \
      --port="$haproxy_port" --user="$MARIADB_ADMIN_USER" --connect-timeout=2 \
      -e 'select 1' >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  echo "$script_name: no answer through haproxy within $start_limit_seconds s" >&2
  return 1
}

# Picks the ports of every node and of haproxy, all distinct and free now,
# and writes them with the sockets and passwords to DIR/cluster.
choose_settings() {
  local dir=$1 taken=" " i name port
  {
    for ((i = 1; i <= node_count; i++)); do
      for name in port group_port ist_port sst_port; do
        port=$(pick_port)
        while [[ $taken == *" $port "* ]]; do port=$(pick_port); done
        taken+="$port "
        echo "node${i}_$name=$port"
      done
      echo "node${i}_socket=$(choose_socket "$dir/node$i")"
    done
    port=$(pick_port)
    while [[ $taken == *" $port "* ]]; do port=$(pick_port); done
    echo "haproxy_port=$port"
    echo "haproxy_socket=$(choose_socket "$dir/haproxy" haproxy.sock)"
    echo "sst_password=$(random_password)"
    echo "check_password=$(random_password)"
  } >"$dir/cluster"
}

# One attempt at bringing the cluster up; 2 when a port was taken.
start_cluster() {
  local dir=$1 template=$2 library=$3 i status=0
  choose_settings "$dir"
  # shellcheck source=/dev/null
  source "$dir/cluster"
  for ((i = 1; i <= node_count; i++)); do
    rm -rf "$dir/node$i"
    mkdir -p "$dir/node$i/data" "$dir/node$i/tmp"
    write_node_config "$dir" "$i" "$library"
  done
  mkdir -p "$dir/haproxy"
  write_haproxy_config "$dir"
  cp -a --sparse=always "$template/data/." "$dir/node1/data/"
  launch_node "$dir" 1 --wsrep-new-cluster || return
  node_sql "$dir" 1 -e "
    CREATE USER '$sst_user'@'localhost' IDENTIFIED BY '$sst_password';
    GRANT RELOAD, PROCESS, LOCK TABLES, BINLOG MONITOR ON *.* TO '$sst_user'@'localhost';
    CREATE USER '$check_user'@'%' IDENTIFIED BY '$check_password';"
  # The joiners start together: while node 1 serves one of them, the other
  # waits for a donor, and the servers' own start overlaps.
  local joiners=() joiner
  for ((i = 2; i <= node_count; i++)); do
    launch_node "$dir" "$i" &
    joiners+=($!)
  done
  for joiner in "${joiners[@]}"; do
    wait "$joiner" || status=$((status == 2 ? 2 : $?))
  done
  ((status == 0)) || return "$status"
  launch_haproxy "$dir" || status=$?
  write_env "$dir"
  return "$status"
}

command_start() {
  local dir=$1 mariadbd library
  if ! mariadbd=$(find_mariadbd) || ! library=$(find_galera_library) ||
    ! command -v haproxy >/dev/null || ! command -v mariabackup >/dev/null ||
    ! command -v socat >/dev/null; then
    local missing="mariadbd, the Galera library, haproxy, mariabackup or socat missing"
    if [[ ${CI:-} == true ]]; then die "$missing"; fi
    echo "$script_name: $missing; tests that need the cluster will skip" >&2
    return 0
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  # The option files and DIR/env hold paths unquoted.
  [[ $dir != *[[:space:]\'\"\\\$\;]* ]] || die "DIR must not hold blanks, quotes or ';': $dir"
  command_stop "$dir"
  local template attempt status
  template=$(prepare_template "$mariadbd")
  cp "$template/users.env" "$dir/users.env"
  for attempt in 1 2 3; do
    status=0
    start_cluster "$dir" "$template" "$library" || status=$?
    if ((status != 2)); then break; fi
    echo "$script_name: a port was taken; starting again on others (attempt $attempt)" >&2
    command_stop "$dir"
  done
  if ((status != 0)); then
    command_stop "$dir"
    die "the cluster did not start; logs in $dir/node*/mariadbd.log"
  fi
}

command_stop() {
  local dir=$1 i
  [[ -f $dir/cluster ]] || return 0
  dir=$(cd "$dir" && pwd)
  rm -f "$dir/env"
  # shellcheck source=/dev/null
  source "$dir/cluster"
  stop_process "$dir/haproxy/haproxy.pid" "$(haproxy_mark "$dir")"
  remove_socket "$haproxy_socket"
  # The last node to stop is the one that may bootstrap the cluster again.
  for ((i = node_count; i >= 1; i--)); do
    local socket=node${i}_socket
    stop_process "$dir/node$i/mariadbd.pid" "$(node_mark "$dir" "$i")"
    remove_socket "${!socket}"
    rm -rf "$dir/node$i/data" "$dir/node$i/tmp"
  done
}

command_kill_node() {
  local dir=$1 node=$2 pid
  pid=$(node_pid "$dir" "$node")
  [[ -n $pid ]] || die "node $node is not running"
  kill -KILL "$pid"
  while is_our_process "$pid" "$(node_mark "$dir" "$node")"; do sleep 0.02; done
  write_env "$dir"
}

command_restart_node() {
  local dir=$1 node=$2 i others=0
  for ((i = 1; i <= node_count; i++)); do
    if ((i != node)) && [[ -n $(node_pid "$dir" "$i") ]]; then others=1; fi
  done
  ((others)) || die "no other node runs; start the cluster anew"
  stop_process "$dir/node$node/mariadbd.pid" "$(node_mark "$dir" "$node")"
  local mariadbd position status=0
  mariadbd=$(find_mariadbd) || die "mariadbd not found"
  "$mariadbd" --defaults-file="$dir/node$node/my.cnf" --wsrep-recover \
    --log-error="$dir/node$node/recover.log" >/dev/null 2>&1 || true
  position=$(sed -n 's/.*WSREP: Recovered position: *\([^ ]*:[-0-9]*\).*/\1/p' \
    "$dir/node$node/recover.log" | tail -n 1)
  if [[ -n $position ]]; then
    launch_node "$dir" "$node" --wsrep-start-position="$position" || status=$?
  else
    launch_node "$dir" "$node" || status=$?
  fi
  write_env "$dir"
  ((status == 0)) || die "node $node did not rejoin"
}

command_status() {
  local dir=$1 i
  # shellcheck source=/dev/null
  source "$dir/cluster"
  local stats=""
  stats=$(echo "show stat" | socat - "UNIX-CONNECT:$haproxy_socket" 2>/dev/null || true)
  for ((i = 1; i <= node_count; i++)); do
    local pid state proxy
    pid=$(node_pid "$dir" "$i")
    state=down
    [[ -n $pid ]] && state=$(node_state "$dir" "$i")
    proxy=$(echo "$stats" | awk -F, -v name="node$i" '$1 == "galera" && $2 == name {print $18}')
    printf 'node%d pid=%s state=%s haproxy=%s\n' "$i" "${pid:--}" "$state" "${proxy:-?}"
  done
  # The first server that is up (field 18), backups (field 21) only when no
  # other is.
  printf 'haproxy 127.0.0.1:%s sends to %s\n' "$haproxy_port" "$(echo "$stats" | awk -F, '
    $1 == "galera" && $2 ~ /^node/ && $18 ~ /^UP/ {
      if ($21 == 0 && active == "") active = $2
      if ($21 == 1 && backup == "") backup = $2
    }
    END { print active != "" ? active : backup != "" ? backup : "none" }')"
}

usage="usage: $0 start|stop|status DIR | kill-node|restart-node DIR N"
(($# >= 2)) || die "$usage"
action=$1
dir=$2
case $action in
  start) command_start "$dir" ;;
  stop) command_stop "$dir" ;;
  status | kill-node | restart-node)
    if [[ $action == status ]]; then
      (($# == 2)) || die "$usage"
    elif (($# != 3)) || [[ ! $3 =~ ^[1-9]$ ]] || (($3 > node_count)); then
      die "$usage"
    fi
    [[ -f $dir/cluster ]] || die "no cluster in $dir"
    dir=$(cd "$dir" && pwd)
    # shellcheck source=/dev/null
    source "$dir/cluster"
    "command_${action//-/_}" "$dir" "${@:3}"
    ;;
  *) die "$usage" ;;
esac
