"""hubtools.flash on virtual hubs: the image arrives, failures say the hub's state."""

import pytest

import hubtools
from hubtools import _hubtools

from conftest import image_bytes


def scrambled_file(tmp_path, image: bytes, key: str = "") -> str:
    path = tmp_path / "hub.enc"
    path.write_bytes(_hubtools.scramble(image, key or _hubtools.default_key()))
    return str(path)


def test_an_update_writes_the_image_and_reports_progress(tmp_path):
    image = image_bytes(3000)
    seen = []
    with hubtools.VirtualHub() as vhub:
        hubtools.flash(vhub.port, scrambled_file(tmp_path, image),
                       progress=lambda stage, done, total: seen.append((stage, done, total)))
        assert vhub._live().flash_image() == image
        assert hubtools.Hub(vhub.port).info.firmware == "V04"  # runs its firmware again
    stages = [stage for stage, _, _ in seen]
    assert stages[0] == "Entering the loader" and "Writing" in stages
    assert seen[-1][1] == seen[-1][2] == len(image)


FILE_FAULTS = [
    # (what the file holds, how it is given, exception, words)
    ("no marker", dict(), hubtools.FirmwareError, "no product-ID marker"),
    ("other key", dict(key="0123456789abc"), hubtools.FirmwareError, "scrambled with this key"),
    ("bad key", dict(key="short"), hubtools.InvalidArgument, "13 characters"),
    ("other product", dict(), hubtools.FirmwareError, "Product|product"),
]


@pytest.mark.parametrize("holds,given,exception,words", FILE_FAULTS)
def test_a_file_the_hub_cannot_take_is_refused_before_the_loader(tmp_path, holds, given,
                                                                 exception, words):
    image = {"no marker": bytes(3000), "other product": image_bytes(pid=b"\x12\x34")}.get(
        holds, image_bytes())
    with hubtools.VirtualHub(record=True) as vhub:
        with pytest.raises(exception, match=words):
            hubtools.flash(vhub.port, scrambled_file(tmp_path, image), **given)
        assert not any(line.startswith("EUFW") for line in vhub.received)
        assert hubtools.Hub(vhub.port).info.firmware == "V04"


def test_a_refused_password_is_a_password_error(tmp_path):
    with hubtools.VirtualHub(password="secret12") as vhub:
        with pytest.raises(hubtools.PasswordError):
            hubtools.flash(vhub.port, scrambled_file(tmp_path, image_bytes()))


@pytest.mark.parametrize("stop_in", ["Writing", "Connecting"])
def test_a_stop_between_packets_says_what_became_of_the_hub(tmp_path, stop_in):
    class Stop(Exception):
        pass

    def progress(stage, done, total):
        if stage == stop_in:
            raise Stop("enough")
    with hubtools.VirtualHub() as vhub:
        with pytest.raises(Stop) as raised:
            hubtools.flash(vhub.port, scrambled_file(tmp_path, image_bytes(20000)),
                           progress=progress)
        note = " ".join(getattr(raised.value, "__notes__", []))
        if stop_in == "Writing":
            assert "waits in its loader" in note
            # The documented way back.
            hubtools.flash(vhub.port, scrambled_file(tmp_path, image_bytes(20000)),
                           in_loader=True)
        else:
            assert "unchanged" in note
            hubtools.hub._await_firmware(vhub.port)  # sent back to its firmware
        assert hubtools.Hub(vhub.port).info.firmware == "V04"


INTERRUPTED_UPDATE = r"""
import os, signal, sys, threading
import hubtools
from hubtools import _hubtools
sys.path.insert(0, sys.argv[1])
from conftest import image_bytes
with open(sys.argv[2], "wb") as f:
    f.write(_hubtools.scramble(image_bytes(60000), _hubtools.default_key()))
with hubtools.VirtualHub() as vhub:
    def interrupt(stage, done, total):
        if stage == "Writing" and done > 0:
            os.kill(os.getpid(), signal.SIGINT)
    try:
        hubtools.flash(vhub.port, sys.argv[2], progress=interrupt)
    except KeyboardInterrupt as stop:
        print(" ".join(stop.__notes__))
"""


def test_ctrl_c_stops_an_update_between_packets_and_says_so(tmp_path):
    import os
    import subprocess
    import sys
    run = subprocess.run([sys.executable, "-c", INTERRUPTED_UPDATE, os.path.dirname(__file__),
                          str(tmp_path / "hub.enc")], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert "stopped in stage Writing" in run.stdout and "waits in its loader" in run.stdout
