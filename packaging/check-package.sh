#!/usr/bin/env bash
# Builds the Debian package of a build folder with cpack, unpacks it into a throw-away root
# and checks its control fields, its files, its units, its maintainer scripts (run inside
# that root) and that the installed tool runs; then checks that `cmake --install` writes
# units naming its own prefix.
#   packaging/check-package.sh BUILD_DIR
# Where lintian is installed the package must also pass it without errors (a few seconds;
# DEXWEB_LINTIAN=0 skips it). The test does not install lintian.
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
for dep in libsqlite3-0 unixodbc; do
  [[ ", $depends," == *", $dep,"* ]] || fail "Depends lacks $dep: $depends"
done

control=$work/control
mkdir -p "$control"
dpkg-deb -e "$deb" "$control"
grep -qx /etc/logrotate.d/dexweb "$control/conffiles" || fail "the logrotate rule is no conffile"
for script in postinst prerm postrm; do
  [ -x "$control/$script" ] || fail "no executable $script"
  sh -n "$control/$script" || fail "$script does not parse"
done

root=$work/root
mkdir -p "$root"
dpkg-deb -x "$deb" "$root"
units=$root/usr/lib/systemd/system
doc=$root/usr/share/doc/dexweb
for f in usr/bin/dexweb usr/bin/dexwebctl \
         usr/share/dexweb/schema/sqlite.sql usr/share/dexweb/schema/postgresql.sql usr/share/dexweb/schema/sqlserver.sql \
         usr/share/dexweb/examples/velotrax.reg.example \
         usr/lib/systemd/system/VTXWeb.service usr/lib/systemd/system/dexweb-prune.service \
         usr/lib/systemd/system/dexweb-prune.timer usr/lib/sysusers.d/dexweb.conf usr/lib/tmpfiles.d/dexweb.conf \
         usr/share/man/man8/dexweb.8.gz usr/share/man/man8/dexwebctl.8.gz \
         usr/share/doc/dexweb/copyright usr/share/doc/dexweb/changelog.Debian.gz usr/share/doc/dexweb/README.md \
         etc/logrotate.d/dexweb; do
  [ -f "$root/$f" ] || fail "missing /$f"
done
[ -x "$root/usr/bin/dexwebctl" ] || fail "dexwebctl is not executable"
"$root/usr/bin/dexwebctl" --help | grep -q '^  prune ' || fail "dexwebctl --help lists no prune"
head -n 1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright is not machine-readable"
zcat "$doc/changelog.Debian.gz" | head -n 1 | grep -q "^dexweb ($(dpkg-deb -f "$deb" Version)) " ||
  fail "changelog.Debian does not name the package's version"
for page in dexweb dexwebctl; do
  zcat "$root/usr/share/man/man8/$page.8.gz" | grep -q "^\.TH ${page^^} 8" || fail "$page.8 is no man page"
done

# The units: executables of the package's prefix, the registry condition, the hardening.
grep -qx 'ExecStart=/usr/bin/dexweb' "$units/VTXWeb.service" || fail "VTXWeb ExecStart"
grep -qx 'ExecStart=/usr/bin/dexwebctl prune' "$units/dexweb-prune.service" || fail "dexweb-prune ExecStart"
grep -qx 'ConditionPathExists=/etc/velotrax/velotrax.reg' "$units/VTXWeb.service" || fail "VTXWeb starts without a registry"
grep -qx 'WatchdogSec=180' "$units/VTXWeb.service" || fail "VTXWeb has no watchdog"
for directive in NoNewPrivileges=yes ProtectSystem=strict 'ReadWritePaths=/var/lib/velotrax /var/log/velotrax' \
                 PrivateTmp=yes ProtectHome=yes RuntimeDirectory=dexweb UMask=0027 \
                 'RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6' SystemCallFilter=@system-service \
                 ProtectKernelTunables=yes ProtectKernelModules=yes ProtectKernelLogs=yes ProtectControlGroups=yes \
                 RestrictNamespaces=yes LockPersonality=yes MemoryDenyWriteExecute=yes RestrictRealtime=yes \
                 RestrictSUIDSGID=yes PrivateDevices=yes CapabilityBoundingSet=CAP_LEASE AmbientCapabilities=CAP_LEASE \
                 User=velotrax StartLimitIntervalSec=600 StartLimitBurst=5 Restart=on-failure RestartSec=30; do
  grep -qxF "$directive" "$units/VTXWeb.service" || fail "VTXWeb.service lacks $directive"
done
if command -v systemd-analyze >/dev/null 2>&1; then
  for unit in VTXWeb.service dexweb-prune.service; do
    exposure=$(systemd-analyze security --offline=yes --no-pager "$units/$unit" 2>&1 |
               sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    [ -n "$exposure" ] || fail "systemd-analyze gave no exposure for $unit"
    awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }' || fail "$unit exposure $exposure is above 2.5"
    echo "check-package: $unit exposure $exposure"
  done
fi

# The maintainer scripts inside the root: the account, its folders, the enabled units; and
# removal disables them again.
mkdir -p "$root/etc"
printf 'root:x:0:0:root:/root:/bin/bash\n' >"$root/etc/passwd"
printf 'root:x:0:\nadm:x:4:\n' >"$root/etc/group"
if command -v systemd-sysusers >/dev/null && command -v systemd-tmpfiles >/dev/null && command -v systemctl >/dev/null; then
  DPKG_ROOT=$root sh "$control/postinst" configure "" || fail "postinst failed"
  uid=$(awk -F: '$1 == "velotrax" { print $3 }' "$root/etc/passwd")
  [ -n "$uid" ] || fail "postinst made no velotrax account"
  gid=$(awk -F: '$1 == "velotrax" { print $3 }' "$root/etc/group")
  [ "$(stat -c '%u:%g %a' "$root/var/lib/velotrax")" = "$uid:$gid 750" ] || fail "/var/lib/velotrax: $(stat -c '%u:%g %a' "$root/var/lib/velotrax")"
  [ "$(stat -c '%u:%g %a' "$root/var/log/velotrax")" = "$uid:$gid 750" ] || fail "/var/log/velotrax: $(stat -c '%u:%g %a' "$root/var/log/velotrax")"
  [ "$(stat -c '%u:%g %a' "$root/etc/velotrax")" = "0:$gid 750" ] || fail "/etc/velotrax: $(stat -c '%u:%g %a' "$root/etc/velotrax")"
  [ -L "$root/etc/systemd/system/multi-user.target.wants/VTXWeb.service" ] || fail "postinst did not enable VTXWeb"
  [ -L "$root/etc/systemd/system/timers.target.wants/dexweb-prune.timer" ] || fail "postinst did not enable the timer"
  DPKG_ROOT=$root sh "$control/prerm" remove || fail "prerm failed"
  [ ! -e "$root/etc/systemd/system/multi-user.target.wants/VTXWeb.service" ] || fail "prerm left VTXWeb enabled"
  [ ! -e "$root/etc/systemd/system/timers.target.wants/dexweb-prune.timer" ] || fail "prerm left the timer enabled"
  DPKG_ROOT=$root sh "$control/postrm" remove || fail "postrm failed"
fi

# `cmake --install` into another prefix: the units name that prefix's executables.
DESTDIR=$work/dest cmake --install "$build" --prefix /opt/dexweb >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
grep -qx 'ExecStart=/opt/dexweb/bin/dexweb' "$work/dest/opt/dexweb/lib/systemd/system/VTXWeb.service" ||
  fail "cmake --install wrote a unit for another prefix"
grep -qx 'ExecStart=/opt/dexweb/bin/dexwebctl prune' "$work/dest/opt/dexweb/lib/systemd/system/dexweb-prune.service" ||
  fail "cmake --install wrote a prune unit for another prefix"

if [ "${DEXWEB_LINTIAN:-1}" = 1 ] && command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian found errors"; }
  echo "check-package: lintian: no errors"
fi
echo "check-package: $(basename "$deb") ok"
