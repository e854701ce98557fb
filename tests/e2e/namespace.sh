#!/usr/bin/env bash
# Runs a command inside the namespaces the caller made with unshare, never
# touching the machine's own network or files:
#   unshare -n -m namespace.sh silent-resolver COMMAND...
#       loopback up, a DNS server on 127.0.0.1:53 that takes queries and never
#       answers, and resolv.conf pointing at it
#   unshare -m namespace.sh hosts ADDRESS_NAME ... -- COMMAND...
#       /etc/hosts replaced by the lines given ("_" stands for a blank)
set -eu
here=$(dirname "$(readlink -f "$0")")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
case $1 in
silent-resolver)
    shift
    ip link set lo up
    printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:3\n' >"$scratch/resolv.conf"
    mount --bind "$scratch/resolv.conf" /etc/resolv.conf
    /usr/bin/python3 - "$scratch/ready" <<'PY' &
import socket, sys, time
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); udp.bind(("127.0.0.1", 53))
tcp = socket.socket(); tcp.bind(("127.0.0.1", 53)); tcp.listen(8)
open(sys.argv[1], "w").close()
time.sleep(600)  # hears every query, answers none
PY
    resolver=$!
    for _ in $(seq 100); do [ -e "$scratch/ready" ] && break; sleep 0.05; done
    status=0
    "$@" || status=$?
    kill "$resolver"
    exit $status
    ;;
hosts)
    shift
    while [ "$1" != -- ]; do echo "${1//_/ }" >>"$scratch/hosts"; shift; done
    shift
    mount --bind "$scratch/hosts" /etc/hosts
    exec "$@"
    ;;
esac
echo "namespace.sh: unknown mode $1" >&2
exit 2
