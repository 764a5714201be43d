#!/usr/bin/env bash
# The package on a real systemd. Boots Debian 12 with systemd as PID 1 in a systemd-nspawn
# container, installs the package built from BUILD_DIR there and checks what only a running
# systemd shows: the install makes the account and folders and asks policy-rc.d before it
# starts anything; `dexwebctl init --system` and the commands it prints; the service
# active under its alias; a message written by www-data through `dexwebctl submit` stored
# as a row; `systemctl reload` re-reads; `dexwebctl stop` and `start`; a stop while a slow
# filter runs stores the message filtered (or leaves it for the next start), never
# unfiltered; kill -9 is restarted; the start limit; remove and purge.
#   scripts/live-systemd-test.sh [BUILD_DIR]          (default build)
# The container's root is an overlay whose upper layer lives in memory and is dropped at
# the end, over a minimal Debian 12 with the package's dependencies, made with debootstrap
# from the host's apt mirror and kept in DEXWEB_LIVE_BASE (default
# /var/tmp/dexweb-live-bookworm); it is made again when the package's dependencies change.
# The container has no network: nothing is fetched inside.
# Where no container can boot here (not root, no overlayfs, systemd-nspawn or debootstrap
# not to be had, no mirror, a boot that fails) it says so in one line, "live-systemd:
# skipped: REASON", and exits 0. Every check after the boot must pass.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
base=${DEXWEB_LIVE_BASE:-/var/tmp/dexweb-live-bookworm}
name=dexweb-live-$$
export DEBIAN_FRONTEND=noninteractive

say() { echo "live-systemd: $*"; }
skip() { say "skipped: $*"; exit 0; }

[ "$(id -u)" -eq 0 ] || skip "needs root"
grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null || skip "no overlayfs"
apt_host() { apt-get -q -o DPkg::Lock::Timeout=600 "$@"; }

# systemd-nspawn at the host's own systemd version, so that systemd itself is not upgraded.
ensure_tools() {
  local need=() version
  command -v systemd-nspawn >/dev/null || need+=(systemd-container)
  command -v debootstrap >/dev/null || need+=(debootstrap)
  ((${#need[@]})) || return 0
  apt_host update -qq >/dev/null 2>&1 || true
  version=$(dpkg-query -W -f='${Version}' systemd 2>/dev/null || true)
  apt_host install -y -qq --no-install-recommends "${need[@]/#systemd-container/systemd-container${version:+=$version}}" \
    >/dev/null 2>&1 || apt_host install -y -qq --no-install-recommends "${need[@]}" >/dev/null 2>&1
}
ensure_tools || skip "systemd-container or debootstrap cannot be installed"

work=$(mktemp -d /tmp/dexweb-live.XXXXXX)
state=$work/state
root=$state/root
nspawn=""
leader() { local c; c=$(cat "/proc/$nspawn/task/$nspawn/children" 2>/dev/null) && c=${c%% *} && [ -n "$c" ] && echo "$c"; }
shutdown() {
  local l
  if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
    l=$(leader || true)
    [ -z "$l" ] || kill -RTMIN+4 "$l" 2>/dev/null || true  # systemd: power off
    for _ in $(seq 60); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.5; done
    kill -KILL "$nspawn" 2>/dev/null || true
    wait "$nspawn" 2>/dev/null || true
  fi
  if mountpoint -q "$root"; then umount "$root" 2>/dev/null || umount -l "$root"; fi
  if mountpoint -q "$state"; then umount "$state" 2>/dev/null || umount -l "$state"; fi
  rm -rf "$work"
}
trap shutdown EXIT

# The package, and what it needs besides Debian's required packages: the first choice of
# each dependency, its recommendations and suggestions (acl, sqlite3 for the checks).
cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/deb/dexweb_*.deb)
needs=$(dpkg-deb -f "$deb" Depends Recommends Suggests | sed 's/^[A-Za-z]*: //' | tr ',' '\n' |
        sed 's/|.*//; s/(.*//; s/ //g' | grep . | sort -u | paste -sd,)
include="systemd,systemd-sysv,dbus,$needs"

mirror() {
  local m
  m=$(grep -hs -m1 -E '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' | grep -v security | head -n 1) || true
  [ -n "$m" ] || m=$(grep -hs -E '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
                     grep -v -e security -e '\[' | awk '{print $2}' | head -n 1) || true
  echo "${m:-http://deb.debian.org/debian}"
}
make_base() {
  [ "$(cat "$base/.dexweb-live-base" 2>/dev/null)" = "$include" ] && return
  rm -rf "$base"
  say "making a Debian 12 base with $include in $base (once)"
  debootstrap --variant=minbase --include="$include" bookworm "$base" "$(mirror)" >"$base.log" 2>&1 || return 1
  echo "$include" >"$base/.dexweb-live-base"
}
(flock 9; make_base) 9>"$base.lock" || skip "debootstrap failed (log: $base.log)"

mkdir -p "$state"
mount -t tmpfs -o size=2G,mode=0700 dexweb-live "$state"
mkdir -p "$state/upper" "$state/work" "$root"
mount -t overlay dexweb-live -o "lowerdir=$base,upperdir=$state/upper,workdir=$state/work" "$root" ||
  skip "the overlay cannot be mounted"
systemd-id128 new >"$root/etc/machine-id"
echo "$name" >"$root/etc/hostname"
# No host systemd or machined to register with.
setsid systemd-nspawn -D "$root" --boot --machine="$name" --register=no --keep-unit --private-network \
  --console=passive >"$work/boot.log" 2>&1 </dev/null &
nspawn=$!
inside() {
  local l; l=$(leader) || { say "FAILED: the container stopped"; exit 1; }
  nsenter -t "$l" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
}
booted=""
for _ in $(seq 240); do
  booted=$(inside systemctl is-system-running 2>/dev/null) || true
  [ "$booted" = running ] || [ "$booted" = degraded ] && break
  kill -0 "$nspawn" 2>/dev/null || break
  sleep 0.5
done
if [ "$booted" != running ] && [ "$booted" != degraded ]; then
  cp "$work/boot.log" /tmp/dexweb-live-boot.log
  skip "the container did not boot (state: ${booted:-none}; log: /tmp/dexweb-live-boot.log)"
fi
say "booted $(inside systemctl --version | head -n 1) in a container: $booted"

# ---- the checks ----
sh_in() { inside sh -c "$1"; }
as_web() { inside setpriv --reuid=www-data --regid=www-data --init-groups "$@"; }
sql() { inside setpriv --reuid=velotrax --regid=velotrax --init-groups sqlite3 /var/lib/velotrax/velotrax.db "$1"; }
prop() { inside systemctl show -p "$1" --value VTXWeb.service; }
diagnose() {
  set +e
  inside systemctl status --no-pager VTXWeb.service
  inside journalctl -u VTXWeb.service -n 40 --no-pager
  sh_in 'tail -n 30 /var/log/velotrax/VTXWeb.log'
}
fail() { say "FAILED: $*"; diagnose; exit 1; }
ok() { say "ok: $*"; }
check() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }
# Waits up to $1 seconds for the command to succeed.
wait_for() {
  local seconds=$1; shift
  for _ in $(seq $((seconds * 2))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.5; done
  return 1
}
is() { [ "$(prop "$1")" = "$2" ]; }
rows() { sql "SELECT count(*) FROM messages WHERE message = '$1'"; }
has_row() { [ "$(rows "$1")" -gt 0 ]; }
logged() { sh_in "grep -qF '$1' /var/log/velotrax/VTXWeb.log"; }

# Install as the README says, from the folder that holds the package (apt told to answer
# yes), with a policy that forbids starting services.
cp "$deb" "$root/var/cache/"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
printf 'APT::Get::Assume-Yes "true";\n' >"$root/etc/apt/apt.conf.d/90dexweb-live"
inside sh -c 'cd /var/cache && apt install ./dexweb_*.deb' >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "apt-get install of the package"; }
rm "$root/usr/sbin/policy-rc.d"
check "installed $(basename "$deb")" sh_in 'dpkg-query -W -f="\${Status}" dexweb | grep -q "install ok installed"'
check "the account velotrax: no shell, home /var/lib/velotrax" \
  sh_in 'getent passwd velotrax | grep -q ":/var/lib/velotrax:/usr/sbin/nologin$"'
check "the folders: /etc/velotrax root:velotrax 750, /var/lib and /var/log/velotrax velotrax 750" \
  sh_in '[ "$(stat -c "%U:%G %a" /etc/velotrax /var/lib/velotrax /var/log/velotrax | paste -sd" ")" = "root:velotrax 750 velotrax:velotrax 750 velotrax:velotrax 750" ]'
check "VTXWeb.service and dexweb-prune.timer enabled" \
  sh_in '[ "$(systemctl is-enabled VTXWeb.service dexweb-prune.timer | paste -sd" ")" = "enabled enabled" ]'
grep -q 'policy-rc.d returned 101' "$work/install.log" || fail "deb-systemd-invoke did not ask policy-rc.d"
check "policy-rc.d said no: nothing started" sh_in '! systemctl -q is-active dexweb-prune.timer'
check "the alias dexweb.service names VTXWeb.service" \
  sh_in '[ "$(systemctl show -p Id --value dexweb.service)" = VTXWeb.service ]'

# The production home as init makes it, then every "Next:" line it prints but status: the
# web server's account joins the web writers' group, the units are enabled and check, told
# the web account, finds nothing wrong.
inside dexwebctl init --system >"$work/init.log" 2>&1 || { cat "$work/init.log"; fail "dexwebctl init --system"; }
sed -n '/^Next:/,$p' "$work/init.log" | tail -n +2 | sed 's/^ *//; s/ *#.*//' | grep -v ' status' >"$work/next"
[ -s "$work/next" ] || { cat "$work/init.log"; fail "init printed no next commands"; }
while read -r line; do
  inside sh -c "$line" </dev/null || fail "init's next command: $line"
done <"$work/next"
ok "dexwebctl init --system, then: $(paste -sd';' "$work/next")"
web=$(sql "SELECT dexwebcgi_path FROM settings")
# Files that www-data makes (0640) are the module's to read through the folder's default
# ACL that init sets; on a file system without ACLs init prints the line to run instead.
if inside getfacl -cp "$web" | grep -q '^default:user:velotrax:r'; then
  ok "init gave $web to the group velotrax-web (setgid) with default:user:velotrax:r"
else
  instead=$(sed -n 's/^ *Instead: //p' "$work/init.log")
  [ -n "$instead" ] || { cat "$work/init.log"; fail "init left $web without a default ACL and said nothing"; }
  inside sh -c "$instead" || fail "init's line for a file system without ACLs: $instead"
  ok "no ACLs here; ran init's line instead: $instead"
fi
check "VTXWeb active (READY=1)" wait_for 60 is ActiveState active
check "active under its alias: systemctl is-active dexweb" sh_in 'systemctl -q is-active dexweb'
wait_for 30 sh_in 'systemctl show -p StatusText --value VTXWeb | grep -q "^Last poll"' || fail "no STATUS= after a poll"
ok "STATUS=$(prop StatusText)"
check "dexweb-prune.timer active" sh_in 'systemctl -q is-active dexweb-prune.timer'

# A message from the web server's account becomes a row.
# The README's first message: the account, then the message submitted as www-data.
inside runuser -u velotrax -- sqlite3 /var/lib/velotrax/velotrax.db "INSERT INTO users ([user], web_service) VALUES ('sales', 1)"
inside runuser -u www-data -- dexwebctl submit --folder /var/lib/velotrax/web/ --user sales --message live-hello >/dev/null ||
  fail "www-data cannot submit into $web"
check "a message submitted by www-data into $web is a row" wait_for 60 has_row live-hello

# The README's other commands as an administrator types them: the lines init printed (and
# the loop above ran), the row, status, check, then a backup restored.
for line in 'usermod -a -G velotrax-web www-data' 'systemctl enable --now VTXWeb.service dexweb-prune.timer' \
            'dexwebctl check --web-account www-data'; do
  grep -qxF "$line" "$work/next" || fail "init did not print the README's line: $line"
done
inside runuser -u velotrax -- sqlite3 /var/lib/velotrax/velotrax.db "SELECT user, pin, message FROM messages" |
  grep -q 'live-hello' || fail "the README's SELECT does not show the row"
inside dexwebctl status >"$work/status.log" 2>&1 || { cat "$work/status.log"; fail "dexwebctl status"; }
grep -q 'live-hello' "$work/status.log" || { cat "$work/status.log"; fail "dexwebctl status does not show the row"; }
inside systemctl status VTXWeb.service --no-pager >"$work/systemctl-status.log" 2>&1 ||
  { cat "$work/systemctl-status.log"; fail "systemctl status VTXWeb.service"; }
grep -q 'Status: "Last poll' "$work/systemctl-status.log" || { cat "$work/systemctl-status.log"; fail "systemctl status shows no STATUS="; }
inside dexwebctl check >"$work/check.log" 2>&1 || { cat "$work/check.log"; fail "dexwebctl check"; }
ok "the README's commands: the row, dexwebctl status, systemctl status, dexwebctl check"
inside runuser -u velotrax -- sqlite3 /var/lib/velotrax/velotrax.db ".backup /var/lib/velotrax/velotrax.db.bak" ||
  fail "the README's backup"
inside cp -p /etc/velotrax/velotrax.reg /var/lib/velotrax/velotrax.reg.bak || fail "the README's copy of the registry"
inside systemctl stop VTXWeb.service
sql "DELETE FROM messages"
inside runuser -u velotrax -- cp /var/lib/velotrax/velotrax.db.bak /var/lib/velotrax/velotrax.db
inside systemctl start VTXWeb.service
check "the README's backup restored: the row is back" has_row live-hello
check "active after the restore" wait_for 60 is ActiveState active

# A reload re-reads the blacklist and the monitor settings, and reaches the module alone.
pid=$(prop MainPID)
inside systemctl reload VTXWeb.service || fail "systemctl reload"
check "systemctl reload: \"Blacklist and monitor settings read again\"" \
  wait_for 10 logged "Blacklist and monitor settings read again"
check "the same process after the reload" is MainPID "$pid"

# dexwebctl stop ends the running module (status 0: not restarted) and the journal says why
# and what undoes it; dexwebctl start undoes it.
inside dexwebctl stop >/dev/null || fail "dexwebctl stop"
check "dexwebctl stop: VTXWeb inactive, not restarted" wait_for 30 is ActiveState inactive
inside journalctl -u VTXWeb.service --no-pager | grep -qF 'dexweb_run is false in the control row: stopping; run `dexwebctl start`' ||
  fail "the journal does not say why the module stopped"
inside dexwebctl start >/dev/null || fail "dexwebctl start"
inside systemctl start VTXWeb.service
check "dexwebctl start, then systemctl start: active again" wait_for 60 is ActiveState active

# A stop while a slow filter runs waits for the program to end: the row is filtered, or the
# file waits for the next start, never stored unfiltered.
sh_in 'mkdir -p /usr/lib/dexweb && : >/etc/velotrax/filter.txt && cat >/usr/lib/dexweb/vtfilter && chmod 755 /usr/lib/dexweb/vtfilter' <<'EOF'
#!/bin/sh
for f; do :; done
: >/var/lib/velotrax/filter-running
sleep 5
sed 's/slow-message/slow-message-filtered/' "$f" >"$f.new" && mv "$f.new" "$f"
EOF
sql "INSERT INTO templates (type, name, settings) VALUES (10, 'dexweb', 'rawinterfacefilter=/etc/velotrax/filter.txt')"
as_web dexwebctl submit --folder "$web" --user sales --message slow-message >/dev/null
wait_for 60 sh_in 'test -e /var/lib/velotrax/filter-running' || fail "the filter program did not start"
started=$SECONDS
inside systemctl stop VTXWeb.service || fail "systemctl stop"
# The file waits in the folder, or in the run's claim folder beneath it.
waiting=$(sh_in "find '$web' -name '*.msg' | grep -c ." || true)
[ "$(rows slow-message)" = 0 ] || fail "the message was stored unfiltered"
if has_row slow-message-filtered; then
  ok "a stop during the filter took $((SECONDS - started)) s; the message was stored filtered"
elif [ "$waiting" -gt 0 ]; then
  ok "a stop during the filter took $((SECONDS - started)) s; the message waits for the next start"
else
  fail "the message is neither stored nor waiting"
fi
logged "was ended by signal" && fail "the filter was killed by the stop"
inside systemctl start VTXWeb.service
check "after the next start: one filtered row, none unfiltered" \
  wait_for 60 sh_in "[ \"\$(sqlite3 /var/lib/velotrax/velotrax.db \"SELECT count(*) FROM messages WHERE message = 'slow-message-filtered'\")\" = 1 ]"
[ "$(rows slow-message)" = 0 ] || fail "the message was stored unfiltered after the start"
sql "DELETE FROM templates"

# kill -9: systemd starts the module again after RestartSec.
pid=$(prop MainPID)
sh_in "kill -KILL $pid"  # the shell's kill: no procps here
started=$SECONDS
check "restarted after kill -9" wait_for 60 sh_in "[ \"\$(systemctl show -p MainPID --value VTXWeb)\" != $pid ] && systemctl -q is-active VTXWeb"
ok "kill -9 → active again after $((SECONDS - started)) s, NRestarts=$(prop NRestarts)"

# The start limit, with RestartSec=1 (a drop-in in /run) so that it is reached at once: a
# module that halts at every start (no settings row).
sh_in 'cp -p /var/lib/velotrax/velotrax.db /var/lib/velotrax/velotrax.db.bak'
sh_in 'mkdir -p /run/systemd/system/VTXWeb.service.d && printf "[Service]\nRestartSec=1\n" >/run/systemd/system/VTXWeb.service.d/quick.conf'
inside systemctl daemon-reload
inside systemctl stop VTXWeb.service
sql "DELETE FROM settings"
inside systemctl reset-failed VTXWeb.service
cursor=$(inside journalctl -u VTXWeb.service -n 0 --show-cursor --no-pager | sed -n 's/^-- cursor: //p')
inside systemctl start VTXWeb.service || true
wait_for 90 is ActiveState failed || fail "the unit never stopped restarting"
inside journalctl -u VTXWeb.service --after-cursor="$cursor" --no-pager >"$work/limit.log"
starts=$(grep -c 'Main process exited, code=exited, status=1/FAILURE' "$work/limit.log" || true)
grep -q 'Start request repeated too quickly' "$work/limit.log" || fail "no \"Start request repeated too quickly\""
[ "$starts" = 5 ] && is Result exit-code || fail "$starts starts, Result $(prop Result)"
ok "a module that halts at every start: $starts starts (the operator's, 4 restarts), then failed (Result: exit-code), \"Start request repeated too quickly\""
cursor=$(inside journalctl -u VTXWeb.service -n 0 --show-cursor --no-pager | sed -n 's/^-- cursor: //p')
inside systemctl start VTXWeb.service 2>/dev/null && fail "a start past the limit was accepted"
inside journalctl -u VTXWeb.service --after-cursor="$cursor" --no-pager | grep -q 'Start request repeated too quickly' ||
  fail "a refused start without \"Start request repeated too quickly\""
ok "a further systemctl start is refused (\"Start request repeated too quickly\" again)"
sh_in 'rm -r /run/systemd/system/VTXWeb.service.d && mv /var/lib/velotrax/velotrax.db.bak /var/lib/velotrax/velotrax.db'
inside systemctl daemon-reload
inside systemctl reset-failed VTXWeb.service
inside systemctl start VTXWeb.service || fail "no start after reset-failed"
check "active again after reset-failed" wait_for 30 is ActiveState active

# Removal stops the units and leaves the site's registry, data and logs; purge also the links.
inside apt-get remove -y -q dexweb >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "apt-get remove"; }
check "removed: VTXWeb stopped and gone" is LoadState not-found
check "removed: the registry, the database and the logs stay" \
  sh_in 'test -f /etc/velotrax/velotrax.reg && test -f /var/lib/velotrax/velotrax.db && test -f /var/log/velotrax/VTXWeb.log'
inside apt-get purge -y -q dexweb >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "apt-get purge"; }
check "purged: no enable links, no package" \
  sh_in '! ls /etc/systemd/system/dexweb.service /etc/systemd/system/*.wants/VTXWeb.service 2>/dev/null && ! dpkg-query -W -f="\${Status}" dexweb 2>/dev/null | grep -q installed'
check "purged: the registry, the database and the logs stay" \
  sh_in 'test -f /etc/velotrax/velotrax.reg && test -f /var/lib/velotrax/velotrax.db'
say "passed"
