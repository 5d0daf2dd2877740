"""A PE file's headers and sections, read with the standard library only, so
that a test sees what Windows' loader sees without trusting the tool chain
that wrote the file."""

import struct
from collections import namedtuple

IMAGE_SCN_MEM_EXECUTE = 0x20000000

Section = namedtuple("Section", "name rva virtual_size raw_size raw_offset flags")


class PEFormatError(ValueError):
    pass


def unpack(fmt, data, offset):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise PEFormatError(f"truncated: {size} bytes wanted at {offset:#x}, file has {len(data)}")
    return struct.unpack_from(fmt, data, offset)


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PEFormatError("no MZ signature")
        (pe_offset,) = unpack("<I", data, 0x3C)
        if data[pe_offset:pe_offset + 4] != b"PE\0\0":
            raise PEFormatError(f"no PE signature at {pe_offset:#x}")
        coff = pe_offset + 4
        _, sections, _, _, _, optional_size, _ = unpack("<HHIIIHH", data, coff)
        optional = coff + 20
        (self.magic,) = unpack("<H", data, optional)
        (self.entry,) = unpack("<I", data, optional + 16)
        if self.magic == 0x10B:
            (self.base,) = unpack("<I", data, optional + 28)
            self._directories = optional + 96
        elif self.magic == 0x20B:
            (self.base,) = unpack("<Q", data, optional + 24)
            self._directories = optional + 112
        else:
            raise PEFormatError(f"unknown optional header magic {self.magic:#x}")
        (self._directory_count,) = unpack("<I", data, self._directories - 4)
        self.sections = []
        table = optional + optional_size
        for index in range(sections):
            name, virtual_size, rva, raw_size, raw_offset, _, _, _, _, flags = unpack(
                "<8sIIIIIIHHI", data, table + 40 * index)
            self.sections.append(Section(name.rstrip(b"\0").decode("latin-1"), rva,
                                         virtual_size, raw_size, raw_offset, flags))

    def directory(self, index):
        """(rva, size) of data directory `index`; None when the header has
        fewer directories."""
        if index >= self._directory_count:
            return None
        return unpack("<II", self.data, self._directories + 8 * index)

    def section(self, name):
        return next((s for s in self.sections if s.name == name), None)

    def offset(self, rva, length=1):
        """File offset of `length` bytes at `rva`; they must lie in one
        section's raw data (not in zero-filled virtual space)."""
        for s in self.sections:
            if s.rva <= rva < s.rva + max(s.virtual_size, s.raw_size):
                if rva + length > s.rva + s.raw_size:
                    raise PEFormatError(f"rva {rva:#x}+{length} runs past section {s.name!r} data")
                return s.raw_offset + rva - s.rva
        raise PEFormatError(f"rva {rva:#x} lies in no section")

    def word(self, rva):
        return unpack("<I", self.data, self.offset(rva, 4))[0]

    def text(self, rva):
        """The NUL-terminated bytes at `rva`."""
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise PEFormatError(f"text at rva {rva:#x} runs to the end of the file")
        return self.data[start:end]

    def export(self, name):
        """RVA of the export named `name` (bytes), from the export directory."""
        directory = self.directory(0)
        if not directory or not directory[0]:
            raise PEFormatError("no export directory")
        _, _, _, _, _, _, _, count, functions, names, ordinals = unpack(
            "<IIHHIIIIIII", self.data, self.offset(directory[0], 40))
        for index in range(count):
            if self.text(self.word(names + 4 * index)) == name:
                (ordinal,) = unpack("<H", self.data, self.offset(ordinals + 2 * index, 2))
                return self.word(functions + 4 * ordinal)
        raise PEFormatError(f"no export named {name!r}")

    def executable(self, rva):
        return any(s.rva <= rva < s.rva + s.virtual_size and s.flags & IMAGE_SCN_MEM_EXECUTE
                   for s in self.sections)
