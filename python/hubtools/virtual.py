"""A virtual hub in this process, for tests and trials without hardware."""

import os
from typing import List, Optional, Tuple

from . import _hubtools

__all__ = ["VirtualHub"]


class VirtualHub:
    """The hub of ``hubsim``, served on a pseudo-terminal of this process.

    >>> with VirtualHub(ports=4) as vhub:          # doctest: +SKIP
    ...     Hub(vhub.port).on(2)

    ``port`` is the device path the tools open. With ``record=True``,
    ``received`` lists the command lines the hub got, each with its CR.
    ``wire_timing=True`` paces replies at the line speed (9600 baud), as a
    real hub's. Its password is the one a :class:`Hub` sends when given
    none (``HUBLINK_PASSWORD``, else the factory default "kiwi") unless
    ``password`` says otherwise. The hub stops when the block ends (or at
    :meth:`close`).
    """

    def __init__(self, ports: int = 4, pid: str = "0AB3",
                 firmware: str = "V04", uid: str = "0123456789AB",
                 description: str = "Virtual Hub",
                 password: Optional[str] = None, states: int = 0,
                 wire_timing: bool = False, record: bool = False) -> None:
        if password is None:
            password = os.environ.get("HUBLINK_PASSWORD") or "kiwi"
        self._record = record
        self._ports = ports
        self._hub: Optional[_hubtools.VirtualHub] = _hubtools.VirtualHub(
            ports=ports, pid=pid, firmware=firmware, uid=uid,
            description=description, password=password.ljust(8)[:8],
            states=states, wire_timing=wire_timing, record=record)

    def __enter__(self) -> "VirtualHub":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Stop the hub: its device path goes away."""
        self._hub = None

    def _live(self) -> _hubtools.VirtualHub:
        if self._hub is None:
            raise RuntimeError("the virtual hub was closed")
        return self._hub

    @property
    def port(self) -> str:
        """The device path to open, e.g. "/dev/pts/7"."""
        return self._live().path

    @property
    def received(self) -> List[str]:
        """The command lines received so far (needs ``record=True``)."""
        if not self._record:
            raise RuntimeError("VirtualHub(record=True) keeps the lines it gets")
        return list(self._live().received())

    def clear_received(self) -> None:
        """Forget the lines received so far."""
        self._live().clear_received()

    @property
    def states(self) -> Tuple[bool, ...]:
        """The hub's live port states as the hub itself holds them."""
        return tuple(bool(self._live().states() >> p & 1)
                     for p in range(self._ports))

    def unplug(self) -> None:
        """Take the hub away, as if its cable were pulled."""
        self._live().vanish()
