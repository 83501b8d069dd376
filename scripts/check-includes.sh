#!/usr/bin/env bash
# Checks the layout table of docs/ARCHITECTURE.md: every #include "folder/..."
# of a source folder, and every callsink_* library its CMakeLists.txt links,
# names the folder itself or one of the folders below it that the table
# allows. Qt headers belong to manager/window/ alone. Prints one line per
# breach (file:line: what) and exits 1 when there is any.
#
#   scripts/check-includes.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# folder -> the folders it may include besides itself.
declare -A allowed=(
  [platform]=""
  [web]="platform"
  [health]="web"
  [config]="platform"
  [service]="platform config"
  [protocol]="platform"
  [store]="platform health config"
  [worker]="platform health config protocol store"
  [collector]="platform web health config service protocol store worker"
  [report]="platform config store"
  [manager]="platform config service store"
  [tools]="platform web health config service protocol store report manager"
  [board]="platform web config store report"
)
folders="platform web health config service protocol store worker collector report manager tools board"

# library -> the folder that builds it.
declare -A library_folder=(
  [callsink_platform]=platform
  [callsink_web]=web
  [callsink_health]=health
  [callsink_health_endpoint]=health
  [callsink_config]=config
  [callsink_service]=service
  [callsink_protocol]=protocol
  [callsink_store]=store
  [callsink_worker]=worker
  [callsink_collector]=collector
  [callsink_report]=report
  [callsink_manager_model]=manager
  [callsink_manager_window]=manager
  [callsink_acdsim]=tools
  [callsink_board]=board
)

breaches=0
report() {
  echo "$1"
  breaches=$((breaches + 1))
}

for folder in $folders; do
  [[ -d $folder ]] || { report "$folder: folder of the layout table is missing"; continue; }
  permitted=" $folder ${allowed[$folder]} "

  # Each #include "..." as file:line:target; Qt includes as file:line:<Q...>.
  while IFS= read -r hit; do
    location=${hit%:*}
    target=${hit##*:}
    if [[ $target == "<"* ]]; then
      [[ $location == manager/window/* ]] || report "$location: Qt outside manager/window/"
    elif [[ $target != */* ]]; then
      report "$location: \"$target\" is not named by its folder"
    elif [[ $permitted != *" ${target%%/*} "* ]]; then
      report "$location: $folder/ may not include $target"
    fi
  done < <(find "$folder" \( -name '*.h' -o -name '*.cpp' \) -exec awk '
             /^[ \t]*#[ \t]*include[ \t]*"/ {
               split($0, parts, "\""); print FILENAME ":" FNR ":" parts[2] }
             /^[ \t]*#[ \t]*include[ \t]*<Q/ {
               match($0, /<[^>]*>/); print FILENAME ":" FNR ":" substr($0, RSTART, RLENGTH) }' {} +)

  # Each target_link_libraries( ... ) call as one line: file:line:words.
  while IFS= read -r hit; do
    location=$(cut -d: -f1,2 <<<"$hit")
    for library in $(grep -oE 'callsink_[a-z_]+' <<<"$(cut -d: -f3- <<<"$hit")"); do
      linked_folder=${library_folder[$library]:-}
      [[ -z $linked_folder ]] && continue
      if [[ $permitted != *" $linked_folder "* ]]; then
        report "$location: $folder/ may not link $library ($linked_folder/)"
      fi
    done
  done < <(find "$folder" -name CMakeLists.txt -exec awk '
             /target_link_libraries\(/ { open = 1; start = FNR; words = "" }
             open { words = words " " $0 }
             open && /\)/ { print FILENAME ":" start ":" words; open = 0 }' {} +)
done

if ((breaches > 0)); then
  echo "$breaches breach(es) of the layout table"
  exit 1
fi
echo "layout table kept: every include and link of ${folders// /, } is allowed"
