#!/usr/bin/env bash
# Builds the Debian package of a build folder with cpack, unpacks it into a throw-away root
# and checks its control fields, its files, its units (the service's lines are those
# `dexweb install` writes), its maintainer scripts (run inside that root), that the
# installed tool runs and that no binary names the build machine's source folder; then
# checks that `cmake --install` writes units naming its own prefix and says where they go.
#   packaging/check-package.sh BUILD_DIR
# Where lintian is installed (scripts/deps.sh test installs it) the package must pass it
# with no error, no warning and no hardening note (a few seconds; DEXWEB_LINTIAN=0 skips
# it); where hardening-check (devscripts) is installed, it must pass too.
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
names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
for dep in libsqlite3-0 libodbc2 unixodbc systemd; do
  grep -qx "$dep" <<<"$names" || fail "Depends lacks $dep: $depends"
done
[ -z "$(sort <<<"$names" | uniq -d)" ] || fail "Depends names a package twice: $depends"
[ "$(dpkg-deb -f "$deb" Suggests)" = sqlite3 ] || fail "Suggests: $(dpkg-deb -f "$deb" Suggests)"

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
for f in usr/sbin/dexweb usr/bin/dexwebctl \
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

# No binary holds the build machine's source folder (the schema files, debug paths).
source_dir=$(cd "$(dirname "$0")/.." && pwd)
for f in usr/sbin/dexweb usr/bin/dexwebctl; do
  ! grep -qF "$source_dir" "$root/$f" || fail "/$f names $source_dir"
done

# The units: executables of the package's prefix, the registry condition, the stop that
# lets a filter finish, a reload, the alias, the hardening.
grep -qx 'ExecStart="/usr/sbin/dexweb"' "$units/VTXWeb.service" || fail "VTXWeb ExecStart"
grep -qx 'ExecStart=/usr/bin/dexwebctl prune' "$units/dexweb-prune.service" || fail "dexweb-prune ExecStart"
for directive in ConditionPathExists=/etc/velotrax/velotrax.reg WatchdogSec=180 KillMode=mixed TimeoutStopSec=150 \
                 "ExecReload=/bin/sh -c 'kill -HUP \$MAINPID'" Alias=dexweb.service \
                 NoNewPrivileges=yes ProtectSystem=strict 'ReadWritePaths=-/var/lib/velotrax/ -/var/log/velotrax/' \
                 PrivateTmp=yes ProtectHome=yes RuntimeDirectory=dexweb UMask=0027 \
                 'RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6' SystemCallFilter=@system-service \
                 ProtectKernelTunables=yes ProtectKernelModules=yes ProtectKernelLogs=yes ProtectControlGroups=yes \
                 RestrictNamespaces=yes LockPersonality=yes MemoryDenyWriteExecute=yes RestrictRealtime=yes \
                 RestrictSUIDSGID=yes PrivateDevices=yes CapabilityBoundingSet=CAP_LEASE AmbientCapabilities=CAP_LEASE \
                 User=velotrax StartLimitIntervalSec=600 StartLimitBurst=5 Restart=on-failure RestartSec=30; do
  grep -qxF "$directive" "$units/VTXWeb.service" || fail "VTXWeb.service lacks $directive"
done
# `dexweb install velotrax` writes the same lines for the package's registry and folders.
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax]\n"DB_Dir"="/var/lib/velotrax/"\n"Log_Dir"="/var/log/velotrax/"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax\\Services]\n"Run_Type"="NTService"\n' \
  >"$work/velotrax.reg"
mkdir -p "$work/installed"
DEXWEB_UNIT_DIR=$work/installed VELOTRAX_REGISTRY=$work/velotrax.reg "$root/usr/sbin/dexweb" install velotrax \
  >"$work/install-unit.log" 2>&1 || { cat "$work/install-unit.log" >&2; fail "dexweb install failed"; }
directives() { grep -v -e '^#' -e '^$' "$1"; }
diff <(directives "$units/VTXWeb.service") \
     <(directives "$work/installed/VTXWeb.service" | sed "s|$work/velotrax.reg|/etc/velotrax/velotrax.reg|; s|$root/usr/sbin|/usr/sbin|") \
  >&2 || fail "the packaged VTXWeb.service differs from what dexweb install writes"
if command -v systemd-analyze >/dev/null 2>&1; then
  for unit in VTXWeb.service dexweb-prune.service; do
    exposure=$(systemd-analyze security --offline=yes --no-pager "$units/$unit" 2>&1 |
               sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    [ -n "$exposure" ] || fail "systemd-analyze gave no exposure for $unit"
    awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }' || fail "$unit exposure $exposure is above 2.5"
    echo "check-package: $unit exposure $exposure"
  done
fi

# The maintainer scripts inside the root: the account, its folders, the enabled units and
# the alias; a removal leaves the links for a reinstall, a purge removes them.
mkdir -p "$root/etc"
printf 'root:x:0:0:root:/root:/bin/bash\n' >"$root/etc/passwd"
printf 'root:x:0:\nadm:x:4:\n' >"$root/etc/group"
# As dpkg runs them (deb-systemd-helper refuses to run otherwise).
maintscript() { DPKG_ROOT=$root DPKG_MAINTSCRIPT_PACKAGE=dexweb DPKG_MAINTSCRIPT_NAME=$1 sh "$control/$1" "${@:2}"; }
if command -v systemd-sysusers >/dev/null && command -v deb-systemd-helper >/dev/null; then
  maintscript postinst configure "" || fail "postinst failed"
  uid=$(awk -F: '$1 == "velotrax" { print $3 }' "$root/etc/passwd")
  [ -n "$uid" ] || fail "postinst made no velotrax account"
  gid=$(awk -F: '$1 == "velotrax" { print $3 }' "$root/etc/group")
  [ "$(stat -c '%u:%g %a' "$root/var/lib/velotrax")" = "$uid:$gid 750" ] || fail "/var/lib/velotrax: $(stat -c '%u:%g %a' "$root/var/lib/velotrax")"
  [ "$(stat -c '%u:%g %a' "$root/var/log/velotrax")" = "$uid:$gid 750" ] || fail "/var/log/velotrax: $(stat -c '%u:%g %a' "$root/var/log/velotrax")"
  [ "$(stat -c '%u:%g %a' "$root/etc/velotrax")" = "0:$gid 750" ] || fail "/etc/velotrax: $(stat -c '%u:%g %a' "$root/etc/velotrax")"
  links="multi-user.target.wants/VTXWeb.service dexweb.service timers.target.wants/dexweb-prune.timer"
  for link in $links; do
    [ -L "$root/etc/systemd/system/$link" ] || fail "postinst did not make /etc/systemd/system/$link"
  done
  maintscript prerm remove || fail "prerm failed"
  maintscript postrm remove || fail "postrm remove failed"
  [ -L "$root/etc/systemd/system/dexweb.service" ] || fail "a removal dropped the links"
  maintscript postrm purge || fail "postrm purge failed"
  for link in $links; do
    [ ! -e "$root/etc/systemd/system/$link" ] || fail "a purge left /etc/systemd/system/$link"
  done
fi

# `cmake --install` into another prefix: the units name that prefix's executables, and it
# says how systemd gets to see them (the package's own prefix needs no such note).
DESTDIR=$work/dest cmake --install "$build" --prefix /opt/dexweb >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
grep -qx 'ExecStart="/opt/dexweb/sbin/dexweb"' "$work/dest/opt/dexweb/lib/systemd/system/VTXWeb.service" ||
  fail "cmake --install wrote a unit for another prefix"
grep -qF 'systemctl link /opt/dexweb/lib/systemd/system/VTXWeb.service' "$work/install.log" ||
  fail "cmake --install into /opt/dexweb does not say where the units must go"
DESTDIR=$work/dest cmake --install "$build" --prefix /usr/local >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
! grep -q 'systemd does not look' "$work/install.log" || fail "cmake --install into /usr/local says its units are misplaced"
grep -qx 'ExecStart=/opt/dexweb/bin/dexwebctl prune' "$work/dest/opt/dexweb/lib/systemd/system/dexweb-prune.service" ||
  fail "cmake --install wrote a prune unit for another prefix"

if [ "${DEXWEB_LINTIAN:-1}" = 1 ] && command -v lintian >/dev/null; then
  lintian --info --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian found errors or warnings"; }
  ! grep -q ' hardening-' "$work/lintian.log" || { cat "$work/lintian.log" >&2; fail "lintian: hardening missing"; }
  grep -v 'running with root privileges' "$work/lintian.log" | sed 's/^/check-package: lintian: /' || true
  echo "check-package: lintian: no errors, no warnings, no hardening notes"
fi
# Control-flow protection cannot be had on Debian 12: its C library's start files carry no
# IBT/SHSTK note, so no program linked there gets one.
if command -v hardening-check >/dev/null; then
  hardening-check --nocfprotection "$root/usr/sbin/dexweb" "$root/usr/bin/dexwebctl" >"$work/hardening.log" 2>&1 ||
    { cat "$work/hardening.log" >&2; fail "hardening-check failed"; }
  sed 's/^/check-package: /' "$work/hardening.log"
fi
echo "check-package: $(basename "$deb") ok"
