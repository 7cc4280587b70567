"""Toggles of one port from Python, against the wire time they need.

100 toggles inside one ``with hub:`` block, where the hub is held and its
port count read once, next to 100 runs of ``hubctl /S:PORT T:1``, each of
which queries the hub first. Both run against a virtual hub that paces its
replies at 9600 baud: on its own pty, and through ser2net on loopback
(telnet with RFC 2217, no Nagle, no character delay). The wire time is the
bytes the hub received and sent, 10 bits each at 9600 baud; a ratio near
1.0 means the package adds almost nothing to what the line itself needs.

Usage: PYTHONPATH=build/python:tests/support /usr/bin/python3 bench/python_bench.py
           --hubctl build/console/hubctl [--toggles N] [--rounds N]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import hubtools
from loopback_rig import Ser2net, rfc2217_export

BITS_PER_BYTE = 10  # start + 8 data + stop
BAUD = 9600
GOALS = {"local": 1.03, "ser2net": 1.05}
# ser2net takes a client only after it has closed the last one's device,
# 10 ms after that client left: hubctl runs are spaced, untimed.
RUN_GAP = 0.02

# The virtual hub's identity, from which its replies' lengths follow.
PID, FIRMWARE, UID, DESCRIPTION, PORTS = "0AB3", "V04", "0123456789AB", "Virtual Hub", 4


def reply_length(line: str) -> int:
    """Bytes of the hub's reply to a command line (with its CR), LF included."""
    line = line.rstrip("\r")
    identify = len("TAVRIN") + len(PID) + 2 + len(FIRMWARE)
    if line == "?Q":
        return identify + 1
    if line == "E?Q2":
        return identify + len(UID) + len(DESCRIPTION) + 2  # CR LF
    if line == "GP":
        return 8 + 1
    if line.startswith(("SP", "FP")) and len(line) == 18:
        return 1 + 8 + 1  # "G" and the states echoed
    if line.startswith(("WP", "CP", "RD", "RH", "EUFW", "ESDD")):
        return 2  # "G"
    return 4  # "E00"


def wire_seconds(received) -> float:
    exchanged = sum(len(line) + reply_length(line) for line in received)
    return exchanged * BITS_PER_BYTE / BAUD


def toggles_in_block(vhub, name: str, toggles: int):
    """Seconds for `toggles` toggles of port 1 in one held block, and their wire time."""
    hub = hubtools.Hub(name)
    vhub.clear_received()
    before = vhub.states[0]
    start = time.perf_counter()
    with hub:
        for _ in range(toggles):
            hub.toggle(1)
    elapsed = time.perf_counter() - start
    if vhub.states[0] != (before if toggles % 2 == 0 else not before):
        raise RuntimeError("the toggles did not all reach the hub")
    time.sleep(RUN_GAP)
    return elapsed, wire_seconds(vhub.received)


def hubctl_runs(vhub, hubctl: str, name: str, runs: int):
    """Summed seconds of `runs` runs of hubctl /S:NAME T:1, and their wire time."""
    env = dict(os.environ, HUBLINK_REMOTES="")
    vhub.clear_received()
    total = 0.0
    for _ in range(runs):
        start = time.perf_counter()
        result = subprocess.run([hubctl, f"/S:{name}", "T:1"], env=env, timeout=30,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        total += time.perf_counter() - start
        if result.returncode != 0:
            raise RuntimeError(f"hubctl /S:{name} T:1 failed: {result.stderr.strip()}")
        time.sleep(RUN_GAP)
    return total, wire_seconds(vhub.received)


def report(where: str, case: str, measured, goal=None) -> bool:
    times = [m for m, _ in measured]
    wire = statistics.median(w for _, w in measured)
    ratio = statistics.median(times) / wire
    verdict = "" if goal is None else ("  ok" if ratio <= goal else f"  above {goal:.2f}")
    print(f"{where:8} {case:28} wire {wire * 1000:8.1f} ms  measured "
          f"{statistics.median(times) * 1000:8.1f} ms  ratio {ratio:5.3f}{verdict}", flush=True)
    return goal is None or ratio <= goal


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--hubctl", required=True)
    parser.add_argument("--toggles", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=3, help="medians of this many rounds")
    args = parser.parse_args()
    ok = True
    config = dict(ports=PORTS, pid=PID, firmware=FIRMWARE, uid=UID, description=DESCRIPTION,
                  wire_timing=True, record=True)
    with hubtools.VirtualHub(**config) as vhub:
        block = [toggles_in_block(vhub, vhub.port, args.toggles) for _ in range(args.rounds)]
        ok = report("local", f"{args.toggles} toggles, one block", block, GOALS["local"]) and ok
        runs = [hubctl_runs(vhub, args.hubctl, vhub.port, args.toggles) for _ in range(args.rounds)]
        report("local", f"{args.toggles} x hubctl /S T:1", runs)
    with hubtools.VirtualHub(**config) as vhub, tempfile.TemporaryDirectory() as directory, \
            Ser2net(directory, lambda port: rfc2217_export(vhub.port, port)) as ser2net:
        block = [toggles_in_block(vhub, ser2net.url, args.toggles) for _ in range(args.rounds)]
        ok = report("ser2net", f"{args.toggles} toggles, one block", block, GOALS["ser2net"]) and ok
        runs = [hubctl_runs(vhub, args.hubctl, ser2net.url, args.toggles)
                for _ in range(args.rounds)]
        report("ser2net", f"{args.toggles} x hubctl /S T:1", runs)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
