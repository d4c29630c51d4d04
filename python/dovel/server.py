"""Queue objects of dovel-server, over the session bus.

dovel-server hosts queue objects for the clients of one user on the session
bus, under the name org.dovel.Dovel; the bus starts it on the first call.
A Server is one connection to that bus, and the objects it creates belong
to it: nobody else may change or release them, and they are unloaded when
the connection closes (or the process ends). ::

    import dovel

    with dovel.Server() as server, server.create() as remote:
        remote.worker_timer.interval = 10
        remote.worker_timer.enabled = True
        with remote.open() as queue:          # the lists, in shared memory
            remote.connect("SendData", lambda: print("sent", queue.take()))
            queue.post("Hello", b"hi")
            server.wait(lambda: queue.length() == 0, timeout=10)

Events are D-Bus signals: they reach the handlers only while the GLib main
loop runs, in Server.wait() or in an application's own GLib.MainLoop.
This module needs python3-dbus and python3-gi; `import dovel` does not.
Calls the server refuses raise ServerError, whose `name` is the D-Bus error
name (org.dovel.Dovel.Error.NotOwner, org.freedesktop.DBus.Error.UnknownObject,
...).
"""

import time

BUS_NAME = "org.dovel.Dovel"
FACTORY_PATH = "/org/dovel/Dovel"
FACTORY_INTERFACE = "org.dovel.Dovel.Factory"
QUEUE_INTERFACE = "org.dovel.Dovel.MsgQueue"
TIMER_INTERFACE = "org.dovel.Dovel.QueueTimer"
PROPERTIES_INTERFACE = "org.freedesktop.DBus.Properties"
EXITING = "org.dovel.Dovel.Error.Exiting"

#: The five events a queue object raises, as signals of its path.
EVENTS = ("SendData", "Timeout", "InactiveSession", "Heartbeat", "DiagRefresh")
#: The properties naming a queue object's timers.
TIMERS = ("WorkerTimer", "TimeoutTimer", "HeartbeatTimer", "DiagRefreshTimer")

# How long a retried Create waits for an exiting server to leave the name.
_EXIT_WAIT_SECONDS = 30.0


class ServerError(Exception):
    """A call the bus or the server refused. `name` is the D-Bus error name
    (None when the failure happened before any reply)."""

    def __init__(self, name, message):
        super().__init__(f"{name}: {message}" if name else message)
        self.name = name
        self.text = message


def _modules():
    try:
        import dbus
        import dbus.mainloop.glib
        from gi.repository import GLib
    except ImportError as missing:
        raise ImportError(
            f"dovel.Server needs python3-dbus and python3-gi ({missing}); "
            "the shared-memory client (dovel.Queue) works without them"
        ) from missing
    return dbus, dbus.mainloop.glib, GLib


def _wrap(call, *args, **kwargs):
    dbus, _, _ = _modules()
    try:
        return call(*args, **kwargs)
    except dbus.exceptions.DBusException as failure:
        raise ServerError(failure.get_dbus_name(), failure.get_dbus_message() or str(failure)) from None


def _checked(value, kind, low, high, what):
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{what} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{what} must lie in [{low}, {high}], not {value}")
    return kind(value)


class Server:
    """One connection to the session bus and the queue objects it created.

    `address` names another bus than the session bus of the environment
    (DBUS_SESSION_BUS_ADDRESS). Every Server opens a connection of its own,
    so two Servers in one process are two clients. Closing it (or leaving
    the `with` block) closes the connection: the server unloads and frees
    the objects it had created.
    """

    def __init__(self, address=None):
        dbus, glib_loop, self._glib = _modules()
        self._dbus = dbus
        loop = glib_loop.DBusGMainLoop()
        if address is None:
            # Explicitly the session bus: a connection opened without naming
            # one may reach the system bus outside a login session.
            connect = lambda: dbus.SessionBus(mainloop=loop, private=True)  # noqa: E731
        else:
            connect = lambda: dbus.bus.BusConnection(address, mainloop=loop)  # noqa: E731
        self.bus = _wrap(connect)
        self._closed = False
        self._queues = []
        #: How many Creates met an exiting server and were made again.
        self.retries = 0

    # ---- the factory ---------------------------------------------------

    def _call(self, destination, path, interface, method, signature="", args=()):
        if self._closed:
            raise ServerError(None, "the connection to the bus is closed")
        return _wrap(self.bus.call_blocking, destination, path, interface, method, signature, args)

    def create(self):
        """A new queue object (a RemoteQueue). The bus starts the server when
        none runs; a server that is exiting refuses with
        org.dovel.Dovel.Error.Exiting, and the Create is made once more, when
        it has left the name, through a server the bus starts anew."""
        try:
            return self._create()
        except ServerError as failure:
            if failure.name != EXITING:
                raise
        self.retries += 1
        self._await_exit()
        return self._create()

    def _create(self):
        # The owner is asked first (starting the server when none runs), so
        # the object's later calls and signals go to the very server that
        # made it, never to a successor.
        if self._closed:
            raise ServerError(None, "the connection to the bus is closed")
        owner = str(_wrap(self.bus.activate_name_owner, BUS_NAME))
        path = self._call(owner, FACTORY_PATH, FACTORY_INTERFACE, "Create")
        queue = RemoteQueue(self, owner, str(path))
        self._queues.append(queue)
        return queue

    def _await_exit(self):
        deadline = time.monotonic() + _EXIT_WAIT_SECONDS
        owner = self._owner()
        while owner is not None and time.monotonic() < deadline:
            time.sleep(0.01)
            fresh = self._owner()
            if fresh != owner:
                return
        # Still the same owner: the retry tells.

    def _owner(self):
        try:
            return str(self.bus.get_name_owner(BUS_NAME))
        except self._dbus.exceptions.DBusException:
            return None

    def running(self):
        """Whether a server owns the name now (asking starts none)."""
        return bool(_wrap(self.bus.name_has_owner, BUS_NAME))

    @property
    def object_count(self):
        """Live queue objects of all clients (starts the server if none runs)."""
        return int(
            self._call(BUS_NAME, FACTORY_PATH, PROPERTIES_INTERFACE, "Get", "ss", (FACTORY_INTERFACE, "ObjectCount"))
        )

    # ---- the main loop -------------------------------------------------

    def wait(self, condition=None, timeout=None):
        """Runs the GLib main loop, delivering events to their handlers,
        until `condition()` is true (returns True) or `timeout` seconds have
        passed (returns False). Without a condition it runs for `timeout`
        seconds; without either it returns at once after delivering what
        has arrived."""
        context = self._glib.MainContext.default()
        if condition is None and timeout is None:
            while context.iteration(False):
                pass
            return True
        expired = []
        source = None
        if timeout is not None:
            source = self._glib.timeout_add(max(0, int(timeout * 1000)), lambda: expired.append(True) and False)
        try:
            while not (condition is not None and condition()):
                if expired:
                    return False
                context.iteration(True)
            return True
        finally:
            if source is not None and not expired:
                self._glib.source_remove(source)

    # ---- the end -------------------------------------------------------

    def close(self):
        """Closes the connection; the server unloads and frees every object
        it created. Closing twice is fine."""
        if self._closed:
            return
        self._closed = True
        for queue in self._queues:
            queue._forget()
        self._queues.clear()
        self.bus.close()

    @property
    def closed(self):
        return self._closed

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def __repr__(self):
        return f"<dovel.Server {'closed' if self._closed else self.bus.get_unique_name()}>"


class RemoteTimer:
    """One of a queue object's four timers: interval in milliseconds, and
    whether it runs."""

    def __init__(self, server, owner, path):
        self._server = server
        self._owner = owner
        self.path = path

    def _get(self, name):
        return self._server._call(self._owner, self.path, PROPERTIES_INTERFACE, "Get", "ss", (TIMER_INTERFACE, name))

    def _set(self, name, value):
        self._server._call(self._owner, self.path, PROPERTIES_INTERFACE, "Set", "ssv", (TIMER_INTERFACE, name, value))

    @property
    def interval(self):
        return int(self._get("Interval"))

    @interval.setter
    def interval(self, milliseconds):
        dbus = self._server._dbus
        self._set("Interval", _checked(milliseconds, dbus.Int32, -(2**31), 2**31 - 1, "interval"))

    @property
    def enabled(self):
        return bool(self._get("Enabled"))

    @enabled.setter
    def enabled(self, value):
        self._set("Enabled", self._server._dbus.Boolean(bool(value)))

    def __repr__(self):
        return f"<dovel.RemoteTimer {self.path}>"


def _switch(name):
    def getter(self):
        return bool(self._get(name))

    def setter(self, value):
        self._set(name, self._server._dbus.Boolean(bool(value)))

    return property(getter, setter, doc=f"The queue object's {name} switch (reads back the last value written).")


class RemoteQueue:
    """A queue object in dovel-server, created by Server.create().

    `work_queue_id`, `current_id` and `last_sent_id` identify its lists in
    shared memory; open() opens them as a dovel.Queue. Leaving the `with`
    block releases the object.
    """

    def __init__(self, server, owner, path):
        self._server = server
        self._owner = owner
        self.path = path
        self._released = False
        self._matches = []
        lists = self._get_all()
        self.work_queue_id = str(lists["WorkQueueGUID"])
        self.current_id = str(lists["CurrentMsgGUID"])
        self.last_sent_id = str(lists["LastSentMsgGUID"])
        self.worker_timer, self.timeout_timer, self.heartbeat_timer, self.diag_refresh_timer = (
            RemoteTimer(server, owner, str(lists[name])) for name in TIMERS
        )

    def _get_all(self):
        return self._server._call(self._owner, self.path, PROPERTIES_INTERFACE, "GetAll", "s", (QUEUE_INTERFACE,))

    def _get(self, name):
        return self._server._call(self._owner, self.path, PROPERTIES_INTERFACE, "Get", "ss", (QUEUE_INTERFACE, name))

    def _set(self, name, value):
        self._server._call(self._owner, self.path, PROPERTIES_INTERFACE, "Set", "ssv", (QUEUE_INTERFACE, name, value))

    def _method(self, name, signature="", args=()):
        return self._server._call(self._owner, self.path, QUEUE_INTERFACE, name, signature, args)

    disconnecting = _switch("Disconnecting")
    panel_event_warning = _switch("PanelEventWarning")
    unattended = _switch("Unattended")

    @property
    def inactivity_timeout(self):
        """Seconds without activity before InactiveSession; 0 watches none."""
        return int(self._get("InactivityTimeout"))

    @inactivity_timeout.setter
    def inactivity_timeout(self, seconds):
        self._set("InactivityTimeout", _checked(seconds, self._server._dbus.Int16, -32768, 32767, "inactivity_timeout"))

    def properties(self):
        """Every property of the queue object, as a dict of Python values."""
        return {str(key): _plain(value) for key, value in self._get_all().items()}

    def open(self):
        """The object's three lists in shared memory, as a dovel.Queue."""
        from ._queue import Queue

        return Queue(self.work_queue_id, self.current_id, self.last_sent_id)

    def post(self, name="", data=b"", auto=False):
        """Has the server create a message and link it at the end of the
        work queue; returns its identifier. The server keeps the message
        until a newer one has replaced it as last sent."""
        if not isinstance(name, str):
            raise TypeError(f"name must be a str, not {type(name).__name__}")
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"data must be bytes, not {type(data).__name__}")
        dbus = self._server._dbus
        payload = dbus.Array(bytes(data), signature="y")
        return str(self._method("Post", "sayb", (name, payload, dbus.Boolean(bool(auto)))))

    def inactivity_complete(self):
        """Says the client has dealt with InactiveSession: watching restarts."""
        self._method("InactivityComplete")

    def unload(self):
        """Stops the queue object: its timers stop and its lists go. The
        object stays on the bus until released."""
        self._method("UnloadQueue")

    def connect(self, event, handler):
        """Calls `handler()` on each `event` (one of EVENTS) of this object,
        while the main loop runs. Returns a match whose remove() disconnects
        it."""
        if event not in EVENTS:
            raise ValueError(f"no such event: {event!r}; one of {', '.join(EVENTS)}")
        if not callable(handler):
            raise TypeError("handler must be callable")
        match = _wrap(
            self._server.bus.add_signal_receiver,
            lambda *args: handler(),
            signal_name=event,
            dbus_interface=QUEUE_INTERFACE,
            bus_name=self._owner,
            path=self.path,
        )
        self._matches.append(match)
        return match

    def release(self):
        """Unloads the object and frees it; its path is gone afterwards.
        Releasing twice is fine."""
        if self._released or self._server.closed:
            self._forget()
            return
        self._server._call(self._owner, FACTORY_PATH, FACTORY_INTERFACE, "Release", "o", (self.path,))
        self._forget()

    def _forget(self):
        self._released = True
        matches, self._matches = self._matches, []
        for match in matches:
            try:
                match.remove()
            except self._server._dbus.exceptions.DBusException:
                pass  # the connection is gone, and its match rules with it

    @property
    def released(self):
        return self._released

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.release()

    def __repr__(self):
        return f"<dovel.RemoteQueue {self.path}{' released' if self._released else ''}>"


def _plain(value):
    # dbus-python's types are subclasses of the plain ones, but its Boolean
    # is an int.
    dbus, _, _ = _modules()
    if isinstance(value, dbus.Boolean):
        return bool(value)
    for plain in (int, str):
        if isinstance(value, plain):
            return plain(value)
    return value
