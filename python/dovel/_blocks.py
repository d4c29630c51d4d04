"""Reading lists and messages, and the blocks behind them.

Every read copies what the library gives into Python objects and frees the
library's snapshot at once, so nothing here outlives a call.
"""

import ctypes
import dataclasses
import enum

from . import _convert
from ._errors import Result, as_result, check
from ._native import ListHandle, MessageHandle, lib


class BlockKind(enum.IntEnum):
    """dovel_block_kind."""

    UNKNOWN = 0
    MESSAGE = 1
    LIST = 2


@dataclasses.dataclass(frozen=True, slots=True)
class Message:
    """A message block's fields as they were when it was read.

    Identifier fields never written read as "".
    """

    id: str
    name: str
    data: bytes
    auto: bool
    priority: int
    owner_name: str
    owner_id: str
    client_id: str
    next_id: str
    head_id: str


@dataclasses.dataclass(frozen=True, slots=True)
class ListSnapshot:
    """The identifiers of a list's messages in chain order, as far as the
    walk got, and why it stopped: Result.OK when it came back to the head,
    Result.BROKEN_CHAIN for a loop or a chain over the bound, or the failure
    of the link it could not follow."""

    head_id: str
    ids: tuple
    status: Result

    @property
    def complete(self):
        return self.status == Result.OK

    def __len__(self):
        return len(self.ids)

    def __iter__(self):
        return iter(self.ids)

    def __getitem__(self, index):
        return self.ids[index]


def read_list(head_id, max_messages=0):
    """Reads the list under `head_id`, at most `max_messages` identifiers
    (0: the library's default bound). A loop or a broken link does not raise:
    it shows in the snapshot's status."""
    head = _convert.identifier(head_id, "head_id")
    limit = _convert.bound(max_messages)
    handle = ctypes.POINTER(ListHandle)()
    check(lib.dovel_list_read(head, limit, ctypes.byref(handle)), f"list {head_id}")
    try:
        status = as_result(lib.dovel_list_status(handle))
        count = lib.dovel_list_count(handle)
        ids = []
        for index in range(count):
            raw = lib.dovel_list_id(handle, index)
            if raw is None:
                break
            ids.append(_convert.decoded(raw))
    finally:
        lib.dovel_list_free(handle)
    return ListSnapshot(head_id, tuple(ids), status)


def read_message(message_id):
    """Every field of the message block `message_id`."""
    key = _convert.identifier(message_id, "message_id")
    handle = ctypes.POINTER(MessageHandle)()
    check(lib.dovel_message_read(key, ctypes.byref(handle)), f"message {message_id}")
    try:
        size = ctypes.c_size_t(0)
        pointer = lib.dovel_message_data(handle, ctypes.byref(size))
        data = ctypes.string_at(pointer, size.value) if pointer and size.value else b""
        text = _convert.decoded
        return Message(
            id=text(lib.dovel_message_id(handle)),
            name=text(lib.dovel_message_name(handle)),
            data=data,
            auto=bool(lib.dovel_message_auto(handle)),
            priority=int(lib.dovel_message_priority(handle)),
            owner_name=text(lib.dovel_message_owner_name(handle)),
            owner_id=text(lib.dovel_message_owner_id(handle)),
            client_id=text(lib.dovel_message_client_id(handle)),
            next_id=text(lib.dovel_message_next_id(handle)),
            head_id=text(lib.dovel_message_head_id(handle)),
        )
    finally:
        lib.dovel_message_free(handle)


def block_kind(block_id):
    """What the block `block_id` holds, by its layout."""
    key = _convert.identifier(block_id, "block_id")
    kind = ctypes.c_int(0)
    check(lib.dovel_block_kind_of(key, ctypes.byref(kind)), f"block {block_id}")
    try:
        return BlockKind(kind.value)
    except ValueError:
        return BlockKind.UNKNOWN


def sweep():
    """Removes this user's blocks no live process holds any more; returns
    how many went."""
    removed = ctypes.c_int(0)
    check(lib.dovel_sweep(ctypes.byref(removed)))
    return removed.value

