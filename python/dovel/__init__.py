"""dovel: the client's side of a Dovel queue, for Python 3.

A queue object publishes three list identifiers: its work queue, its
current message and its last sent message. A client posts messages at the
end of the work queue; the server moves the head message to the current
list and raises SendData; the client takes it from there and marks it last
sent. Everything goes through shared memory, through libdovel-client::

    import dovel

    with dovel.Queue(work_queue_id) as queue:
        message_id = queue.post("Hello", b"hi")
        print(queue.length(), "message(s) queued")

Identifiers are str, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; names are
str, data bytes. Failures raise dovel.Error, which carries the Result, the
library's text for it and the system's code.

Finding libdovel-client, first match wins:

1. DOVEL_CLIENT_LIBRARY, the path of the library. When it is set nothing
   else is tried, so a wrong path fails loudly instead of loading another
   copy.
2. libdovel-client.so inside this package's directory. The install puts
   the package in <prefix>/lib/python3/dist-packages/dovel and a copy of the
   library beside __init__.py there, so the two always match. Debian's
   /usr/bin/python3 finds that directory for the prefix /usr; for another
   prefix, add <prefix>/lib/python3/dist-packages to PYTHONPATH.
3. ctypes.util.find_library("dovel-client"): a library the system's loader
   knows (ldconfig).

When none loads, importing dovel raises ImportError saying what was tried
and how to point at the library.

dovel.Server reaches the queue objects of dovel-server over the session bus
(dovel.server; it needs python3-dbus and python3-gi, loaded on first use).
"""

from ._blocks import BlockKind, ListSnapshot, Message, block_kind, read_list, read_message, sweep
from ._errors import Error, Result, result_text
from ._native import (
    DATA_MAX_BYTES,
    ID_LENGTH,
    LAYOUT_VERSION,
    NAME_MAX_UNITS,
    WALK_DEFAULT_MAX,
)
from ._queue import Queue, QueueList

# The bus client loads python3-dbus and GLib only when it is first named.
_SERVER_NAMES = ("EVENTS", "RemoteQueue", "RemoteTimer", "Server", "ServerError")


def __getattr__(name):
    if name in _SERVER_NAMES:
        from . import server

        return getattr(server, name)
    raise AttributeError(f"module 'dovel' has no attribute {name!r}")


__all__ = [
    "BlockKind",
    "DATA_MAX_BYTES",
    "EVENTS",
    "Error",
    "ID_LENGTH",
    "LAYOUT_VERSION",
    "ListSnapshot",
    "Message",
    "NAME_MAX_UNITS",
    "Queue",
    "QueueList",
    "RemoteQueue",
    "RemoteTimer",
    "Result",
    "Server",
    "ServerError",
    "WALK_DEFAULT_MAX",
    "block_kind",
    "read_list",
    "read_message",
    "result_text",
    "sweep",
]
