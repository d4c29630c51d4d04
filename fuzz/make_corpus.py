#!/usr/bin/python3
"""Writes the seed corpus, fuzz/corpus/<harness>/: small well-formed inputs
and a few near misses for each harness. Run it after changing an input
format; the files it writes are kept in the repository."""

import pathlib
import shutil
import struct

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"
BLOCK = 1024

# Offsets in a message block; they never change.
GUID, NAME, PRIORITY, AUTO, DATA = 0, 76, 178, 180, 182
OWNER_NAME, OWNER_GUID, CLIENT_GUID, NEXT, HEAD = 440, 542, 618, 694, 770


def ident(index):
    """The identifier of a harness's index-th block (see fuzz_blocks.cpp)."""
    text = "{0F0E0D0C-0B0A-4909-8807-06050403020X}"
    return text[:36] + str(index % 10) + text[37:]


def units(text):
    return text.encode("utf-16-le")


def message(guid, next_guid, head_guid, name="Hello", data=b"\x01\x02\x03", counts=None):
    block = bytearray(BLOCK)
    counts = counts or {}

    def put(offset, raw):
        block[offset:offset + len(raw)] = raw

    put(GUID, units(guid))
    put(NAME, struct.pack("<h", counts.get("name", 2 * len(name))) + units(name))
    put(PRIORITY, struct.pack("<h", 5))
    put(AUTO, struct.pack("<h", -1))
    put(DATA, struct.pack("<h", counts.get("data", len(data))) + data)
    put(OWNER_NAME, struct.pack("<h", 12) + units("Poster"))
    put(OWNER_GUID, units(ident(8)))
    put(CLIENT_GUID, units(ident(9)))
    put(NEXT, units(next_guid))
    put(HEAD, units(head_guid))
    return bytes(block)


def args(*words):
    return b"\0".join(w if isinstance(w, bytes) else w.encode() for w in words)


def seeds():
    me, head = ident(0), ident(1)
    yield "message_read_fuzzer", [
        message(me, head, head),                    # last of its list; the head's first is it
        message(me, me, head),                      # links to itself
        message(head, ident(7), head),              # a link to no block
        message(me, head, head, counts={"name": -5, "data": 300}),
        message(me, head, head, name="Odd", counts={"name": 7, "data": 0x7FFF}),
        bytes(BLOCK),
    ]

    list_head = ident(0)

    def walk(first, *blocks):
        return units(first) + b"".join(blocks)

    yield "list_walk_fuzzer", [
        walk(list_head),                                                  # empty list
        walk(ident(1), message(ident(1), list_head, list_head)),           # one message
        walk(ident(1), message(ident(1), ident(2), list_head),
             message(ident(2), ident(3), list_head), message(ident(3), list_head, list_head)),
        walk(ident(1), message(ident(1), ident(2), list_head),             # a loop
             message(ident(2), ident(1), list_head)),
        walk(ident(1), message(ident(1), ident(7), list_head)),            # a link to no block
        walk(ident(1), message(ident(1), ident(5), ident(5))),             # ends at another head
        walk(ident(1), message(ident(2), ident(2), list_head),             # two blocks, one identifier
             message(ident(2), list_head, list_head)),
    ]

    latin1 = [b"500", b" 12.5 ", b"\t-1", b"1e5", b"2.5", b"-32768.5", b"65536", b"1,5", b"+3.E-2",
              b"1e-400", b"9" * 40 + b"e300", b"abc", b"", b"." + b"0" * 400 + b"6512"]
    wide = ["\uff15\uff10", "7\u00a0", "\ud800"]
    yield "settings_number_fuzzer", [b"\0" + t for t in latin1] + [
        b"\1" + w.encode("utf-16-le", "surrogatepass") for w in wide]

    def settings(flags, poll, warning):
        return bytes([flags, len(poll)]) + poll + warning

    yield "settings_init_fuzzer", [
        settings(0x13, b"500\0", b"5\0"),
        settings(0x13, b" 250.5 ", b"-1"),
        settings(0x13, b"abc", b"99999"),
        settings(0x10, b"", b""),                    # nothing stored: the defaults are written
        settings(0x5F, b"\x01\x02", b"\xff"),        # binary values, writes refused
        settings(0x33, b"0", b"5"),                  # the error object refuses everything
        settings(0x03, b"1e3", b"2.5"),              # no error-logging class
    ]

    def variant(kind, payload=b""):
        return bytes([kind]) + payload

    yield "conversions_fuzzer", [
        variant(0), variant(1), variant(2, struct.pack("<h", -7)), variant(3, struct.pack("<h", 300)),
        variant(4), variant(5, struct.pack("<i", 70000)), variant(6, struct.pack("<d", 2.5)),
        variant(6, struct.pack("<d", float("nan"))), variant(6, struct.pack("<d", -32768.5)),
        variant(7, struct.pack("<d", 1e300)), variant(8, b"\1"), variant(9, b"ab"), variant(10),
    ]

    yield "text_fuzzer", [
        "héllo wörld".encode(), "\U0001F600".encode(), b"\xff\xfe\xc0\xaf", b"\xed\xa0\x80",
        "Dovel\U0001F600".encode("utf-16-le"), b"\x00\xd8A\x00", b"Global\\Name",
    ]

    yield "date_fuzzer", [struct.pack("<d", v) for v in (
        0.0, 1.5, -1.25, -0.5, 45000.75, 2958465.99999, 2958466.0, -657434.0, -657435.5,
        float("nan"), float("inf"), 1e300)]

    yield "block_args_fuzzer", [
        args("create", "Block"), args("open", "Block"), args("read", "Block", "0", "1024"),
        args("read", "Block", "1024", "1"), args("write", "Block", "10", "abCD09"),
        args("write", "Block", "1023", "0102"), args("hold", "--create", "Block"), args("hold", "--create"),
        args("sweep"), args("read", "Block", "-1", "+2"),
    ]

    yield "reg_args_fuzzer", [
        args("get", "HKLM\\Software\\Ostrel\\Vimra\\Communications", "StandardPollRate"),
        args("set", "HKEY_LOCAL_MACHINE\\Software\\Ostrel\\Vimra\\Setup", "WarningLevel", "5"),
        args("set", "hkcu\\K", "Nom", "h\u00e9\u4e2d".encode()), args("list", "HKCU"),
        args("delete", "BOGUS\\x", "y"), args("list", "HKLM\\\\x"), args("get", b"HKLM\\\xff\xfe", b"\xc3"),
        args("list"),
    ]


def main():
    for harness, inputs in seeds():
        folder = ROOT / harness
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for number, data in enumerate(inputs):
            (folder / f"seed-{number:02d}").write_bytes(data)


if __name__ == "__main__":
    main()
