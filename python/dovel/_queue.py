"""The client's side of one queue object."""

import contextlib
import ctypes
import enum
import os
import threading
import weakref

from . import _convert
from ._blocks import read_list
from ._errors import Error, Result, check
from ._native import ID_BUFFER, QueueHandle, lib


class QueueList(enum.IntEnum):
    """dovel_queue_list: which of a queue object's lists."""

    WORK_QUEUE = 0
    CURRENT = 1
    LAST_SENT = 2


def _close(owner_pid, handle):
    # A forked child holds a copy of the pointer but none of the blocks
    # behind it: only the process that opened the handle closes it.
    if os.getpid() == owner_pid:
        lib.dovel_queue_close(handle)


class Queue:
    """A queue object's lists, opened by their identifiers.

    A poster needs only the work queue, a taker only the current and
    last-sent lists; a list not needed may be None, and a call that needs it
    then raises Error(Result.INVALID_ARGUMENT).

    The handle holds every message it posted until the message has been sent
    and replaced as last sent: closing it early takes unsent messages along
    (``waiting()`` says how many there are). Use it as a context manager, or
    call ``close()``; an unreachable Queue is closed by the collector.

    Calls from several threads are serialised on the handle; a call on a
    closed queue raises Error(Result.INVALID_ARGUMENT).
    """

    def __init__(self, work_queue=None, current=None, last_sent=None):
        self._lock = threading.Lock()
        self._handle = None
        lists = (
            _convert.optional_identifier(work_queue, "work_queue"),
            _convert.optional_identifier(current, "current"),
            _convert.optional_identifier(last_sent, "last_sent"),
        )
        handle = ctypes.POINTER(QueueHandle)()
        check(lib.dovel_queue_open(*lists, ctypes.byref(handle)), "opening the queue's lists")
        self._pid = os.getpid()
        self._handle = handle
        # Holds the handle, not the Queue, so it runs once the Queue is
        # unreachable, or at exit.
        self._finalizer = weakref.finalize(self, _close, self._pid, handle)

    @contextlib.contextmanager
    def _held(self):
        # Checked before the lock: a forked child may have copied it taken.
        if self._pid != os.getpid():
            raise Error(Result.INVALID_ARGUMENT, detail="the queue was opened by another process")
        with self._lock:
            if self._handle is None:
                raise Error(Result.INVALID_ARGUMENT, detail="the queue is closed")
            yield self._handle

    def post(self, name="", data=b"", auto=False):
        """Creates a message and links it at the end of the work queue;
        returns its identifier. `auto` marks a message that does not count
        as activity."""
        encoded_name = _convert.text(name, "name")
        payload = _convert.data(data)
        out = ctypes.create_string_buffer(ID_BUFFER)
        with self._held() as handle:
            check(
                lib.dovel_queue_post(handle, encoded_name, payload or None, len(payload), int(bool(auto)), out),
                f"posting {name!r}",
            )
        return out.value.decode("ascii")

    def take(self):
        """Takes the message the server announced with SendData and makes it
        the last-sent one; returns its identifier, or None when there was
        none."""
        out = ctypes.create_string_buffer(ID_BUFFER)
        with self._held() as handle:
            code = lib.dovel_queue_take(handle, out)
            if code == Result.EMPTY:
                return None
            check(code, "taking the current message")
        return out.value.decode("ascii")

    def mark_last_sent(self, message_id):
        """Makes `message_id` the only message of the last-sent list."""
        key = _convert.identifier(message_id, "message_id")
        with self._held() as handle:
            check(lib.dovel_queue_mark_last_sent(handle, key), f"marking {message_id} last sent")

    def length(self):
        """How many messages wait in the work queue, whoever posted them."""
        count = ctypes.c_size_t(0)
        with self._held() as handle:
            check(lib.dovel_queue_length(handle, ctypes.byref(count)), "counting the work queue")
        return count.value

    def waiting(self):
        """How many of this handle's messages the client has not taken yet
        (still in the work queue, or in the current list when it is open)."""
        count = ctypes.c_size_t(0)
        with self._held() as handle:
            check(lib.dovel_queue_waiting(handle, ctypes.byref(count)), "counting waiting messages")
        return count.value

    def list_id(self, which):
        """The identifier of one of the queue's lists (a QueueList)."""
        try:
            which = QueueList(which)
        except ValueError:
            raise Error(Result.INVALID_ARGUMENT, detail=f"no such list: {which!r}") from None
        out = ctypes.create_string_buffer(ID_BUFFER)
        with self._held() as handle:
            check(lib.dovel_queue_list_id(handle, int(which), out), which.name)
        return out.value.decode("ascii")

    def read_list(self, which, max_messages=0):
        """A ListSnapshot of one of the queue's lists."""
        return read_list(self.list_id(which), max_messages)

    def close(self):
        """Lets go of every block the handle holds. Closing twice is fine."""
        if self._handle is None:
            return
        with self._lock:
            self._handle = None
            self._finalizer()

    @property
    def closed(self):
        return self._handle is None

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def __repr__(self):
        return f"<dovel.Queue {'closed' if self.closed else 'open'}>"
