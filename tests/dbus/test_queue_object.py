"""One client and its queue objects: activation, properties, timers, the
five events, Post, and the errors of bad calls."""

import os
import subprocess
import sys

import pytest

import dovel
from conftest import HERE, Events, blocks_of, poll, wait_until

FACTORY = (dovel.server.FACTORY_PATH, dovel.server.FACTORY_INTERFACE)
PROPS = dovel.server.PROPERTIES_INTERFACE
QUEUE = dovel.server.QUEUE_INTERFACE
TIMER = dovel.server.TIMER_INTERFACE


def refused(call, *args):
    with pytest.raises(dovel.ServerError) as failure:
        call(*args)
    return failure.value.name


def test_create_activates_the_server_and_publishes_the_object(server):
    remote = server.create()  # the first call of the session starts the server
    assert server.running()
    assert remote.path.startswith("/org/dovel/Dovel/clsMsgQueue/")
    ids = {remote.work_queue_id, remote.current_id, remote.last_sent_id}
    assert len(ids) == 3 and all(len(block) == dovel.ID_LENGTH for block in ids)
    assert len(blocks_of(*ids)) == 3
    assert server.object_count >= 1
    assert remote.properties() == {
        "WorkQueueGUID": remote.work_queue_id,
        "CurrentMsgGUID": remote.current_id,
        "LastSentMsgGUID": remote.last_sent_id,
        "Disconnecting": False,
        "PanelEventWarning": False,
        "Unattended": False,
        "InactivityTimeout": 0,
        "WorkerTimer": remote.worker_timer.path,
        "TimeoutTimer": remote.timeout_timer.path,
        "HeartbeatTimer": remote.heartbeat_timer.path,
        "DiagRefreshTimer": remote.diag_refresh_timer.path,
    }
    remote.release()
    assert poll(lambda: not blocks_of(*ids))
    # The same connection creates again; a path is never reused.
    with server.create() as again:
        assert again.path != remote.path


def test_switches_timers_and_inactivity_timeout_read_back(remote):
    remote.unattended = True
    remote.inactivity_timeout = 30
    remote.heartbeat_timer.interval = 1234
    remote.heartbeat_timer.enabled = True
    assert (remote.unattended, remote.disconnecting, remote.panel_event_warning) == (True, False, False)
    assert remote.inactivity_timeout == 30
    assert (remote.heartbeat_timer.interval, remote.heartbeat_timer.enabled) == (1234, True)
    assert (remote.timeout_timer.interval, remote.timeout_timer.enabled) != (1234, True)
    remote.heartbeat_timer.enabled = False
    assert remote.heartbeat_timer.enabled is False


def test_all_five_events_and_the_messages_behind_send_data(server, remote):
    events = Events(remote)
    remote.worker_timer.interval = 10
    remote.worker_timer.enabled = True
    for timer in (remote.heartbeat_timer, remote.diag_refresh_timer, remote.timeout_timer):
        timer.interval = 20
        timer.enabled = True
    with remote.open() as queue:
        posted = queue.post("first", b"\x00one")
        served = remote.post("second", b"two", auto=True)
        assert wait_until(server, lambda: events["SendData"] == 1)
        assert queue.take() == posted
        assert wait_until(server, lambda: events["SendData"] == 2)
        message = dovel.read_message(served)
        assert (message.name, message.data, message.auto) == ("second", b"two", True)
        # The auto message goes out last: nothing has been active since.
        assert queue.take() == served
        remote.inactivity_timeout = 1
        assert wait_until(server, lambda: events["InactiveSession"] == 1)
        remote.inactivity_complete()
        assert wait_until(server, lambda: events["InactiveSession"] == 2)
        assert wait_until(server, lambda: events["Heartbeat"] >= 2 and events["DiagRefresh"] >= 2)
        # The time-out timer fires once and stops.
        assert events["Timeout"] == 1 and remote.timeout_timer.enabled is False
        assert events["SendData"] == 2

    remote.unload()
    assert poll(lambda: not blocks_of(remote.work_queue_id, remote.current_id, remote.last_sent_id))
    server.wait()  # what was raised before the unload
    seen = dict(events.counts)
    server.wait(timeout=0.3)
    assert events.counts == seen  # an unloaded object raises nothing


def test_bad_calls_get_named_errors(server, other, remote):
    call, owner = server._call, remote._owner
    unknown = "/org/dovel/Dovel/clsMsgQueue/999999"
    assert refused(call, owner, unknown, QUEUE, "UnloadQueue") == "org.freedesktop.DBus.Error.UnknownObject"
    assert refused(call, owner, *FACTORY, "Release", "o", (unknown,)) == "org.dovel.Dovel.Error.NoSuchObject"
    assert refused(call, owner, remote.path, QUEUE, "Bogus") == "org.freedesktop.DBus.Error.UnknownMethod"
    invalid = "org.freedesktop.DBus.Error.InvalidArgs"
    assert refused(call, owner, remote.path, QUEUE, "Post", "sss", ("a", "b", "c")) == invalid
    assert refused(call, owner, *FACTORY, "Release", "s", ("not a path",)) == invalid
    assert refused(call, owner, remote.worker_timer.path, PROPS, "Set", "ssv", (TIMER, "Interval", "ten")) == invalid
    assert refused(call, owner, remote.path, PROPS, "Set", "ssv", (QUEUE, "WorkQueueGUID", "x")) in (
        invalid,
        "org.freedesktop.DBus.Error.PropertyReadOnly",
    )
    # Another connection may change nothing of this object.
    not_owner = "org.dovel.Dovel.Error.NotOwner"
    assert refused(other._call, owner, remote.path, QUEUE, "UnloadQueue") == not_owner
    assert refused(other._call, owner, remote.path, PROPS, "Set", "ssv", (QUEUE, "Unattended", True)) == not_owner
    assert refused(other._call, owner, remote.worker_timer.path, PROPS, "Set", "ssv", (TIMER, "Enabled", False)) == not_owner
    assert refused(other._call, owner, *FACTORY, "Release", "o", (remote.path,)) == not_owner
    assert remote.worker_timer.enabled is True and remote.unattended is False
    # A released object's path is gone.
    path = remote.path
    remote.release()
    assert refused(call, owner, path, QUEUE, "UnloadQueue") == "org.freedesktop.DBus.Error.UnknownObject"
    assert refused(call, owner, *FACTORY, "Release", "o", (path,)) == "org.dovel.Dovel.Error.NoSuchObject"


def test_client_refuses_bad_input_before_the_bus(remote):
    with pytest.raises(ValueError, match="no such event"):
        remote.connect("Sent", lambda: None)
    with pytest.raises(ValueError, match="inactivity_timeout"):
        remote.inactivity_timeout = 40000
    with pytest.raises(TypeError, match="interval"):
        remote.worker_timer.interval = "10"
    with pytest.raises(TypeError, match="data"):
        remote.post("name", "not bytes")


def test_gdbus_lines(server, remote):
    """The README's gdbus lines, on this bus."""
    subprocess.run(["bash", os.path.join(HERE, "gdbus_check.sh"), remote.path], check=True, timeout=120)


def test_import_dovel_without_the_bus_modules():
    blocked = (
        "import sys\n"
        "class Block:\n"
        "    def find_spec(self, name, *args):\n"
        "        if name.split('.')[0] in ('dbus', 'gi'):\n"
        "            raise ImportError('no ' + name)\n"
        "sys.meta_path.insert(0, Block())\n"
        "import dovel\n"
        "assert dovel.Queue and dovel.Server\n"
        "try:\n"
        "    dovel.Server()\n"
        "except ImportError as missing:\n"
        "    print(missing)\n"
    )
    result = subprocess.run([sys.executable, "-c", blocked], capture_output=True, text=True, timeout=120, check=True)
    assert "python3-dbus" in result.stdout
