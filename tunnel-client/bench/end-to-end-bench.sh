#!/usr/bin/env bash
# End to end through the tunnel on this machine: two ostrel-client processes, each in a
# network namespace of its own with a real TAP adapter, the test tunnel server in a third
# namespace between them, and iperf3 and ping across the tunnel. The bare veth path
# through the same three namespaces (the middle one forwarding) is measured for scale.
#
#   tunnel-client/bench/end-to-end-bench.sh [--against REF] [--repeat N] [--seconds S] [NAME=BIN_DIR ...]
#
# Each BIN_DIR holds ostrel-client and ostrel-tunnel-server. Without any, this tree is
# built in build/bench-e2e and measured as "this"; --against REF also builds the git
# revision REF (from `git archive`, in a temporary folder) and measures it beside. The
# builds take turns within every repetition, so they meet the same machine load, and
# every round starts with the next one. Every
# figure is the median of --repeat measurements (default 3); TCP runs last --seconds
# (default 10).
# Figures: TCP with one and four streams; UDP of 1392-byte datagrams (the tunnel's MTU of
# 1420) and of 64-byte datagrams, each at the highest offered rate that loses under 1 % in
# one of two 3-second tries (iperf3's own sending and receiving rates cap both; the TAPs get
# a queue of 10000 frames);
# for 64-byte datagrams also what arrives when iperf3 sends as fast as it can, and its loss;
# ping round trip (median of 500 a 10 ms apart, and of 3000 back to back); CPU of each
# tunnel process during the one-stream TCP run, in percent of one core.
#
# Needs root; installs iperf3 and jq when missing. Leaves nothing behind.
set -euo pipefail

repeat=3
seconds=10
against=
builds=()
while [ $# -gt 0 ]; do
    case "$1" in
    --repeat) repeat=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --against) against=$2; shift 2 ;;
    -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
    *=*) builds+=("$1"); shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
[ "$(id -u)" -eq 0 ] || { echo "run as root: it creates namespaces and TAP adapters" >&2; exit 1; }

need=()
command -v iperf3 >/dev/null || need+=(iperf3)
command -v jq >/dev/null || need+=(jq)
if [ ${#need[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
given=${#builds[@]}

build_tree() {  # source folder, build folder
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANA_TESTS=OFF -DCORVANA_DESKTOP=OFF >/dev/null
    cmake --build "$2" -j 4 --target ostrel-client ostrel-tunnel-server >/dev/null
}
if [ -n "$against" ]; then
    echo "building $against" >&2
    mkdir -p "$work/$against-src"
    git -C "$here" archive "$against" | tar -x -C "$work/$against-src"
    build_tree "$work/$against-src" "$work/$against-build"
    builds=("$against=$work/$against-build/bin" "${builds[@]}")
fi
if [ "$given" -eq 0 ]; then
    echo "building this tree" >&2
    build_tree "$here" "$here/build/bench-e2e"
    builds+=("this=$here/build/bench-e2e/bin")
fi
# The desktop program ends every process named like the tunnel client when it starts, and
# other tests on a shared machine start it: the clients run as a copy under another name.
runs=()
for b in "${builds[@]}"; do
    for p in ostrel-client ostrel-tunnel-server; do
        [ -x "${b#*=}/$p" ] || { echo "${b#*=}/$p is missing" >&2; exit 1; }
    done
    mkdir -p "$work/run-${b%%=*}"
    cp "${b#*=}/ostrel-client" "$work/run-${b%%=*}/bench-client"
    cp "${b#*=}/ostrel-tunnel-server" "$work/run-${b%%=*}/bench-relay"
    runs+=("${b%%=*}=$work/run-${b%%=*}")
done

ns_relay=tpbench-relay
ns_a=tpbench-a
ns_b=tpbench-b
relay_a=192.0.2.1 a_addr=192.0.2.2 relay_b=192.0.2.5 b_addr=192.0.2.6
port=7100
mtu=1420
udp_len=$((mtu - 28))
pids=()
iperf_server=

in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

stop_pids() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    pids=()
}

teardown() {
    stop_pids
    if [ -n "$iperf_server" ]; then kill "$iperf_server" 2>/dev/null || true; wait "$iperf_server" 2>/dev/null || true; fi
    for ns in $ns_relay $ns_a $ns_b; do ip netns del "$ns" 2>/dev/null || true; done
    rm -rf "$work"
}
trap teardown EXIT
trap 'exit 130' INT TERM

setup_lab() {
    for ns in $ns_relay $ns_a $ns_b; do
        ip netns del "$ns" 2>/dev/null || true
        ip netns add "$ns"
        ip -n "$ns" link set lo up
    done
    ip link add tpb-a netns $ns_relay type veth peer name eth0 netns $ns_a
    ip link add tpb-b netns $ns_relay type veth peer name eth0 netns $ns_b
    ip -n $ns_relay addr add $relay_a/30 dev tpb-a
    ip -n $ns_relay addr add $relay_b/30 dev tpb-b
    ip -n $ns_a addr add $a_addr/30 dev eth0
    ip -n $ns_b addr add $b_addr/30 dev eth0
    ip -n $ns_relay link set tpb-a up
    ip -n $ns_relay link set tpb-b up
    ip -n $ns_a link set eth0 up
    ip -n $ns_b link set eth0 up
    # The bare path: a and b reach each other through the relay namespace.
    in_ns $ns_relay sysctl -qw net.ipv4.ip_forward=1
    ip -n $ns_a route add 192.0.2.4/30 via $relay_a
    ip -n $ns_b route add 192.0.2.0/30 via $relay_b
    # A TAP's default queue of 1000 frames overflows when its reader waits ~10 ms for a CPU on
    # a busy machine, which would make the UDP figures measure the machine's load.
    for ns in $ns_a $ns_b; do
        ip -n "$ns" tuntap add mode tap name vlan0
        ip -n "$ns" link set vlan0 txqueuelen 10000
    done
    ip netns exec $ns_b iperf3 -s >/dev/null 2>&1 &
    iperf_server=$!
}

# Waits until the client's event log shows "ready"; prints its tunnel address.
await_client() {
    local log=$1 pid=$2
    for _ in $(seq 1 300); do
        if grep -q '"event":"ready"' "$log"; then
            jq -r 'select(.event == "configured") | .ip' "$log"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "client did not come up:" >&2
    cat "$log" >&2
    return 1
}

relay_pid= a_pid= b_pid=
start_tunnel() {
    local bin=$1
    ip netns exec $ns_relay "$bin/bench-relay" --bind 0.0.0.0 --port $port --mtu $mtu \
        --account alice:pw-a:lan:l2:8 --account bob:pw-b:lan:l2:8 >"$work/relay.log" 2>&1 &
    relay_pid=$!
    pids+=("$relay_pid")
    for _ in $(seq 1 100); do grep -q listening "$work/relay.log" && break; sleep 0.05; done
    ip netns exec $ns_a "$bin/bench-client" --server $relay_a:$port --user alice --pass pw-a --node lan --mode l2 \
        --tap vlan0 --insecure-skip-server-auth >"$work/a.log" 2>&1 &
    a_pid=$!
    pids+=("$a_pid")
    ip netns exec $ns_b "$bin/bench-client" --server $relay_b:$port --user bob --pass pw-b --node lan --mode l2 \
        --tap vlan0 --insecure-skip-server-auth >"$work/b.log" 2>&1 &
    b_pid=$!
    pids+=("$b_pid")
    a_ip=$(await_client "$work/a.log" "$a_pid")
    b_ip=$(await_client "$work/b.log" "$b_pid")
    # ARP and the first TCP connection settle before anything is timed.
    in_ns $ns_a ping -c 3 -i 0.2 -W 2 "$b_ip" >/dev/null
}

stop_tunnel() { stop_pids; }

# CPU time of a process in clock ticks.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# iperf3 from a to address $1 with further options; prints the JSON. A test that stalls
# (its control connection cut when a tunnel process died) is stopped after a while.
iperf() {
    local to=$1; shift
    local out
    for _ in 1 2 3 4 5; do
        if out=$(in_ns $ns_a timeout -k 5 $((seconds + 30)) iperf3 -c "$to" -J "$@" 2>/dev/null) && [ -n "$out" ] &&
            ! jq -e '.error' <<<"$out" >/dev/null; then
            printf '%s\n' "$out"
            return 0
        fi
        sleep 1  # the server is still finishing the previous test
    done
    echo '{}'
}

tcp_rate() {  # address, streams -> Gbit/s received
    iperf "$1" -t "$seconds" -P "$2" | jq -r '(.end.sum_received.bits_per_second // 0) / 1e6 | round / 1000'
}

# Offered rate in bit/s, 0 for as fast as iperf3 sends -> "sent_bit/s received_bit/s
# received_packets/s lost_percent". Large socket buffers, so the ends do not drop.
udp_probe() {
    local to=$1 len=$2 rate=$3
    iperf "$to" -u -w 4M -l "$len" -b "$rate" -t 3 |
        jq -r '.end as $e | ($e.sum_received // {}) as $r |
               [($e.sum_sent.bits_per_second // 0), ($r.bits_per_second // 0),
                ((($r.packets // 0) - ($r.lost_packets // 0)) / (($r.seconds // 1) | if . == 0 then 1 else . end)),
                ($r.lost_percent // 100)] | @tsv'
}

# One rate, tried twice when the first try loses 1 % or more: the receiving iperf3 reads
# one datagram per call and now and then falls behind by more than its socket holds, which
# drops datagrams the path did deliver; a rate the path cannot carry loses in both tries.
# Prints the last try's "sent_bit/s received_bit/s received_packets/s lost_percent".
udp_rate() {
    local out
    out=$(udp_probe "$@")
    if ! under_one_percent "$(cut -f4 <<<"$out")"; then out=$(udp_probe "$@"); fi
    printf '%s\n' "$out"
}

under_one_percent() { awk -v l="$1" 'BEGIN{exit !(l < 1)}'; }

# Highest rate with under 1 % loss: first as fast as iperf3 sends; when that loses 1 % or
# more, halves the gap between no load and that rate five times. Prints "Gbit/s
# kpackets/s" received in the best probe, then kpackets/s received and loss in percent of
# the first probe flat out.
udp_search() {
    local to=$1 len=$2
    local sent bits pps lost good=0 bad best="0 0" first
    read -r sent bits pps lost <<<"$(udp_probe "$to" "$len" 0)"
    first=$(awk -v p="$pps" -v l="$lost" 'BEGIN{printf "%.1f %.1f", p / 1e3, l}')
    bad=${sent%.*}
    under_one_percent "$lost" || read -r sent bits pps lost <<<"$(udp_probe "$to" "$len" 0)"
    if under_one_percent "$lost"; then
        best="$bits $pps"
    else
        for _ in 1 2 3 4 5; do
            local rate=$(((good + bad) / 2))
            read -r sent bits pps lost <<<"$(udp_rate "$to" "$len" "$rate")"
            if under_one_percent "$lost"; then good=$rate; best="$bits $pps"; else bad=$rate; fi
        done
    fi
    awk -v b="${best% *}" -v p="${best#* }" -v f="$first" 'BEGIN{printf "%.3f %.1f %s\n", b / 1e9, p / 1e3, f}'
}

# Median of the numbers on standard input, one a line; the first argument (default "-")
# when there are none.
median_of() {
    sort -g | awk -v none="${1:--}" '{v[NR] = $1} END {if (NR == 0) print none; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

ping_median() {  # address, ping options -> median round trip in ms
    local to=$1; shift
    in_ns $ns_a ping "$@" -W 1 "$to" 2>/dev/null |
        sed -n 's/.*time=\([0-9.]*\) ms/\1/p' | median_of nan | xargs printf '%.3f\n'
}

record() { echo "$1 $2 $3" >>"$work/attempt"; }  # path figure value

# Every tunnel process still running (else the figures just taken are worth nothing).
alive() { kill -0 "$relay_pid" 2>/dev/null && kill -0 "$a_pid" 2>/dev/null && kill -0 "$b_pid" 2>/dev/null; }

measure() {  # path name, address, with-cpu
    local name=$1 to=$2 cpu=$3
    local before_a before_b before_r t0 t1 rate
    if [ "$cpu" = yes ]; then
        before_a=$(ticks "$a_pid"); before_b=$(ticks "$b_pid"); before_r=$(ticks "$relay_pid")
        t0=$(date +%s.%N)
    fi
    rate=$(tcp_rate "$to" 1)
    record "$name" tcp1 "$rate"
    if [ "$cpu" = yes ]; then
        t1=$(date +%s.%N)
        local hz; hz=$(getconf CLK_TCK)
        for who in a:$a_pid:$before_a b:$b_pid:$before_b relay:$relay_pid:$before_r; do
            IFS=: read -r label pid before <<<"$who"
            record "$name" "cpu_$label" "$(awk -v d=$(($(ticks "$pid") - before)) -v hz="$hz" -v s="$t0" -v e="$t1" \
                'BEGIN{printf "%.0f", 100 * d / hz / (e - s)}')"
        done
    fi
    record "$name" tcp4 "$(tcp_rate "$to" 4)"
    local gbit kpps full loss
    read -r gbit kpps full loss <<<"$(udp_search "$to" $udp_len)"
    record "$name" udp_gbit "$gbit"
    read -r gbit kpps full loss <<<"$(udp_search "$to" 64)"
    record "$name" udp64_kpps "$kpps"
    record "$name" udp64_full_kpps "$full"
    record "$name" udp64_full_loss "$loss"
    # Idle, a ping every 10 ms: mostly how fast sleeping CPUs wake, which varies from run
    # to run by more than the tunnel's own cost. Back to back (the next ping leaves when the
    # reply is in) the CPUs stay awake and the tunnel's per-packet cost shows.
    record "$name" rtt_ms "$(ping_median "$to" -c 500 -i 0.01)"
    record "$name" rtt_busy_ms "$(ping_median "$to" -c 3000 -A)"
}

setup_lab
: >"$work/results"
for round in $(seq 1 "$repeat"); do
    echo "round $round of $repeat: bare veth path" >&2
    : >"$work/attempt"
    measure bare $b_addr no
    cat "$work/attempt" >>"$work/results"
    # Each round starts with the next build, so none always meets the machine first.
    n=${#runs[@]}
    for ((k = 0; k < n; k++)); do
        b=${runs[$(((k + round - 1) % n))]}
        for try in 1 2 3; do
            echo "round $round of $repeat: tunnel, ${b%%=*}" >&2
            : >"$work/attempt"
            if start_tunnel "${b#*=}" && measure "${b%%=*}" "$b_ip" yes && alive; then
                stop_tunnel
                cat "$work/attempt" >>"$work/results"
                break
            fi
            stop_tunnel
            echo "a tunnel process died during the measurement (try $try); measuring again" >&2
        done
    done
done

median() {  # path figure
    awk -v p="$1" -v f="$2" '$1 == p && $2 == f {print $3}' "$work/results" | median_of
}

paths=(bare)
for b in "${builds[@]}"; do paths+=("${b%%=*}"); done
printf '\nmedians of %s runs on %s (%s cores)\n\n' "$repeat" "$(uname -r)" "$(nproc)"
printf '| path | TCP 1 stream Gbit/s | TCP 4 streams Gbit/s | UDP %s B Gbit/s | UDP 64 B kpackets/s | UDP 64 B flat out: kpackets/s (loss %%) | ping ms idle / back to back | CPU %% client a / relay / client b |\n' "$udp_len"
printf '|---|---|---|---|---|---|---|---|\n'
for p in "${paths[@]}"; do
    cpu="-"
    [ "$p" != bare ] && cpu="$(median "$p" cpu_a) / $(median "$p" cpu_relay) / $(median "$p" cpu_b)"
    printf '| %s | %s | %s | %s | %s | %s (%s) | %s / %s | %s |\n' "$p" "$(median "$p" tcp1)" "$(median "$p" tcp4)" \
        "$(median "$p" udp_gbit)" "$(median "$p" udp64_kpps)" "$(median "$p" udp64_full_kpps)" \
        "$(median "$p" udp64_full_loss)" "$(median "$p" rtt_ms)" "$(median "$p" rtt_busy_ms)" "$cpu"
done
printf '\nevery measurement, in round order:\n'
awk '{a[$1" "$2] = a[$1" "$2] " " $3} END {for (k in a) print k ":" a[k]}' "$work/results" | sort
