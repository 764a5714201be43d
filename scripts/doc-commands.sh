#!/usr/bin/env bash
# Every command that README.md and CONTRIBUTING.md show is run by CI.
#   scripts/doc-commands.sh [BUILD_DIR]        (default build)
# A command is a line of a fenced block marked "sh", or a code span in running text whose
# first word is a program or a path under scripts/ or build/, followed by arguments. Without
# a leading "sudo " or "bash ", and with quotes left out on both sides, it must appear in a
# line of a script that CI runs (not a comment), between boundaries: the start of the line,
# a blank, "/" or "(" before it; the end of the line, a blank, ";", ")", "|", "&" or ">"
# after it. CI runs .ci/run, the scripts that
# lists, the scripts CMakeLists.txt registers as tests (this one too), and the scripts those
# name in turn. The cheap commands that no other script runs are run here, in a sandbox:
# see run_sandbox. Prints each command not covered, with its document and line; exit 1 then.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
self=$src/scripts/doc-commands.sh
# "--in-namespace BUILD_DIR" is the script calling itself inside the sandbox's namespace.
in_namespace_call=""
if [ "${1:-}" = --in-namespace ]; then in_namespace_call=yes; shift; fi
build=$(realpath "${1:-$src/build}")

# The scripts CI runs: .ci/run, what CMake registers as tests, and whatever those name.
ci_scripts() {
  local queue=("$src/.ci/run") seen=() file named
  mapfile -t named < <(grep -o -E '(scripts|packaging)/[A-Za-z0-9_.-]+\.sh' "$src/CMakeLists.txt" | sort -u)
  queue+=("${named[@]/#/$src/}")
  while ((${#queue[@]})); do
    file=${queue[0]}; queue=("${queue[@]:1}")
    [[ -f $file && " ${seen[*]} " != *" $file "* ]] || continue
    seen+=("$file")
    mapfile -t named < <(grep -v -E '^\s*#' "$file" | grep -o -E '(scripts|packaging)/[A-Za-z0-9_.-]+\.sh' | sort -u)
    queue+=("${named[@]/#/$src/}")
  done
  printf '%s\n' "${seen[@]}"
}

# Cheap commands run nowhere else, each exactly as the documents show it, in a sandbox: a
# copy of the tree's top level by links (build/ is BUILD_DIR), a HOME of its own, the
# build's programs first on PATH, and (as root) a network namespace of its own, where the
# module, the monitor and serve on 127.0.0.1:8080 and 8081 meet no other program.
run_sandbox() {
  local box; box=$(mktemp -d /tmp/dexweb-doc.XXXXXX)
  trap 'rm -rf "$box"' RETURN
  local entry
  for entry in "$src"/* "$src"/.ci; do ln -s "$entry" "$box/$(basename "$entry")"; done
  rm -f "$box/build" && ln -s "$build" "$box/build"
  mkdir -p "$box/bin" "$box/home"
  ln -s "$build/dexweb" "$box/bin/dexweb"
  ln -s "$build/dexwebctl" "$box/bin/dexwebctl"
  (
    cd "$box"
    export HOME=$box/home PATH=$box/bin:$PATH
    dexwebctl --help >/dev/null
    bash scripts/include-graph.sh >/dev/null
    build/dexweb_tests --gtest_filter='Text.*' >/dev/null
    cpack --config build/CPackConfig.cmake -B build >/dev/null
    if [ "$(id -u)" -ne 0 ]; then
      echo "doc-commands: not root, so the module, monitor and serve commands are not run here"
      exit 0
    fi
    unshare --net bash "$self" --in-namespace "$build"
  )
}

# Inside the sandbox's network namespace: a home with its module, then the monitoring
# commands of the README against it.
in_namespace() {
  ip link set lo up
  dexwebctl init "$HOME/dexweb-home" >/dev/null
  export VELOTRAX_REGISTRY=$HOME/dexweb-home/velotrax.reg
  pids=()
  trap 'kill "${pids[@]}" 2>/dev/null || true; wait' EXIT
  dexweb 2>"$HOME/dexweb.err" &
  pids+=($!)
  dexwebctl serve --listen 127.0.0.1:8080 --server-name form.example.org >/dev/null 2>&1 &
  pids+=($!)
  timeout 30 dexwebctl monitor --count 1 >"$HOME/monitor.out" &
  local monitor=$!
  sleep 1
  dexwebctl submit --user sales --message doc-check >/dev/null
  wait "$monitor" || { echo "doc-commands: dexwebctl monitor saw no datagram" >&2; return 1; }
  local healthy=""
  for _ in $(seq 40); do
    healthy=$(curl -s http://127.0.0.1:8080/healthz || true)
    [[ $healthy == ok* ]] && break
    sleep 0.5
  done
  [[ $healthy == ok* ]] || { echo "doc-commands: /healthz said: $healthy" >&2; cat "$HOME/dexweb.err" >&2; return 1; }
  [[ $(curl -s -H 'Host: form.example.org' http://127.0.0.1:8080/healthz) == ok* ]] ||
    { echo "doc-commands: --server-name form.example.org is not served" >&2; return 1; }
  curl -s http://127.0.0.1:8081/metrics >"$HOME/metrics.out"
  grep -q '^dexweb_' "$HOME/metrics.out" || { echo "doc-commands: no metrics" >&2; return 1; }
  dexwebctl status >"$HOME/status.out"
  grep -q doc-check "$HOME/status.out" || { echo "doc-commands: status shows no row" >&2; return 1; }
  # The folders are judged for the account running here, not for an installed unit's User=.
  dexwebctl check --account "$(id -un)" >"$HOME/check.out" || { cat "$HOME/check.out" >&2; return 1; }
  dexwebctl pause >/dev/null
  dexwebctl resume >/dev/null
  dexwebctl stop >/dev/null
}

if [ -n "$in_namespace_call" ]; then
  in_namespace
  exit
fi

run_sandbox
mapfile -t scripts < <(ci_scripts)
perl - "$src/README.md" "$src/CONTRIBUTING.md" -- "${scripts[@]}" <<'PERL'
use strict;
use warnings;

my (@docs, @scripts);
my $list = \@docs;
for (@ARGV) { if ($_ eq '--') { $list = \@scripts; next } push @$list, $_ }

# Quotes are left out on both sides, so that quoting a word differently does not matter.
sub normal { my $c = shift; $c =~ tr/"'//d; $c =~ s/\s+/ /g; $c =~ s/^ | $//g; $c =~ s/^(?:sudo |bash )+//; $c }

# The non-comment lines of the scripts, continuation lines joined.
my @lines;
for my $file (@scripts) {
  open my $in, '<', $file or die "$file: $!";
  my $text = do { local $/; <$in> };
  $text =~ s/\\\n\s*/ /g;
  push @lines, map { normal($_) } grep { !/^\s*#/ } split /\n/, $text;
}
sub covered {
  my $command = shift;
  for my $line (@lines) {
    my $at = -1;
    while (($at = index($line, $command, $at + 1)) >= 0) {
      my $before = $at == 0 ? ' ' : substr($line, $at - 1, 1);
      my $after = $at + length($command) >= length($line) ? ' ' : substr($line, $at + length($command), 1);
      return 1 if $before =~ m{[\s/(]} && $after =~ m{[\s;)|&>]};
    }
  }
  return 0;
}

my $programs = qr{^(?:sudo|bash|sh|dexweb|dexwebctl|systemctl|journalctl|apt|apt-get|dpkg|cmake|ctest|cpack|
  setfacl|getfacl|sqlite3|runuser|setpriv|curl|psql|pg_dump|nginx|usermod|chown|chmod|
  source|scripts/\S+|build/\S+)\s+\S}x;
my ($checked, @missing) = (0);
sub check_command {
  my ($where, $command) = @_;
  ++$checked;
  push @missing, "$where: run by no CI script: $command" unless covered(normal($command));
}
for my $doc (@docs) {
  open my $in, '<', $doc or die "$doc: $!";
  my ($fence, $text, $start) = (undef, '', 0);
  # Running text a paragraph at a time, so that a code span may wrap.
  my $paragraph_end = sub {
    check_command("$doc:$start", $_) for grep { /$programs/ } $text =~ /`([^`]+)`/g;
    $text = '';
  };
  while (my $line = <$in>) {
    chomp $line;
    if ($line =~ /^\s*```(\S*)\s*$/) {
      $paragraph_end->();
      if (defined $fence) { $fence = undef; next }
      $fence = $1;
      push @missing, "$doc:$.: a code block without a language (sh for commands, text for output)" if $fence eq '';
      next;
    }
    if (!defined $fence) {
      if ($line =~ /^\s*$/) { $paragraph_end->(); next }
      $start = $. if $text eq '';
      $text .= "$line ";
      next;
    }
    next unless $fence eq 'sh';
    $start = $. if $text eq '';
    if ($line =~ s/\\\s*$//) { $text .= "$line "; next }
    $line = $text . $line;
    $text = '';
    $line =~ s/\s+#\s.*$//;
    check_command("$doc:$start", $line) unless $line =~ /^\s*(#|$)/;
  }
  $paragraph_end->();
}
print "$_\n" for @missing;
printf "doc-commands: %d commands, %d not run by CI\n", $checked, scalar @missing;
exit(@missing ? 1 : 0);
PERL
