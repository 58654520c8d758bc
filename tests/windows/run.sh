#!/usr/bin/env bash
# The Windows part of the tests: cross-builds quelmar.exe and the test programs with mingw-w64,
# runs the tests under Wine through ctest, and drives quelmar.exe in an 80x25 tmux console
# against the ECU simulator on Wine's COM1 (or, until the simulator is built, against a pty that
# echoes like the K-line). Installs nothing: when a tool is missing it says so and skips.
#
#   tests/windows/run.sh            build folder build-win/, simulator build/sim/quelmar-sim
#   QUELMAR_WIN_BUILD=DIR QUELMAR_SIM=PROGRAM tests/windows/run.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUELMAR_WIN_BUILD:-$root/build-win}
sim=${QUELMAR_SIM:-$root/build/sim/quelmar-sim}
here=$root/tests/windows

missing=""
for tool in cmake ctest x86_64-w64-mingw32-g++-posix wine wineserver wineboot tmux python3; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    echo "Windows tests skipped: not installed:$missing" \
        "(Debian packages g++-mingw-w64-x86-64, wine64, wine, tmux)"
    exit 0
fi

mkdir -p "$build"
logs=$build/logs
mkdir -p "$logs"
seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.1f s", b - a }'; }

# --- cross build ---------------------------------------------------------------------------
started=$(seconds)
if ! { cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release && cmake --build "$build" -j2; } >"$logs/build.log" 2>&1; then
    tail -n 40 "$logs/build.log"
    echo "Windows cross build failed (whole log: $logs/build.log)"
    exit 1
fi
echo "Windows cross build: $(elapsed "$started")"
if x86_64-w64-mingw32-objdump -p "$build/quelmar.exe" | grep 'DLL Name' |
    grep -viE 'KERNEL32|msvcrt|WINMM' >"$logs/dlls.txt"; then
    echo "quelmar.exe needs DLLs that Windows does not have:"
    cat "$logs/dlls.txt"
    exit 1
fi

# --- Wine ----------------------------------------------------------------------------------
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
ecu_link=$build/ecu-tty   # COM1: the simulator's pty, for the program
test_link=$build/test-tty # COM2: an echoing pty, for the platform tests
gone_link=$build/gone-tty # COM3: a port whose device is not there
helper_pid=""
sim_pid=""
tmux_socket=quelmar-win-$$

clean_up() {
    tmux -L "$tmux_socket" kill-server >/dev/null 2>&1 || true
    # The server first: a pty that hangs up under a living wineserver makes it dump its state.
    wineserver -k >/dev/null 2>&1 || true
    for pid in $helper_pid $sim_pid; do
        kill "$pid" >/dev/null 2>&1 || true
        wait "$pid" >/dev/null 2>&1 || true
    done
    rm -f "$gone_link"
}
trap clean_up EXIT

started=$(seconds)
if [ ! -d "$WINEPREFIX" ]; then
    wineboot -i </dev/null >"$logs/wineboot.log" 2>&1
fi
map_port() {
    wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f </dev/null >/dev/null 2>&1
}
map_port COM1 "$ecu_link"
map_port COM2 "$test_link"
map_port COM3 "$gone_link"
rm -f "$gone_link"
# The port mapping takes effect when the server starts again. A persistent server, with Wine's
# services started before ctest so that they do not hold its output open, makes each test
# program start in a tenth of a second.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
echo "Wine ready: $(elapsed "$started")"

# --- tests under Wine ----------------------------------------------------------------------
started=$(seconds)
python3 "$here/echo_port.py" "$test_link" 600 >"$logs/echo-port.log" 2>&1 &
helper_pid=$!
for _ in $(seq 50); do
    [ -L "$test_link" ] && break
    sleep 0.1
done
(cd "$build" && QUELMAR_TEST_PORT='\\.\com2' QUELMAR_TEST_LOST_PORT='\\.\com3' \
    timeout 300 ctest --output-on-failure --timeout 60 </dev/null)
kill "$helper_pid" >/dev/null 2>&1 || true
wait "$helper_pid" >/dev/null 2>&1 || true
helper_pid=""
echo "Windows tests under Wine: $(elapsed "$started")"

# --- smoke test: quelmar.exe in a console against the ECU -----------------------------------
started=$(seconds)
if [ -x "$sim" ]; then
    "$sim" --link "$ecu_link" >"$logs/sim.log" 2>&1 &
    sim_pid=$!
    far_end="the simulator"
else
    python3 "$here/echo_port.py" "$ecu_link" 300 >"$logs/ecu-echo.log" 2>&1 &
    helper_pid=$!
    far_end="an echoing pty (no $sim yet)"
fi
for _ in $(seq 50); do
    [ -L "$ecu_link" ] && break
    sleep 0.1
done

status_file=$build/smoke-status
screen_file=$logs/smoke-screen.txt
rm -f "$status_file"
tmux -L "$tmux_socket" new-session -d -s smoke -x 80 -y 25 \
    "wine '$build/quelmar.exe'; echo \$? >'$status_file'; sleep 120"

passed=0
failed=0
screen() { tmux -L "$tmux_socket" capture-pane -p -t smoke; }
row() { screen | sed -n "$(($1 + 1))p"; }
# wait_for SECONDS ROW REGEX: true once the row matches.
wait_for() {
    local end=$(($(date +%s) + $1))
    while [ "$(date +%s)" -le "$end" ]; do
        row "$2" | grep -qE "$3" && return 0
        sleep 0.2
    done
    return 1
}
check() {
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "  ok: $what"
    else
        failed=$((failed + 1))
        echo "  FAILED: $what"
        screen >"$screen_file" 2>&1 || true
        sed 's/^/    | /' "$screen_file"
    fi
}
ended_with() {
    local end=$(($(date +%s) + $1))
    while [ ! -e "$status_file" ] && [ "$(date +%s)" -le "$end" ]; do
        sleep 0.2
    done
    [ "$(cat "$status_file" 2>/dev/null)" = "$2" ]
}
# The simulator ends when the tool lets go of the line; its status tells its checks.
sim_ended_well() {
    local end=$(($(date +%s) + $1))
    while kill -0 "$sim_pid" 2>/dev/null && [ "$(date +%s)" -le "$end" ]; do
        sleep 0.2
    done
    kill -0 "$sim_pid" 2>/dev/null && return 1
    local status=0
    wait "$sim_pid" || status=$?
    sim_pid=""
    [ "$status" -eq 0 ]
}
live_values_shown() {
    local end=$(($(date +%s) + $1))
    while [ "$(date +%s)" -le "$end" ]; do
        [ "$(screen | sed -n '6,11p' | tr -d ' \n')" != "" ] && return 0
        sleep 0.2
    done
    return 1
}

echo "Smoke test of quelmar.exe under Wine against $far_end:"
check "start-up lines" wait_for 15 1 "^You didn't specify the com port, so assuming com1"
check "the wake-up's progress" wait_for 10 4 "^Initialising comms: 110"
check "the quit hint" wait_for 5 3 "^Hit 'q' to quit"
check "the ECU ID line" wait_for 15 21 '^ECU ID: [0-9A-F]{2}(-[0-9A-F]{2}){5}\*'
# Against an echoing pty the first poll waits out its read time-outs, too long to wait for.
if [ -n "$sim_pid" ]; then
    check "the live values" live_values_shown 20
fi
# Keys are read once the loop runs, which the spinner shows. (Two-code keys are left to the
# platform tests: Wine's _kbhit sees no key without a character until a later key waits.)
check "the spinner" wait_for 20 3 "^Hit 'q' to quit [\\|/-]"
tmux -L "$tmux_socket" send-keys -t smoke q
check "q quits with status 0" ended_with 30 0
check "the farewell" wait_for 2 22 '^Bye\.\.\.'
if [ -n "$sim_pid" ]; then
    check "the simulator's checks of the tool held" sim_ended_well 10
fi
echo "Windows smoke test: $(elapsed "$started")"
echo "smoke: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
