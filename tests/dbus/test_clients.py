"""Several clients of one server: their objects stay apart, a killed
client's objects go, and a client that reads nothing holds up nobody."""

import os
import signal

import dovel
from conftest import Events, blocks_of, poll, wait_until

QUEUE = dovel.server.QUEUE_INTERFACE

# A client that creates an object, has the server hold a message in it,
# prints the object's path and lists, and waits.
HOLDER = """
import sys, dovel
server = dovel.Server()
remote = server.create()
remote.post("held", b"x")
print(remote.path, remote.work_queue_id, remote.current_id, remote.last_sent_id, flush=True)
sys.stdin.read()
"""

# A client whose object raises a heartbeat every millisecond to a
# connection that subscribed and then never reads: no main loop runs.
DEAF = """
import sys, dbus
bus = dbus.SessionBus(private=True)
owner = bus.activate_name_owner("org.dovel.Dovel")
path = bus.call_blocking(owner, "/org/dovel/Dovel", "org.dovel.Dovel.Factory", "Create", "", ())
timer = bus.call_blocking(owner, path, "org.freedesktop.DBus.Properties", "Get", "ss",
                          ("org.dovel.Dovel.MsgQueue", "HeartbeatTimer"))
bus.add_match_string("type='signal',interface='org.dovel.Dovel.MsgQueue'")
for name, value in (("Interval", dbus.Int32(1)), ("Enabled", True)):
    bus.call_blocking(owner, timer, "org.freedesktop.DBus.Properties", "Set", "ssv",
                      ("org.dovel.Dovel.QueueTimer", name, value))
print(path, flush=True)
sys.stdin.read()
"""


def test_two_clients_never_see_each_others_events(server, other):
    with server.create() as mine, other.create() as theirs, mine.open() as queue:
        assert len({mine.work_queue_id, theirs.work_queue_id, mine.path, theirs.path}) == 4
        events, their_events = Events(mine), Events(theirs)
        # Every event of any object that reaches the other connection: the
        # server broadcasts them, so its own object's path must not be among
        # them.
        reached = []
        other.bus.add_signal_receiver(
            lambda *args, **where: reached.append(where["path"]), dbus_interface=QUEUE, path_keyword="path"
        )
        mine.worker_timer.interval = 10
        mine.heartbeat_timer.interval = 10
        mine.heartbeat_timer.enabled = True
        queue.post("mine")
        assert wait_until(server, lambda: events["SendData"] == 1 and events["Heartbeat"] >= 5)
        assert queue.take()
        other.wait()
        assert set(their_events.counts.values()) == {0}
        assert reached and theirs.path not in reached


def test_a_killed_client_has_its_objects_unloaded(server, children):
    before = server.object_count
    holder = children(HOLDER)
    path, *lists = holder.line()
    assert server.object_count == before + 1
    assert len(blocks_of(*lists)) == 3
    os.kill(holder.process.pid, signal.SIGKILL)
    assert wait_until(server, lambda: server.object_count == before)
    assert poll(lambda: not blocks_of(*lists))
    try:
        server._call(dovel.server.BUS_NAME, path, QUEUE, "UnloadQueue")
        raise AssertionError(f"{path} still answers")
    except dovel.ServerError as failure:
        assert failure.name == "org.freedesktop.DBus.Error.UnknownObject"


def test_a_client_that_reads_nothing_delays_nobody(server, children):
    deaf = children(DEAF)
    assert deaf.line()
    with server.create() as remote, remote.open() as queue:
        events = Events(remote)
        remote.worker_timer.interval = 10
        remote.heartbeat_timer.interval = 10
        remote.heartbeat_timer.enabled = True
        # Hundreds of the deaf client's heartbeats pile up meanwhile.
        assert wait_until(server, lambda: events["Heartbeat"] >= 200)
        posted = queue.post("after the pile")
        assert wait_until(server, lambda: events["SendData"] == 1)
        assert queue.take() == posted
    assert deaf.process.poll() is None  # still there, still not reading
