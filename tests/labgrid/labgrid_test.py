#!/usr/bin/env python3
"""labgrid's ManagedHubPowerDriver switching a port of a virtual hub.

The environment is docs/labgrid/hub-power.yaml as shipped, loaded by
labgrid's Environment, with only the hub's name replaced: once by the virtual
hub's device path, once by the URL of a real ser2net on loopback that runs
the shipped ser2net.yaml (device and address replaced). An example that stops
working fails here.

Usage: labgrid_test.py EXAMPLE_DIR   (hubtools importable: PYTHONPATH)
Exits 77 (skipped) when labgrid or ser2net is not installed.
"""

import os
import re
import shutil
import sys
import tempfile
import threading
import time
import unittest

SKIP = 77
EXAMPLE_URL = "rfc2217://rack3:7001"
PASSWORD = "secret12"

try:
    from labgrid import Environment
except ImportError as error:
    print(f"skipped: labgrid cannot be imported ({error})")
    sys.exit(SKIP)

import hubtools  # noqa: E402
from loopback_rig import SER2NET, Ser2net  # noqa: E402
from hubtools.labgrid import ManagedHubPowerDriver  # noqa: E402

EXAMPLES = os.path.abspath(sys.argv[1]) if len(sys.argv) == 2 else ""


def substituted(text, pattern, replacement, count):
    """`text` with every match of `pattern` replaced; exactly `count` must match."""
    new, found = re.subn(pattern, lambda _: replacement, text)
    if found != count:
        raise AssertionError(f"{pattern!r} matched {found} times in the example, not {count}")
    return new


def shipped_export(device):
    """The shipped ser2net.yaml, exporting `device` on the rig's port."""
    with open(os.path.join(EXAMPLES, "ser2net.yaml")) as f:
        config = f.read()
    config = substituted(config, r"/dev/serial/by-id/usb-[^,\s]+", device, 1)
    return lambda port: substituted(
        config, "(?m)" + re.escape("telnet(rfc2217),tcp(nodelay),7001") + "$",
        f"telnet(rfc2217),tcp(nodelay),127.0.0.1,{port}", 1)


def power_driver(hub, directory, password=None):
    """The shipped environment's power driver, for `hub` instead of rack3's."""
    with open(os.path.join(EXAMPLES, "hub-power.yaml")) as f:
        text = f.read()
    text = substituted(text, re.escape(EXAMPLE_URL), hub, 1)
    if password is not None:
        # The example's commented password line, in use.
        text = substituted(text, r"# password: \S+", f"password: {password}", 1)
    path = os.path.join(directory, "hub-power.yaml")
    with open(path, "w") as f:
        f.write(text)
    return Environment(config_file=path).get_target("main").get_driver("PowerProtocol")


class HubPowerCases:
    """The cases, for a subclass whose `hub_name` names the virtual hub."""

    password = None

    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="labgrid-test-")
        self.addCleanup(shutil.rmtree, self.directory, True)
        # Port 1 on, 2-4 off.
        extra = {"password": self.password} if self.password else {}
        self.vhub = hubtools.VirtualHub(ports=4, states=0b0001, **extra)
        self.addCleanup(self.vhub.close)
        self.power = power_driver(self.hub_name(), self.directory, self.password)
        self.assertIsInstance(self.power, ManagedHubPowerDriver)

    def test_steps_touch_port_3_only(self):
        self.assertFalse(self.power.get())
        steps = [
            ("on", self.power.on, (True, False, True, False)),
            ("on again", self.power.on, (True, False, True, False)),
            ("off", self.power.off, (True, False, False, False)),
            ("cycle from off", self.power.cycle, (True, False, True, False)),
        ]
        for name, step, expected in steps:
            with self.subTest(step=name):
                step()
                self.assertEqual(self.vhub.states, expected)
                self.assertEqual(self.power.get(), expected[2])

    def test_cycle_keeps_port_3_off_for_the_delay(self):
        self.power.on()
        off_since = []
        done = threading.Event()

        def watch():
            while not done.is_set():
                if not self.vhub.states[2] and not off_since:
                    off_since.append(time.monotonic())
                time.sleep(0.01)

        watcher = threading.Thread(target=watch)
        watcher.start()
        try:
            self.power.cycle()
            back_on = time.monotonic()
        finally:
            done.set()
            watcher.join()
        self.assertTrue(off_since, "port 3 never read off during cycle()")
        self.assertGreaterEqual(back_on - off_since[0], self.power.delay - 0.05)
        self.assertEqual(self.vhub.states, (True, False, True, False))

    def test_a_vanished_hub_fails_each_step(self):
        self.vanish()
        for name in ("on", "off", "cycle", "get"):
            with self.subTest(step=name), self.assertRaises(hubtools.HubError):
                getattr(self.power, name)()


class Direct(HubPowerCases, unittest.TestCase):
    def hub_name(self):
        return self.vhub.port

    def vanish(self):
        self.vhub.unplug()


class ThroughSer2net(HubPowerCases, unittest.TestCase):
    def hub_name(self):
        self.ser2net = Ser2net(self.directory, shipped_export(self.vhub.port))
        self.addCleanup(self.ser2net.close)
        return self.ser2net.url

    def vanish(self):
        self.ser2net.close()


class WithPassword(Direct):
    password = PASSWORD

    def test_a_wrong_password_is_refused(self):
        with open(os.path.join(self.directory, "hub-power.yaml")) as f:
            text = f.read()
        with open(os.path.join(self.directory, "wrong.yaml"), "w") as f:
            f.write(substituted(text, re.escape(f"password: {PASSWORD}"), "password: wrong", 1))
        power = Environment(os.path.join(self.directory, "wrong.yaml")).get_target("main") \
            .get_driver("PowerProtocol")
        with self.assertRaises(hubtools.PasswordError):
            power.on()
        self.assertEqual(self.vhub.states, (True, False, False, False))


if __name__ == "__main__":
    if not EXAMPLES:
        sys.exit(__doc__)
    if not os.access(SER2NET, os.X_OK):
        print(f"skipped: {SER2NET} is not installed")
        sys.exit(SKIP)
    unittest.main(argv=sys.argv[:1], verbosity=2)
