# Sourced by the scripts that run dravik-sim on loopback. Needs $sim (the
# simulator), $work (a scratch folder) and $script (the caller's name, for its
# messages). Only 127.0.0.1 is used: the simulator takes a free port (port 0)
# and prints the one it got. Several may run at once (one per phase).
sim_pids=()
sim_fds=()

# stop_sim: ends every simulator started, if any.
stop_sim() {
    local pid fd
    for pid in "${sim_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        # The simulator ends on SIGTERM within a moment; do not wait for ever.
        if ! timeout 5 tail --pid="$pid" -f /dev/null; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    done
    for fd in "${sim_fds[@]}"; do
        exec {fd}<&-
    done
    sim_pids=()
    sim_fds=()
}

# start_sim ARGS...: starts one more dravik-sim and sets sim_address from its
# first line, "listening 127.0.0.1:PORT".
start_sim() {
    local n=${#sim_pids[@]}
    rm -f "$work/sim$n.out"
    mkfifo "$work/sim$n.out"
    "$sim" --listen 127.0.0.1:0 "$@" >"$work/sim$n.out" 2>"$work/sim$n.err" &
    sim_pids+=($!)
    local fd
    exec {fd}<"$work/sim$n.out"
    sim_fds+=("$fd")
    local line=""
    if ! read -r -t 10 line <&"$fd"; then
        echo "$script: dravik-sim did not come up:" >&2
        cat "$work/sim$n.err" >&2
        exit 1
    fi
    if [[ ! $line =~ ^listening\ (127\.0\.0\.1:[0-9]+)$ ]]; then
        echo "$script: unexpected first line from dravik-sim: $line" >&2
        exit 1
    fi
    sim_address=${BASH_REMATCH[1]}
}
