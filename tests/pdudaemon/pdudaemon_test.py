#!/usr/bin/env python3
"""Debian's pdudaemon switching virtual hubs through the hubtools driver.

pdudaemon runs as its own process with an HTTP listener on loopback and a
configuration naming the driver "hubtools" (found through its entry point)
for in-process virtual hubs. Requests go as LAVA sends them
(/power/control/on?hostname=...&port=...); the hubs' own port states are
checked. A hub that refuses the password must be tried again and the failure
must appear in pdudaemon's log.

Exits 77 (skipped) when pdudaemon is not installed.
"""

import http.client
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

SKIP = 77
PDUDAEMON = "/usr/sbin/pdudaemon"
PASSWORD = "secret12"
RETRIES = 2

try:
    import pdudaemon  # noqa: F401
except ImportError as error:
    print(f"skipped: pdudaemon cannot be imported ({error})")
    sys.exit(SKIP)

import hubtools  # noqa: E402
from loopback_rig import free_port, stop  # noqa: E402


class Daemon:
    """pdudaemon with `pdus` as its PDUs, its HTTP listener on loopback."""

    def __init__(self, pdus, directory):
        self.port = free_port()
        config = {"daemon": {"hostname": "127.0.0.1", "port": self.port,
                             "listener": "http", "logging_level": "DEBUG"},
                  "pdus": pdus}
        path = os.path.join(directory, "pdudaemon.conf")
        with open(path, "w") as f:
            json.dump(config, f)
        self.log_path = os.path.join(directory, "pdudaemon.log")
        # The driver is found through the package's entry point, as installed.
        self.process = subprocess.Popen(
            [sys.executable, PDUDAEMON, "--conf", path, "--logfile", self.log_path],
            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 15
        while "Listening on" not in self.log():
            if self.process.poll() is not None or time.monotonic() > deadline:
                text = self.log()
                self.close()
                raise RuntimeError("pdudaemon did not come up:\n" + text)
            time.sleep(0.05)

    def log(self):
        try:
            with open(self.log_path) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def request(self, command, hostname, port, timeout=30, **extra):
        """LAVA's request; pdudaemon answers once the job has run."""
        query = urllib.parse.urlencode({"hostname": hostname, "port": port, **extra})
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request("GET", f"/power/control/{command}?{query}")
            response = connection.getresponse()
            return response.status, response.read().decode()
        finally:
            connection.close()

    def close(self):
        stop(self.process, 10)


class PdudaemonDriver(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="pdudaemon-test-")
        cls.addClassCleanup(shutil.rmtree, cls.directory, True)
        # Port 4 on, 1-3 off.
        cls.open_hub = hubtools.VirtualHub(ports=4, states=0b1000)
        cls.addClassCleanup(cls.open_hub.close)
        cls.locked_hub = hubtools.VirtualHub(ports=4, password=PASSWORD)
        cls.addClassCleanup(cls.locked_hub.close)
        cls.daemon = Daemon({
            "bench": {"driver": "hubtools", "hub": cls.open_hub.port},
            "locked": {"driver": "hubtools", "hub": cls.locked_hub.port,
                       "password": PASSWORD},
            "wrong": {"driver": "hubtools", "hub": cls.locked_hub.port,
                      "password": "wrong", "retries": RETRIES},
        }, cls.directory)
        cls.addClassCleanup(cls.daemon.close)

    def test_requests_switch_the_named_port(self):
        cases = [
            # pdu, hub, command, port, states afterwards
            ("bench", self.open_hub, "on", 2, (False, True, False, True)),
            ("bench", self.open_hub, "on", 2, (False, True, False, True)),
            ("bench", self.open_hub, "off", 4, (False, True, False, False)),
            ("bench", self.open_hub, "reboot", 3, (False, True, True, False)),
            ("locked", self.locked_hub, "on", 1, (True, False, False, False)),
            ("locked", self.locked_hub, "off", 1, (False, False, False, False)),
        ]
        logged = len(self.daemon.log())
        for pdu, hub, command, port, expected in cases:
            with self.subTest(pdu=pdu, command=command, port=port):
                # A reboot's off and on, a second apart.
                extra = {"delay": 1} if command == "reboot" else {}
                self.assertEqual(self.daemon.request(command, pdu, port, **extra)[0], 200)
                self.assertEqual(hub.states, expected)
        self.assertNotIn("Failed to execute job", self.daemon.log()[logged:])

    def test_a_refused_password_is_retried_and_logged(self):
        started = time.monotonic()
        # pdudaemon accepts the request whatever becomes of the job.
        self.assertEqual(self.daemon.request("on", "wrong", 3, timeout=60)[0], 200)
        log = self.daemon.log()
        tries = [f"Failed to execute job: 3 on (attempts left {n})" for n in range(RETRIES)]
        for line in tries:
            self.assertIn(line, log)
        self.assertIn("hubtools.errors.PasswordError", log)
        # pdudaemon waits 5 seconds after each failed try.
        self.assertGreaterEqual(time.monotonic() - started, 5 * RETRIES - 0.5)
        self.assertEqual(self.locked_hub.states[2], False)


if __name__ == "__main__":
    if not os.access(PDUDAEMON, os.X_OK):
        print(f"skipped: {PDUDAEMON} is not installed")
        sys.exit(SKIP)
    unittest.main(argv=sys.argv[:1], verbosity=2)
