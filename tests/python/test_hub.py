"""hubtools.Hub against virtual hubs: the lines sent, the errors raised."""

import os
import subprocess
import sys
import threading
import time

import pytest

import hubtools

# Each operation beside the hubctl command that does the same: the hub must
# get exactly the same lines from both.
SAME_AS_HUBCTL = [
    (lambda h: h.on(3), ["/S:{port}", "1:3"]),
    (lambda h: h.off(1, 2), ["/S:{port}", "0:1,2"]),
    (lambda h: h.toggle(2, 4), ["/S:{port}", "T:2,4"]),
    (lambda h: h.all_on(), ["/S:{port}", "1:ALL"]),
    (lambda h: h.all_off(), ["/S:{port}", "0:ALL"]),
    (lambda h: h.save_states(), ["/W:{port}"]),
    (lambda h: setattr(h, "description", "Rack 7, shelf 2"), ["/X:{port}", "Rack 7, shelf 2"]),
    (lambda h: h.change_password("newpass1"), ["/P:{port}", "newpass1"]),
    (lambda h: h.restore_defaults(), ["/D:{port}"]),
    (lambda h: h.reset(), ["/R:{port}"]),
    (lambda h: h.states, ["/G:{port}"]),
]


@pytest.mark.parametrize("password", [None, "secret12"])
@pytest.mark.parametrize("operation,command", SAME_AS_HUBCTL)
def test_an_operation_sends_what_hubctl_sends(operation, command, password, hubctl):
    pw = password or "kiwi"
    with hubtools.VirtualHub(record=True, states=0b0101, password=pw) as ours, \
            hubtools.VirtualHub(record=True, states=0b0101, password=pw) as theirs:
        operation(hubtools.Hub(ours.port, password=password))
        args = [a.format(port=theirs.port) for a in command]
        if password and not args[0].startswith("/G"):
            args.insert(1, password)
        done = hubctl(*args)
        assert done.returncode == 0, done.stdout + done.stderr
        assert ours.received == theirs.received
        assert ours.states == theirs.states


def test_a_with_block_asks_the_identity_once_and_holds_off_other_programs(hubctl):
    with hubtools.VirtualHub(record=True) as vhub:
        hub = hubtools.Hub(vhub.port)
        finished = []
        with hub:
            hub.off(3)

            def other_program():
                run = hubctl(f"/S:{vhub.port}", "1:1")
                finished.append((time.monotonic(), run))
            other = threading.Thread(target=other_program)
            other.start()
            time.sleep(0.3)
            hub.on(3)
            left = time.monotonic()
        other.join(timeout=15)
        assert vhub.received[:6] == ["?Q\r", "E?Q2\r", "GP\r", "SPkiwi    F0FFFFFF\r",
                                     "GP\r", "SPkiwi    F4FFFFFF\r"]
        when, run = finished[0]
        assert run.returncode == 0 and when > left  # hubctl waited for the block
        assert vhub.states == (True, False, True, False)


def test_threads_sharing_a_hub_lose_no_toggle():
    with hubtools.VirtualHub() as vhub:
        hub = hubtools.Hub(vhub.port)
        errors = []

        def toggler(port):
            try:
                for _ in range(5):
                    hub.toggle(port)
            except hubtools.HubError as e:
                errors.append(e)
        threads = [threading.Thread(target=toggler, args=(p,)) for p in (1, 2, 3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=60)
        assert not errors
        assert hub.states == (True, True, True, False)


def test_a_with_block_holds_off_the_other_threads_of_the_program():
    with hubtools.VirtualHub(record=True) as vhub:
        hub = hubtools.Hub(vhub.port)
        other = threading.Thread(target=lambda: hub.on(4))
        with hub:
            hub.on(1)
            other.start()
            time.sleep(0.2)
            hub.off(1)          # the other thread's on(4) has not come between
            assert vhub.states == (False, False, False, False)
        other.join(timeout=15)
        assert vhub.states == (False, False, False, True)


ERRORS = [
    # (password, operation, exception, words)
    ("wrong", lambda h: h.on(1), hubtools.PasswordError, "Password Error!"),
    (None, lambda h: h.on(9), hubtools.InvalidArgument, "Invalid Port Number!"),
    (None, lambda h: setattr(h, "description", "x" * 51), hubtools.InvalidArgument,
     "exceeds 50"),
    (None, lambda h: setattr(h, "description", "two\nlines"), hubtools.InvalidArgument,
     "Error Writing Description String"),
    ("toolongpassword", lambda h: h.on(1), hubtools.InvalidArgument, "Invalid Password!"),
    (None, lambda h: h.change_password(""), hubtools.InvalidArgument, "Invalid New Password!"),
]


@pytest.mark.parametrize("password,operation,exception,words", ERRORS)
def test_failures_raise_typed_errors_and_change_nothing(password, operation, exception, words):
    with hubtools.VirtualHub(record=True) as vhub:
        hub = hubtools.Hub(vhub.port, password=password)
        with pytest.raises(exception, match=words) as raised:
            operation(hub)
        assert isinstance(raised.value, hubtools.HubError)
        assert vhub.states == (False, False, False, False)
        # Arguments are checked before the hub is asked to change anything.
        changed = [line for line in vhub.received if line.startswith(("SP", "ESDD", "CP"))]
        assert len(changed) == (1 if exception is hubtools.PasswordError else 0)


def test_a_hub_that_is_gone_is_not_found():
    with hubtools.VirtualHub() as vhub:
        hub = hubtools.Hub(vhub.port)
        hub.on(1)
        vhub.unplug()
        with pytest.raises(hubtools.HubNotFound):
            hub.on(2)
    with pytest.raises(hubtools.HubNotFound):
        hubtools.Hub("/dev/no-such-hub").info


def test_errors_are_the_python_kinds_they_stand_for():
    assert issubclass(hubtools.HubTimeout, TimeoutError)
    assert issubclass(hubtools.InvalidArgument, ValueError)


def test_a_changed_password_is_used_from_then_on():
    with hubtools.VirtualHub(record=True) as vhub:
        hub = hubtools.Hub(vhub.port)
        hub.change_password("newpass1")
        hub.on(1)
        assert vhub.received[-1] == "SPnewpass1F1FFFFFF\r"
        hub.restore_defaults()
        hub.on(2)
        assert vhub.received[-1].startswith("SPkiwi    ")


def test_cycle_returns_with_the_port_on_after_the_delay():
    with hubtools.VirtualHub(states=0b1111) as vhub:
        hub = hubtools.Hub(vhub.port)
        start = time.monotonic()
        hub.cycle(2, delay=0.3)
        assert time.monotonic() - start >= 0.3
        assert hub.states == (True, True, True, True)


INTERRUPTED_WAIT = r"""
import os, signal, sys, threading, time
import hubtools
with hubtools.VirtualHub() as vhub:
    holder = hubtools.Hub(vhub.port)
    held, done = threading.Event(), threading.Event()
    def hold():
        with holder:
            held.set()
            done.wait(15)
    threading.Thread(target=hold).start()
    held.wait(5)
    threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
    start = time.monotonic()
    try:
        hubtools.Hub(vhub.port).on(1)   # waits for the holder's claim
    except KeyboardInterrupt:
        print("interrupted after %.2f s" % (time.monotonic() - start))
    done.set()
"""


def test_ctrl_c_stops_a_wait_for_a_held_hub(tmp_path):
    run = subprocess.run([sys.executable, "-c", INTERRUPTED_WAIT], capture_output=True,
                         text=True, timeout=30)
    assert run.returncode == 0, run.stderr
    seconds = float(run.stdout.split()[2])
    assert 0.25 < seconds < 1.0, run.stdout


def in_registry(root, code):
    """Runs `code` in a Python that sees only the hubs of the registry at `root`."""
    env = dict(os.environ, HUBLINK_REGISTRY_ROOT=str(root), HUBLINK_REMOTES="")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         timeout=60, env=env)
    assert run.returncode == 0, run.stderr
    return run.stdout


def test_discover_and_uid_names_find_the_registrys_hubs(hubsim, tmp_path):
    paths = hubsim("--hubs", "2", "--tree", str(tmp_path / "tree"))
    out = in_registry(tmp_path / "tree", """
import hubtools
for info in hubtools.discover():
    print(info.port, info.uid, info.ports)
hub = hubtools.Hub("UID0123456789A1")
hub.on(2)
print(hub.port, hub.states)
try:
    hubtools.Hub("UID000000000000").on(1)
except hubtools.HubNotFound as e:
    print("not found:", e)
""")
    assert out.splitlines() == [
        f"{paths[0]} 0123456789A0 4", f"{paths[1]} 0123456789A1 4",
        f"{paths[1]} (False, True, False, False)",
        "not found: no hub with UID000000000000 answers"]


def test_a_hub_that_stops_answering_is_a_timeout(hubsim, tmp_path):
    path, = hubsim("--fault", "silent:SP")
    hub = hubtools.Hub(path)
    start = time.monotonic()
    with pytest.raises(hubtools.HubTimeout, match="did not answer"):
        hub.on(1)
    assert time.monotonic() - start < 3
    assert hub.states[0]  # the command took effect; only its reply was lost


def test_a_remote_hub_another_client_holds_is_waited_for(tmp_path):
    from loopback_rig import SER2NET, Ser2net, rfc2217_export
    if not os.access(SER2NET, os.X_OK):
        pytest.skip("ser2net is not installed")
    with hubtools.VirtualHub() as vhub, \
            Ser2net(str(tmp_path), lambda port: rfc2217_export(vhub.port, port)) as server:
        holder = hubtools.Hub(server.url)
        held = threading.Event()

        def hold():
            with holder:
                holder.off(1)
                held.set()
                time.sleep(1.0)
        other = threading.Thread(target=hold)
        other.start()
        held.wait(10)
        start = time.monotonic()
        hubtools.Hub(server.url).on(2)  # ser2net turns it away until the holder leaves
        assert time.monotonic() - start > 0.5
        other.join(10)
        assert vhub.states[1]
