#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures the tray app against its budgets, under Xvfb with a tray host, a private
# keyring, the development server and the fake CodexBar tool:
#
#   start      process start to tray icon shown (median of 5 starts)   budget 300 ms
#   memory     resident memory with the signed-in panel shown          budget 60 MB
#   idle CPU   signed in, panel closed, for the idle period            budget 1 s / 5 min
#              (the app's own CPU time, syncs included; CodexBar runs in a child
#              process and is not counted)
#   quiet gap  context switches of each of the app's threads over 40 s between two
#              syncs (from /proc/PID/task/*/status)                     budget 0
#
# Usage: bench/measure_app.sh [--idle SECONDS] [--build DIR]
#   --idle 300 is the real budget period; use e.g. --idle 30 for a quick run.
#   --build defaults to build/dev (run scripts/build first).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
idle=300
build=$root/build/dev
while [ $# -gt 0 ]; do
  case $1 in
    --idle) idle=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: bench/measure_app.sh [--idle SECONDS] [--build DIR]" >&2; exit 2 ;;
  esac
done
varno=$build/src/app/varno
devserver=$build/tools/devserver/varno-devserver
fake_codexbar=$build/tools/fake-codexbar/fake-codexbar
for tool in "$varno" "$devserver" "$fake_codexbar"; do
  [ -x "$tool" ] || { echo "measure: $tool is missing; build first" >&2; exit 1; }
done

if [ "${VARNO_BENCH_STAGE:-}" != "session" ]; then
  exec env -u DBUS_SESSION_BUS_ADDRESS VARNO_BENCH_STAGE=session \
    dbus-run-session -- "$0" --idle "$idle" --build "$build"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/varno-bench.XXXXXX")
pids=()
cleanup() {
  local status=$?
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'echo "measure: interrupted (INT)" >&2; exit 130' INT
trap 'echo "measure: interrupted (TERM)" >&2; exit 130' TERM
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 20))); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.05
  done
  return 1
}

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Varno" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY BROWSER
export QT_QPA_PLATFORM=xcb CODEXBAR_CLI=$fake_codexbar VARNO_DEVELOPMENT=1

"$devserver" --seed demo --port 0 >"$work/server.out" 2>/dev/null &
pids+=($!)
wait_for 10 test -s "$work/server.out"
server=$(head -n1 "$work/server.out")
printf '[General]\nserverURL=%s\n' "$server" >"$XDG_CONFIG_HOME/Varno/Varno.conf"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
  >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null

cat >"$work/browser" <<EOF
#!/bin/sh
location=\$(curl -s -o /dev/null -D - "\$1&account=demo" | tr -d '\r' | sed -n 's/^[Ll]ocation: //p')
exec "$varno" "\$location"
EOF
chmod +x "$work/browser"
export VARNO_BROWSER=$work/browser

demo_token=$(curl -sf -X POST -H 'Content-Type: application/json' -d '{"userId":"demo"}' \
  "$server/dev/sessions" | jq -r .token)
demo_synced() {
  curl -sf -H "Authorization: Bearer $demo_token" "$server/api/dashboard?date=$(date +%F)" |
    jq -r '.leaderboard[] | select(.id == "demo") | .syncedAt // ""'
}

# Starts the app, records launch-to-tray time in ms (in $launch_ms); leaves it
# running in $app.
app=
launch_ms=
start_app() {
  rm -f "$work/startup"
  local launched
  launched=$(date +%s%3N)
  VARNO_STARTUP_REPORT=$work/startup "$varno" >>"$work/varno.log" 2>&1 &
  app=$!
  wait_for 10 test -s "$work/startup" || { echo "measure: the app did not start" >&2; exit 1; }
  grep -q 'tray=shown' "$work/startup" || { echo "measure: no tray icon shown" >&2; exit 1; }
  local shown
  shown=$(sed -n 's/^tray_shown_epoch_ms=//p' "$work/startup")
  launch_ms=$((shown - launched))
}
stop_app() {
  kill "$app" 2>/dev/null || { echo "measure: the app had stopped:" >&2; cat "$work/varno.log" >&2; exit 1; }
  wait "$app" || true
}

# Sign in once, so that later starts restore a session like a real user's.
seeded=$(demo_synced)
start_app
wait_for 10 "$varno" --dev signin
synced_now() { [ "$(demo_synced)" != "$seeded" ]; }
wait_for 30 synced_now || { echo "measure: sign-in did not finish" >&2; exit 1; }
stop_app

# 1. Start-up: five fresh starts, signed in.
times=()
for _ in 1 2 3 4 5; do
  start_app
  times+=("$launch_ms")
  sleep 1
  stop_app
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
start_median=${sorted[2]}

# 2. Memory with the panel shown (after the launch sync has loaded the leaderboard).
start_app
pids+=("$app")
sleep 3
"$varno" --toggle
sleep 2
rss_kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$app/status")

# 3. Idle, panel closed: the app's own user+system CPU time over the period.
"$varno" --toggle
sleep 2
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
before=$(cpu)
sleep "$idle"
after=$(cpu)
cpu_ms=$(( (after - before) * 1000 / ticks ))
per_five_min=$(( cpu_ms * 300 / idle ))

# 4. Between two syncs: every thread's context switches over a window that starts
#    a few seconds after a sync has uploaded and ends well before the next one.
threads() {
  local t
  for t in /proc/"$app"/task/*; do
    [ -r "$t/status" ] || continue
    printf '%s %s %s %s\n' "${t##*/}" \
      "$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status")" \
      "$(awk '/^nonvoluntary_ctxt_switches/ {print $2}' "$t/status")" \
      "$(tr ' ' _ <"$t/comm")"
  done | sort -k1,1
}
last_sync=$(demo_synced)
sync_came() { [ "$(demo_synced)" != "$last_sync" ]; }
wait_for 90 sync_came || { echo "measure: no sync within 90 s" >&2; exit 1; }
sleep 5
last_sync=$(demo_synced)
gap=40
threads >"$work/threads.before"
sleep "$gap"
threads >"$work/threads.after"
synced_in_gap=$(sync_came && echo yes || echo no)
# Threads made during the window count from zero; ones that ended are listed as gone.
gap_report=$(join -a 2 -e 0 -o 2.1,2.4,1.2,1.3,2.2,2.3 "$work/threads.before" \
  "$work/threads.after" | awk '{v = $5 - $3; n = $6 - $4; total += v + n;
    printf "    %-8s %-18s %6d voluntary %6d nonvoluntary\n", $1, $2, v, n}
    END {printf "TOTAL %d\n", total}')
gone=$(join -v 1 "$work/threads.before" "$work/threads.after" | awk '{print $4 "(" $1 ")"}')
gap_switches=$(printf '%s\n' "$gap_report" | sed -n 's/^TOTAL //p')

printf '\nVarno budgets (this machine: %s cores)\n' "$(nproc)"
printf '  start to tray icon   %5d ms    (median of %s; budget 300 ms)\n' "$start_median" "${times[*]}"
printf '  memory, panel shown  %5d MB    (VmRSS %d kB; budget 60 MB)\n' $((rss_kb / 1024)) "$rss_kb"
printf '  idle CPU             %5d ms    over %d s with the syncs (%d ms per 5 min; budget 1000 ms)\n' \
  "$cpu_ms" "$idle" "$per_five_min"
printf '  quiet gap            %5d switches over %d s between syncs (budget 0%s)\n' \
  "$gap_switches" "$gap" "$([ "$synced_in_gap" = yes ] && echo '; a sync fell in the window')"
printf '%s\n' "$gap_report" | grep -v '^TOTAL'
[ -z "$gone" ] || printf '    threads that ended in the window: %s\n' "$gone"
