#!/bin/sh
# A namespace lab by hand, the same shape the tests build: one namespace for a
# tunnel server and N for clients, client i linked to the server by a veth pair
# with server 192.0.2.(4i+1)/30 and client 192.0.2.(4i+2)/30.
#   netns-lab.sh up NAME [CLIENTS]   (default 2)
#   netns-lab.sh down NAME
# Namespaces are NAME-server, NAME-client0, ...; run inside them with
# "ip netns exec NAME-client0 ...". Needs root.
set -eu
cmd=${1:-}; name=${2:-}
[ -n "$cmd" ] && [ -n "$name" ] || { sed -n '2,9p' "$0" >&2; exit 2; }
case "$cmd" in
up)
    clients=${3:-2}
    trap '"$0" down "$name"' INT TERM
    ip netns add "$name-server"
    ip -n "$name-server" link set lo up
    i=0
    while [ "$i" -lt "$clients" ]; do
        ns="$name-client$i"
        ip netns add "$ns"
        ip -n "$ns" link set lo up
        ip link add "lab${i}s" netns "$name-server" type veth peer name "lab${i}c" netns "$ns"
        ip -n "$name-server" addr add "192.0.2.$((4 * i + 1))/30" dev "lab${i}s"
        ip -n "$ns" addr add "192.0.2.$((4 * i + 2))/30" dev "lab${i}c"
        ip -n "$name-server" link set "lab${i}s" up
        ip -n "$ns" link set "lab${i}c" up
        i=$((i + 1))
    done
    ;;
down)
    for ns in $(ip netns list | awk '{print $1}'); do
        case "$ns" in "$name-server"|"$name-client"*) ip netns del "$ns" ;; esac
    done
    ;;
*)
    sed -n '2,9p' "$0" >&2; exit 2 ;;
esac
