#!/usr/bin/env bash
# Installs what is missing, builds the terminal and starts it on the simulated
# card reader. Its data folder is build/data: the first start makes the data
# file from the master file there, later starts keep the data.
#
# Without a display ($DISPLAY and $WAYLAND_DISPLAY empty) the terminal runs on
# a virtual X display (Xvfb), and the script says how to look at it.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-packages tools/deps/run.txt
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTON_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)"

cat <<'HELP'
The terminal runs on the simulated card reader. In another terminal:
  present a card:   build/bin/poston-card put 0123456789ABCDEF
  take it away:     build/bin/poston-card remove
  what lies there:  build/bin/poston-card status
On the first start there is no administrator yet: the terminal asks for one,
so present a card, type a name and press "登録".
HELP

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec build/bin/poston "$@"
fi

# No display: a virtual one, on the first free display number from 99 on.
display=99
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do
  display=$((display + 1))
done
auth="$PWD/build/var/Xauthority"
mkdir -p build/var
cat <<HELP
There is no display (\$DISPLAY and \$WAYLAND_DISPLAY are empty), so the
terminal runs on the virtual X display :$display (Xvfb). To see it:
  a picture:  XAUTHORITY=$auth DISPLAY=:$display import -window root screen.png
              (import comes with the package imagemagick)
HELP
if command -v x11vnc >/dev/null; then
  cat <<HELP
  live:       x11vnc -display :$display -auth $auth -localhost -nopw
              and a VNC viewer on localhost:5900
HELP
fi
exec xvfb-run -n "$display" -f "$auth" -s "-screen 0 1280x800x24" build/bin/poston "$@"
