#!/usr/bin/env bash
# Takes the README's pictures of callsinkmanager on a private X server:
#
#   scripts/screenshots.sh [BUILD_DIR]        (default: build)
#
# Writes docs/screenshots/main-window.png, config-dialog.png,
# data-drop-dialog.png, data-drop-choices.png and tray-menu.png.
#
# The scene, all below a temporary CALLSINK_ROOT and torn down at the end:
# - Xvfb on a free display, twm for the title bars, trayer as the tray host,
#   xdotool for the clicks;
# - the collector really running as the service (standalone backend:
#   `callsink -register`, `callsink -start`), so that the manager counts the
#   service as running; it starts before any configuration exists and so
#   collects nothing;
# - four configurations added with callsinkctl, whose Status values are then
#   set with callsinkreg to "Y-N", "N-Y", "N-N" and "Y-Y", one row per
#   connection state, where a worker would write them;
# - a private MariaDB (tests/support/mariadb/mariadb-instance.sh) whose
#   acd_db this script fills with rows of two ACD servers, for the data drop
#   dialog.
# Every process is started here and ended by its PID.
set -euo pipefail
shopt -s inherit_errexit

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
bin=$build/bin
out=$repo/docs/screenshots
readonly screen_width=1024 screen_height=640

for tool in Xvfb twm trayer xdotool xwininfo mariadb; do
  command -v "$tool" >/dev/null || {
    echo "screenshots: $tool is missing (scripts/install-deps.sh)" >&2
    exit 1
  }
done
for program in callsinkmanager callsink callsinkctl callsinkreg screen_grab; do
  [[ -x $bin/$program ]] || {
    echo "screenshots: $bin/$program is missing (build first)" >&2
    exit 1
  }
done

work=$(mktemp -d)
export CALLSINK_ROOT=$work/root
mkdir -p "$CALLSINK_ROOT" "$out"
pids=()
collector_started=0

cleanup() {
  set +e
  if ((collector_started)); then
    "$bin/callsink" -stop >/dev/null 2>&1
    "$bin/callsink" -unregister >/dev/null 2>&1
  fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  "$repo/tests/support/mariadb/mariadb-instance.sh" stop "$work/mariadb" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# Waits until the command given succeeds, for at most 10 s.
wait_for() {
  for _ in $(seq 100); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "screenshots: gave up waiting for: $*" >&2
  return 1
}

# Geometry of window $1 as X Y WIDTH HEIGHT, X and Y from the screen's
# corner (xwininfo knows about the window manager's frames); with "outer",
# the window's border is included.
geometry() {
  xwininfo -id "$1" | awk -v outer="${2:-}" '
    /Absolute upper-left X:/{x=$4} /Absolute upper-left Y:/{y=$4}
    /^ *Width:/{w=$2} /^ *Height:/{h=$2} /Border width:/{b=$3}
    END{if (outer != "outer") b=0; print x-b, y-b, w+2*b, h+2*b}'
}

# The window manager's frame around window $1 (title bar and border).
frame_of() {
  local window=$1 root parent
  root=$(xwininfo -root | awk '/Window id:/{print $4}')
  while parent=$(xwininfo -tree -id "$window" | awk '/Parent window id:/{print $4}') &&
    [[ $parent != "$root" ]]; do
    window=$parent
  done
  echo "$window"
}

# click_at WINDOW WIDTH HEIGHT X Y: a left click at dialog units X Y of a
# window whose client area is WIDTH x HEIGHT dialog units.
click_at() {
  local window=$1 width=$2 height=$3 x=$4 y=$5 gx gy gw gh
  read -r gx gy gw gh < <(geometry "$window")
  xdotool mousemove --sync $((gx + x * gw / width)) $((gy + y * gh / height)) click 1
}

# point_at WINDOW: the pointer over the window, which the window manager
# then makes the active one.
point_at() {
  local gx gy gw gh
  read -r gx gy gw gh < <(geometry "$1")
  xdotool mousemove --sync $((gx + gw / 2)) $((gy + gh / 2))
  sleep 0.5
}

# grab_window WINDOW NAME: saves the window with its title bar.
grab_window() {
  local gx gy gw gh
  read -r gx gy gw gh < <(geometry "$(frame_of "$1")" outer)
  "$bin/screen_grab" "$out/$2" "$gx" "$gy" "$gw" "$gh"
}

# grab_popup NAME X Y WIDTH HEIGHT COMMAND...: saves the part of the screen
# after COMMAND has opened a popup (a menu or a list) in it, which shows as
# a change of the picture. A command that changed nothing within 2 s (an
# input that came while a window was still settling) is given once more.
grab_popup() {
  local name=$1 area=("$2" "$3" "$4" "$5") before=$work/before.png
  shift 5
  "$bin/screen_grab" "$before" "${area[@]}"
  for _ in 1 2; do
    "$@"
    for _ in $(seq 20); do
      sleep 0.1
      "$bin/screen_grab" "$out/$name" "${area[@]}"
      if ! cmp -s "$before" "$out/$name"; then
        sleep 0.3 # let it finish drawing
        "$bin/screen_grab" "$out/$name" "${area[@]}"
        return 0
      fi
    done
  done
  echo "screenshots: nothing opened for: $*" >&2
  return 1
}

# Succeeds once the tray host holds an icon.
tray_has_icon() {
  xwininfo -tree -id "$(xdotool search --onlyvisible --class trayer | awk 'NR == 1')" |
    grep -Eq '^ +[0-9]+ child'
}

# The visible window titled exactly $1.
window_named() {
  xdotool search --sync --onlyvisible --name "^$1\$" | awk 'NR == 1'
}

# --- X server, window manager and tray host --------------------------------
display=99
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 "${screen_width}x${screen_height}x24" -wr -nolisten tcp \
  >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
wait_for xdotool getmouselocation

font='"-misc-fixed-bold-r-normal--13-*-*-*-*-*-iso8859-1"'
cat >"$work/twmrc" <<TWMRC
NoGrabServer
UsePPosition "on"
RandomPlacement
DecorateTransients
NoTitleHighlight
BorderWidth 1
NoTitle { "panel" "trayer" }
Color { TitleBackground "rgb:33/5c/9c" TitleForeground "white" BorderColor "rgb:33/5c/9c" }
TitleFont $font
MenuFont $font
IconFont $font
ResizeFont $font
IconManagerFont $font
TWMRC
twm -f "$work/twmrc" >/dev/null 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype request --height 36 --transparent false \
  --tint 0xd8d8d8 --SetDockType true --expand false >/dev/null 2>&1 &
pids+=($!)
wait_for xdotool search --onlyvisible --class trayer

# --- database -----------------------------------------------------------------
"$repo/tests/support/mariadb/mariadb-instance.sh" start "$work/mariadb" >/dev/null
# shellcheck disable=SC1091
source "$work/mariadb/env"
export MYSQL_UNIX_PORT=$MARIADB_SOCKET
MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb --no-defaults --socket="$MARIADB_SOCKET" \
  -u "$MARIADB_ADMIN_USER" <<'SQL'
create database if not exists acd_db;
use acd_db;
create table stock_groups (Serv_Name varchar(50), Group_Name varchar(16));
create table stock_agents (Serv_Name varchar(50), Agent_Name varchar(16));
insert into stock_groups values ('10.0.0.5', 'Sales'), ('10.0.0.6', 'Support');
insert into stock_agents values ('10.0.0.5', '4711'), ('10.0.0.6', '4712');
SQL

# --- the collector service and the configurations ----------------------------
mkdir -p "$bin/logs"
"$bin/callsink" -register >/dev/null
"$bin/callsink" -start >/dev/null
collector_started=1
if ! "$bin/callsinkctl" status | grep -q ': running$'; then
  echo "screenshots: the collector does not run as the service; the states would not show" >&2
  exit 1
fi
servers=(10.0.0.5 10.0.0.6 10.0.0.7 10.0.0.8)
states=(Y-N N-Y N-N Y-Y)
for i in "${!servers[@]}"; do
  printf '%s\n' "$MARIADB_ADMIN_PASSWORD" |
    "$bin/callsinkctl" add --server "${servers[i]}" --user "$MARIADB_ADMIN_USER" \
      --password-stdin >/dev/null
  "$bin/callsinkreg" add "Software\\Orvanta Technologies\\ACD Service\\Configs\\Config$((i + 1))" \
    Status "${states[i]}" >/dev/null
done

# --- the pictures ---------------------------------------------------------------
"$bin/callsinkmanager" >/dev/null 2>&1 &
pids+=($!)
window=$(window_named callsinkmanager)
wait_for tray_has_icon

# The second row (N-Y) selected by a click, which also refreshes the status.
click_at "$window" 324 166 100 54
sleep 0.5
grab_window "$window" main-window.png

# "Edit" opens the configuration dialog of the selected row.
click_at "$window" 324 166 83 151
config=$(window_named 'Add/Edit ACD configurations')
sleep 0.5
grab_window "$config" config-dialog.png

# "Reset DB" connects to the private MariaDB and opens the data drop
# dialog; F4 drops the list of the combo box (which has the focus) down.
click_at "$config" 160 173 81 133
drop=$(window_named 'Database delete')
sleep 0.5
grab_window "$drop" data-drop-dialog.png
point_at "$drop"
grab_popup data-drop-choices.png $(geometry "$(frame_of "$drop")" outer) xdotool key F4
# Escape closes the list, "Cancel" each dialog (Escape on the main window
# would end the program).
xdotool key Escape
sleep 0.3
click_at "$drop" 169 84 113 70
sleep 0.3
click_at "$config" 160 173 128 158
sleep 0.5

# The tray menu: a right click on the icon docked in trayer.
tray=$(xdotool search --onlyvisible --class trayer | awk 'NR == 1')
read -r tx ty tw th < <(geometry "$tray")
grab_popup tray-menu.png $((screen_width - 200)) 0 200 70 \
  xdotool mousemove --sync $((tx + tw / 2)) $((ty + th * 3 / 4)) click 3
xdotool key Escape

echo "screenshots: written to ${out#"$repo"/}"
