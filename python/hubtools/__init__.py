"""Managed USB Hubs from Python: hubs as objects, typed errors, firmware updates.

A hub is named as the command-line tools name it: a device path or name
("ttyUSB0", "/dev/serial/by-id/..."), "UID" followed by its 12-character
UID, or a port URL of a hub on another host ("rfc2217://rack3:7001",
"rfc2217+tls://...", "tcp://..."). Ports are numbered from 1, as printed on
the hub. Every failure raises a subclass of :class:`HubError`.

>>> import hubtools
>>> with hubtools.Hub("ttyUSB0") as hub:     # doctest: +SKIP
...     hub.off(3); hub.on(3)

The exchanges are those ``hubctl`` has with the hub for the same operation,
under the same claim, so ``hubctl`` and this package can drive one hub
together without losing each other's changes.
"""

from .errors import (FirmwareError, HubError, HubNotFound, HubTimeout,
                     InvalidArgument, PasswordError)
from .hub import Hub, HubInfo, discover, flash
from .virtual import VirtualHub

__all__ = ["Hub", "HubInfo", "discover", "flash", "VirtualHub", "HubError",
           "HubNotFound", "PasswordError", "HubTimeout", "InvalidArgument",
           "FirmwareError"]
