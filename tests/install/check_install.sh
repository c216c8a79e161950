#!/usr/bin/env bash
# Stages the install of the build tree $1 and checks what an installed
# program needs: the program's folder with its marker, the links, the
# service's unit, the menu entry, the manual pages.
set -euo pipefail
build="$1"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" >/dev/null

fail=0
expect() {  # expect <description> <test command...>
  local what="$1"
  shift
  if ! "$@"; then
    echo "FAILED: $what"
    fail=1
  fi
}
program="$stage/opt/kestrava"
for exe in kv kvvxd kvctl kvsession; do
  expect "$exe is an executable in the program's folder" test -x "$program/$exe"
done
pam="$stage/usr/share/pam-configs/kestrava"
expect "the PAM profile runs the session hook when a session opens, never failing it" \
  grep -Eq '^\s+optional\s+pam_exec.so .*type=open_session /opt/kestrava/kvsession$' "$pam"
# pam-auth-update puts a profile into the non-interactive stack only when it
# has no Session-Interactive-Only field at all ("no" counts as present).
expect "the PAM profile reaches non-interactive sessions too (cron)" \
  bash -c "! grep -q '^Session-Interactive-Only' '$pam'"
expect "the help beside the program" test -s "$program/Help/tarvex.html"
expect "the marker of an installed program" test -f "$program/installed"
expect "no settings shipped (the installation step makes them)" test ! -e "$program/kv.dat"
expect "/usr/bin/kv links to the program" test "$(readlink "$stage/usr/bin/kv")" = /opt/kestrava/kv
expect "/usr/bin/kvctl links to kvctl" test "$(readlink "$stage/usr/bin/kvctl")" = /opt/kestrava/kvctl
unit="$stage/lib/systemd/system/kvvxd.service"
expect "the service's unit" test -f "$unit"
expect "the unit waits for the service's ready notification" grep -qx 'Type=notify' "$unit"
expect "the unit runs the installed service with its settings" \
  grep -qx 'ExecStart=/opt/kestrava/kvvxd --foreground --settings /opt/kestrava/kv.dat' "$unit"
# A mount namespace of the service's own would hide its mounts from users.
expect "the unit gives the service no mount namespace of its own" \
  bash -c "! grep -Eq '^(ProtectSystem|ProtectHome|PrivateTmp|PrivateMounts)=' '$unit'"
expect "the menu entry starts the installed program" \
  grep -qx 'Exec=/opt/kestrava/kv' "$stage/usr/share/applications/kestrava.desktop"
expect "the icon" test -s "$stage/usr/share/icons/hicolor/scalable/apps/kestrava.svg"
for page in man1/kv.1 man1/kvctl.1 man8/kvvxd.8; do
  expect "manual page $page" bash -c "gzip -dc '$stage/usr/share/man/$page.gz' | grep -q '^\\.TH '"
done
doc="$stage/usr/share/doc/kestrava"
expect "the README where the help's Support section points" \
  grep -q '^# Kestrava' "$doc/README.md"
# Every picture and page the README links to beside it.
for link in $(grep -o '](docs/[^)]*)' "$doc/README.md" | sed 's/^](//; s/)$//; s/#.*//' | sort -u); do
  expect "the README's $link" test -s "$doc/$link"
done
expect "the help points at the installed README" \
  grep -q 'href="file:///usr/share/doc/kestrava/README.md"' "$program/Help/tarvex.html"
exit $fail
