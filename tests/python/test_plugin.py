"""The pytest plugin, loaded through its entry point as a lab's suite loads it."""

import os
import subprocess
import sys

import pytest

import hubtools

LAB_TEST = """
def test_switches_port_two(hub):
    hub.on(2)
    assert hub.states[1]

def test_records_lines(virtual_hub):
    import hubtools
    hubtools.Hub(virtual_hub.port).off(1)
    assert virtual_hub.received[-1].startswith("SP")
"""


def run_lab_suite(tmp_path, *args, env=None):
    (tmp_path / "test_lab.py").write_text(LAB_TEST)
    return subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                           str(tmp_path / "test_lab.py"), *args],
                          capture_output=True, text=True, timeout=60, cwd=tmp_path,
                          env=dict(os.environ, **(env or {})))


@pytest.mark.parametrize("how", ["virtual", "--hub", "HUBLINK_HUB"])
def test_the_hub_fixture_is_virtual_unless_a_hub_is_named(tmp_path, how):
    with hubtools.VirtualHub(password="secret12") as real:
        args, env = [], {"HUBLINK_HUB": "", "HUBLINK_PASSWORD": "secret12"}
        if how == "--hub":
            args = ["--hub", real.port]
        elif how == "HUBLINK_HUB":
            env["HUBLINK_HUB"] = real.port
        run = run_lab_suite(tmp_path, *args, env=env)
        assert run.returncode == 0, run.stdout + run.stderr
        assert "2 passed" in run.stdout
        assert real.states[1] == (how != "virtual")
