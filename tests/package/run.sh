#!/usr/bin/env bash
# The Debian package as an exam centre gets it: built by the project's build into build/,
# checked by lintian (no errors) and appstreamcli, then installed, used by an unprivileged user, and removed by
# test_package.py. Needs root (apt-get); changes the machine only while it runs.
set -euo pipefail
# Installing a package and adding a test user need root, as the setup script's apt-get does.
[ "$(id -u)" -eq 0 ] || exec sudo "$(readlink -f "$0")" "$@"
cd "$(dirname "$0")/../.."

rm -f build/vornclient_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/vornclient_*.deb)
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
lintian --fail-on error --tag-display-limit 0 "$deb"
# The software centres' metadata, pedantic warnings included (e.g. an id that is not reverse-DNS).
meta=$(mktemp -d)
dpkg-deb -x "$deb" "$meta"
appstreamcli validate --no-net --pedantic "$meta"/usr/share/metainfo/*.metainfo.xml
rm -rf "$meta"

cd tests/package
VORN_PACKAGE="$OLDPWD/$deb" VORN_BUILD_DIR="$OLDPWD/build" VORN_SOURCE_DIR="$OLDPWD" PYTHONDONTWRITEBYTECODE=1 \
    python3 -m unittest -v test_package
