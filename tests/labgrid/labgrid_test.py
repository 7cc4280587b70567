#!/usr/bin/env python3
"""labgrid's ExternalPowerDriver switching a hub port through hubctl.

A virtual hub (hubsim) stands behind a real ser2net on loopback. Both the
ser2net configuration and the labgrid environment are the files shipped in
docs/labgrid, with only the device, the address and the hubctl path replaced,
so an example that stops working fails here.

Usage: labgrid_test.py HUBCTL HUBSIM EXAMPLE_DIR
Exits 77 (skipped) when labgrid or ser2net is not installed.
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SKIP = 77
SER2NET = "/usr/sbin/ser2net"
EXAMPLE_URL = "rfc2217://rack3:7001"

try:
    from labgrid import Environment
    from labgrid.driver import ExternalPowerDriver
except ImportError as error:
    print(f"skipped: labgrid cannot be imported ({error})")
    sys.exit(SKIP)

HUBCTL, HUBSIM, EXAMPLES = (os.path.abspath(a) for a in sys.argv[1:4])


def substituted(text, pattern, replacement, count):
    """`text` with every match of `pattern` replaced; exactly `count` must match."""
    new, found = re.subn(pattern, lambda _: replacement, text)
    if found != count:
        raise AssertionError(f"{pattern!r} matched {found} times in the example, not {count}")
    return new


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listens(port):
    """Whether 127.0.0.1:port listens, read from /proc/net/tcp: a probe
    connection would make ser2net open the hub's device."""
    with open("/proc/net/tcp") as table:
        rows = [line.split() for line in table.readlines()[1:]]
    return any(r[1] == f"0100007F:{port:04X}" and r[3] == "0A" for r in rows)


class HubBehindSer2net:
    """hubsim with ports 1 on and 2-4 off, exported by the shipped ser2net.yaml."""

    def __init__(self, directory):
        self.hubsim = subprocess.Popen([HUBSIM, "--states", "01000000"], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, text=True)
        device = self.hubsim.stdout.readline().strip()
        if not device.startswith("/dev/"):
            raise RuntimeError(f"hubsim printed {device!r}, not a device path")
        self.port = free_port()
        with open(os.path.join(EXAMPLES, "ser2net.yaml")) as f:
            config = f.read()
        config = substituted(config, r"/dev/serial/by-id/usb-[^,\s]+", device, 1)
        # Loopback only, on a port that is free now.
        config = substituted(config, "(?m)" + re.escape("telnet(rfc2217),tcp(nodelay),7001") + "$",
                             f"telnet(rfc2217),tcp(nodelay),127.0.0.1,{self.port}", 1)
        path = os.path.join(directory, "ser2net.yaml")
        with open(path, "w") as f:
            f.write(config)
        self.log = open(os.path.join(directory, "ser2net.log"), "w+")
        # -u: no UUCP lock files for the pty.
        self.ser2net = subprocess.Popen([SER2NET, "-n", "-d", "-u", "-c", path], stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.url = f"rfc2217://127.0.0.1:{self.port}"
        deadline = time.monotonic() + 5
        while not listens(self.port):
            if self.ser2net.poll() is not None or time.monotonic() > deadline:
                self.log.seek(0)
                raise RuntimeError("ser2net did not come up:\n" + self.log.read())
            time.sleep(0.05)

    def stop_ser2net(self):
        if self.ser2net.poll() is None:
            self.ser2net.terminate()
            self.ser2net.wait(5)

    def close(self):
        self.stop_ser2net()
        self.hubsim.send_signal(signal.SIGTERM)
        self.hubsim.wait(5)
        self.hubsim.stdout.close()
        self.log.close()

    def states(self):
        """hubctl /G's line, e.g. "On=1,3 Off=2,4"."""
        result = subprocess.run([HUBCTL, "/G:" + self.url], capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise AssertionError(f"hubctl /G failed: {result.stdout}{result.stderr}")
        return result.stdout.strip()


def environment_for(url, directory):
    """The shipped environment with the test's URL and the built hubctl."""
    with open(os.path.join(EXAMPLES, "hub-power.yaml")) as f:
        text = f.read()
    text = substituted(text, re.escape(EXAMPLE_URL), url, 4)
    text = substituted(text, r"(?<=[ '])hubctl(?= /S:)", HUBCTL, 4)
    path = os.path.join(directory, "hub-power.yaml")
    with open(path, "w") as f:
        f.write(text)
    return Environment(config_file=path)


class ExternalPowerThroughHubctl(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="labgrid-test-")
        self.hub = HubBehindSer2net(self.directory)
        self.addCleanup(shutil.rmtree, self.directory, True)
        self.addCleanup(self.hub.close)
        target = environment_for(self.hub.url, self.directory).get_target("main")
        self.power = target.get_driver("PowerProtocol")  # activates it
        self.assertIsInstance(self.power, ExternalPowerDriver)

    def test_on_off_cycle_touch_port_3_only(self):
        self.assertEqual(self.hub.states(), "On=1 Off=2,3,4")
        steps = [
            ("on", self.power.on, "On=1,3 Off=2,4"),
            ("on again", self.power.on, "On=1,3 Off=2,4"),
            ("off", self.power.off, "On=1 Off=2,3,4"),
            ("cycle from off", self.power.cycle, "On=1,3 Off=2,4"),
        ]
        for name, step, expected in steps:
            with self.subTest(step=name):
                step()
                self.assertEqual(self.hub.states(), expected)

    def test_cycle_switches_port_3_off_before_on(self):
        self.power.on()
        seen = []
        done = threading.Event()

        def watch():
            # Each reading waits its turn with cycle's own hubctl runs.
            while not done.is_set():
                seen.append(self.hub.states())

        watcher = threading.Thread(target=watch)
        watcher.start()
        try:
            self.power.cycle()
        finally:
            done.set()
            watcher.join()
        self.assertIn("On=1 Off=2,3,4", seen)
        self.assertEqual(self.hub.states(), "On=1,3 Off=2,4")

    def test_unreachable_hub_fails_the_power_step(self):
        self.hub.stop_ser2net()
        for name in ("on", "off", "cycle"):
            with self.subTest(step=name), self.assertRaises(subprocess.CalledProcessError):
                getattr(self.power, name)()


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    if not os.access(SER2NET, os.X_OK):
        print(f"skipped: {SER2NET} is not installed")
        sys.exit(SKIP)
    unittest.main(argv=sys.argv[:1], verbosity=2)
