"""Passwords kept off the command line: HUBLINK_PASSWORD, "/J -", "-p -"."""

import json
import os
import subprocess
import time

import pytest

import hubtools
from hubtools import _hubtools

from conftest import image_bytes

SECRET = "secret12"


def tool(request, name):
    build = os.path.dirname(os.path.dirname(request.config.getoption("--hubctl")))
    return request.config.getoption("--hubctl") if name == "hubctl" else \
        os.path.join(build, "firmware", "hubflash")


def run(argv, stdin="", **env):
    environment = dict(os.environ, HUBLINK_REMOTES="")
    environment.pop("HUBLINK_PASSWORD", None)
    environment.update(env)
    return subprocess.run(argv, input=stdin, capture_output=True, text=True, timeout=60,
                          env=environment)


def test_hubctl_takes_the_password_from_the_environment_and_shows_it_nowhere(request, hubsim):
    path, = hubsim("--password", SECRET, "--fault", "late:SP:600")
    hubctl = tool(request, "hubctl")
    env = dict(os.environ, HUBLINK_PASSWORD=SECRET, HUBLINK_REMOTES="")
    process = subprocess.Popen([hubctl, f"/S:{path}", "1:2"], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(0.3)  # the hub holds its reply: hubctl is still there
    with open(f"/proc/{process.pid}/cmdline", "rb") as f:
        cmdline = f.read()
    out, err = process.communicate(timeout=30)
    assert process.returncode == 0, out + err
    assert SECRET.encode() not in cmdline and b"1:2" in cmdline
    assert hubtools.Hub(path, password=SECRET).states[1]
    # Without the variable the default is sent, which this hub refuses.
    refused = run([hubctl, f"/S:{path}", "1:3"])
    assert (refused.returncode, refused.stdout) == (1, "Password Error!\n")
    assert SECRET not in refused.stdout + refused.stderr


def test_an_invalid_environment_password_is_an_invalid_password(request, hubsim):
    path, = hubsim()
    done = run([tool(request, "hubctl"), f"/S:{path}", "1:1"], HUBLINK_PASSWORD="longerthan8")
    assert (done.returncode, done.stdout) == (1, "Invalid Password!\n")


def requests(path):
    valid = json.dumps({"CMD": "QH", "COM": path})
    return [  # (what stdin holds, the same request on the command line or None)
        (valid + "\n", valid),
        ('{"CMD": "QH", "COM": ', '{"CMD": "QH", "COM": '),
        ("", ""),
        (" " * (64 * 1024 + 1) + valid, None),
    ]


@pytest.mark.parametrize("case", range(4))
def test_a_json_request_from_standard_input_answers_as_from_the_command_line(
        request, hubsim, case):
    path, = hubsim()
    stdin, argument = requests(path)[case]
    hubctl = tool(request, "hubctl")
    piped = run([hubctl, "/J", "-"], stdin=stdin)
    assert piped.returncode == 0
    if argument is None:  # too long to be a request
        assert json.loads(piped.stdout) == {"RES": "Invalid JSON Arguments!"}
        return
    given = run([hubctl, "/J", argument])
    assert piped.stdout == given.stdout


def test_a_json_request_from_standard_input_uses_its_password(request, hubsim):
    path, = hubsim("--password", SECRET)
    ask = json.dumps({"CMD": "WDES", "COM": path, "PSW": SECRET, "DESC": "Rack 7"})
    done = run([tool(request, "hubctl"), "/J", "-"], stdin=ask)
    assert json.loads(done.stdout)["RES"] == "OK", done.stdout
    assert hubtools.Hub(path).description == "Rack 7"


@pytest.mark.parametrize("how", ["-p -", "HUBLINK_PASSWORD"])
def test_hubflash_takes_the_password_from_standard_input_or_the_environment(
        request, hubsim, tmp_path, how):
    path, = hubsim("--password", SECRET)
    image = tmp_path / "hub.enc"
    image.write_bytes(_hubtools.scramble(image_bytes(), _hubtools.default_key()))
    argv = [tool(request, "hubflash"), "-v", path, str(image)]
    if how == "-p -":
        done = run(argv[:1] + ["-p", "-"] + argv[1:], stdin=SECRET + "\n")
    else:
        done = run(argv, HUBLINK_PASSWORD=SECRET)
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.endswith("Firmware programmed Successfully!\n"), done.stdout
    assert SECRET not in done.stdout + done.stderr  # not in the trace either
