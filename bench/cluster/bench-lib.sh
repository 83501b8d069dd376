# shellcheck shell=bash disable=SC2154
# Pieces shared by the cluster benchmarks; sourced, not run. The caller has
# sourced a server's env file (MARIADB_ADMIN_USER, MARIADB_ADMIN_PASSWORD).

# sql PORT STATEMENTS: runs them as the administrator over TCP, rows tab-separated.
sql() {
  MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb --no-defaults -h 127.0.0.1 -P "$1" \
    -u"$MARIADB_ADMIN_USER" -N -B -e "$2"
}

# CPU ticks (user and system) the processes PIDS... have used so far.
cpu_ticks() {
  local pid
  for pid in "$@"; do cat "/proc/$pid/stat"; done | sed -E 's/^.*\) //' |
    awk '{s += $12 + $13} END {print s}'
}
