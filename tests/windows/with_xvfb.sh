#!/bin/sh
# Runs a command with a virtual X display of its own (Xvfb, 1280 x 1024, 24
# bits), named in SERVO_WINE_DISPLAY for wine.sh; the server ends with it.
#
#   with_xvfb.sh COMMAND ARG...
set -eu
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "with_xvfb.sh: Xvfb is needed (Debian package xvfb): run scripts/setup" >&2
  exit 1
fi
fifo=$(mktemp -u)
mkfifo "$fifo"
# -displayfd picks a free display number and writes it once the server is ready.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; rm -f "$fifo"' EXIT
read -r display <"$fifo"
rm -f "$fifo"
if [ -z "$display" ]; then
  echo "with_xvfb.sh: Xvfb did not start" >&2
  exit 1
fi
SERVO_WINE_DISPLAY=":$display" "$@"
