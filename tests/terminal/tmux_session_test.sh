#!/usr/bin/env bash
# Drives the real program in a detached tmux session with the terminal display:
#   tmux_session_test.sh SETUP_BINARY REPOSITORY
# Exits 77 (skipped) without tmux. Leaves pictures of each checked screen in $WCE_TMUX_PICTURES
# when that names a folder.
set -uo pipefail

setup=$(realpath "$1")
repo=$(realpath "$2")
command -v tmux >/dev/null || { echo "tmux is not installed: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/wce-tmux.XXXXXX")
sock="$work/tmux.sock"
t() { tmux -S "$sock" "$@"; }
cleanup() { t kill-server >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; echo "--- screen ---"; screen; echo "--------------"; failures=$((failures + 1)); }
screen() { t capture-pane -p -t wce; }

# Waits until the screen shows the text (fixed string); false after about 10 s (or N tries).
wait_for() {
    for _ in $(seq 1 "${2:-200}"); do
        screen | grep -qF -- "$1" && return 0
        sleep 0.05
    done
    return 1
}
expect() { wait_for "$1" || fail "expected \"$1\" ($2)"; }
expect_not() { screen | grep -qF -- "$1" && fail "did not expect \"$1\" ($2)"; }
keep_picture() {
    [ -n "${WCE_TMUX_PICTURES:-}" ] && screen >"$WCE_TMUX_PICTURES/$1.txt"
    return 0
}

# A fresh copy of the sample medium and device for every run.
sample() {
    local dir=$work/$1
    mkdir -p "$dir"
    if [ -x "$repo/scripts/make-sample.sh" ]; then
        "$repo/scripts/make-sample.sh" "$dir" 2>/dev/null
    else
        cp -R "$repo/examples/medium" "$repo/examples/device" "$dir/"
    fi
    echo "$dir"
}

# Starts the program from the pane's shell through a runner that prints the exit status (an
# interactive shell would drop the rest of the line after a signal).
cat >"$work/run.sh" <<EOF
#!/usr/bin/env bash
ulimit -c 0  # the core-dumping signals below leave no core files
env -u WCE_TMUX_PICTURES WCE_DISPLAY=terminal WCE_ROOT="\$1/device" WCE_MEDIUM="\$1/medium" "$setup"
echo "STATUS=\$?"
EOF
chmod +x "$work/run.sh"
run_setup() { t send-keys -t wce "clear; $work/run.sh $1" Enter; }
setup_pid() {
    local runner
    runner=$(pgrep -P "$(t display -p -t wce '#{pane_pid}')" | head -1)
    [ -n "$runner" ] && pgrep -P "$runner" -x SETUP | head -1
}

# The terminal is usable again: the shell runs a command and the line discipline echoes; the
# cursor shows, the normal screen is back and mouse reports are off.
expect_restored() {
    t send-keys -t wce "clear; stty -a | tr ' ;' '\n\n' | grep -cxE 'echo|icanon' | sed 's/^/MODES=/'" Enter
    expect "MODES=2" "$1: echo and canonical input restored"
    local flags
    flags=$(t display -p -t wce 'cursor=#{cursor_flag} alternate=#{alternate_on} mouse=#{mouse_any_flag}')
    [ "$flags" = "cursor=1 alternate=0 mouse=0" ] || fail "$1: terminal modes restored ($flags)"
}

t -f /dev/null new-session -d -s wce -x 100 -y 30 \
    "env LANG=C.UTF-8 LC_ALL=C.UTF-8 PS1='$ ' bash --norc --noprofile -i"
t set-option -g window-size manual >/dev/null
wait_for '$' || fail "the shell in tmux did not start"

# Start screen, Install (when the command exists), Escape.
dir=$(sample run)
run_setup "$dir"
expect "Installation of Language Files" "title"
expect ">English" "first entry selected"
expect "Deutsch" "second entry"
expect "日本語" "Japanese display name"
expect "1.02" "version"
expect "[ Install ]" "button"
expect "[OK]" "caption OK"
keep_picture start
t send-keys -t wce End
expect ">日本語" "End selects the last entry"
t send-keys -t wce Home
expect ">English" "Home selects the first entry"
sleep 0.2  # the rest of that frame
expect_not ">日本語" "a frame drawn over the last one leaves no earlier selection"
# Tab until the button has the focus (once from the list; twice when nothing had it yet).
for _ in 1 2; do
    t send-keys -t wce Tab
    wait_for "[>Install<]" 20 && break
done
expect "[>Install<]" "Tab moves the focus to the button"
t send-keys -t wce Enter
if wait_for "Installation has been completed." || wait_for "Failed in copying files."; then
    keep_picture install-result
    expect "Installation has been completed." "the install succeeds on the sample"
    t send-keys -t wce Enter
    wait_for "Installation has been completed." && sleep 0.3
    expect_not "Installation has been completed." "OK closes the message box"
    [ -e "$dir/device/ROMDisk2/PROGRAM/SETAPP/Lang.txt" ] || fail "SETAPP tree copied"
fi
t send-keys -t wce Escape
expect "STATUS=0" "Escape ends with status 0"
expect_restored "normal end"

# Under the screen, the keys; after a failure, its cause.
dir=$(sample failure)
rm -rf "$dir/device/ROMDisk2/PROGRAM/SETAPP"
run_setup "$dir"
expect "Tab: to Install   Enter or Escape: end the program" "the keys of the list under the screen"
for _ in 1 2; do
    t send-keys -t wce Tab
    wait_for "[>Install<]" 20 && break
done
expect "Enter or Space: install the chosen package   Tab: to the list" "the keys of the button"
t send-keys -t wce Enter
expect "Failed in copying files." "the install fails without the SETAPP folder"
expect "Failed: cannot copy into \\ROMDisk2\\PROGRAM\\SETAPP" "the cause under the screen"
expect "($dir/device/ROMDisk2/PROGRAM/SETAPP): the device has no such folder" "the cause's host path"
expect "or check that WCE_ROOT names the device" "the whole cause, wrapped"
t send-keys -t wce Enter
t send-keys -t wce Escape
expect "STATUS=0" "Escape after a failed install"

# During a copy the line under the screen offers what stops it, not Escape; Ctrl-C stops after
# the file in flight and says so once the terminal is restored.
dir=$(sample copying)
mkdir -p "$dir/medium/PRODUCT1/SETAPP/many"
(cd "$dir/medium/PRODUCT1/SETAPP/many" && seq 1 6000 | xargs touch)
t send-keys -t wce "clear; WCE_VERIFY=0 $work/run.sh $dir 2>&1" Enter
expect ">English" "start of a long install"
for _ in 1 2; do
    t send-keys -t wce Tab
    wait_for "[>Install<]" 20 && break
done
t send-keys -t wce Enter
if wait_for "Copying: Ctrl-C stops after the file being copied" 100; then
    expect_not "Escape: " "no Escape offered during the copy"
    t send-keys -t wce C-c
    expect "STATUS=130" "Ctrl-C during the copy ends with status 130"
    expect "interrupted after " "the interruption is said"
    expect_restored "Ctrl-C during a copy"
else
    fail "the hint during a copy"
    t send-keys -t wce Enter Escape
fi

# A click on an entry selects it; the caption OK ends the program.
dir=$(sample click)
run_setup "$dir"
expect ">English" "start"
# Mouse reports as the pane's terminal sends them (X10 encoding: 32 + button, 33 + column/row).
origin_col=$(( (100 - 80) / 2 )); origin_row=$(( (30 - 24) / 2 ))
row=$(screen | grep -nF "Deutsch" | head -1 | cut -d: -f1)
if [ -n "$row" ]; then
    y=$((row - 1)); x=$((origin_col + 5))
    t send-keys -t wce -l "$(printf '\033[M %b%b' "\\$(printf %03o $((33 + x)))" "\\$(printf %03o $((33 + y)))")"
    t send-keys -t wce -l "$(printf '\033[M#%b%b' "\\$(printf %03o $((33 + x)))" "\\$(printf %03o $((33 + y)))")"
    expect ">Deutsch" "a click on an entry selects it"
fi
y=$((origin_row + 1)); x=$((origin_col + 76))
t send-keys -t wce -l "$(printf '\033[M %b%b' "\\$(printf %03o $((33 + x)))" "\\$(printf %03o $((33 + y)))")"
expect "STATUS=0" "the caption OK ends with status 0"

# Too small a terminal gets a message; the picture comes back at full size.
dir=$(sample resize)
run_setup "$dir"
expect ">English" "start"
t resize-window -t wce -x 60 -y 20
expect "too small" "message in a small terminal"
t resize-window -t wce -x 100 -y 30
expect "Installation of Language Files" "picture back after the resize"
t send-keys -t wce Escape
expect "STATUS=0" "Escape after a resize"

# A script watched in the terminal: it runs to its end, and message lines stay off the picture.
dir=$(sample script)
printf 'select 1\nclick 1001\nok\nclose\n' >"$work/watch.script"
t send-keys -t wce "clear; WCE_SCRIPT=$work/watch.script $work/run.sh $dir" Enter
expect "STATUS=0" "a watched script ends with status 0"
expect_not "message:" "no message lines on the terminal drawn on"
[ -e "$dir/device/ROMDisk/PROGRAM/TAV/Messages.txt" ] || fail "the watched script installed"

# The stop path: two message boxes, then status 1.
dir=$(sample stop)
rm -f "$dir/medium/SETUP.INI"
run_setup "$dir"
expect "Not found SETUP.INI" "first message box"
expect "[>OK<]" "message box OK"
keep_picture message-box
t send-keys -t wce Enter
expect "Installation is stopped." "second message box"
t send-keys -t wce Enter
expect "STATUS=1" "the stop path ends with status 1"
expect_restored "stop path"

# Signals: the terminal is restored and the process ends by the signal.
for sig in INT TERM HUP SEGV QUIT ABRT; do
    dir=$(sample "sig$sig")
    run_setup "$dir"
    expect ">English" "start before SIG$sig"
    pid=$(setup_pid)
    if [ -z "$pid" ]; then fail "no SETUP process for SIG$sig"; continue; fi
    if [ "$sig" = QUIT ]; then t send-keys -t wce 'C-\'; else kill -s "$sig" "$pid"; fi
    status=$((128 + $(kill -l "$sig")))
    # A sanitizer build reports a SIGSEGV (on the restored terminal), then exits its own way.
    wait_for "STATUS=$status" || { wait_for "STATUS=" && screen | grep -q "Sanitizer"; } ||
        fail "SIG$sig ends the process by the signal"
    expect_restored "SIG$sig"
done

# A terminal description whose sgr0 nearly fills the restore sequence by itself: the rest is
# still sent whole (it once ran past the end of its buffer and lost the normal screen).
if command -v tic >/dev/null; then
    long=$(printf '\\E[m%.0s' $(seq 1 79))
    printf 'wce-longsgr0|screen with a long sgr0,\n\tsgr0=%s,\n\tuse=screen,\n' "$long" >"$work/long.ti"
    if tic -x -o "$work/terminfo" "$work/long.ti" 2>/dev/null; then
        dir=$(sample longsgr0)
        t send-keys -t wce "clear; TERM=wce-longsgr0 TERMINFO=$work/terminfo $work/run.sh $dir" Enter
        expect ">English" "start with a long sgr0"
        pid=$(setup_pid)
        if [ -n "$pid" ]; then
            kill -s TERM "$pid"
            expect "STATUS=143" "SIGTERM with a long sgr0"
            expect_restored "long sgr0"
        else
            fail "no SETUP process with a long sgr0"
        fi
    else
        echo "tic could not compile a test entry: long sgr0 not tried"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all terminal session checks passed"
