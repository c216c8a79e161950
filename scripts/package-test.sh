#!/usr/bin/env bash
# Builds the Debian package and tries it on this machine, as root: lintian,
# install, a user's logon start enforcing that user's rules, removal and
# purge leaving nothing running, mounted or registered behind.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package-test: needs root (it installs the package)"; exit 2; }
if dpkg-query -W -f='${Status}' kestrava 2>/dev/null | grep -q "ok installed"; then
  echo "package-test: kestrava is installed on this machine already; not touching it"
  exit 2
fi
dpkg-query -W -f='${Status}' lintian 2>/dev/null | grep -q "install ok installed" || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends lintian
}
deb="$(scripts/package.sh | tail -n 1)"
work="$(mktemp -d /var/tmp/kvpackage.XXXXXX)"
# An account made for the test: it never ran kv, and the settings never knew it.
account="kvdoors$$"
cleanup() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kestrava >/dev/null 2>&1 || true
  if id "$account" >/dev/null 2>&1; then
    pkill -KILL -u "$account" 2>/dev/null || true
    userdel -r "$account" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
check() {  # check <description> <command...>
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}

echo "== $deb"
check "lintian finds no errors" lintian --fail-on error "$deb"
contents="$(dpkg-deb -c "$deb")"
for path in ./opt/kestrava/kv ./opt/kestrava/kvvxd ./opt/kestrava/kvctl ./opt/kestrava/installed \
            ./lib/systemd/system/kvvxd.service ./usr/share/applications/kestrava.desktop \
            ./usr/share/doc/kestrava/README.md ./usr/share/doc/kestrava/docs/main-window.png; do
  check "the package holds $path" grep -q " $path\$" <<<"$contents"
done

echo "== install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
quiet() { "$@" >/dev/null; }
check "the service runs" quiet pgrep -f '^/opt/kestrava/kvvxd'
check "the device answers" quiet /usr/bin/kvctl status
check "the settings are root's alone" test "$(stat -c %a /opt/kestrava/kv.dat)" = 600
check "the README is installed where the help points" \
  grep -q 'file:///usr/share/doc/kestrava/README.md' /opt/kestrava/Help/tarvex.html
check "and readable by every user" test -r /usr/share/doc/kestrava/README.md -a \
  "$(stat -c %a /usr/share/doc/kestrava/README.md)" = 644
if [ ! -d /run/systemd/system ]; then
  said="$(QT_QPA_PLATFORM=offscreen KESTRAVA_NONINTERACTIVE=1 /opt/kestrava/kv /I 2>&1 || true)"
  check "without systemd the installation step says so" grep -q "systemd is not running" <<<"$said"
fi
check "the start-at-logon entry runs the logon start" \
  grep -qx 'Exec=/opt/kestrava/kv /T' /etc/xdg/autostart/kestrava.desktop

echo "== a user's logon start"
chmod 755 "$work"
mkdir -m 777 "$work/kept" "$work/run"
echo data >"$work/kept/f"
chmod 666 "$work/kept/f"
printf 'u_Unknown User_P_%s=1\n' "$work/kept" | build/settings/kvset /opt/kestrava/kv.dat
as_user() {
  setpriv --reuid=65534 --regid=65534 --clear-groups -- env -i PATH=/usr/bin:/bin \
    HOME="$work/run" KESTRAVA_RUNTIME="$work/run" QT_QPA_PLATFORM=offscreen \
    KESTRAVA_NONINTERACTIVE=1 "$@"
}
not() { ! "$@" 2>/dev/null; }
check "the user's kv /S starts" as_user /usr/bin/kv /S
check "the user cannot remove a ReadOnly file" not as_user rm -f "$work/kept/f"
check "and the file is there" test -f "$work/kept/f"

echo "== every door: a session opened by PAM"
pam_lines() { grep -l kestrava /etc/pam.d/* 2>/dev/null || true; }
check "the PAM profile is installed" test -f /usr/share/pam-configs/kestrava
check "interactive sessions run the hook" grep -q /opt/kestrava/kvsession /etc/pam.d/common-session
check "and non-interactive ones (cron)" \
  grep -q /opt/kestrava/kvsession /etc/pam.d/common-session-noninteractive
useradd -m -s /bin/sh "$account"
uid="$(id -u "$account")"
status() { /usr/bin/kvctl status; }
check "the new account has no table before its first session" \
  not grep -q "uid $uid (" <<<"$(status)"
check "its first su -l session cannot remove a ReadOnly file" \
  not su -l "$account" -c "rm -f '$work/kept/f'"
check "and the file is there" test -f "$work/kept/f"
check "it got the unknown user's rules when the session opened" \
  grep -q "uid $uid ($account): active, [0-9]* entries, from session" <<<"$(status)"

restart_service() {
  if [ -d /run/systemd/system ]; then
    systemctl restart kvvxd.service
  else
    stop_service
    /opt/kestrava/kvvxd --daemon
  fi
}
stop_service() {
  if [ -d /run/systemd/system ]; then
    systemctl stop kvvxd.service
  else
    local pid
    pid="$(pgrep -f '^/opt/kestrava/kvvxd' | head -n 1 || true)"
    [ -n "$pid" ] || return 0
    kill -TERM "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
}
restart_service
check "a restart with no one logged on loads the account's table from boot" \
  grep -q "uid $uid ($account): active, [0-9]* entries, from boot" <<<"$(status)"
check "its runuser -l session cannot remove the file either" \
  not runuser -l "$account" -c "rm -f '$work/kept/f'"
check "and the file is there" test -f "$work/kept/f"

stop_service
started=$(date +%s%N)
check "with the service down a logon still succeeds" su -l "$account" -c true
elapsed_ms=$(( ($(date +%s%N) - started) / 1000000 ))
check "and waits no more than about a second (${elapsed_ms} ms)" test "$elapsed_ms" -lt 2000
restart_service

echo "== remove"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq kestrava >/dev/null
check "no service left" not pgrep -f '^/opt/kestrava/kvvxd'
check "no protection mount left" not grep -q kestrava /proc/mounts
check "no start-at-logon entry left" test ! -e /etc/xdg/autostart/kestrava.desktop
check "no PAM profile left" test ! -e /usr/share/pam-configs/kestrava
check "no PAM line names the program" test -z "$(pam_lines)"
check "the account's session works unprotected" su -l "$account" -c "touch '$work/kept/g'"
check "the settings are kept" test -f /opt/kestrava/kv.dat
check "the user can remove the file again" as_user rm -f "$work/kept/f"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kestrava >/dev/null
check "a purge removes the settings" test ! -e /opt/kestrava
check "and the tables" test ! -e /var/lib/kestrava
check "a purge leaves no PAM line" test -z "$(pam_lines)"
pkill -KILL -u "$account" 2>/dev/null || true
userdel -r "$account" >/dev/null 2>&1
check "the test's account is gone" not id "$account"
exit $fail
