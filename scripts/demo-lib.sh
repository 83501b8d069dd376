# shellcheck shell=bash disable=SC2154
# Pieces shared by the demos (demo.sh, cluster-demo.sh); sourced, not run.
# The demo sets bin (the programs' folder) before calling them.

readonly config_key='Software\Orvanta Technologies\ACD Service\Configs'
readonly demo_tables=(stock_groups stock_agents stock_relations stock_status stock_calls stock_cdr
  stock_time)

bold() { printf '\n\033[1m%s\033[0m\n' "$*"; }

# The port of the acdsim whose output goes to OUT, once it listens.
acdsim_port() {
  local out=$1 port
  for _ in $(seq 100); do
    port=$(sed -n 's/^listening [0-9.]*:\([0-9]*\)$/\1/p' "$out")
    if [[ -n $port ]]; then
      echo "$port"
      return 0
    fi
    sleep 0.05
  done
  echo "acdsim did not start:" >&2
  cat "$out" >&2
  return 1
}

# Writes configuration N below CALLSINK_ROOT with callsinkreg:
# add_config N ACD_SERVER ACD_PORT MYSQL_SERVER MYSQL_USER MYSQL_PASSWORD
add_config() {
  local key=$config_key\\Config$1
  "$bin/callsinkreg" add "$key" ACD_Server "$2"
  "$bin/callsinkreg" add "$key" ACD_Port "$3"
  "$bin/callsinkreg" add "$key" MYSQL_Server "$4"
  "$bin/callsinkreg" add "$key" MYSQL_User "$5"
  "$bin/callsinkreg" add "$key" MYSQL_Password "$6"
  "$bin/callsinkreg" add "$key" Status N-N
}

# Copies the collector (and the tools beside it) to APP, with the logs
# folder it needs, and registers it as the service below CALLSINK_ROOT.
install_collector() {
  local app=$1 program
  mkdir -p "$app/logs"
  for program in callsink callsinkreg callsinkctl callsinkmanager; do
    if [[ -x $bin/$program ]]; then cp "$bin/$program" "$app/"; fi
  done
  "$app/callsink" -register
}

# The statement that counts the rows of every table per ACD server.
rows_per_server_sql() {
  local table union=""
  for table in "${demo_tables[@]}"; do
    union+="${union:+ union all }select '$table' as table_name, Serv_Name, count(*) as rows_stored"
    union+=" from $table group by Serv_Name"
  done
  echo "$union"
}

# The statement that gives the rows of every table as one line.
rows_per_table_sql() {
  local table line=""
  for table in "${demo_tables[@]}"; do
    line+="${line:+, ' ', }'${table#stock_} ', (select count(*) from $table)"
  done
  echo "select concat($line)"
}
