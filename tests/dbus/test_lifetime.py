"""The server's life on a bus of the test's own, where it exits after
200 ms without objects."""

import dovel
from conftest import poll, process_gone

# Owns the name in place of a server that is shutting down: refuses the
# first Create with Exiting, then leaves the name a little later.
EXITING = """
import sys, dbus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib
loop = GLib.MainLoop()
bus = dbus.bus.BusConnection(sys.argv[1], mainloop=dbus.mainloop.glib.DBusGMainLoop())

class Exiting(dbus.exceptions.DBusException):
    _dbus_error_name = "org.dovel.Dovel.Error.Exiting"

def leave():
    bus.release_name("org.dovel.Dovel")
    loop.quit()

class Factory(dbus.service.Object):
    @dbus.service.method("org.dovel.Dovel.Factory", out_signature="o")
    def Create(self):
        GLib.timeout_add(200, leave)
        raise Exiting("shutting down")

factory = Factory(bus, "/org/dovel/Dovel")
assert bus.request_name("org.dovel.Dovel", dbus.bus.NAME_FLAG_DO_NOT_QUEUE) == dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER
print("ready", flush=True)
loop.run()
"""


def test_the_server_exits_when_idle_and_the_bus_starts_another(private_bus):
    with dovel.Server(private_bus.address) as client:
        remote = client.create()
        first = private_bus.note_server(client)
        # An object keeps it: well past the idle grace it still answers.
        client.wait(timeout=1.0)
        assert client.running() and remote.unattended is False
        remote.release()
        assert poll(lambda: not client.running())
        assert poll(lambda: process_gone(first))
        # The same connection creates again, through a new server.
        with client.create() as again:
            assert private_bus.note_server(client) != first
            assert again.properties()["WorkQueueGUID"] == again.work_queue_id


def test_a_create_refused_by_an_exiting_server_is_made_again(private_bus, children):
    exiting = children(EXITING, private_bus.address)
    assert exiting.line() == ["ready"]
    with dovel.Server(private_bus.address) as client:
        with client.create() as remote:
            assert client.retries == 1
            private_bus.note_server(client)
            assert remote.path.startswith("/org/dovel/Dovel/clsMsgQueue/")
            with remote.open() as queue:
                assert queue.length() == 0
    assert exiting.process.wait(timeout=60) == 0
