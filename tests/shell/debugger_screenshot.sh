#!/bin/sh
# Not a test: drives the real program as a user would, on Xvfb with openbox, through the
# keyboard (xdotool key, sent with XTEST), and saves a picture of a run stopped at a
# conditional breakpoint with the watch window beside it (docs/images/debugger.png).
#   tests/x11.sh tests/shell/debugger_screenshot.sh build/norvane OUT.png
set -e
program=$1
out=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat >"$dir/ramp.nvs" <<'EOF'
# Ramp the supply in steps of 0.5 V and log the current
limit = 0.9
for (step, 1, 10, 1)
    volts = step * 0.5
    amps = volts / 4.7
    if (amps >> limit)
        writelog("limit reached at " & volts & " V")
        break
    endif
    writelog("step " & step & ": " & amps & " A")
next
writelog("done")
EOF
# The script in the recent list, a conditional breakpoint on line 5 kept for it, and the
# windows' places.
mkdir -p "$dir/config/norvane"
cat >"$dir/config/norvane/norvane.ini" <<EOF
[main]
x=20
y=20
width=760
height=600
log_height=150
[debug]
x=800
y=60
[recent]
MRU1=$dir/ramp.nvs
[breakpoints]
$dir/ramp.nvs=5
$dir/ramp.nvs:5=(step == 4)
EOF
XDG_CONFIG_HOME="$dir/config" "$program" &
pid=$!
sleep 3
xdotool search --sync --onlyvisible --name "Norvane" windowactivate --sync >/dev/null 2>&1 || true
sleep 0.5
xdotool key alt+1          # open ramp.nvs from the recent bar
sleep 1
xdotool key ctrl+End Up F8 # a plain breakpoint on writelog("done")
sleep 0.3
xdotool key F9             # run: it stops before line 5 when step is 4
sleep 2
# The two windows, without the empty screen around them.
scrot -o -a 0,0,1024,656 "$out"
xdotool key shift+F9
sleep 0.5
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
