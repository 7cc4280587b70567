"""The examples of docs/python.md, run against virtual hubs."""

import os
import re
import socket
import subprocess
import time

import pytest

import hubtools
from hubtools import _hubtools

from conftest import image_bytes

SER2NET = "/usr/sbin/ser2net"


def examples(docs_dir):
    with open(os.path.join(docs_dir, "python.md")) as f:
        return re.findall(r"```python\n(.*?)```", f.read(), re.S)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Ser2net:
    """A real ser2net exporting `device` with RFC 2217 on a free loopback port."""

    def __init__(self, device, directory):
        port = free_port()
        config = os.path.join(directory, "ser2net.yaml")
        with open(config, "w") as f:
            f.write("%YAML 1.1\n---\nconnection: &hub\n"
                    f"  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,{port}\n"
                    f"  connector: serialdev,{device},9600n81,local\n"
                    "  options:\n    chardelay: false\n")
        # Not ser2net's: a sanitized build's runtime, preloaded for the extension.
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        self.process = subprocess.Popen([SER2NET, "-n", "-d", "-u", "-c", config], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.url = f"rfc2217://127.0.0.1:{port}"
        deadline = time.monotonic() + 5
        while not self._listens(port):
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.close()
                raise RuntimeError("ser2net did not come up")
            time.sleep(0.05)

    @staticmethod
    def _listens(port):
        # A probe connection would open the hub's device: read the table instead.
        with open("/proc/net/tcp") as table:
            return any(row.split()[1] == f"0100007F:{port:04X}" and row.split()[3] == "0A"
                       for row in table.readlines()[1:])

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(5)


def test_the_guide_has_its_examples(docs_dir):
    assert len(examples(docs_dir)) == 7  # one test each, below


@pytest.mark.parametrize("index", range(7))
def test_an_example_of_the_guide_runs(index, docs_dir, tmp_path, capsys):
    blocks = examples(docs_dir)
    code = blocks[index]
    password = "secret12" if "secret12" in code else "kiwi"
    with hubtools.VirtualHub(password=password) as vhub:
        remote = None
        url = vhub.port
        if "rfc2217://" in code:
            if not os.access(SER2NET, os.X_OK):
                pytest.skip("ser2net is not installed")
            remote = Ser2net(vhub.port, str(tmp_path))
            url = remote.url
        try:
            image = tmp_path / "hub-v05.enc"
            image.write_bytes(_hubtools.scramble(image_bytes(), _hubtools.default_key()))
            code = (code.replace("rfc2217://rack3:7001", url)
                        .replace("UID0123456789AB", vhub.port)
                        .replace('"ttyUSB0"', repr(vhub.port))
                        .replace("hub-v05.enc", str(image)))
            scope = {}
            exec(compile(code, f"docs/python.md example {index + 1}", "exec"), scope)
            for name, test in list(scope.items()):
                if name.startswith("test_"):
                    test(hubtools.Hub(vhub.port))
        finally:
            if remote:
                remote.close()
    shown = capsys.readouterr().out
    # What a "# ->" comment says a print shows, up to its own remarks.
    for expected in re.findall(r"# -> (.*?)(?::| \(|$)", blocks[index], re.M):
        assert expected.strip() in shown, f"{expected!r} not in {shown!r}"
