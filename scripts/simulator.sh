# Sourced by the scripts that run dravik-sim on loopback. Needs $sim (the
# simulator), $work (a scratch folder) and $script (the caller's name, for its
# messages). Only 127.0.0.1 is used: the simulator takes a free port (port 0)
# and prints the one it got.
sim_pid=""
sim_fd=""

# stop_sim: ends the simulator started last, if any.
stop_sim() {
    [ -n "$sim_pid" ] || return 0
    kill -TERM "$sim_pid" 2>/dev/null || true
    # The simulator ends on SIGTERM within a moment; do not wait for ever.
    if ! timeout 5 tail --pid="$sim_pid" -f /dev/null; then
        kill -KILL "$sim_pid" 2>/dev/null || true
    fi
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
    if [ -n "$sim_fd" ]; then
        exec {sim_fd}<&-
        sim_fd=""
    fi
}

# start_sim ARGS...: starts dravik-sim and sets sim_address from its first
# line, "listening 127.0.0.1:PORT".
start_sim() {
    rm -f "$work/sim.out"
    mkfifo "$work/sim.out"
    "$sim" --listen 127.0.0.1:0 "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    exec {sim_fd}<"$work/sim.out"
    local line=""
    if ! read -r -t 10 line <&"$sim_fd"; then
        echo "$script: dravik-sim did not come up:" >&2
        cat "$work/sim.err" >&2
        exit 1
    fi
    if [[ ! $line =~ ^listening\ (127\.0\.0\.1:[0-9]+)$ ]]; then
        echo "$script: unexpected first line from dravik-sim: $line" >&2
        exit 1
    fi
    sim_address=${BASH_REMATCH[1]}
}
