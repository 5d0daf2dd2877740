#!/usr/bin/env python3
"""Reads the virtual tables of the plug-in object and of the inert object out
of the linked DLL and holds them, slot by slot, to the client's CPlugIn
table: the function in each slot, the bytes it pops (its `ret N`: under
__thiscall the callee pops the arguments the client pushed) and, where the
client reads one, what it returns.

The link map (lld-link /map, written beside the DLL) names where each table
starts and which functions sit at an address (identical bodies folded into
one carry every name); the DLL itself gives the slots: the words of the
table that the loader relocates and that point into code, up to the next
symbol. The bodies come from llvm-objdump, following a jump that leaves the
function (a thunk or a tail call).

usage: check_vtables.py --dll DLL --map MAP --objdump LLVM_OBJDUMP
"""
import argparse
import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from pe_image import PeImage  # noqa: E402

# Every argument takes at least one 4-byte stack slot; a class passed by
# value takes its size (host-sdk.md's layouts).
PARAMETER_BYTES = {
    "unsigned int": 4, "int": 4, "bool": 4, "double": 8, "const char *": 4, "char[16]": 4,
    "int *": 4, "COLORREF *": 4, "double *": 4, "POINT": 8, "RECT": 16,
    "CController": 8, "CRadarTarget": 4, "CFlightPlan": 4, "CFlightPlanList": 4,
    "CGrountToAirChannel": 4,
}

# The client's CPlugIn table: (handler, parameters, what the client reads
# back: None for nothing, "null" or "false"). Slot 0 is the scalar deleting
# destructor, which takes the flags word.
SLOTS = [
    ("destructor", ["unsigned int"], None),
    ("OnControllerPositionUpdate", ["CController"], None),
    ("OnControllerDisconnect", ["CController"], None),
    ("OnRadarTargetPositionUpdate", ["CRadarTarget"], None),
    ("OnFlightPlanDisconnect", ["CFlightPlan"], None),
    ("OnFlightPlanFlightPlanDataUpdate", ["CFlightPlan"], None),
    ("OnPlaneInformationUpdate", ["const char *", "const char *", "const char *"], None),
    ("OnFlightPlanControllerAssignedDataUpdate", ["CFlightPlan", "int"], None),
    ("OnFlightPlanFlightStripPushed", ["CFlightPlan", "const char *", "const char *"], None),
    ("OnRadarScreenCreated", ["const char *", "bool", "bool", "bool", "bool"], "null"),
    ("OnCompileCommand", ["const char *"], "false"),
    ("OnCompileFrequencyChat", ["const char *", "double", "const char *"], None),
    ("OnCompilePrivateChat", ["const char *", "const char *", "const char *"], None),
    ("OnGetTagItem", ["CFlightPlan", "CRadarTarget", "int", "int", "char[16]", "int *",
                      "COLORREF *", "double *"], None),
    ("OnRefreshFpListContent", ["CFlightPlanList"], None),
    ("OnNewMetarReceived", ["const char *", "const char *"], None),
    ("OnFunctionCall", ["int", "const char *", "POINT", "RECT"], None),
    ("OnAirportRunwayActivityChanged", [], None),
    ("OnTimer", ["int"], None),
    ("OnVoiceTransmitStarted", ["bool"], None),
    ("OnVoiceTransmitEnded", ["bool"], None),
    ("OnVoiceReceiveStarted", ["CGrountToAirChannel"], None),
    ("OnVoiceReceiveEnded", ["CGrountToAirChannel"], None),
]

CLIENT_BASE = "CPlugIn@EuroScopePlugIn"


class Table:
    def __init__(self, label, cls, own_slots, base_defaults, inert):
        self.label, self.cls = label, cls
        self.symbol = f"??_7{cls}@@6B@"
        self.own_slots = own_slots          # slots that must hold the class's own function
        self.base_defaults = base_defaults  # other slots may hold the client's defaults
        self.inert = inert                  # every slot does nothing but return

    def names(self, slot):
        """The functions that may fill `slot`, as decorated-name prefixes."""
        if slot == 0:
            return [f"??_G{self.cls}@@"]
        handler = SLOTS[slot][0]
        classes = [self.cls] + ([CLIENT_BASE] if self.base_defaults and
                                slot not in self.own_slots else [])
        return [f"?{handler}@{c}@@" for c in classes]


TABLES = [
    Table("the plug-in object", "CBridgePlugIn", own_slots={0, 7}, base_defaults=True,
          inert=False),
    Table("the inert object", "InertPlugIn", own_slots=set(range(len(SLOTS))),
          base_defaults=False, inert=True),
]

# What sets the returned value to null or false; for the inert destructor,
# the `this` that the MSVC ABI's deleting destructor returns.
ZEROING = {"xor eax, eax", "xor al, al", "mov al, 0", "mov eax, 0", "sub eax, eax"}
RETURNS_THIS = {"mov eax, ecx"}


class Pe(PeImage):
    """The image with its exports and the words the loader rebases."""

    def __init__(self, path):
        with open(path, "rb") as f:
            super().__init__(f.read())
        if self.magic != 0x10B:
            sys.exit(f"{path}: not a 32-bit image")
        self.relocated = self._relocations(*(self.directory(5) or (0, 0)))
        self.exports = self._exports(*(self.directory(0) or (0, 0)))

    def _exports(self, rva, size):
        """{name: RVA} of the export table."""
        if not size:
            return {}
        count, functions, names, ordinals = struct.unpack_from("<IIII", self.data,
                                                               self.offset(rva) + 24)
        found = {}
        for i in range(count):
            name_at = self.offset(self.word(names + 4 * i))
            name = self.data[name_at:self.data.index(b"\0", name_at)].decode()
            ordinal = struct.unpack_from("<H", self.data, self.offset(ordinals + 2 * i))[0]
            found[name] = self.word(functions + 4 * ordinal)
        return found

    def _relocations(self, rva, size):
        """RVAs of the 32-bit words the loader rebases."""
        found = set()
        at = self.offset(rva) if size else 0
        end = at + size
        while at < end:
            page, block = struct.unpack_from("<II", self.data, at)
            if block < 8:
                break
            for i in range((block - 8) // 2):
                entry = struct.unpack_from("<H", self.data, at + 8 + 2 * i)[0]
                if entry >> 12 == 3:  # IMAGE_REL_BASED_HIGHLOW
                    found.add(page + (entry & 0xFFF))
            at += block
        return found


class LinkMap:
    """Section lengths and public symbols of an lld-link map."""

    def __init__(self, path):
        self.lengths, self.symbols = {}, {}  # name -> length; rva -> [name]
        with open(path) as f:
            text = f.read()
        base = re.search(r"Preferred load address is ([0-9a-fA-F]+)", text)
        if not base:
            sys.exit(f"{path}: not an lld-link map")
        self.base = int(base.group(1), 16)
        for start, length, name in re.findall(
                r"^ [0-9a-fA-F]{4}:([0-9a-fA-F]{8}) ([0-9a-fA-F]{8})H (\S+)", text, re.M):
            if start == "00000000":
                self.lengths.setdefault(name, int(length, 16))
        for name, address in re.findall(
                r"^ [0-9a-fA-F]{4}:[0-9a-fA-F]{8}\s+(\S+)\s+([0-9a-fA-F]{16})\s", text, re.M):
            self.symbols.setdefault(int(address, 16) - self.base, []).append(name)

    def address_of(self, name):
        found = [rva for rva, names in self.symbols.items() if name in names]
        return found[0] if len(found) == 1 else None

    def next_symbol(self, rva):
        later = [a for a in self.symbols if a > rva]
        return min(later) if later else None


def table_slots(pe, link, start):
    """The target RVA of each slot: relocated words pointing into code, up to
    the next symbol."""
    bound, slots = link.next_symbol(start), []
    at = start
    while (bound is None or at < bound) and at in pe.relocated:
        target = pe.word(at) - pe.base
        if not pe.executable(target):
            break
        slots.append(target)
        at += 4
    return slots


def disassemble(objdump, dll, pe, start, stop):
    """[(rva, mnemonic, operands)] from `start` up to `stop`."""
    out = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-M", "intel",
                          f"--start-address={pe.base + start:#x}",
                          f"--stop-address={pe.base + stop:#x}", dll],
                         capture_output=True, text=True, check=True).stdout
    code = []
    for line in out.splitlines():
        m = re.match(r"\s*([0-9a-f]+):\s+(\S+)\s*(.*)", line)
        if m:
            code.append((int(m.group(1), 16) - pe.base, m.group(2), m.group(3).strip()))
    return code


def returns(objdump, dll, pe, link, start, seen=None):
    """[(rva of the ret, bytes popped, the instructions before it in the
    function)] of the function at `start` and of any function it jumps on
    to; ValueError for a jump that cannot be followed."""
    seen = seen if seen is not None else set()
    if start in seen:
        return []
    seen.add(start)
    text = pe.section(".text")
    stop = link.next_symbol(start) or text.rva + text.virtual_size
    code = disassemble(objdump, dll, pe, start, stop)
    found = []
    for i, (rva, mnemonic, operands) in enumerate(code):
        if mnemonic == "ret":
            before = [f"{m} {o}".strip() for _, m, o in code[:i]]
            found.append((rva, int(operands or "0", 0), before))
        elif mnemonic.startswith("j"):
            target = re.match(r"0x([0-9a-f]+)", operands)
            if not target:
                raise ValueError(f"{mnemonic} {operands} at {pe.base + rva:#x}: an indirect jump")
            target = int(target.group(1), 16) - pe.base
            if not start <= target < stop:
                found += returns(objdump, dll, pe, link, target, seen)
        elif mnemonic == "int3" and found:
            break  # padding after the last return
    return found


def readable(names, cls):
    """`Class::Function` for the decorated names at one address, the
    class's own if it has any there."""
    def short(name):
        destructor = re.match(r"\?\?_G(\w+)@@", name)
        if destructor:
            return f"{destructor.group(1)}::deleting destructor"
        member = re.match(r"\?(\w+)@(\w+)@", name)
        return f"{member.group(2)}::{member.group(1)}" if member else name

    shown = sorted({short(n) for n in names})
    own = [n for n in shown if n.startswith(cls + "::")]
    return ", ".join(own or shown) or "no named function"


def check_table(table, pe, link, objdump, dll):
    failures = []
    start = link.address_of(table.symbol)
    if start is None:
        return [f"{table.label}: no table {table.symbol} in the map"], 0
    slots = table_slots(pe, link, start)
    if len(slots) != len(SLOTS):
        failures.append(f"{table.label}: {len(slots)} slots where the client's table has "
                        f"{len(SLOTS)}")
    for slot, target in enumerate(slots[:len(SLOTS)]):
        handler, parameters, result = SLOTS[slot]
        pops = sum(PARAMETER_BYTES[p] for p in parameters)
        where = f"{table.label} slot {slot} ({handler})"
        names = link.symbols.get(target, [])
        expected = table.names(slot)
        if not any(n.startswith(p) for p in expected for n in names):
            failures.append(f"{where}: holds {readable(names, table.cls)} at "
                            f"{pe.base + target:#x}, not "
                            f"{' or '.join(readable([p], '') for p in expected)}")
        try:
            rets = returns(objdump, dll, pe, link, target)
        except ValueError as error:
            failures.append(f"{where}: {error}")
            continue
        if not rets:
            failures.append(f"{where}: no ret found")
        for rva, popped, before in rets:
            if popped != pops:
                failures.append(f"{where}: ret {popped} at {pe.base + rva:#x}, the client "
                                f"pushes {pops} bytes")
            last = before[-1] if before else ""
            if result and last not in ZEROING:
                failures.append(f"{where}: returns after `{last}`, not {result}" if last else
                                f"{where}: returns without setting a value, not {result}")
            allowed = ZEROING if result else RETURNS_THIS if slot == 0 else set()
            if table.inert and any(i not in allowed for i in before):
                failures.append(f"{where}: does more than return: {'; '.join(before)}")
    return failures, len(slots)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--dll", "--map", "--objdump"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    pe, link = Pe(args.dll), LinkMap(args.map)
    # A map left from another link would name the wrong addresses.
    text = pe.section(".text")
    if (text is None or link.lengths.get(".text") != text.virtual_size or link.base != pe.base
            or not pe.exports
            or any(link.address_of(n) != rva for n, rva in pe.exports.items())):
        sys.exit(f"{args.map} does not describe {args.dll}: link them again")
    failures = []
    for table in TABLES:
        found, count = check_table(table, pe, link, args.objdump, args.dll)
        print(f"{table.label}: {table.symbol}, {count} slots compared with the client's "
              f"{len(SLOTS)} (function, bytes popped{', body' if table.inert else ''}, "
              f"null or false where read)")
        failures += found
    for failure in failures:
        print("MISMATCH " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
