#!/bin/bash
# Runs the system's real window under a private Xvfb and checks it from outside.
# Usage: window_test.sh MODE CHECK_PROGRAM WM_CLOSE_PROGRAM [RUNNER]
#   keys   - typed keys, the close button, the pointer, and the picture pixel for pixel
#   passes - the display keeps its 10 ms pace while the program relocks the screen, sleeps when
#            idle, and a change after a quiet spell wakes it
#   tone   - the tone reaches an audio device (SDL's file-writing driver) intact (SDL only)
#   scale  - the window opens at the scale that fits the screen, follows resizing, and under a window
#            manager (openbox) covers the screen on F11 or Alt+Enter and has its old size again after the
#            second press (SDL only)
# RUNNER starts the check program: tests/wine/run.sh for the Windows one, which
# runs only inside tests/wine/sandbox.sh.
# Exits 77 (skipped) when Xvfb, xdotool or ImageMagick is missing, or
# when a Windows check program is run outside the sandbox.
set -u

mode=${1:?mode}
check=$(realpath -m "${2:?check program}")  # absolute: it starts from the work folder
wm_close=${3:-}
runner=${4:+$(realpath -m "$4")}

skip() { echo "SKIP: $*"; exit 77; }
fail() {
    echo "FAIL: $*"
    for f in out err xvfb.log; do
        [ -s "$work/$f" ] && { echo "--- $f"; tail -n 40 "$work/$f"; }
    done
    exit 1
}

command -v Xvfb >/dev/null || skip "Xvfb is not installed"
if [ -n "$runner" ]; then
    [ -n "${WINE_SANDBOX:-}" ] || skip "the Windows window runs only inside tests/wine/sandbox.sh"
    [ "$mode" != tone ] || skip "the tone test listens to SDL's audio driver"
fi
command -v xdotool >/dev/null || skip "xdotool is not installed"
if [ "$mode" = keys ] || [ "$mode" = scale ]; then
    command -v import >/dev/null && command -v convert >/dev/null || skip "ImageMagick is not installed"
    [ -n "$wm_close" ] && [ -x "$wm_close" ] || skip "wm_close was not built (no Xlib headers)"
fi

work=$(mktemp -d)
xvfb_pid=""
check_pid=""
wid=""
wm_pid=""

stop_process() {  # pid: TERM, then KILL if it lingers
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
cleanup() {
    stop_process "$wm_pid"
    stop_process "$check_pid"
    stop_process "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

source "$(dirname "$0")/../../support/xvfb.sh"
start_private_xvfb "$work" "$([ "$mode" = scale ] && echo 2560x1440)" || { xvfb_pid=$XVFB_PID; fail "no display"; }
xvfb_pid=$XVFB_PID
unset SDL_VIDEODRIVER SDL_AUDIODRIVER
# In a sanitizer build, leak reports from the system libraries SDL loads are not ours.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/lsan.supp:print_suppressions=0"

title="window-check-$$-$mode"
# xdotool types "é" only in a UTF-8 locale.
export LC_ALL=C.UTF-8

start_check() {  # extra arguments for the check program
    # From inside the work folder, so the frame's file name needs no path,
    # which a Windows program would read differently.
    local start=("$check")
    [ -n "$runner" ] && start=("$runner" "$check")
    (cd "$work" && exec "${start[@]}" --title "$title" --frame-out frame.bmp --timeout-ms 60000 "$@" \
        >"$work/out" 2>"$work/err") &
    check_pid=$!
    wait_for_line '^ready$' 100 || fail "the window did not open"
    wid=$(window_id)
    [ -n "$wid" ] || fail "xdotool cannot find the window titled $title"
}

output() {  # what the check program printed, without the carriage returns of Windows line ends
    tr -d '\r' <"$work/out" 2>/dev/null
}

wait_for_line() {  # regex, tries of 0.1 s
    for _ in $(seq "$2"); do
        output | grep -q -- "$1" && return 0
        [ -n "$check_pid" ] && ! kill -0 "$check_pid" 2>/dev/null && { output | grep -q -- "$1"; return; }
        sleep 0.1
    done
    return 1
}

key_lines() {  # the numeric lines the check program printed
    output | grep -E '^[0-9]+$'
}

retry_for() { for _ in $(seq "$1"); do "${@:2}" && return 0; sleep 0.1; done; return 1; }  # tries of 0.1 s, command
retry() { retry_for 50 "$@"; }  # command: within 5 s
keys_at_least() { [ "$(key_lines | wc -l)" -ge "$1" ]; }
geometry_is() { eval "$(xdotool getwindowgeometry --shell "$1")" && [[ "${WIDTH}x${HEIGHT}+$X+$Y" == $2 ]]; }  # pattern
managed() { xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | grep -q =; }
pointer_at() { eval "$(xdotool getmouselocation --shell)" && [ "$X,$Y" = "$1" ]; }
check_ended() { ! kill -0 "$check_pid" 2>/dev/null; }

expect_keys() {  # expected codes...
    retry keys_at_least "$#" || true
    [ "$(key_lines)" = "$(printf '%s\n' "$@")" ] || fail "keys: expected [$*] got [$(echo $(key_lines))]"
}

# xdotool types a character missing from the keyboard map by mapping it on a
# spare key for a moment; a client that looks the key up after the map is put
# back sees nothing. So a lost character is typed again, but a wrong one fails.
type_accented() {  # character, expected code
    local before typed
    before=$(key_lines | wc -l)
    for _ in $(seq 8); do
        xdotool type --delay 150 "$1"
        retry_for 10 keys_at_least $((before + 1)) || continue
        typed=$(key_lines | tail -n +$((before + 1)) | tr '\n' ' ')
        [ "$typed" = "$2 " ] && return 0
        fail "typing $1 gave [$typed], expected $2"
    done
    fail "xdotool never delivered $1"
}

window_id() {
    xdotool search --name "^${title}\$" 2>/dev/null | head -n 1
}

dump_frame() {  # has the check program save the frame, then writes it through the palette as raw RGB
    xdotool type 'd'
    wait_for_line '^dumped$' 50 || fail "the frame was not written"
    convert "bmp:$work/frame.bmp" -depth 8 "rgb:$work/frame.rgb" || fail "cannot read the saved frame"
}

expect_screen_equals_frame() {  # window id, when [expected picture, default the frame]
    local expected=${3:-$work/frame.rgb}
    for _ in $(seq 10); do
        sleep 0.2
        import -silent -window "$1" -depth 8 "rgb:$work/shot.rgb" 2>>"$work/err" || continue
        cmp -s "$work/shot.rgb" "$expected" && return 0
    done
    local differing
    differing=$(cmp -l "$work/shot.rgb" "$expected" 2>/dev/null | wc -l)
    fail "screenshot $2 differs from the frame in $differing bytes"
}

expect_check_status_0() {
    wait "$check_pid"
    local status=$?
    check_pid=""
    [ "$status" -eq 0 ] || fail "the check program ended with status $status"
}

finish_with_f12() {
    xdotool key F12
    retry check_ended || fail "the check program did not end after F12"
    expect_check_status_0
}

run_keys() {
    start_check

    # Geometry: 800x600 client area, centred on the 1024x768 screen. Under Wine
    # the whole window is centred and only its client area is an X window, so
    # that sits lower by half the caption.
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    [ "$WIDTH" = 800 ] && [ "$HEIGHT" = 600 ] || fail "window is ${WIDTH}x${HEIGHT}, not 800x600"
    local wx=$X wy=$Y
    if [ -n "$runner" ]; then
        [ "$wx" = 112 ] && [ "$wy" -gt 84 ] && [ "$wy" -le 104 ] ||
            fail "client area at ($wx,$wy), not below a caption centred at (112,84)"
    else
        [ "$wx" = 112 ] && [ "$wy" = 84 ] || fail "window at ($wx,$wy), not centred at (112,84)"
    fi
    # Resizable: the size hints no longer pin it to 800x600.
    if command -v xprop >/dev/null; then
        xprop -id "$wid" WM_NORMAL_HINTS | grep -q 'maximum size: 800 by 600' && fail "the window cannot be resized"
    fi

    # The pointer was placed on window pixel (400, 300).
    retry pointer_at "$((wx + 400)),$((wy + 300))" || fail "pointer at ($X,$Y), not on window (400,300)"

    xdotool windowfocus --sync "$wid" || fail "cannot focus the window"
    xdotool type --delay 30 'aZ9'
    xdotool key --delay 30 Return BackSpace Tab Escape Up Delete Home F1
    # With Num Lock off (as Xvfb starts) the keypad arrows are arrows too.
    xdotool key --delay 30 KP_Up KP_Delete KP_End
    expect_keys 97 90 57 13 8 9 27 18687 21503 18431 15359 18687 21503 20479
    type_accented 'é' 130
    type_accented '£' 156
    # Alt with a letter types nothing, F10 is a plain key, Alt alone and
    # Alt+Space do nothing: no system menu opens to eat the next key.
    xdotool key --delay 30 alt+a F10 Alt_L alt+space
    xdotool type 'b'
    local typed="97 90 57 13 8 9 27 18687 21503 18431 15359 18687 21503 20479 130 156 17663 98"
    expect_keys $typed

    # The close button queues 255 + 256*107 and the window stays.
    "$wm_close" "$wid" || fail "wm_close failed"
    expect_keys $typed 27647
    sleep 0.3
    [ "$(window_id)" = "$wid" ] || fail "the window is gone after the close button"
    kill -0 "$check_pid" 2>/dev/null || fail "the check program ended after the close button"

    # Pointer moves are clamped to the client area: (5000, -3) lands on (799, 0).
    xdotool type 'w'
    retry keys_at_least $(($(echo $typed | wc -w) + 2))
    retry pointer_at "$((wx + 799)),$wy" || fail "pointer at ($X,$Y), not on window (799,0)"

    # The picture on the screen equals the frame through the palette.
    dump_frame
    expect_screen_equals_frame "$wid" "after drawing"
    # Unmapped and mapped again, the window has lost its contents (Xvfb keeps
    # no backing store) and must paint the whole frame again.
    xdotool windowunmap --sync "$wid" && xdotool windowmap --sync "$wid" || fail "cannot remap the window"
    expect_screen_equals_frame "$wid" "after being exposed again"

    # Unmapped, Wine's window is no longer the active one: a click makes it so again.
    xdotool windowfocus --sync "$wid" && xdotool mousemove --window "$wid" 10 10 click 1 ||
        fail "cannot focus the window again"

    # A held key repeats, one key per repeat.
    xdotool keydown Down
    sleep 1
    xdotool keyup Down
    sleep 0.2
    local repeats
    repeats=$(key_lines | grep -cx 20735)
    [ "$repeats" -ge 3 ] || fail "a held Down key gave $repeats keys, expected repeats"

    # F11 and Alt+Enter each take the window to full screen and back, queueing nothing.
    if [ -n "$runner" ]; then
        local keys_before
        keys_before=$(key_lines | wc -l)
        expect_full_screen_toggles 1024x768+0+0 "800x600+$wx+$wy" F11 alt+Return
        [ "$(key_lines | wc -l)" = "$keys_before" ] || fail "full screen keys were queued: $(key_lines | tail -n 2)"
    fi

    finish_with_f12
    key_lines | tail -n 1 | grep -qx 34559 || fail "F12 was not reported as 34559"
    echo "PASS: keys, close button, pointer and pixels"
}

run_passes() {
    start_check --count-passes
    wait_for_line '^passes ' 50 || fail "no pass count"
    local _ passes take_ms idle
    read -r _ passes _ _ _ take_ms _ idle <<<"$(output | grep '^passes ')"
    output | grep '^passes '
    [ "$idle" -le 20 ] || fail "$idle display passes in one idle second: it should sleep"
    [ "$passes" -ge 30 ] || fail "only $passes display passes in one second of relocking"
    [ "$take_ms" -lt 100 ] || fail "a change after a quiet spell waited $take_ms ms for the display"
    expect_check_status_0
    echo "PASS: the display kept pace ($passes passes per second)"
}

run_tone() {
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw"
    start_check
    xdotool windowfocus --sync "$wid" || fail "cannot focus the window"
    xdotool type --delay 10 'tt'
    retry keys_at_least 2
    sleep 1.5  # two 250 ms tones play out in real time
    finish_with_f12
    [ -s "$work/audio.raw" ] || fail "no audio was written"
    # Signed 16-bit mono at 48000 Hz: the non-zero samples must be two whole
    # tones, 24000 samples, in half periods of exactly 24 samples of +-6000.
    od -An -v -td2 -w2 "$work/audio.raw" | uniq -c | awk '
        $2 != 0 { tone += $1; if ($1 != 24 || ($2 != 6000 && $2 != -6000)) bad++ }
        END {
            printf "tone samples %d, bad half periods %d\n", tone, bad
            exit !(tone == 24000 && bad == 0)
        }' || fail "the tone samples are not two clean 250 ms tones of 1000 Hz"
    echo "PASS: two tones played back to back, clean"
}

run_scale() {
    start_check
    # 2560x1440: scale 2 fits, centred; the pointer sits on frame pixel (400, 300) doubled.
    retry geometry_is "$wid" 1600x1200+480+120 || fail "the window is ${WIDTH}x$HEIGHT+$X+$Y on 2560x1440"
    retry pointer_at 1281,721 || fail "pointer at ($X,$Y), not on frame pixel (400,300)"
    xdotool windowfocus --sync "$wid" && dump_frame
    convert -size 800x600 -depth 8 "rgb:$work/frame.rgb" -sample 200% "rgb:$work/frame2.rgb"
    expect_screen_equals_frame "$wid" "at scale 2" "$work/frame2.rgb"
    # Resized wider, the picture stays at scale 2 between black bars.
    xdotool windowsize "$wid" 2000 1200
    convert -size 1600x1200 -depth 8 "rgb:$work/frame2.rgb" -bordercolor black -border 200x0 "rgb:$work/bars.rgb"
    expect_screen_equals_frame "$wid" "resized to 2000x1200" "$work/bars.rgb"
    # Full screen needs a window manager that grants it: openbox, where installed.
    if command -v openbox >/dev/null; then
        openbox --sm-disable >"$work/openbox.log" 2>&1 &
        wm_pid=$!
        retry managed "$wid" || fail "openbox did not take the window"
        expect_full_screen_toggles 2560x1440+0+0 '2000x1200+*' F11 alt+Return alt+KP_Enter
        stop_process "$wm_pid"
    fi
    # Neither key queued anything, and the picture is as it was.
    expect_screen_equals_frame "$wid" "after the full-screen keys" "$work/bars.rgb"
    finish_with_f12
    expect_keys 100 34559
    # On an 800x480 screen the window fits whole, at scale 0.8.
    stop_process "$xvfb_pid"
    start_private_xvfb "$work" 800x480 || fail "no 800x480 display"
    xvfb_pid=$XVFB_PID
    start_check
    retry geometry_is "$wid" 640x480+80+0 || fail "the window is ${WIDTH}x$HEIGHT+$X+$Y on 800x480"
    finish_with_f12
    echo "PASS: scale 2, resized, full screen and back, scale 0.8 on a small screen"
}

case "$mode" in
    keys) run_keys ;;
    passes) run_passes ;;
    tone) run_tone ;;
    scale) run_scale ;;
    *) fail "unknown mode $mode" ;;
esac
