"""Reads the version resource of a PE file (DLL or EXE) with the standard
library only, so a test can see what Windows shows in the file's
properties without trusting the tool chain that wrote it.

    python3 pe_version.py ZeltanDokBridge.dll
"""

import struct
import sys
from dataclasses import dataclass, field

from pe_image import PEFormatError, PeImage, unpack

RT_VERSION = 16
DATA_DIRECTORY_RESOURCE = 2
FIXED_SIGNATURE = 0xFEEF04BD
SUBDIRECTORY = 0x80000000


@dataclass
class VersionInfo:
    file_version: tuple  # (major, minor, build, revision) from VS_FIXEDFILEINFO
    product_version: tuple
    file_flags: int
    file_os: int
    file_type: int
    strings: dict  # {string table key, e.g. "040904b0": {name: value}}
    translations: list = field(default_factory=list)  # [(language, code page)]
    data_rva: int = 0  # where the resource data sits, for cross-checks
    data_size: int = 0
    language: int = 0  # the resource's language entry

    def string(self, name):
        """`name` from the first string table that has it, else None."""
        for table in self.strings.values():
            if name in table:
                return table[name]
        return None


def _align4(offset):
    return (offset + 3) & ~3


def _directory_entries(data, base, offset):
    """[(id or name offset, is_named, target offset, is_subdirectory)]."""
    _, _, _, _, named, numbered = unpack("<IIHHHH", data, base + offset)
    entries = []
    for index in range(named + numbered):
        name, target = unpack("<II", data, base + offset + 16 + 8 * index)
        entries.append((name & 0x7FFFFFFF, bool(name & 0x80000000), target & 0x7FFFFFFF,
                        bool(target & SUBDIRECTORY)))
    return entries


def _version_resource(image):
    """(rva, size, language) of the first RT_VERSION resource."""
    resources = image.directory(DATA_DIRECTORY_RESOURCE)
    if resources is None:
        raise PEFormatError("no resource data directory")
    if resources[0] == 0:
        raise PEFormatError("no resources")
    data = image.data
    base = image.offset(resources[0], 16)
    for type_id, named, target, nested in _directory_entries(data, base, 0):
        if named or type_id != RT_VERSION:
            continue
        if not nested:
            raise PEFormatError("RT_VERSION entry is not a directory")
        for _, _, name_target, name_nested in _directory_entries(data, base, target):
            if not name_nested:
                raise PEFormatError("version name entry is not a directory")
            for language, _, leaf, leaf_nested in _directory_entries(data, base, name_target):
                if leaf_nested:
                    raise PEFormatError("version language entry is a directory")
                rva, size, _, _ = unpack("<IIII", data, base + leaf)
                return rva, size, language
    raise PEFormatError("no RT_VERSION resource")


def _utf16z(data, start, end):
    """UTF-16LE text from `start` up to its NUL (or `end`), and the offset
    after the NUL."""
    position = start
    while position + 1 < end and data[position:position + 2] != b"\0\0":
        position += 2
    if position + 1 >= end:
        raise PEFormatError(f"unterminated text at {start:#x}")
    return data[start:position].decode("utf-16-le"), position + 2


@dataclass
class _Block:
    key: str
    value_type: int  # 1 text, 0 binary
    value: bytes
    children: list


def _block(data, offset, end):
    """One VS_VERSIONINFO-style node: length, value length, type, key,
    value, children, each start on a 4-byte boundary."""
    length, value_length, value_type = unpack("<HHH", data, offset)
    block_end = offset + length
    if length < 6 or block_end > end:
        raise PEFormatError(f"block at {offset:#x} of length {length} overruns its parent")
    key, position = _utf16z(data, offset + 6, block_end)
    position = _align4(position)
    # Text values count UTF-16 units, binary ones bytes.
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[position:min(position + value_bytes, block_end)]
    position = _align4(position + value_bytes)
    children = []
    while position < block_end:
        child, position = _block(data, position, block_end)
        children.append(child)
        position = _align4(position)
    return _Block(key, value_type, value, children), block_end


def _text(value):
    return value.decode("utf-16-le").split("\0", 1)[0]


def read_version_info(path_or_bytes):
    data = path_or_bytes
    if not isinstance(data, (bytes, bytearray)):
        with open(path_or_bytes, "rb") as handle:
            data = handle.read()
    image = PeImage(data)
    rva, size, language = _version_resource(image)
    start = image.offset(rva, size)
    root, _ = _block(data, start, start + size)
    if root.key != "VS_VERSION_INFO":
        raise PEFormatError(f"version resource key is {root.key!r}")
    if len(root.value) < 52:
        raise PEFormatError("no VS_FIXEDFILEINFO")
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, flags, file_os, file_type,
     _, _, _) = struct.unpack_from("<13I", root.value)
    if signature != FIXED_SIGNATURE:
        raise PEFormatError(f"VS_FIXEDFILEINFO signature {signature:#x}")

    def four(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings = {}
    translations = []
    for child in root.children:
        if child.key == "StringFileInfo":
            for table in child.children:
                strings[table.key] = {entry.key: _text(entry.value) for entry in table.children}
        elif child.key == "VarFileInfo":
            for var in child.children:
                if var.key == "Translation":
                    for index in range(0, len(var.value) - 3, 4):
                        translations.append(struct.unpack_from("<HH", var.value, index))
    return VersionInfo(file_version=four(file_ms, file_ls),
                       product_version=four(product_ms, product_ls), file_flags=flags,
                       file_os=file_os, file_type=file_type, strings=strings,
                       translations=translations, data_rva=rva, data_size=size,
                       language=language)


def main(argv):
    status = 0
    for path in argv[1:]:
        try:
            info = read_version_info(path)
        except (OSError, PEFormatError) as error:
            print(f"{path}: {error}")
            status = 1
            continue
        print(f"{path}: resource at RVA {info.data_rva:#x}, {info.data_size} bytes, "
              f"language {info.language}")
        print("  FileVersion (fixed):    " + ".".join(map(str, info.file_version)))
        print("  ProductVersion (fixed): " + ".".join(map(str, info.product_version)))
        for key, table in info.strings.items():
            print(f"  StringTable {key}:")
            for name, value in table.items():
                print(f"    {name} = {value}")
        print(f"  Translation: {info.translations}")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
