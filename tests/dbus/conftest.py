"""dovel-server on a private session bus.

CTest runs this suite inside dbus-run-session with the build's bus
configuration, whose only service folder activates the built server; it
sets DOVEL_SERVER and DOVEL_PRIVATE_BUS. The suite refuses to run on any
other bus. Events are awaited with generous deadlines: what arrived is
asserted, never how long it took.
"""

import os
import subprocess
import sys
import tempfile
import time

import pytest

import dovel

DEADLINE = 60.0
HERE = os.path.dirname(os.path.abspath(__file__))


def pytest_configure(config):
    if os.environ.get("DOVEL_PRIVATE_BUS") != "1" or not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        pytest.exit("run through CTest (test dbus_server): these tests need the private bus of dbus-run-session", 2)


def wait_until(server, condition, timeout=DEADLINE):
    """Runs the main loop until `condition()` holds; False at the deadline."""
    return server.wait(condition, timeout)


def poll(condition, timeout=DEADLINE):
    """Polls `condition()` (no main loop) until it holds; False at the deadline."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


def blocks_of(*ids):
    """The /dev/shm entries of the blocks named by `ids`."""
    names = os.listdir("/dev/shm")
    return [name for name in names if any(block_id in name for block_id in ids)]


def server_pid(server):
    owner = server.bus.get_name_owner(dovel.server.BUS_NAME)
    bus = ("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus")
    return int(server.bus.call_blocking(*bus, "GetConnectionUnixProcessID", "s", (owner,)))


def process_gone(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            # A reparented child nobody reaps stays a zombie: it has ended.
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


class Events:
    """Counts the events of one queue object."""

    def __init__(self, remote, names=dovel.EVENTS):
        self.counts = dict.fromkeys(names, 0)
        for name in names:
            remote.connect(name, lambda name=name: self._seen(name))

    def _seen(self, name):
        self.counts[name] += 1

    def __getitem__(self, name):
        return self.counts[name]


@pytest.fixture
def server():
    with dovel.Server() as client:
        yield client


@pytest.fixture
def other():
    with dovel.Server() as client:
        yield client


@pytest.fixture
def remote(server):
    with server.create() as created:
        yield created


class Child:
    """A Python client in a process of its own, on the same bus."""

    def __init__(self, source, *args):
        self.process = subprocess.Popen(
            [sys.executable, "-c", source, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
        )

    def line(self):
        return self.process.stdout.readline().split()

    def end(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=DEADLINE)
        self.process.stdin.close()
        self.process.stdout.close()


@pytest.fixture
def children():
    started = []
    yield lambda source, *args: started.append(Child(source, *args)) or started[-1]
    for child in started:
        child.end()


class PrivateBus:
    """A bus of the test's own, whose server exits after `idle_ms` idle."""

    CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={folder}/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>{folder}/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

    def __init__(self, idle_ms):
        self.folder = tempfile.TemporaryDirectory(prefix="dovel-bus-")
        folder = self.folder.name
        os.mkdir(f"{folder}/services")
        with open(f"{folder}/services/org.dovel.Dovel.service", "w") as service:
            service.write(f"[D-BUS Service]\nName=org.dovel.Dovel\nExec={os.environ['DOVEL_SERVER']} --idle-exit-ms {idle_ms}\n")
        with open(f"{folder}/session.conf", "w") as config:
            config.write(self.CONFIG.format(folder=folder))
        self.address = f"unix:path={folder}/bus"
        environment = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)
        self.daemon = subprocess.Popen(
            ["dbus-daemon", "--nofork", f"--config-file={folder}/session.conf", "--print-address=1"],
            stdout=subprocess.PIPE,
            text=True,
            env=environment,
        )
        assert self.daemon.stdout.readline().strip(), "dbus-daemon printed no address"
        self.servers = set()

    def note_server(self, client):
        """Remembers the pid of the server `client` talks to now."""
        pid = server_pid(client)
        self.servers.add(pid)
        return pid

    def close(self):
        self.daemon.terminate()
        self.daemon.wait(timeout=DEADLINE)
        self.daemon.stdout.close()
        self.folder.cleanup()
        # A server leaves with its bus.
        left = [pid for pid in self.servers if not poll(lambda pid=pid: process_gone(pid))]
        assert not left, f"servers {left} outlived their bus"


@pytest.fixture
def private_bus():
    bus = PrivateBus(idle_ms=200)
    yield bus
    bus.close()
