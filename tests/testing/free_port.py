#!/usr/bin/env python3
"""free_port.py: prints a loopback TCP port that is free now, for a server a test starts later.

It lies outside the range the system takes ports from for outgoing connections, so that the many
connections of tests that run beside it cannot take it before the server binds it.
"""
import random, socket

try:
    with open("/proc/sys/net/ipv4/ip_local_port_range") as ports:
        low, high = map(int, ports.read().split())
except (OSError, ValueError):
    low, high = 32768, 60999
candidates = [port for port in range(10000, 65536) if not low <= port <= high]
random.shuffle(candidates)
for port in candidates:
    with socket.socket() as probe:
        try:
            probe.bind(("127.0.0.1", port))
        except OSError:
            continue
    print(port)
    break
else:
    raise SystemExit("free_port.py: no free port outside the outgoing range")
