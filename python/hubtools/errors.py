"""The exceptions of hubtools: every failure is one of these, never a flag."""

from typing import Optional

__all__ = ["HubError", "HubNotFound", "PasswordError", "HubTimeout",
           "InvalidArgument", "FirmwareError"]


class HubError(Exception):
    """Any failure of a hub operation; the message says what happened."""


class HubNotFound(HubError):
    """No hub answers on that port, or the name resolves to nothing."""


class PasswordError(HubError):
    """The hub refused the password."""


class HubTimeout(HubError, TimeoutError):
    """The hub did not answer in time, or another program held it too long."""


class InvalidArgument(HubError, ValueError):
    """A port number, password or description the hub cannot take."""


class FirmwareError(HubError):
    """A firmware update did not complete.

    ``stage`` names the step it stopped in ("Entering the loader",
    "Connecting", "Reading the loader", "Erasing", "Writing", "Starting the
    firmware"); ``in_loader`` is True when
    the hub was left waiting in its loader (only a new update, with
    ``in_loader=True``, brings it back) and False when its firmware is
    unchanged.
    """

    def __init__(self, message: str, stage: Optional[str] = None,
                 in_loader: bool = False) -> None:
        super().__init__(message)
        self.stage = stage
        self.in_loader = in_loader
