"""A real ser2net on loopback in front of a device, for the Python tests and
benchmarks (the Python side of ser2net_rig.cpp)."""

import os
import socket
import subprocess
import time
from typing import Callable, Optional

SER2NET = "/usr/sbin/ser2net"
START_BOUND = 5.0
STOP_BOUND = 5.0


def rfc2217_export(device: str, port: int) -> str:
    """The README's export of `device`: RFC 2217, nodelay, chardelay off."""
    return ("%YAML 1.1\n---\nconnection: &hub\n"
            f"  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,{port}\n"
            f"  connector: serialdev,{device},9600n81,local\n"
            "  options:\n    chardelay: false\n")


def listens(port: int) -> bool:
    """Whether 127.0.0.1:port listens, read from /proc/net/tcp: a probe
    connection would make ser2net open the hub's device."""
    with open("/proc/net/tcp") as table:
        rows = [line.split() for line in table.readlines()[1:]]
    return any(r[1] == f"0100007F:{port:04X}" and r[3] == "0A" for r in rows)


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop(process: subprocess.Popen, bound: float = STOP_BOUND) -> None:
    """SIGTERM, at most `bound` seconds for it to end, then SIGKILL."""
    if process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(bound)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(bound)


class Ser2net:
    """ser2net with the configuration `config(port)` on a free loopback port.

    `url` is "rfc2217://127.0.0.1:PORT". Raises RuntimeError, with ser2net's
    output, when it does not listen within START_BOUND.
    """

    def __init__(self, directory: str,
                 config: Callable[[int], str], device: Optional[str] = None) -> None:
        # Bound (not listening) until ser2net listens there too, so that
        # nobody else is handed the port meanwhile.
        reservation = socket.socket()
        reservation.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        reservation.bind(("127.0.0.1", 0))
        self.port = reservation.getsockname()[1]
        self.url = f"rfc2217://127.0.0.1:{self.port}"
        path = os.path.join(directory, "ser2net.yaml")
        with open(path, "w") as f:
            f.write(config(self.port))
        self.log = open(os.path.join(directory, "ser2net.log"), "w+")
        # Not ser2net's: a sanitized build's runtime, preloaded for the extension.
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        # -u: no UUCP lock files, which a killed ser2net would leave.
        self.process = subprocess.Popen([SER2NET, "-n", "-d", "-u", "-c", path], env=env,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + START_BOUND
            while not listens(self.port):
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.log.seek(0)
                    raise RuntimeError("ser2net did not come up:\n" + self.log.read())
                time.sleep(0.005)
        except BaseException:
            self.close()
            raise
        finally:
            reservation.close()

    def __enter__(self) -> "Ser2net":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        stop(self.process)
        self.log.close()
