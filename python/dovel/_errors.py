"""Result codes and the exception that carries them."""

import enum

from ._native import lib


class Result(enum.IntEnum):
    """dovel_result."""

    OK = 0
    EMPTY = 1
    INVALID_ARGUMENT = 2
    BAD_IDENTIFIER = 3
    NOT_FOUND = 4
    ALREADY_EXISTS = 5
    ACCESS_DENIED = 6
    TIMEOUT = 7
    BROKEN_CHAIN = 8
    TOO_LONG = 9
    BAD_TEXT = 10
    NO_RESOURCES = 11
    WRONG_KIND = 12
    SYSTEM_ERROR = 13
    NO_SERVER = 14
    NO_OBJECT = 15
    NOT_OWNER = 16
    BUS_ERROR = 17


def as_result(code):
    """The Result for `code`; a code a newer library added stays an int."""
    try:
        return Result(code)
    except ValueError:
        return int(code)


def result_text(result):
    """The library's short English description of `result`."""
    text = lib.dovel_result_text(int(result))
    return text.decode("utf-8", "replace") if text else f"result {int(result)}"


class Error(Exception):
    """A call into the queue failed.

    ``result`` is the Result (an int for a code this package does not know),
    ``text`` the library's description of it, ``system_code`` the system's
    own code behind the failure (0 when there was none) and ``detail`` what
    this package adds about the call, or None.
    """

    def __init__(self, result, system_code=0, detail=None):
        self.result = as_result(result)
        self.text = result_text(self.result)
        self.system_code = system_code
        self.detail = detail
        super().__init__(self.result, self.text, system_code, detail)

    def __str__(self):
        name = self.result.name if isinstance(self.result, Result) else str(self.result)
        parts = [f"{name}: {self.text}"]
        if self.detail:
            parts.append(self.detail)
        if self.system_code:
            parts.append(f"system code {self.system_code}")
        return "; ".join(parts)


def check(code, detail=None):
    """Raises Error unless `code` is OK. The system code is read at once, on
    the calling thread, as the library keeps it per thread."""
    if code != Result.OK:
        raise Error(code, lib.dovel_last_system_code(), detail)
