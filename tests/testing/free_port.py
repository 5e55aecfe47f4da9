#!/usr/bin/env python3
"""free_port.py: prints a loopback TCP port that is free now, for a server a test starts later,
outside the range of ports for outgoing connections, which tests beside it could take first."""
import random, socket

low, high = map(int, open("/proc/sys/net/ipv4/ip_local_port_range").read().split())
for port in random.sample([p for p in range(10000, 65536) if not low <= p <= high], 200):
    try:
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", port))
    except OSError:
        continue
    print(port)
    break
