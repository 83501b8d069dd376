#!/usr/bin/env bash
# The Debian packages end to end, on a throwaway Debian root made with
# debootstrap from Debian's archive; nothing is installed on this system.
#
#  1. builds the packages (scripts/build-package.sh), then the same build
#     once more as a higher version;
#  2. lintian: no error, and no warning that debian/ does not override;
#  3. the packages' file lists, against tests/packaging/<package>.files;
#  4. installs them in the root while no systemd runs there, as in a
#     container: links, user, owners and modes, the unit enabled, verified
#     and rated by systemd-analyze, the logs and unit of the /opt/callsink
#     package taken over, root's tools and the service's user sharing the
#     store, logrotate; then purges them;
#  5. boots the root with systemd (systemd-nspawn) and installs again: the
#     service is started, sandboxed and runs as callsink at a raised
#     priority; Apply ("-stop", "-start") drives it; a stop counts as
#     success; a crash restarts it; an upgrade restarts it and keeps the
#     store; remove keeps store and logs, purge removes them.
#
# Needs root, debootstrap and systemd-nspawn (scripts/install-deps.sh).
#   tests/packaging/package_test.sh [OUT]     (default build/package-test)
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$(realpath -m "${1:-build/package-test}")
root=$out/root
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
upgrade_version=+upgrade1
nspawn_pid=""
failures=0

step() { printf '\n== %s (%ds)\n' "$*" "$SECONDS"; }
pass() { printf 'ok: %s\n' "$*"; }
fail() {
  printf 'FAILED: %s\n' "$*"
  failures=$((failures + 1))
}
# check DESCRIPTION EXPECTED ACTUAL
check() {
  if [[ "$2" == "$3" ]]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; fi
}
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
in_container() {
  nsenter --target "$(pgrep -P "$nspawn_pid")" --mount --uts --ipc --net --pid --root --wd \
    /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}
# Owners as the root's own user database names them.
owner_mode() { in_root stat -c '%U:%G %a' "$1"; }
wait_for() { # SECONDS COMMAND...: true once COMMAND succeeds
  local until=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < until)) || return 1
    sleep 1
  done
}

cleanup() {
  if [[ -n $nspawn_pid ]] && kill -0 "$nspawn_pid" 2>/dev/null; then
    kill "$nspawn_pid"
    wait "$nspawn_pid" || true
  fi
  if mountpoint -q "$root/proc"; then umount "$root/proc"; fi
  rm -rf "$root"
}
trap cleanup EXIT

[[ $(id -u) -eq 0 ]] || { echo "package_test.sh: needs root (chroot, mounts)" >&2; exit 1; }

step "Building the packages"
scripts/build-package.sh "$out" >"$out.build.log" 2>&1 ||
  { tail -40 "$out.build.log"; exit 1; }
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
packages=(callsink callsink-manager acdsim callsink-board)
# Below /srv in the root: systemd-nspawn puts a tmpfs on /tmp.
v1_debs=()
v2_debs=()
for package in "${packages[@]}"; do
  v1_debs+=("/srv/debs/v1/${package}_${version}_amd64.deb")
  v2_debs+=("/srv/debs/v2/${package}_${version}${upgrade_version}_amd64.deb")
done

step "lintian"
if lintian --fail-on error,warning --info --display-level ">=pedantic" \
  "$out/callsink_${version}_amd64.changes" >"$out/lintian.txt" 2>&1; then
  pass "lintian: no error, no warning left unexplained"
else
  fail "lintian"
fi
grep -v '^N:' "$out/lintian.txt" || true

mkdir -p "$out/v1" "$out/v2"
mv "$out"/*.deb "$out/v1/"
scripts/build-package.sh "$out" "$version$upgrade_version" >>"$out.build.log" 2>&1 ||
  { tail -40 "$out.build.log"; exit 1; }
mv "$out"/*.deb "$out/v2/"

step "File lists"
for package in "${packages[@]}"; do
  dpkg-deb -c "$out/v1/${package}_${version}_amd64.deb" |
    awk '{ line = $6 " " $1 " " $2; for (i = 7; i <= NF; ++i) line = line " " $i; print line }' |
    LC_ALL=C sort >"$out/$package.files"
  if diff -u "tests/packaging/$package.files" "$out/$package.files"; then
    pass "$package holds what tests/packaging/$package.files lists"
  else
    fail "$package's file list"
  fi
done

step "A Debian root (debootstrap)"
# The downloaded packages are kept beside OUT, so that a second run on this
# machine fetches nothing.
base=$(dirname "$out")/debootstrap-bookworm.tgz
rm -rf "$root"
if [[ ! -f $base ]]; then
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,logrotate,procps \
    --make-tarball="$base.part" bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -20 "$out/debootstrap.log"; exit 1; }
  mv "$base.part" "$base"
  rm -rf "$root"
fi
debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,logrotate,procps \
  --unpack-tarball="$base" bookworm "$root" "$mirror" >>"$out/debootstrap.log" 2>&1 ||
  { tail -20 "$out/debootstrap.log"; exit 1; }
mkdir -p "$root/srv/debs"
cp -r "$out/v1" "$out/v2" "$root/srv/debs/"
in_root apt-get update -qq >/dev/null

step "Install without systemd running"
# What the 1.11 package (/opt/callsink) left behind after its upgrade: its
# unit, its logs, and a store of root's with one configuration.
mkdir -p "$root/etc/systemd/system" "$root/opt/callsink/logs"
printf '[Service]\nExecStart="/opt/callsink/callsink" "-name=ACD Service"\n' \
  >"$root/etc/systemd/system/acd-service.service"
echo "old line" >"$root/opt/callsink/logs/acd_common.log"
dpkg-deb -x "$out/v1/callsink_${version}_amd64.deb" "$out/programs"
echo secret | CALLSINK_ROOT=$root "$out/programs/usr/lib/callsink/callsinkctl" add \
  --server 127.0.0.1 --port 1 --password-stdin >/dev/null
rm -rf "$out/programs"
store_key='Software\Orvanta Technologies\ACD Service\Configs\Config1'
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${v1_debs[@]}" >"$out/install.log" 2>&1 || { tail -30 "$out/install.log"; exit 1; }
pass "installed while no systemd runs"
for link in /usr/sbin/callsink:/usr/lib/callsink/callsink \
  /usr/bin/callsinkctl:/usr/lib/callsink/callsinkctl \
  /usr/sbin/callsinkreg:/usr/lib/callsink/callsinkreg \
  /usr/bin/callsinkmanager:/usr/lib/callsink/callsinkmanager \
  /usr/lib/callsink/logs:/var/log/callsink; do
  check "${link%%:*} leads to ${link#*:}" "${link#*:}" "$(in_root readlink -f "${link%%:*}")"
done
check "user callsink" "callsink:/var/lib/callsink:/usr/sbin/nologin" \
  "$(in_root getent passwd callsink | cut -d: -f1,6,7)"
check "store folder" "callsink:callsink 700" "$(owner_mode /var/lib/callsink)"
check "log folder" "callsink:adm 2750" "$(owner_mode /var/log/callsink)"
check "unit enabled" "/usr/lib/systemd/system/acd-service.service" \
  "$(in_root readlink -f /etc/systemd/system/multi-user.target.wants/acd-service.service)"
check "the old package's unit is gone" "" "$(ls "$root/etc/systemd/system/acd-service.service" 2>/dev/null)"
check "the old package's logs moved over" "old line callsink:adm" \
  "$(cat "$root/var/log/callsink/acd_common.log") $(in_root stat -c %U:%G /var/log/callsink/acd_common.log)"
check "no /opt/callsink left" "" "$(ls -d "$root/opt/callsink" 2>/dev/null)"
check "the old store is the user's" "callsink:callsink 600 127.0.0.1" \
  "$(owner_mode /var/lib/callsink/registry.db) $(in_root callsinkreg query "$store_key" ACD_Server)"
if systemd-analyze verify --root="$root" --man=no acd-service.service >"$out/verify.txt" 2>&1; then
  pass "systemd-analyze verify"
else
  fail "systemd-analyze verify: $(cat "$out/verify.txt")"
fi
systemd-analyze security --root="$root" --offline=yes acd-service.service >"$out/security.txt" 2>&1 || true
score=$(sed -n 's/.*Overall exposure level for acd-service.service: \([0-9.]*\).*/\1/p' "$out/security.txt")
if awk -v s="${score:-99}" 'BEGIN { exit !(s <= 3.0) }'; then
  pass "systemd-analyze security: exposure $score"
else
  fail "systemd-analyze security: exposure ${score:-unknown}"
fi

# The service's user reads the store and writes its state there, and writes
# its logs.
mount -t proc proc "$root/proc"
# The window and callsinkctl write "N-N" with a new configuration; a state
# the collector never writes shows when it has written its own.
in_root callsinkreg add "$store_key" Status unset
status_written() { [[ $("$@" callsinkreg query "$store_key" Status) != unset ]]; }
# chroot, env and setpriv each exec the next: $! is the collector's PID (a
# function in the background would be a subshell of its own).
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
  setpriv --reuid=callsink --regid=callsink --init-groups /usr/sbin/callsink &
collector=$!
if ! wait_for 20 grep -q "Waiting for close event" "$root/var/log/callsink/acd_common.log"; then
  fail "the collector as callsink did not start"
fi
wait_for 20 status_written in_root || true
kill -TERM "$collector"
wait "$collector" || true
check "state written by the collector as callsink" "N-N" "$(in_root callsinkreg query "$store_key" Status)"
check "worker log written as callsink" "callsink:adm" \
  "$(in_root stat -c %U:%G /var/log/callsink/acd_127.0.0.1.log 2>&1)"
umount "$root/proc"

in_root logrotate -f -s /tmp/logrotate.state /etc/logrotate.d/callsink
check "logrotate copied and emptied the log" "0 callsink:adm" \
  "$(in_root stat -c '%s %U:%G' /var/log/callsink/acd_common.log)"
check "the rotated log holds the lines" "old line" "$(head -1 "$root/var/log/callsink/acd_common.log.1")"

in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >>"$out/install.log" 2>&1
check "purged: nothing of callsink left" "" \
  "$(cd "$root" && find . -xdev \( -name '*callsink*' -o -name 'acd-service*' -o -name acdsim \) \
    -not -path './srv/debs/*' | sort)"

step "Install, upgrade, remove and purge under systemd (systemd-nspawn)"
systemd-nspawn --quiet --directory="$root" --register=no --keep-unit --boot >"$out/boot.log" 2>&1 &
nspawn_pid=$!
wait_for 60 in_container test -S /run/systemd/private || { tail "$out/boot.log"; exit 1; }
in_container systemctl is-system-running --wait >/dev/null || true
in_container env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${v1_debs[@]}" >>"$out/install.log" 2>&1 || fail "install under systemd"
check "started on install" "active" "$(in_container systemctl is-active acd-service)"
main_pid=$(in_container systemctl show -P MainPID acd-service)
check "runs as callsink, its priority raised" "callsink -10" \
  "$(in_container ps -o user=,ni= -p "$main_pid" | xargs)"
wait_for 20 grep -q "Waiting for close event" "$root/var/log/callsink/acd_common.log" ||
  fail "the service wrote no common log"

echo secret | in_container callsinkctl add --server 127.0.0.1 --port 1 --password-stdin >/dev/null
check "a store root's tool makes is the user's" "callsink:callsink 600" \
  "$(owner_mode /var/lib/callsink/registry.db)"
in_container callsinkreg add "$store_key" Status unset
check "Apply restarts the service" "Service restarted" "$(in_container callsinkctl apply)"
check "the service runs again" "active" "$(in_container systemctl is-active acd-service)"
wait_for 20 status_written in_container || true
check "the sandboxed service reads and writes its store" "N-N" \
  "$(in_container callsinkreg query "$store_key" Status)"
check "polkit reads the window's action" "/usr/lib/callsink/callsinkmanager" \
  "$(in_container pkaction --action-id org.callsink.manager.run --verbose |
    sed -n 's/.*org.freedesktop.policykit.exec.path -> //p')"
check "-register leaves the package's unit" \
  "The service comes with the callsink package (/usr/lib/systemd/system/acd-service.service): nothing to register." \
  "$(in_container callsink -register 2>&1)"

in_container systemctl stop acd-service
check "a stop (exit status 1) is a success" "inactive success 1" \
  "$(in_container systemctl show -P ActiveState acd-service) $(in_container systemctl show -P Result acd-service) $(in_container systemctl show -P ExecMainStatus acd-service)"
in_container callsink -start
main_pid=$(in_container systemctl show -P MainPID acd-service)
in_container kill -SEGV "$main_pid"
restart_state() {
  echo "$(in_container systemctl show -P NRestarts acd-service)" \
    "$(in_container systemctl is-active acd-service)"
}
restarted_once() { [[ $(restart_state) == "1 active" ]]; }
wait_for 30 restarted_once || true
check "restarted after a crash" "1 active" "$(restart_state)"

main_pid=$(in_container systemctl show -P MainPID acd-service)
in_container callsinkreg export >"$out/store.before"
in_container env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${v2_debs[@]}" >>"$out/install.log" 2>&1 || fail "upgrade"
check "upgraded" "$version$upgrade_version" "$(in_container dpkg-query -W -f="\${Version}" callsink)"
new_pid=$(in_container systemctl show -P MainPID acd-service)
if [[ $new_pid != "$main_pid" && $new_pid != 0 ]]; then pass "restarted on upgrade"; else fail "not restarted on upgrade"; fi
check "still enabled" "enabled" "$(in_container systemctl is-enabled acd-service)"
in_container callsinkreg export >"$out/store.after"
check "the store survives the upgrade" "$(sed 's/\tStatus\t.*//' "$out/store.before")" \
  "$(sed 's/\tStatus\t.*//' "$out/store.after")"
check "store folder after the upgrade" "callsink:callsink 700" "$(owner_mode /var/lib/callsink)"
check "log folder after the upgrade" "callsink:adm 2750" "$(owner_mode /var/log/callsink)"

in_container env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "${packages[@]}" >>"$out/install.log" 2>&1
check "removed: the service is gone" "inactive" "$(in_container systemctl is-active acd-service || true)"
check "removed: store and logs stay" "yes yes" \
  "$(test -s "$root/var/lib/callsink/registry.db" && echo yes) $(test -s "$root/var/log/callsink/acd_common.log" && echo yes)"
in_container dpkg --purge "${packages[@]}" >>"$out/install.log" 2>&1
check "purged: store and logs gone" "" "$(ls -d "$root/var/lib/callsink" "$root/var/log/callsink" 2>/dev/null)"
in_container systemctl poweroff || true
wait_for 30 bash -c "! kill -0 $nspawn_pid" || true

step "Done"
if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "every check passed"
