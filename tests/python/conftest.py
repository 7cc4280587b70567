"""Options and helpers of the package's tests."""

import os
import subprocess
import pytest


def pytest_addoption(parser: pytest.Parser) -> None:
    parser.addoption("--hubctl", required=True)
    parser.addoption("--hubsim", required=True)
    parser.addoption("--docs", required=True)


@pytest.fixture
def hubctl(request: pytest.FixtureRequest):
    """Runs hubctl with the given arguments; returns (status, output)."""
    path = request.config.getoption("--hubctl")

    def run(*args: str) -> subprocess.CompletedProcess:
        return subprocess.run([path, *args], capture_output=True, text=True,
                              timeout=30, env=dict(os.environ, HUBLINK_REMOTES=""))
    return run


@pytest.fixture
def docs_dir(request: pytest.FixtureRequest) -> str:
    return request.config.getoption("--docs")


def image_bytes(size: int = 3000, pid: bytes = b"\x0a\xb3") -> bytes:
    """A firmware image of `size` bytes carrying the product-ID marker."""
    body = bytearray((i * 7 + 3) & 0xFF for i in range(size))
    marker = b"TAVRIN_PID:" + pid
    body[100:100 + len(marker)] = marker
    return bytes(body)


@pytest.fixture
def hubsim(request, tmp_path):
    """Starts hubsim with the given arguments; returns the device paths it printed."""
    processes = []

    def start(*args):
        process = subprocess.Popen([request.config.getoption("--hubsim"), *args],
                                   stdout=subprocess.PIPE, text=True)
        processes.append(process)
        hubs = int(args[args.index("--hubs") + 1]) if "--hubs" in args else 1
        return [process.stdout.readline().strip() for _ in range(hubs)]
    yield start
    for process in processes:
        process.terminate()
        process.wait(10)
