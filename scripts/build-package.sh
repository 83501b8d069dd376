#!/usr/bin/env bash
# Builds the Debian packages of this checkout with `dpkg-buildpackage -b -us
# -uc` and leaves them (.deb, .buildinfo, .changes) in OUT (default
# build/package).
#
#   scripts/build-package.sh [OUT]          copies the tracked and the new,
#                                           not ignored files to OUT/source
#                                           and builds there from scratch
#   scripts/build-package.sh OUT VERSION    builds the packages of the last
#                                           build in OUT again as VERSION,
#                                           without compiling anew (the
#                                           upgrade test's second version)
#
# JOBS sets the build's parallel jobs (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/package}")
version=${2:-}
source_dir=$out/source
export DEB_BUILD_OPTIONS="parallel=${JOBS:-$(nproc)}"

if [[ -z $version ]]; then
  rm -rf "$out"
  mkdir -p "$source_dir"
  git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf - |
    tar -xf - -C "$source_dir"
  cd "$source_dir"
  dpkg-buildpackage -b -us -uc
else
  [[ -f $source_dir/debian/debhelper-build-stamp ]] ||
    { echo "build-package.sh: no finished build in $out to package again" >&2; exit 1; }
  cd "$source_dir"
  maintainer=$(dpkg-parsechangelog -S Maintainer)
  {
    printf 'callsink (%s) unstable; urgency=medium\n\n' "$version"
    printf '  * The same build again, packaged as a newer version.\n\n'
    printf ' -- %s  %s\n\n' "$maintainer" "$(date -R)"
    cat debian/changelog
  } >debian/changelog.new
  mv debian/changelog.new debian/changelog
  dpkg-buildpackage -b -us -uc -nc
fi
ls -1 "$out"/*.deb
