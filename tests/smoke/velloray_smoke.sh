#!/usr/bin/env bash
# Starts the real program under Xvfb and waits for its main window ("Velloray"); a second start must
# then end by itself while the first keeps running. Exit 77 (skipped) without xvfb-run or xwininfo.
#   velloray_smoke.sh PROGRAM [SCREENSHOT.png]
set -euo pipefail
program=$1
shot=${2:-}
for tool in xvfb-run xwininfo; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: smoke test skipped"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Its own instance names, settings and runtime folder: a user's running Velloray is never met.
export VELLORAY_INSTANCE="velloray-smoke" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"
unset QT_QPA_PLATFORM

cat >"$work/inside.sh" <<'INSIDE'
set -u
program=$1 shot=$2 work=$3
"$program" >"$work/first.log" 2>&1 &
first=$!
shown=""
for _ in $(seq 1 600); do
  if xwininfo -name Velloray >/dev/null 2>&1; then shown=yes; break; fi
  kill -0 "$first" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$shown" ]; then
  echo "the main window did not appear"; cat "$work/first.log"; kill "$first" 2>/dev/null; exit 1
fi
xwininfo -name Velloray | grep -E "Width|Height"
[ -n "$shot" ] && { sleep 1; import -window root "$shot"; }

# A second regular start raises the first and ends.
timeout 60 "$program" >"$work/second.log" 2>&1
status=$?
if [ "$status" -ne 0 ]; then echo "the second start ended with $status"; cat "$work/second.log"; kill "$first"; exit 1; fi
if ! kill -0 "$first" 2>/dev/null; then echo "the first instance ended"; cat "$work/first.log"; exit 1; fi
kill "$first"
wait "$first" 2>/dev/null
exit 0
INSIDE
xvfb-run -a -s "-screen 0 1366x768x24" bash "$work/inside.sh" "$program" "$shot" "$work"
