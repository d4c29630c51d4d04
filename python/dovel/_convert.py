"""Python values to the library's NUL-terminated UTF-8 and back.

Whatever cannot cross that boundary unchanged is refused here: a U+0000
would cut the text short, and a lone surrogate has no UTF-8 form.
"""

from ._errors import Error, Result


def identifier(value, what="identifier"):
    """An identifier as the library takes it (ASCII bytes)."""
    if not isinstance(value, str):
        raise TypeError(f"{what} must be str, not {type(value).__name__}")
    # An identifier is ASCII; anything else is refused before it can be
    # shortened or re-encoded into something that happens to be valid.
    if "\0" in value or not value.isascii():
        raise Error(Result.BAD_IDENTIFIER, detail=f"{what} {value!r}")
    return value.encode("ascii")


def optional_identifier(value, what):
    return None if value is None else identifier(value, what)


def text(value, what):
    """A name as UTF-8; None stays None (no name)."""
    if value is None:
        return None
    if not isinstance(value, str):
        raise TypeError(f"{what} must be str, not {type(value).__name__}")
    if "\0" in value:
        raise Error(Result.BAD_TEXT, detail=f"{what} holds U+0000")
    try:
        return value.encode("utf-8")
    except UnicodeEncodeError as failure:
        raise Error(Result.BAD_TEXT, detail=f"{what} holds a lone surrogate at {failure.start}") from None


def data(value):
    """A message's data as bytes: any bytes-like object, None for none."""
    if value is None:
        return b""
    if isinstance(value, str):
        raise TypeError("data must be bytes-like, not str (encode it first)")
    # memoryview refuses ints, which bytes() would turn into zeros.
    return memoryview(value).tobytes()


def bound(value):
    """A walk's bound: a count, 0 for the library's default."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"max_messages must be int, not {type(value).__name__}")
    # size_t would wrap a negative number into a huge bound.
    if value < 0 or value >= 1 << 63:
        raise Error(Result.INVALID_ARGUMENT, detail=f"max_messages {value} out of range")
    return value


def decoded(raw):
    """The library's UTF-8 (valid by its contract) as str; NULL reads as ""."""
    return raw.decode("utf-8", "replace") if raw else ""
