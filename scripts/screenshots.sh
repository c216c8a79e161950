#!/usr/bin/env bash
# Remakes the README's pictures in docs/: the settings window with protection
# markers, the Custom options dialog and the tray icon with protection on.
#
#   scripts/screenshots.sh [PROGRAM]
#
# Without PROGRAM the program is built first (build/). The kvvxd, kvctl and
# kvset beside PROGRAM, or in the build tree it belongs to, are used with it.
#
# The program runs from a temporary folder with settings of its own (written
# with kvset), on a private X server (Xvfb with the window manager icewm, whose
# task bar holds the tray), with an interceptor service of its own on a
# temporary socket. In a private mount and process namespace the session sees
# a root of its own: a memory file system with the top-level folders of a
# plain Debian machine (the system's /usr, /etc, /var and the devices bound
# in), the homes of alice, bob and carol and the example folders in /srv. So
# the pictures show the same tree on every machine, and every mount and
# process ends with the namespace. Takes about ten seconds.
set -euo pipefail
self="$(realpath "$0")"
cd "$(dirname "$self")/.."

examples=/srv/Documents

if [ -z "${KV_SCREENSHOTS_STAGE:-}" ]; then
  scripts/setup.sh
  if [ $# -ge 1 ]; then
    program="$(realpath "$1")"
  else
    scripts/build.sh build
    program="$PWD/build/app/kv"
  fi
  # A tool is found beside the program or where the build tree puts it.
  find_tool() {
    local dir
    dir="$(dirname "$program")"
    for candidate in "$dir/$1" "$dir/../$2/$1"; do
      if [ -x "$candidate" ]; then
        realpath "$candidate"
        return 0
      fi
    done
    echo "screenshots.sh: $1 is neither beside $program nor in $dir/../$2" >&2
    return 1
  }
  [ -x "$program" ] || { echo "screenshots.sh: $program is not a program" >&2; exit 1; }
  KV_SCREENSHOTS_KVVXD="$(find_tool kvvxd driver)"
  KV_SCREENSHOTS_KVCTL="$(find_tool kvctl driver)"
  KV_SCREENSHOTS_KVSET="$(find_tool kvset settings)"
  for path in "$PWD" "$program" "${TMPDIR:-/tmp}"; do
    case "$(realpath "$path")/" in
      /srv/*)
        echo "screenshots.sh: $path is under /srv, which the pictures' folders cover" >&2
        exit 1
        ;;
    esac
  done
  # Root gets a mount namespace of its own; another user a user namespace too.
  namespace=(unshare --mount --pid --fork --kill-child --mount-proc)
  if [ "$(id -u)" -ne 0 ]; then
    namespace+=(--user --map-root-user)
  fi
  if ! "${namespace[@]}" true 2>/dev/null; then
    echo "screenshots.sh: cannot make a private mount namespace (${namespace[*]})" >&2
    exit 1
  fi
  # The pictures come out here; the session's root holds no folder of ours.
  KV_SCREENSHOTS_OUT="$(mktemp -d "${TMPDIR:-/tmp}/kestrava-pictures-out.XXXXXX")"
  trap 'rm -rf "$KV_SCREENSHOTS_OUT"' EXIT
  export KV_SCREENSHOTS_STAGE=capture KV_SCREENSHOTS_PROGRAM="$program" KV_SCREENSHOTS_OUT
  export KV_SCREENSHOTS_KVVXD KV_SCREENSHOTS_KVCTL KV_SCREENSHOTS_KVSET
  start=$SECONDS
  # unshare holds INT and TERM back while it waits, so a stop is handed on to
  # the script inside the namespace, which cleans up, and waited for.
  "${namespace[@]}" bash "$self" &
  inside=$!
  stop() {
    local child
    trap '' INT TERM
    for child in $(cat "/proc/$inside/task/$inside/children" 2>/dev/null); do
      kill -TERM "$child" 2>/dev/null || true
    done
    wait "$inside" 2>/dev/null || true
    exit 1
  }
  trap stop INT TERM
  wait "$inside"
  trap - INT TERM
  mkdir -p docs
  for picture in main-window custom-options tray; do
    cp "$KV_SCREENSHOTS_OUT/$picture.png" "docs/$picture.png"
  done
  echo "Pictures remade in $((SECONDS - start)) s: docs/main-window.png docs/custom-options.png docs/tray.png"
  exit 0
fi

# ---- inside the private namespace: the session's own root -----------------

if [ "$KV_SCREENSHOTS_STAGE" = capture ]; then
  work="$(mktemp -d "${TMPDIR:-/tmp}/kestrava-pictures.XXXXXX")"
  root="$work/root"
  mkdir "$root"
  mount -t tmpfs -o mode=0755,size=16m kestrava-root "$root"
  # Debian's top-level folders; /bin, /lib, /lib64 and /sbin point into /usr.
  mkdir -p "$root"/{boot,dev,etc,home,media,mnt,opt,proc,root,run,srv,sys,tmp,usr,var}
  mkdir -p "$root"/home/{alice,bob,carol}
  chmod 1777 "$root/tmp"
  chmod 700 "$root/root"
  for link in bin lib lib64 sbin; do
    ln -s "usr/$link" "$root/$link"
  done
  for system in dev etc proc sys usr var; do
    mount --rbind "/$system" "$root/$system"
  done
  # The session's folder and the pictures' folder at the same paths inside.
  for folder in "$work" "$KV_SCREENSHOTS_OUT"; do
    mkdir -p "$root$folder"
    mount --bind "$folder" "$root$folder"
  done
  mkdir "$work/tools"
  cp "$KV_SCREENSHOTS_PROGRAM" "$KV_SCREENSHOTS_KVVXD" "$KV_SCREENSHOTS_KVCTL" \
    "$KV_SCREENSHOTS_KVSET" "$work/tools/"
  cp "$self" "$work/screenshots.sh"
  chroot "$root" /usr/bin/env KV_SCREENSHOTS_STAGE=inside KV_SCREENSHOTS_WORK="$work" \
    KV_SCREENSHOTS_PROGRAM="$work/tools/$(basename "$KV_SCREENSHOTS_PROGRAM")" \
    KV_SCREENSHOTS_KVVXD="$work/tools/kvvxd" KV_SCREENSHOTS_KVCTL="$work/tools/kvctl" \
    KV_SCREENSHOTS_KVSET="$work/tools/kvset" /bin/bash "$work/screenshots.sh" &
  session=$!
  # A stop is handed on to the session, which cleans up, and waited for.
  trap 'kill -TERM "$session" 2>/dev/null || true; wait "$session"; exit 1' INT TERM
  status=0
  wait "$session" || status=$?
  trap - INT TERM
  umount -R -l "$root" 2>/dev/null || true
  rm -rf "$work"
  exit "$status"
fi

work="$KV_SCREENSHOTS_WORK/session"
mkdir "$work"
cd /
pids=()
cleanup() {
  local i
  # A second Ctrl+C or TERM does not cut the cleanup short.
  trap '' INT TERM
  # Newest first: the program, icewm, the X server and last the service,
  # whose clean stop removes its protection mounts.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "screenshots.sh: $*" >&2
  for log in "$work"/*.log; do
    if [ -s "$log" ]; then
      echo "--- $(basename "$log")" >&2
      tail -n 20 "$log" >&2
    fi
  done
  exit 1
}

# Waits up to $1 tenths of a second until the command after it succeeds.
wait_for() {
  local tenths=$1
  shift
  for ((; tenths > 0; tenths--)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Everything the session writes stays in the temporary folder.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/xdg"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_STYLE_OVERRIDE
unset SESSION_MANAGER

# ---- the example folders and the program's settings -----------------------

mkdir -p "$examples"/{Archive,Private,Shared} "$examples"/Projects/{garden,website}
echo "Minutes of the meeting" >"$examples/Shared/minutes.txt"
echo "Addresses" >"$examples/Private/addresses.txt"
echo "Taxes" >"$examples/taxes.ods"
echo "Notes" >"$examples/notes.txt"

# kv.dat lives beside the program, so the program runs from a copy.
program="$work/program/kv"
mkdir -p "$work/program" "$work/machine/registry" "$work/run"
cp "$KV_SCREENSHOTS_PROGRAM" "$program"

# The machine's users: alice is logged on, bob and carol are in the group Staff.
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control]\r\n'
  printf '"Current User"="alice"\r\n\r\n'
  for user in alice bob carol; do
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\%s]\r\n' "$user"
    printf '"ProfileImagePath"="/home/%s"\r\n\r\n' "$user"
  done
} >"$work/machine/registry/HKLM.reg"

# alice's protection: Projects ReadOnly, Private Full, Shared Custom (no
# writing, renaming, replacing or deleting of documents) and taxes.ods Full.
"$KV_SCREENSHOTS_KVSET" "$work/program/kv.dat" <<EOF || fail "kvset could not write kv.dat"
FirstTime=0
CurUsers_alice=1
CurUsers_bob=1
CurUsers_carol=1
GroupCount=1
1_Group=Staff
bob_GroupName=Staff
carol_GroupName=Staff
u_alice_P_$examples/Projects=1
u_alice_P_$examples/Private=2
u_alice_P_$examples/Shared=3
u_alice_P_$examples/Shared_Processes=*
u_alice_P_$examples/Shared_IncludeFiles=*.odt;*.ods;*.txt
u_alice_P_$examples/Shared_SubFolders=1
u_alice_P_$examples/Shared_dwOperation=$((0x10 | 0x20 | 0x80 | 0x1000 | 0x2000))
u_alice_P_$examples/taxes.ods=6
EOF

export KESTRAVA_MACHINE="$work/machine" KESTRAVA_RUNTIME="$work/run"
export KESTRAVA_DEVICE="$work/VEVUZ" KESTRAVA_NONINTERACTIVE=1 QT_QPA_PLATFORM=xcb

# ---- the interceptor service ----------------------------------------------

"$KV_SCREENSHOTS_KVVXD" --foreground --socket "$KESTRAVA_DEVICE" --state "$work/kvvxd.state" \
  >"$work/kvvxd.ready" 2>"$work/kvvxd.log" &
pids+=($!)
wait_for 50 grep -qs ready "$work/kvvxd.ready" || fail "the interceptor service did not start"

# ---- the X session --------------------------------------------------------

# The X server takes the first free display and writes its number; the
# screen's size tells that the display answering is this one. Without
# -noreset it would reset, refusing connections, whenever its last client left.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 100 grep -qs '^[0-9]' "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"
[ "$(xdotool getdisplaygeometry 2>/dev/null)" = "1280 800" ] || fail "Xvfb on $DISPLAY does not answer"
display -window root -size 1280x800 xc:'#3a6ea5' || true

# icewm honours the program's wish for dialogs without minimize and maximize
# buttons (openbox draws them anyway), and its task bar holds the system tray.
# It reads its settings from a folder of the session's own instead of the
# user's or the machine's: the plain win95 theme, a task bar that never hides
# and holds only the tray (no clock, meters, workspaces, menus or address
# bar), no keys of its own to start programs. So the pictures come out the
# same on every run and every machine.
icewm_config="$work/icewm"
mkdir -p "$icewm_config"
cat >"$icewm_config/preferences" <<'EOF'
ShowTaskBar=1
TaskBarAutoHide=0
TaskBarAtTop=0
TaskBarShowClock=0
TaskBarShowAPMStatus=0
TaskBarShowCPUStatus=0
TaskBarShowMEMStatus=0
TaskBarShowNetStatus=0
TaskBarShowMailboxStatus=0
TaskBarShowWorkspaces=0
TaskBarShowWindowListMenu=0
TaskBarShowShowDesktopButton=0
TaskBarShowStartMenu=0
TaskBarShowWindows=0
ShowAddressBar=0
EnableAddressBar=0
TaskBarShowTray=0
TaskBarEnableSystemTray=1
TrayIconMaxHeight=48
TrayIconMaxWidth=48
EOF
echo 'Theme="win95/default.theme"' >"$icewm_config/theme"
for file in keys prefoverride toolbar winoptions; do
  : >"$icewm_config/$file"
done
ICEWM_PRIVCFG="$icewm_config" icewm >"$work/icewm.log" 2>&1 &
pids+=($!)
wait_for 50 xdotool get_desktop >/dev/null 2>&1 || fail "icewm did not start"

# The visible window of process $1 whose title matches $2.
window_of() {
  xdotool search --all --onlyvisible --pid "$1" --name "$2" 2>/dev/null | sed -n 1p
}
has_window() {
  [ -n "$(window_of "$@")" ]
}
no_window() {
  [ -z "$(window_of "$@")" ]
}

# Waits until window $1 looks the same twice in a row (at most about 3 s).
settle() {
  local last="" now i
  for ((i = 0; i < 15; i++)); do
    sleep 0.2
    now="$(import -window "$1" rgb:- 2>/dev/null | md5sum)"
    [ "$now" = "$last" ] && return 0
    last=$now
  done
}

# Presses keys with a pause after each, so that the program keeps up.
keys() {
  for key in "$@"; do
    xdotool key --clearmodifiers "$key"
    sleep 0.15
  done
}

# Types a name where the focused view searches as one types.
type_name() {
  xdotool type --delay 60 "$1"
  sleep 0.5
}

# ---- the settings window --------------------------------------------------

"$program" >"$work/kv.log" 2>&1 &
kv=$!
pids+=("$kv")
wait_for 150 has_window "$kv" '^Kestrava - ' || fail "the settings window did not show"
main="$(window_of "$kv" '^Kestrava - ')"
xdotool windowactivate --sync "$main"
settle "$main"

# The user list has the keyboard first; Tab hands it to the folder tree, where
# typing selects a folder and a selected folder opens. Right then steps into
# its first subfolder: /srv/Documents.
keys Tab
type_name srv
keys Right alt+v i
settle "$main"
import -frame -window "$main" "$work/main-window.png"

# Custom Protection on a folder that has it opens the folder's options.
type_name Shared
keys alt+a c
wait_for 50 has_window "$kv" '^Custom Protection Options' || fail "the options dialog did not show"
dialog="$(window_of "$kv" '^Custom Protection Options')"
title="$(xdotool getwindowname "$dialog")"
[ "$title" = "Custom Protection Options for \"$examples/Shared\"" ] ||
  fail "the options dialog opened for another folder: $title"
keys ctrl+Tab # the File Operations page
settle "$dialog"
import -frame -window "$dialog" "$work/custom-options.png"
keys Escape
wait_for 50 no_window "$kv" '^Custom Protection Options' || fail "the options dialog stayed"

kill "$kv"
wait "$kv" || fail "the settings window ended with exit code $?"

# ---- the tray -------------------------------------------------------------

# kv /T starts the logged-on user's protection and waits in the tray.
QT_SCALE_FACTOR=2 "$program" /T >"$work/kv-tray.log" 2>&1 &
kv=$!
pids+=("$kv")
# The tray copy's one visible window is its icon, once the tray has embedded
# it and given it its size.
icon_of() {
  xdotool search --onlyvisible --pid "$kv" --class Kestrava 2>/dev/null | sed -n 1p
}
icon_shown() {
  local icon
  icon="$(icon_of)"
  [ -n "$icon" ] || return 1
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  [ "$WIDTH" -ge 16 ] && [ "$HEIGHT" -ge 16 ]
}
wait_for 150 icon_shown || fail "no icon came to the tray"
grep -q '^active: yes' <<<"$("$KV_SCREENSHOTS_KVCTL" status)" || fail "protection did not start"
icon="$(icon_of)"
eval "$(xdotool getwindowgeometry --shell "$icon")"
# The icon's tooltip shows while the pointer rests on it. The pointer moves
# relative to the icon: for a window inside another (the icon sits in the
# task bar's) xdotool getwindowgeometry counts the offset in its parent twice.
xdotool mousemove --window "$icon" $((WIDTH / 2)) $((HEIGHT / 2))
sleep 1.5
settle root
# The task bar keeps the tray in the screen's bottom right corner; the
# tooltip shows above and to the left of the pointer.
import -window root -gravity SouthEast -crop 380x110+0+0 +repage "$work/tray.png"

kill "$kv"
wait "$kv" || fail "the tray copy ended with exit code $?"

for picture in main-window custom-options tray; do
  convert "$work/$picture.png" -strip "$KV_SCREENSHOTS_OUT/$picture.png"
done
