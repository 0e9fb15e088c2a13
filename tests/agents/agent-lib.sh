# Shell functions shared by the scripts that start and stop our test agents
# (sourced; $dir is the caller's state directory). Processes are stopped by
# the PIDs they wrote, never by name.

# Whether a process still runs: an exited one may stay a zombie for a while
# (until its parent, or whoever inherited it, reaps it), and kill -0 would
# still find it.
running() {
    state="$(ps -o stat= -p "$1" 2>/dev/null)"
    [ -n "$state" ] && [ "${state#Z}" = "$state" ]
}

# Stops the process of a PID file if it is still the one we started (its
# command line names our state directory).
stop_pid_file() {
    file="$1"
    [ -f "$file" ] || return 0
    pid="$(cat "$file" 2>/dev/null)"
    if [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] &&
       tr '\0' ' ' < "/proc/$pid/cmdline" | grep -q -- "$dir"; then
        kill "$pid" 2>/dev/null
        n=0
        while running "$pid" && [ $n -lt 50 ]; do
            sleep 0.1
            n=$((n + 1))
        done
        running "$pid" && kill -9 "$pid" 2>/dev/null
    fi
    rm -f "$file"
}

# Records why the agents cannot run, for the tests to skip with the reason,
# and ends the script successfully.
unavailable() {
    echo "$1" > "$dir/unavailable"
    echo "SNMP agents unavailable: $1"
    exit 0
}

# Checks the tools and the right to bind port 161; says why when missing.
check_agent_tools() {
    for tool in snmpd snmpwalk snmpget python3; do
        command -v "$tool" >/dev/null 2>&1 ||
            [ -x "/usr/sbin/$tool" ] || unavailable "$tool is not installed (scripts/install-deps.sh)"
    done
    [ "$(id -u)" -eq 0 ] || unavailable "binding UDP port 161 needs root"
}

# Waits until an agent answers a GET (up to 10 s): wait_answer ADDRESS OID [GETNEXT]
# with the community in $AGENT_COMMUNITY (default "public").
wait_answer() {
    command=snmpget
    [ -n "${3:-}" ] && command=snmpgetnext
    n=0
    while [ $n -lt 100 ]; do
        if MIBS= "$command" -v1 -c "${AGENT_COMMUNITY:-public}" -t 0.2 -r 0 -On "$1" "$2" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
        n=$((n + 1))
    done
    return 1
}
