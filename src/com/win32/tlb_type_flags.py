#!/usr/bin/python3
"""Sets type flags in a compiled type library (the MSFT format widl writes).

widl refuses `nonextensible` on a dispinterface, yet the event interface is
published hidden and not extensible. This adds the missing flag bits to one
type, found by its GUID, after widl has written the library and before it is
embedded:

    tlb_type_flags.py LIBRARY.tlb {GUID} FLAGS      (FLAGS: a number, 0x80)

It fails, and leaves the file as it was, when the file is no type library
of that format or holds no type with that GUID.
"""

import struct
import sys
import uuid

HEADER = struct.Struct("<4s i i i i i i i i i i i i i i i i i i i i")  # 0x54 bytes
HELP_DLL_FLAG = 0x100
SEGMENT = struct.Struct("<i i i i")
TYPEINFO_SIZE = 0x64
TYPEINFO_POSGUID = 0x2C
TYPEINFO_FLAGS = 0x30
GUID_ENTRY_SIZE = 24


def main(path, guid_text, flags_text):
    wanted = uuid.UUID(guid_text.strip("{}")).bytes_le
    flags = int(flags_text, 0)
    data = bytearray(open(path, "rb").read())
    header = HEADER.unpack_from(data, 0)
    if header[0] != b"MSFT":
        sys.exit(f"{path}: not a type library widl writes (no MSFT header)")
    varflags, count = header[5], header[8]
    position = HEADER.size + (4 if varflags & HELP_DLL_FLAG else 0)
    position += 4 * count  # the typeinfos' offsets
    segments = [SEGMENT.unpack_from(data, position + i * SEGMENT.size) for i in range(15)]
    typeinfos, guids = segments[0][0], segments[5][0]
    for index in range(count):
        base = typeinfos + index * TYPEINFO_SIZE
        (posguid,) = struct.unpack_from("<i", data, base + TYPEINFO_POSGUID)
        if posguid < 0 or guids + posguid + GUID_ENTRY_SIZE > len(data):
            continue
        if bytes(data[guids + posguid : guids + posguid + 16]) != wanted:
            continue
        (current,) = struct.unpack_from("<i", data, base + TYPEINFO_FLAGS)
        struct.pack_into("<i", data, base + TYPEINFO_FLAGS, current | flags)
        open(path, "wb").write(data)
        return
    sys.exit(f"{path}: no type with GUID {guid_text}")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
