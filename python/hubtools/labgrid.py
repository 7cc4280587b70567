"""labgrid support: a hub port as a resource, switched by a power driver.

An environment file lists this module in its ``imports`` and names the port::

    imports:
      - hubtools.labgrid
    targets:
      main:
        resources:
          ManagedHubPort:
            hub: rfc2217://rack3:7001
            index: 3
        drivers:
          ManagedHubPowerDriver: {}

``target.get_driver("PowerProtocol")`` then switches port 3 with
:class:`hubtools.Hub`. A failure raises the :class:`hubtools.HubError` that
says what went wrong.
"""

from typing import Optional

import attr
from labgrid.driver.common import Driver
from labgrid.driver.powerdriver import PowerResetMixin
from labgrid.factory import target_factory
from labgrid.protocol import PowerProtocol
from labgrid.resource.common import Resource
from labgrid.step import step

from .errors import InvalidArgument
from .hub import Hub

__all__ = ["ManagedHubPort", "ManagedHubPowerDriver"]


def _positive(instance: object, attribute: "attr.Attribute",
              value: int) -> None:
    if value < 1:
        raise ValueError(f"{attribute.name} counts from 1, not {value}")


@target_factory.reg_resource
@attr.s(eq=False)
class ManagedHubPort(Resource):
    """One downstream port of a Managed USB Hub.

    Args:
        hub (str): the hub, by any name the command-line tools take: a
            device path or name, "UID" and its UID, or a port URL
            ("rfc2217://rack3:7001").
        index (int): the port, numbered from 1 as printed on the hub.
        password (str): the hub's password; None (the default) sends the
            factory default one.
    """

    hub: str = attr.ib(validator=attr.validators.instance_of(str))
    index: int = attr.ib(converter=int, validator=_positive)
    # A digits-only password reads as a number in YAML.
    password: Optional[str] = attr.ib(
        default=None, converter=attr.converters.optional(str))


@target_factory.reg_driver
@attr.s(eq=False)
class ManagedHubPowerDriver(Driver, PowerResetMixin, PowerProtocol):
    """Switches a board's power on a :class:`ManagedHubPort`.

    The hub's other ports keep their states. ``cycle()`` switches the port
    off, waits ``delay`` seconds (2.0 by default) and switches it on again;
    it returns when the port reads back on. ``reset()`` is ``cycle()``.

    Each step claims the hub (and opens a URL) for its own exchange only, so
    ``hubctl`` and other programs may use the hub between steps.
    """

    bindings = {"port": ManagedHubPort}
    delay: float = attr.ib(default=2.0, converter=float)

    def __attrs_post_init__(self) -> None:
        super().__attrs_post_init__()
        self._hub: Optional[Hub] = None

    def on_activate(self) -> None:
        """Make the hub object; the hub itself is first asked at a step."""
        self._hub = Hub(self.port.hub, password=self.port.password)

    def on_deactivate(self) -> None:
        """Drop the hub object."""
        self._hub = None

    @Driver.check_active
    @step()
    def on(self) -> None:
        """Switch the port on."""
        self._hub.on(self.port.index)

    @Driver.check_active
    @step()
    def off(self) -> None:
        """Switch the port off."""
        self._hub.off(self.port.index)

    @Driver.check_active
    @step()
    def cycle(self) -> None:
        """Switch the port off, wait ``delay`` seconds, switch it on."""
        self._hub.cycle(self.port.index, self.delay)

    @Driver.check_active
    def get(self) -> bool:
        """Whether the port is on, read from the hub now."""
        states = self._hub.states
        if self.port.index > len(states):
            raise InvalidArgument(f"{self.port.hub} has {len(states)} ports, "
                                  f"not {self.port.index}")
        return states[self.port.index - 1]
