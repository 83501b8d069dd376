#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any of them is missing. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 zlib1g-dev
  libmariadb-dev mariadb-server mariadb-client
  galera-4 mariadb-backup socat haproxy iproute2
  libsystemd-dev systemd
  qt6-base-dev xvfb xauth twm trayer xdotool x11-utils
  clang libclang-rt-14-dev
  libcpp-httplib-dev prometheus libyaml-cpp-dev libssl-dev libcrypt-dev openssl
  chromium chromium-driver python3-selenium
  procps psmisc bc
  debhelper lintian scdoc debootstrap systemd-container
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Keep the packaged MariaDB and haproxy from starting as system services: the
# tests and the demos run private instances of their own.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee $policy >/dev/null
  $sudo chmod 755 $policy
  created_policy=1
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
if ((created_policy)); then $sudo rm -f $policy; fi
