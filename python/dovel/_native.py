"""Finding libdovel-client and declaring its functions for ctypes.

Nothing here is public: the rest of the package calls ``lib`` and turns
its results into Python values and exceptions.
"""

import ctypes
import ctypes.util
import os
import sys

# Mirrors of the header's constants.
LAYOUT_VERSION = 1
ID_LENGTH = 38
ID_BUFFER = 39
NAME_MAX_UNITS = 50
DATA_MAX_BYTES = 256
WALK_DEFAULT_MAX = 100000

ENVIRONMENT_VARIABLE = "DOVEL_CLIENT_LIBRARY"

if sys.platform == "win32":
    _FILE_NAMES = ("libdovel-client.dll", "dovel-client.dll")
elif sys.platform == "darwin":
    _FILE_NAMES = ("libdovel-client.dylib",)
else:
    _FILE_NAMES = ("libdovel-client.so",)


class QueueHandle(ctypes.Structure):
    """dovel_queue: opaque."""


class ListHandle(ctypes.Structure):
    """dovel_list: opaque."""


class MessageHandle(ctypes.Structure):
    """dovel_message: opaque."""


_QUEUE = ctypes.POINTER(QueueHandle)
_LIST = ctypes.POINTER(ListHandle)
_MESSAGE = ctypes.POINTER(MessageHandle)
# Output buffers go in as pointers so that only buffers the package sized
# (ID_BUFFER bytes) are ever handed over.
_OUT_TEXT = ctypes.POINTER(ctypes.c_char)
_TEXT = ctypes.c_char_p
_RESULT = ctypes.c_int
_SIZE = ctypes.c_size_t

# name: (restype, argtypes)
_SIGNATURES = {
    "dovel_result_text": (_TEXT, [_RESULT]),
    "dovel_last_system_code": (ctypes.c_int32, []),
    "dovel_queue_open": (_RESULT, [_TEXT, _TEXT, _TEXT, ctypes.POINTER(_QUEUE)]),
    "dovel_queue_close": (None, [_QUEUE]),
    "dovel_queue_post": (_RESULT, [_QUEUE, _TEXT, ctypes.c_void_p, _SIZE, ctypes.c_int, _OUT_TEXT]),
    "dovel_queue_take": (_RESULT, [_QUEUE, _OUT_TEXT]),
    "dovel_queue_mark_last_sent": (_RESULT, [_QUEUE, _TEXT]),
    "dovel_queue_length": (_RESULT, [_QUEUE, ctypes.POINTER(_SIZE)]),
    "dovel_queue_waiting": (_RESULT, [_QUEUE, ctypes.POINTER(_SIZE)]),
    "dovel_queue_list_id": (_RESULT, [_QUEUE, ctypes.c_int, _OUT_TEXT]),
    "dovel_list_read": (_RESULT, [_TEXT, _SIZE, ctypes.POINTER(_LIST)]),
    "dovel_list_status": (_RESULT, [_LIST]),
    "dovel_list_count": (_SIZE, [_LIST]),
    "dovel_list_id": (_TEXT, [_LIST, _SIZE]),
    "dovel_list_free": (None, [_LIST]),
    "dovel_message_read": (_RESULT, [_TEXT, ctypes.POINTER(_MESSAGE)]),
    "dovel_message_id": (_TEXT, [_MESSAGE]),
    "dovel_message_name": (_TEXT, [_MESSAGE]),
    "dovel_message_data": (ctypes.POINTER(ctypes.c_uint8), [_MESSAGE, ctypes.POINTER(_SIZE)]),
    "dovel_message_auto": (ctypes.c_int, [_MESSAGE]),
    "dovel_message_priority": (ctypes.c_int16, [_MESSAGE]),
    "dovel_message_owner_name": (_TEXT, [_MESSAGE]),
    "dovel_message_owner_id": (_TEXT, [_MESSAGE]),
    "dovel_message_client_id": (_TEXT, [_MESSAGE]),
    "dovel_message_next_id": (_TEXT, [_MESSAGE]),
    "dovel_message_head_id": (_TEXT, [_MESSAGE]),
    "dovel_message_free": (None, [_MESSAGE]),
    "dovel_block_kind_of": (_RESULT, [_TEXT, ctypes.POINTER(ctypes.c_int)]),
    "dovel_sweep": (_RESULT, [ctypes.POINTER(ctypes.c_int)]),
}


def _candidates():
    """Where to look, in order, as (description, path or name)."""
    explicit = os.environ.get(ENVIRONMENT_VARIABLE)
    if explicit:
        # A path the user gave is the only one tried: falling back to another
        # copy would hide a mistake.
        return [(ENVIRONMENT_VARIABLE, explicit)]
    here = os.path.dirname(os.path.abspath(__file__))
    found = [("next to the package", os.path.join(here, name)) for name in _FILE_NAMES]
    found = [(where, path) for where, path in found if os.path.isfile(path)]
    system = ctypes.util.find_library("dovel-client")
    if system:
        found.append(("the system's library path", system))
    return found


def _load():
    tried = []
    for where, path in _candidates():
        try:
            library = ctypes.CDLL(path)
        except OSError as failure:
            tried.append(f"{path} ({where}): {failure}")
            continue
        missing = [name for name in _SIGNATURES if not hasattr(library, name)]
        if missing:
            tried.append(f"{path} ({where}): not a matching libdovel-client, lacks {', '.join(missing)}")
            continue
        for name, (restype, argtypes) in _SIGNATURES.items():
            function = getattr(library, name)
            function.restype = restype
            function.argtypes = argtypes
        return library
    detail = "; ".join(tried) if tried else "no copy found"
    raise ImportError(
        f"dovel: cannot load libdovel-client ({detail}). Set {ENVIRONMENT_VARIABLE} to the path of "
        f"{_FILE_NAMES[0]}, install it into the dovel package directory, or install it where the "
        "system's loader finds it (ldconfig)."
    )


lib = _load()
