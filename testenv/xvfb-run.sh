#!/bin/sh
# Runs a command with its own X display: starts Xvfb on a free display number, runs the command
# with DISPLAY set, and stops that Xvfb by its process id, whatever the command did.
# Usage: xvfb-run.sh [-s WxHxD] command [arguments...]
# Works on a machine without any display; needs the xvfb package.
set -u
screen=1024x768x24
if [ "${1:-}" = "-s" ]; then screen=$2; shift 2; fi
command -v Xvfb >/dev/null 2>&1 || { echo "xvfb-run.sh: Xvfb is not installed" >&2; exit 1; }

fdfile=$(mktemp "${TMPDIR:-/tmp}/zelvora-xvfb.XXXXXX")
# -displayfd: Xvfb picks a free display number and writes it once it accepts connections.
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$fdfile" </dev/null >/dev/null 2>&1 &
xpid=$!
stop_x() {
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null
  rm -f "$fdfile"
}
trap stop_x EXIT
trap 'exit 130' INT TERM

tries=0
while ! grep -q '[0-9]' "$fdfile" 2>/dev/null; do
  if ! kill -0 "$xpid" 2>/dev/null; then echo "xvfb-run.sh: Xvfb did not start" >&2; exit 1; fi
  tries=$((tries + 1))
  [ "$tries" -gt 200 ] && { echo "xvfb-run.sh: Xvfb gave no display within 20 s" >&2; exit 1; }
  sleep 0.1
done
DISPLAY=":$(tr -dc 0-9 <"$fdfile")"
export DISPLAY
"$@"
rc=$?
exit "$rc"
