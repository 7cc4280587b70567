"""The examples of docs/python.md, run against virtual hubs."""

import os
import re

import pytest

import hubtools
from hubtools import _hubtools

from conftest import image_bytes
from loopback_rig import SER2NET, Ser2net, rfc2217_export


def examples(docs_dir):
    with open(os.path.join(docs_dir, "python.md")) as f:
        return re.findall(r"```python\n(.*?)```", f.read(), re.S)


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
            remote = Ser2net(str(tmp_path), lambda port: rfc2217_export(vhub.port, port))
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
