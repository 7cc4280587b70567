"""Hubs as objects: :class:`Hub`, :func:`discover` and :func:`flash`."""

import time
from dataclasses import dataclass
from typing import Callable, Dict, List, Optional, Tuple

from . import _hubtools
from .errors import FirmwareError, HubError, HubTimeout, PasswordError

__all__ = ["Hub", "HubInfo", "discover", "flash"]

#: How often :meth:`Hub.cycle` reads the port back before it gives up.
CYCLE_READBACKS = 5
#: How long :func:`flash` waits for the updated hub to answer again.
RESTART_WAIT = 5.0


@dataclass(frozen=True)
class HubInfo:
    """What a hub says of itself.

    ``port`` is the device path or URL it answered on, ``ports`` its number
    of downstream ports, ``firmware`` its version ("V04"), ``pid`` its
    product ID, ``uid`` and ``description`` (empty below firmware 4), and
    ``states`` its port states, port 1 first (True is on).
    """

    port: str
    ports: int
    firmware: str
    pid: str
    uid: str
    description: str
    states: Tuple[bool, ...]

    @classmethod
    def _of(cls, fields: tuple) -> "HubInfo":
        return cls(*fields)


def discover() -> List[HubInfo]:
    """Every hub a search finds: local ports first, then the remotes.

    The remotes are those ``hubctl /Q`` asks (``HUBLINK_REMOTES`` or the
    remotes files). All candidates are asked at once.
    """
    return [HubInfo._of(fields) for fields in _hubtools.discover()]


class Hub:
    """One hub, by any name the command-line tools take.

    ``Hub("ttyUSB0")``, ``Hub("UID0123456789AB")``,
    ``Hub("rfc2217://rack3:7001", password="secret12")``. Without a
    password the one in ``HUBLINK_PASSWORD`` is sent, else the hub's
    default one. The name is resolved at the first operation.

    Outside a ``with`` block every operation claims the hub for itself
    (and for a URL connects once). Inside one the hub is held for the whole
    block: other threads and other programs (``hubctl`` too) wait, and what
    cannot change meanwhile (port count, firmware) is read once. A Hub may be
    used from several threads.

    Every call that talks to the hub releases the GIL; a Ctrl-C is seen when
    the exchange under way ends (at most about a second).
    """

    def __init__(self, port: str, password: Optional[str] = None) -> None:
        self._name = port
        self._session = _hubtools.Session(port, password)

    def __repr__(self) -> str:
        return f"Hub({self._name!r})"

    def __enter__(self) -> "Hub":
        self._session.hold()
        return self

    def __exit__(self, *exc: object) -> None:
        self._session.release()

    @property
    def port(self) -> str:
        """The device path or URL the name resolved to."""
        return self._session.port()

    @property
    def info(self) -> HubInfo:
        """The hub's :class:`HubInfo`, read now."""
        return HubInfo._of(self._session.details())

    @property
    def states(self) -> Tuple[bool, ...]:
        """The port states, port 1 first, read from the hub now."""
        return self._session.states()

    def on(self, *ports: int) -> None:
        """Switch the given ports on; the others keep their states."""
        self._session.set_states([(p, True) for p in ports])

    def off(self, *ports: int) -> None:
        """Switch the given ports off; the others keep their states."""
        self._session.set_states([(p, False) for p in ports])

    def toggle(self, *ports: int) -> None:
        """Switch each given port to the other state."""
        self._session.toggle(list(ports))

    def set_states(self, states: Dict[int, bool]) -> None:
        """Set ports to the given states ({port: on}) in one command."""
        self._session.set_states(list(states.items()))

    def all_on(self) -> None:
        """Switch every port on."""
        self._session.set_all(True)

    def all_off(self) -> None:
        """Switch every port off."""
        self._session.set_all(False)

    def cycle(self, port: int, delay: float = 2.0) -> None:
        """Switch ``port`` off, wait ``delay`` seconds, switch it on.

        Returns when the port reads back on; raises :class:`HubTimeout` when
        it does not. A Ctrl-C during the wait leaves the port off, and the
        KeyboardInterrupt says so.
        """
        self.off(port)
        try:
            time.sleep(delay)
        except KeyboardInterrupt as stop:
            stop.add_note(f"port {port} of {self._name} was left off")
            raise
        self.on(port)
        for _ in range(CYCLE_READBACKS):
            if self.states[port - 1]:
                return
            time.sleep(0.05)
        raise HubTimeout(f"port {port} of {self._name} did not read back on")

    def save_states(self) -> None:
        """Make the current states the ones the hub powers on with."""
        self._session.save_states()

    @property
    def description(self) -> str:
        """The hub's description (firmware 4 and later), read now."""
        return self._session.description()

    @description.setter
    def description(self, text: str) -> None:
        self._session.set_description(text)

    def change_password(self, new_password: str) -> None:
        """Give the hub a new password (1 to 8 characters).

        This Hub then uses the new one.
        """
        self._session.change_password(new_password)

    def restore_defaults(self) -> None:
        """Restore the hub's factory settings, its password too.

        This Hub then uses the default password.
        """
        self._session.restore_defaults()

    def reset(self) -> None:
        """Restart the hub; it answers again after about two seconds."""
        self._session.reset()


ProgressCallback = Callable[[str, int, int], None]


def flash(port: str, image: str, password: Optional[str] = None,
          key: Optional[str] = None, raw: bool = False,
          progress: Optional[ProgressCallback] = None,
          in_loader: bool = False) -> None:
    """Update the firmware of the hub on ``port`` with the file ``image``.

    As ``hubflash``: the file is unscrambled with ``key`` (13 characters;
    the product's own key by default) unless ``raw``; its product ID must
    match the hub's. ``progress(stage, done, total)`` is called as the
    update goes (``done`` of ``total`` image bytes confirmed).
    ``in_loader=True`` programs a hub that a failed update left in its loader
    (as ``hubflash --recover``). Returns when the updated hub answers again.

    Raises :class:`PasswordError` when the hub refuses the password and
    :class:`FirmwareError` (with its ``stage`` and ``in_loader``) for any
    other failure. A Ctrl-C, or an exception raised by ``progress``, stops
    the update at the next packet boundary and is raised again, with a note
    saying what became of the hub.
    """
    result, detail, left_in_loader, stage, stopped = _hubtools.flash(
        port, image, password, key, raw, progress, in_loader)
    state = ("the hub waits in its loader: flash it again with in_loader=True"
             if left_in_loader else "the hub's firmware is unchanged")
    if stopped is not None:
        stopped.add_note(f"the update stopped in stage {stage}; {state}")
        raise stopped
    if result == "OK":
        _await_firmware(port)
        return
    message = detail or result
    if result == "Password Err":
        raise PasswordError(message or "Password Error!")
    raise FirmwareError(f"{message} ({state})", stage=stage,
                        in_loader=left_in_loader)


def _await_firmware(port: str) -> None:
    """Return once the restarted hub answers, or raise FirmwareError."""
    deadline = time.monotonic() + RESTART_WAIT
    while True:
        try:
            Hub(port).info
            return
        except HubError:
            if time.monotonic() >= deadline:
                raise FirmwareError("the image was written, but the hub did not answer "
                                    f"within {RESTART_WAIT:g} s after its restart",
                                    stage="Starting the firmware") from None
            time.sleep(0.1)
