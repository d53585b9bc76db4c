#!/bin/sh
# Runs a test program on a real X server with a window manager, so that window frames,
# stacking and screen capture behave as on a desktop: Xvfb with openbox.
#   tests/x11.sh PROGRAM [ARGS...]
exec xvfb-run -a -s "-screen 0 1280x800x24" sh -c 'openbox >/dev/null 2>&1 & sleep 1; "$@"' x11 "$@"
