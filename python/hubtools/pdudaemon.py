"""pdudaemon support: a Managed USB Hub as a PDU whose outlets are its ports.

pdudaemon finds the driver by its entry point ``hubtools`` (group
``pdudaemon.driver``). A PDU of pdudaemon's configuration names the hub::

    "rack3-hub": {"driver": "hubtools", "hub": "rfc2217://rack3:7001",
                  "password": "secret12"}

``hub`` is any name the command-line tools take (a device path or name,
"UID" and its UID, a port URL); ``password`` is optional (the factory
default one is sent without it). Port numbers count from 1. A failure raises
the :class:`hubtools.HubError` that says what went wrong, so pdudaemon logs it
and tries again (``retries`` of the PDU's configuration, 5 by default).
"""

import logging
from typing import Any, Dict, Optional

from pdudaemon.drivers.driver import PDUDriver

from .errors import InvalidArgument
from .hub import Hub

__all__ = ["ManagedHub"]

log = logging.getLogger("pdud.drivers.hubtools")


class ManagedHub(PDUDriver):
    """pdudaemon's driver for one hub, named in the settings of its PDU.

    ``handle("on", 3)`` switches port 3 on, ``handle("off", 3)`` off; the
    hub's other ports keep their states. pdudaemon turns a reboot request
    into "off", its delay and "on".
    """

    #: The ``driver`` value of a PDU's configuration.
    DRIVER_NAME = "hubtools"

    def __init__(self, hostname: str, settings: Dict[str, Any]) -> None:
        self.hostname = hostname
        self.settings = settings
        hub = settings.get("hub")
        if not isinstance(hub, str) or not hub:
            raise InvalidArgument(
                f"PDU {hostname}: the setting \"hub\" names no hub")
        self._name = hub
        password = settings.get("password")
        self._password: Optional[str] = (None if password is None
                                         else str(password))
        self._hub = Hub(self._name, password=self._password)
        super().__init__()

    @classmethod
    def accepts(cls, drivername: str) -> bool:
        """Whether ``drivername`` (a PDU's ``driver``) names this driver."""
        return drivername == cls.DRIVER_NAME

    def port_interaction(self, command: str, port_number: Any) -> None:
        """Switch port ``port_number`` "on" or "off"; raise on failure."""
        port = int(port_number)
        log.debug("%s: %s port %d of %s", self.hostname, command, port,
                  self._name)
        if command == "on":
            self._hub.on(port)
        elif command == "off":
            self._hub.off(port)
        else:
            raise InvalidArgument(f"unknown request {command!r}")

    def _bombout(self) -> None:
        # After a failure the next try resolves the name again: a hub
        # named by UID may have come back on another device.
        self._hub = Hub(self._name, password=self._password)
