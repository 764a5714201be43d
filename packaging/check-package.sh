#!/usr/bin/env bash
# Builds the Debian package of a build folder with cpack, unpacks it into a throw-away root
# and checks its control fields, its files and that the installed tool runs.
#   packaging/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/dexweb-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/out/dexweb_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no dexweb_*.deb made"

[ "$(dpkg-deb -f "$deb" Package)" = dexweb ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libsqlite3-0 unixodbc libcpp-httplib0.11; do
  [[ ", $depends," == *", $dep,"* ]] || fail "Depends lacks $dep: $depends"
done

mkdir -p "$work/control"
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/logrotate.d/dexweb "$work/control/conffiles" || fail "the logrotate rule is no conffile"

root=$work/root
mkdir -p "$root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/dexweb usr/bin/dexwebctl \
         usr/share/dexweb/schema/sqlite.sql usr/share/dexweb/schema/postgresql.sql usr/share/dexweb/schema/sqlserver.sql \
         usr/share/dexweb/examples/velotrax.reg.example \
         usr/lib/systemd/system/VTXWeb.service etc/logrotate.d/dexweb; do
  [ -f "$root/$f" ] || fail "missing /$f"
done
[ -x "$root/usr/bin/dexwebctl" ] || fail "dexwebctl is not executable"
"$root/usr/bin/dexwebctl" --help | grep -q '^  serve ' || fail "dexwebctl --help lists no serve"
grep -q '^ExecStart=/usr/bin/dexweb$' "$root/usr/lib/systemd/system/VTXWeb.service" || fail "unit ExecStart"
echo "check-package: $(basename "$deb") ok"
