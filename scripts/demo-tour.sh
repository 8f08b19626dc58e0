#!/usr/bin/env bash
# Goes through the launcher's screens on a virtual display, as an operator would with the
# keyboard, saving a picture of each new screen under DEMO/screens.
# Usage: scripts/demo-tour.sh DEMO LAUNCHER SNAP DATA_FILE(yes|no) REGISTER(001|002)
set -uo pipefail
demo=$1 launcher=$2 snap=$3 data_file=$4 register=$5
shots=$demo/screens
mkdir -p "$shots"
log=$demo/tour.log
: > "$log"

display=""
for n in $(seq 120 160); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  display=:$n
  break
done
[ -n "$display" ] || { echo "no free display number" >&2; exit 1; }
Xvfb "$display" -noreset -nolisten tcp -screen 0 1024x768x24 2>> "$log" &
xvfb=$!
launcher_pid=""
finish() {
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null
  [ -n "$launcher_pid" ] && wait "$launcher_pid" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
}
trap finish EXIT
export DISPLAY=$display
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

QT_QPA_PLATFORM=xcb "$launcher" >> "$log" 2>&1 &
launcher_pid=$!

count=0
shot() {  # shot NAME: a picture of the display now
  count=$((count + 1))
  local file
  file=$(printf '%s/%02d-%s.png' "$shots" "$count" "$1")
  "$snap" "$file" 2>> "$log" && echo "  screen: $file"
}
keys() { timeout 10 xdotool windowfocus --sync "$1" key --delay 80 "${@:2}" 2>> "$log"; }
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
# wait_for NAME SECONDS: waits until a window of that name is shown, at most SECONDS; prints
# its id, or nothing when it did not come in time.
wait_for() {
  local until=$((SECONDS + $2)) id
  while [ $SECONDS -lt "$until" ]; do
    id=$(visible "$1")
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Each screen once, in the order it comes; the tour ends when the module has come and gone.
seen_progress=no typed=no entered=no left=no
deadline=$((SECONDS + 90))
while [ $SECONDS -lt $deadline ] && kill -0 "$launcher_pid" 2>/dev/null; do
  if [ $seen_progress = no ] && [ -n "$(visible 'Atualizando o sistema')" ]; then
    sleep 0.5; shot progress; seen_progress=yes
  fi
  module=$(visible '^REV10000$')
  form=$(visible '^frmEscolheSistema$')
  # Any other visible window is a question or a notice: answered with Enter (its default).
  other=""
  for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    name=$(xdotool getwindowname "$w" 2>/dev/null)
    case "$name" in frmEscolheSistema | REV10000 | 'Atualizando o sistema' | '') ;; *) other=$w ;; esac
  done
  if [ -n "$other" ]; then
    sleep 0.3; shot question; keys "$other" Return
    # An answered update question brings the download's progress window; the demo's download
    # source is paced so that it stays up for a few seconds. Pictured once it has painted.
    if [ $seen_progress = no ]; then
      if [ -n "$(wait_for 'Atualizando o sistema' 15)" ]; then
        sleep 0.5; shot progress; seen_progress=yes
      else
        echo "the download's window (\"Atualizando o sistema\") did not come within 15 s" >> "$log"
      fi
    fi
    continue
  fi
  if [ -n "$module" ]; then
    sleep 0.5; shot module; keys "$module" Escape; entered=yes; sleep 0.5; continue
  fi
  if [ -n "$form" ]; then
    if [ $data_file = no ] && [ $typed = no ]; then
      sleep 0.5; shot keyboard-branch; keys "$form" 0 0 0 1 Return
      sleep 0.5; shot keyboard-register; keys "$form" ${register:0:1} ${register:1:1} ${register:2:1} Return
      typed=yes; sleep 0.5; continue
    fi
    if [ $entered = no ]; then
      sleep 1; shot launcher; keys "$form" alt+e; sleep 1; continue
    fi
    if [ $left = no ]; then sleep 0.5; shot launcher-again; left=yes; break; fi
  fi
  sleep 0.2
done
[ $left = yes ] || { echo "the tour stopped before the module was left (see $log)" >&2; exit 1; }
[ $seen_progress = yes ] || { echo "the tour saw no download window (see $log)" >&2; exit 1; }
echo "screens saved in $shots"
