"""pytest fixtures for scripts that drive hubs: ``virtual_hub`` and ``hub``.

Installed as a pytest plugin (entry point ``pytest11``). ``hub`` is a
:class:`hubtools.Hub` on a fresh virtual hub, or on a real one when
``--hub PORT`` is given or ``HUBLINK_HUB`` is set (the password then from
``--hub-password`` or ``HUBLINK_PASSWORD``).
"""

import os
from typing import Iterator, Optional

import pytest

from .hub import Hub
from .virtual import VirtualHub


def pytest_addoption(parser: pytest.Parser) -> None:
    """Add ``--hub`` and ``--hub-password``."""
    group = parser.getgroup("hubtools")
    group.addoption("--hub", default=None, metavar="PORT",
                    help="a real hub for the 'hub' fixture (default: "
                         "HUBLINK_HUB, else a virtual hub)")
    group.addoption("--hub-password", default=None, metavar="PASSWORD",
                    help="its password (default: HUBLINK_PASSWORD, else "
                         "the hub's default)")


@pytest.fixture
def virtual_hub() -> Iterator[VirtualHub]:
    """A 4-port virtual hub that records the lines it gets."""
    with VirtualHub(ports=4, record=True) as vhub:
        yield vhub


@pytest.fixture
def hub(request: pytest.FixtureRequest) -> Iterator[Hub]:
    """A Hub: the real one named by --hub or HUBLINK_HUB, else a virtual one."""
    port: Optional[str] = (request.config.getoption("--hub")
                           or os.environ.get("HUBLINK_HUB"))
    password = (request.config.getoption("--hub-password")
                or os.environ.get("HUBLINK_PASSWORD"))
    if port:
        yield Hub(port, password=password)
        return
    with VirtualHub(ports=4) as vhub:
        yield Hub(vhub.port)
