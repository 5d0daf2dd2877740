#!/usr/bin/env python3
"""Checks one of our hand-written Windows headers, and the .def files of its
functions, against mingw-w64's headers and import libraries.

Every declaration written in the header itself (not in what it includes) is
compared; the expected values come from mingw-w64, never from our header:
  - struct or union: size, alignment, each field's offset and size (fields
    of nested structs too), and every value macro or constant (constexpr or
    const): value and size: mingw's gcc against mingw's headers;
  - typedef or using, each field of a struct, and every function's arity,
    return type and parameter types: the type (class, size, signedness,
    what a pointer points to, an array's length, a function pointer's
    return and parameter types): clang for the mingw target against
    mingw's headers, as C has no way to name a parameter's type;
  - every function's decorated name (_Name@N) from both headers; every .def
    entry's @N against mingw's import libraries and against the decorated
    name of the header's function, which must have an entry.
Each compiler writes the values into a data section of an object file, read
back here; nothing is run.

The check fails, naming the declaration, on a form it cannot compare (an
enum, a function-like macro, a variable that is no constant, a struct
without a definition, a function with a body...), on a comparison where
either side has nothing, on a declaration no value was compared for, and on
a header or .def file in which it finds nothing.

usage: check_declarations.py --clang CXX --gcc GCC --nm NM --header FILE
                             --mingw HEADER [--mingw HEADER...]
                             [--mingw-define -DNAME...]
                             [--def FILE...] -- PRODUCT_FLAGS...
"""
import argparse
import json
import os
import re
import struct
import subprocess
import sys
import tempfile

SECTION = ".zdbvals"

# What a macro may expand to and still be no value: the calling convention
# and the import marker, held by each function's type and decorated name.
MARKER_TOKENS = {"__stdcall", "__cdecl", "__declspec(dllimport)"}

# A type as one number, the same code on both sides. A scalar is its type
# class (1 integer, 5 pointer, 12 struct), size and signedness; a pointer
# also carries what it points to (const dropped), one base-10000 digit per
# level; a stdcall function type folds its return and parameter types into
# one number; any other function type fails to compile.
TYPES_PRELUDE = """\
template <class T> struct zdb_type {
    static constexpr unsigned long long shape() {
        constexpr unsigned long long kind = __builtin_classify_type(T());
        if constexpr (kind == 1) return kind * 1000u + sizeof(T) * 10u + (T(-1) < T(1));
        else return kind * 1000u + sizeof(T) * 10u;
    }
};
template <> struct zdb_type<void> { static constexpr unsigned long long shape() { return 0; } };
template <class T> struct zdb_type<const T> : zdb_type<T> {};
template <class T> struct zdb_type<volatile T> : zdb_type<T> {};
template <class T> struct zdb_type<const volatile T> : zdb_type<T> {};
template <class T, unsigned long N> struct zdb_type<T[N]> {
    static constexpr unsigned long long shape() {
        return (zdb_type<T>::shape() ^ N) * 1099511628211ull;
    }
};
template <class T> struct zdb_type<T *> {
    static constexpr unsigned long long shape() { return 5040u + 10000u * zdb_type<T>::shape(); }
};
template <class R, class... A> struct zdb_type<R __stdcall(A...)> {
    static constexpr unsigned long long shape() {
        const unsigned long long shapes[] = {zdb_type<R>::shape(), zdb_type<A>::shape()...};
        unsigned long long folded = 1469598103934665603ull;
        for (unsigned long long s : shapes) folded = (folded ^ s) * 1099511628211ull;
        return folded;
    }
    static constexpr unsigned long long arity() { return sizeof...(A); }
    static constexpr unsigned long long returns() { return zdb_type<R>::shape(); }
    template <unsigned I> static constexpr unsigned long long parameter() {
        constexpr unsigned long long shapes[] = {zdb_type<A>::shape()...};
        return shapes[I];
    }
};
// Deduced through a pointer, which drops what is not part of the calling
// sequence (mingw marks FreeLibraryAndExitThread noreturn).
template <class R, class... A> zdb_type<R __stdcall(A...)> zdb_signature(R(__stdcall *)(A...));
"""
# Our `void *` is a pointer we never look through (security attributes,
# overlapped I/O: always null; a lock's debug information: Windows' own);
# any pointer on mingw's side matches it, as a parameter or a field.
VOID_POINTER = 5040


class CompileFailed(Exception):
    pass


def run(cmd):
    result = subprocess.run(cmd, capture_output=True, text=True)
    if result.returncode != 0:
        raise CompileFailed(f"{' '.join(cmd)}\n{result.stdout}{result.stderr}")
    return result.stdout


class Ledger:
    """Each declaration found, with how many values were compared for it."""

    def __init__(self):
        self.checks, self.refused, self.categories, self.failures = {}, set(), {}, []

    def refuse(self, declaration, why):
        self.checks.setdefault(declaration, 0)
        self.refused.add(declaration)
        self.failures.append(f"UNCHECKED {declaration}: {why}")

    def compare(self, declaration, category, label, expected, actual, same=None,
                sides=("mingw-w64", "ours")):
        self.checks[declaration] = self.checks.get(declaration, 0) + 1
        self.categories[category] = self.categories.get(category, 0) + 1
        # Nothing on either side is no match, nothing on both sides neither.
        if expected is None or actual is None or not (
                same(expected, actual) if same else expected == actual):
            shown = ["nothing" if v is None else v for v in (expected, actual)]
            self.failures.append(f"MISMATCH {label}: {sides[0]} {shown[0]}, {sides[1]} {shown[1]}")

    def report(self, header):
        for declaration, count in self.checks.items():
            if count == 0 and declaration not in self.refused:
                self.failures.append(f"UNCHECKED {declaration}: found, nothing compared")
        for category, count in self.categories.items():
            print(f"{count:4d} {category}")
        print(f"{sum(self.categories.values()):4d} values compared for "
              f"{len(self.checks)} declarations of {header} and its .def files")
        for failure in self.failures:
            print(failure)
        return 1 if self.failures else 0


def same_file(a, b):
    return os.path.realpath(a) == os.path.realpath(b)


def written_in(node, probe):
    """Whether the probe's one #include brought `node` in directly, that is
    the node is written in the header and not in a file the header includes."""
    loc = node.get("loc", {})
    loc = loc.get("expansionLoc", loc)
    includer = loc.get("includedFrom", {}).get("file")
    return includer is not None and same_file(includer, probe)


def header_nodes(compile_probe, probe, header):
    ast = json.loads(compile_probe(f'#include "{header}"\n',
                                   "-fsyntax-only", "-Xclang", "-ast-dump=json"))
    nodes = []
    for node in ast["inner"]:
        if not written_in(node, probe):
            continue
        # Declarations inside extern "C" { } count as top-level ones.
        nodes += node.get("inner", []) if node["kind"] == "LinkageSpecDecl" else [node]
    return nodes


def header_macros(compile_probe, header):
    """{name: (parameters or None, expansion)} of the macros the header
    itself defines, from the preprocessor's output with its line markers."""
    current, found = None, {}
    for line in compile_probe(f'#include "{header}"\n', "-E", "-dD").splitlines():
        marker = re.match(r'# \d+ "(.*)"', line)
        if marker:
            current = marker.group(1)
            continue
        define = re.match(r"#define (\w+)(\([^)]*\))? ?(.*)", line)
        if define and current and not current.startswith("<") and same_file(current, header):
            found[define.group(1)] = (define.group(2), define.group(3).strip())
    return found


def nested_record(field, record):
    """Whether `field` has the type of the struct written just before it."""
    if record is None:
        return False
    written = re.sub(r"^(struct|union) ", "", field.get("type", {}).get("qualType", ""))
    return "(unnamed " in written or "(anonymous " in written or written == record.get("name")


def record_fields(record, prefix, declaration, ledger):
    """Member paths (`u.LowPart`) of every field, nested structs' too."""
    paths, previous = [], None
    for member in record.get("inner", []) + [{"kind": "end"}]:
        kind = member["kind"]
        if kind == "CXXRecordDecl" and member.get("isImplicit"):
            continue  # the struct's own name, as C++ injects it
        if kind == "IndirectFieldDecl":
            continue  # a member of an anonymous struct, reached through it
        if previous and kind != "FieldDecl":
            ledger.refuse(declaration, f"nested struct {previous.get('name', '')} holds no field")
            previous = None
        if kind == "end":
            break
        if kind == "CXXRecordDecl" and member.get("completeDefinition"):
            previous = member
            continue
        if kind != "FieldDecl":
            ledger.refuse(declaration, f"member {kind} {member.get('name', '')}: not a field")
            continue
        nested = previous if nested_record(member, previous) else None
        if previous and not nested:
            ledger.refuse(declaration, f"nested struct {previous.get('name', '')} holds no field")
        previous = None
        name = member.get("name")
        if name:
            paths.append(prefix + name)
        if nested:
            paths += record_fields(nested, prefix + name + "." if name else prefix,
                                   declaration, ledger)
        elif not name:
            ledger.refuse(declaration, "a field without a name")
    return paths


def classify(nodes, ledger):
    """Our declarations by what can be compared: {struct: [field]},
    [typedef], [constant], {function: arity}, and the static_asserts."""
    structs, typedefs, constants, functions, asserts = {}, [], [], {}, 0
    defined = {n.get("name") for n in nodes
               if n["kind"] == "CXXRecordDecl" and n.get("completeDefinition")}
    for i, node in enumerate(nodes):
        kind, name = node["kind"], node.get("name")
        following = nodes[i + 1] if i + 1 < len(nodes) else {}
        if kind == "CXXRecordDecl" and not node.get("completeDefinition"):
            if name not in defined:
                ledger.refuse(f"struct {name}", "declared, never defined: no layout to compare")
        elif kind == "CXXRecordDecl":
            if not name and following.get("kind") == "TypedefDecl":
                name = following["name"]  # typedef struct { ... } NAME;
            if not name:
                ledger.refuse(f"{node.get('tagUsed', 'struct')} without a name",
                              "nothing to compare")
                continue
            structs[name] = record_fields(node, "", f"struct {name}", ledger)
        elif kind in ("TypedefDecl", "TypeAliasDecl"):
            typedefs.append(name)
        elif kind == "VarDecl" and node.get("init") and (
                node.get("constexpr") or node["type"]["qualType"].startswith("const ")):
            constants.append(name)
        elif kind == "FunctionDecl":
            parameters = [p for p in node.get("inner", []) if p["kind"] == "ParmVarDecl"]
            if any(p["kind"] == "CompoundStmt" for p in node.get("inner", [])):
                ledger.refuse(f"function {name}", "has a body: only imports are compared")
            else:
                functions[name] = len(parameters)
        elif kind == "StaticAssertDecl":
            asserts += 1
        elif kind != "EmptyDecl":
            members = ", ".join(n["name"] for n in node.get("inner", []) if n.get("name"))
            ledger.refuse(f"{kind} {name or ''}".strip() + (f" {{{members}}}" if members else ""),
                          "a form this check cannot compare with mingw-w64")
    return structs, typedefs, constants, functions, asserts


def classify_macros(macros, ledger):
    """The value macros' names; the calling-convention and import markers'."""
    values, markers = [], []
    for name, (parameters, expansion) in sorted(macros.items()):
        if parameters is not None:
            ledger.refuse(f"macro {name}", "takes parameters: a form this check cannot compare")
        elif not expansion:
            ledger.refuse(f"macro {name}", "expands to nothing: no value to compare")
        elif set(re.findall(r"__declspec\([^)]*\)|\S+", expansion)) <= MARKER_TOKENS:
            markers.append(name)
        else:
            values.append(name)
    return values, markers


def layout_rows(structs, constants, c_name):
    """(declaration, category, label, mingw C expression, our C++ expression)."""
    rows = []
    for s, fields in structs.items():
        declaration, c = f"struct {s}", c_name(s)
        rows.append((declaration, "struct sizes and alignments", f"sizeof({s})",
                     f"sizeof({c})", f"sizeof({s})"))
        rows.append((declaration, "struct sizes and alignments", f"alignof({s})",
                     f"_Alignof({c})", f"alignof({s})"))
        for f in fields:
            rows.append((declaration, "field offsets and sizes", f"offsetof({s}, {f})",
                         f"offsetof({c}, {f})", f"offsetof({s}, {f})"))
            rows.append((declaration, "field offsets and sizes", f"sizeof({s}::{f})",
                         f"sizeof((({c} *)0)->{f})", f"sizeof((({s} *)0)->{f})"))
    for kind, c in constants:
        value = f"(unsigned long long)(uintptr_t)({c})"
        rows.append((f"{kind} {c}", "constants (value and size)", f"value of {c}", value, value))
        rows.append((f"{kind} {c}", "constants (value and size)", f"sizeof({c})",
                     f"sizeof({c})", f"sizeof({c})"))
    return rows


def type_rows(structs, typedefs, functions):
    """(declaration, category, label, C++ expression for both sides)."""
    rows = [(f"struct {s}", "field types", f"type of {s}::{f}",
             f"zdb_type<decltype((({s} *)0)->{f})>::shape()")
            for s, fields in structs.items() for f in fields]
    rows += [(f"typedef {t}", "typedefs", f"type of {t}", f"zdb_type<{t}>::shape()")
             for t in typedefs]
    for fn, arity in functions.items():
        declaration = f"function {fn}"
        signature = f"decltype(zdb_signature(&{fn}))"
        rows.append((declaration, "function arities and return types", f"{fn} arity",
                     f"{signature}::arity()"))
        rows.append((declaration, "function arities and return types", f"{fn} return type",
                     f"{signature}::returns()"))
        rows += [(declaration, "function parameter types", f"{fn} parameter {i + 1}",
                  f"{signature}::parameter<{i}>()") for i in range(arity)]
    return rows


def values_source(includes, exprs):
    body = "".join(f"    {e},\n" for e in exprs)
    return (includes + f'__attribute__((section("{SECTION}"), used)) const unsigned long long '
            f"zdb_values[] = {{\n{body}}};\n")


def references_source(functions):
    """A function that takes every function's address: the object then
    names each by its decorated name."""
    body = "".join(f"    zdb_sink = (void *)&{fn};\n" for fn in functions)
    return f"void *volatile zdb_sink;\nvoid zdb_refer(void) {{\n{body}}}\n"


def compile_values(cmd, path, text):
    with open(path, "w") as f:
        f.write(text)
    run(cmd + ["-c", path, "-o", path + ".o"])
    return path + ".o"


def section_values(obj, count):
    """The first `count` 64-bit values of SECTION in a 32-bit COFF object
    (the section may be padded past them)."""
    if count == 0:
        return ()
    with open(obj, "rb") as f:
        data = f.read()
    _, sections, _, _, _, optional, _ = struct.unpack_from("<HHIIIHH", data, 0)
    for i in range(sections):
        header = struct.unpack_from("<8sIIIIIIHHI", data, 20 + optional + 40 * i)
        name, _, _, size, offset, _, _, relocations = header[:8]
        if name.rstrip(b"\0").decode() == SECTION:
            if relocations or size < 8 * count:
                sys.exit(f"{obj}: {SECTION} does not hold {count} plain values")
            return struct.unpack_from(f"<{count}Q", data, offset)
    sys.exit(f"{obj}: no {SECTION} section")


def decorations(nm, path, flag):
    """Undecorated name -> decorated name (_Name@N), from nm's listing."""
    names = {}
    for line in run([nm, flag, path]).splitlines():
        fields = line.split()
        if len(fields) < 2:
            continue
        symbol = fields[-1].removeprefix("__imp_")
        names[re.sub(r"@\d+$", "", symbol.lstrip("_@"))] = symbol
    return names


def read_def(path, ledger):
    """The library's name and the entries of a .def file; a file without
    them, or an entry other than Name or Name@N, is refused."""
    label = os.path.basename(path)
    with open(path) as f:
        lines = [line.split(";")[0].strip() for line in f]
    lines = [line for line in lines if line]
    library = re.fullmatch(r"LIBRARY (\w+)\.dll", lines[0]) if lines else None
    if not library or "EXPORTS" not in lines:
        ledger.refuse(label, "no `LIBRARY name.dll` line followed by EXPORTS")
        return None, []
    entries = lines[lines.index("EXPORTS") + 1:]
    if not entries:
        ledger.refuse(label, "no entries")
    for entry in entries:
        if not re.fullmatch(r"\w+(@\d+)?", entry):
            ledger.refuse(f"{label} {entry}", "an entry form this check cannot compare")
    return library.group(1), [e for e in entries if re.fullmatch(r"\w+(@\d+)?", e)]


POINTER_CATEGORIES = ("function parameter types", "field types")


def pointer_matches(expected, actual):
    return expected % 10000 == VOID_POINTER if actual == VOID_POINTER else expected == actual


def subfolders(gcc, headers):
    """The folders of headers named with one (ddk/ntddk.h): the driver kit's
    headers include their neighbours by bare name, so their folder must be
    searched too. Found in mingw's own include path, never guessed."""
    listing = subprocess.run([gcc, "-xc", "-E", "-Wp,-v", os.devnull],
                             capture_output=True, text=True).stderr
    roots = [line.strip() for line in listing.splitlines() if line.startswith(" /")]
    folders = []
    for header in headers:
        if "/" not in header:
            continue
        found = [os.path.join(root, os.path.dirname(header)) for root in roots
                 if os.path.isfile(os.path.join(root, header))]
        if not found:
            raise CompileFailed(f"{header}: in none of mingw-w64's include folders {roots}")
        folders.append(found[0])
    return folders


def compare_header(args, ledger, work):
    """Compares every declaration of the header; gives its functions and
    their decorated names as our compiler makes them, and what it leaves to
    the compiler."""
    product = [args.clang] + args.flags
    mingw_includes = "".join(f"#include <{h}>\n" for h in args.mingw)
    # Opaque handles as `void *`, as ours are; STRICT would only name the
    # struct each handle points to.
    mingw_types = [args.clang, "--target=i686-w64-mingw32", "-std=c++17", "-DNO_STRICT",
                   "-Wall", "-Wextra", "-Werror"]
    mingw_layout = [args.gcc, "-std=c11", "-Wall", "-Wextra", "-Werror"]
    for folder in subfolders(args.gcc, args.mingw):
        mingw_types += ["-isystem", folder]
        mingw_layout += ["-isystem", folder]
    mingw_types += args.mingw_defines
    mingw_layout += args.mingw_defines
    probe = work("probe.cpp")

    def compile_probe(text, *options):
        with open(probe, "w") as f:
            f.write(text)
        return run(product + list(options) + [probe])

    def c_name(name):
        """In C a struct is named by its typedef (SYSTEMTIME) or its tag
        (struct in_addr); mingw-w64 has one or both."""
        typedef = work("typedef.c")
        with open(typedef, "w") as f:
            f.write(f"{mingw_includes}typedef {name} zdb_named;\n")
        found = subprocess.run(mingw_layout + ["-fsyntax-only", typedef], capture_output=True)
        return name if found.returncode == 0 else f"struct {name}"

    nodes = header_nodes(compile_probe, probe, args.header)
    macros = header_macros(compile_probe, args.header)
    if not nodes and not macros:
        ledger.refuse(os.path.relpath(args.header), "no declarations found")
    structs, typedefs, constants, functions, asserts = classify(nodes, ledger)
    values, markers = classify_macros(macros, ledger)
    layout = layout_rows(structs, [("macro", m) for m in values] +
                         [("constant", c) for c in constants], c_name)
    types = type_rows(structs, typedefs, functions)

    theirs_layout = compile_values(mingw_layout, work("layout.c"), values_source(
        mingw_includes + "#include <stddef.h>\n#include <stdint.h>\n",
        [r[3] for r in layout]) + references_source(functions))
    theirs_types = compile_values(mingw_types, work("types.cpp"), values_source(
        mingw_includes + TYPES_PRELUDE, [r[3] for r in types]))
    # A value the compiler could not fold would be set by a constructor at
    # run time and read here as zero: such code fails instead.
    mine = compile_values(product + ["-Werror=global-constructors"], work("ours.cpp"),
                          values_source(f'#include "{args.header}"\n' + TYPES_PRELUDE,
                                        [r[4] for r in layout] + [r[3] for r in types])
                          + references_source(functions))

    expected = (section_values(theirs_layout, len(layout))
                + section_values(theirs_types, len(types)))
    actual = section_values(mine, len(layout) + len(types))
    for row, want, got in zip(layout + types, expected, actual):
        same = pointer_matches if row[1] in POINTER_CATEGORIES else None
        ledger.compare(row[0], row[1], row[2], want, got, same)

    their_names = decorations(args.nm, theirs_layout, "--undefined-only")
    my_names = decorations(args.nm, mine, "--undefined-only")
    for fn in functions:
        ledger.compare(f"function {fn}", "decorated names", fn,
                       their_names.get(fn), my_names.get(fn))
    notes = []
    if markers:
        notes.append("   - calling-convention and import markers, held by each function's "
                     f"type and decorated name: {', '.join(markers)}")
    if asserts:
        notes.append(f"   - {asserts} static_assert, held by the compiler")
    return {fn: my_names.get(fn) for fn in functions}, notes


def compare_defs(args, ledger, functions):
    """Each .def entry against mingw-w64's import library and against the
    header's function; each of the header's functions must have an entry."""
    header, listed = os.path.basename(args.header), set()
    for path in args.defs:
        library, entries = read_def(path, ledger)
        if not library:
            continue
        lib = run([args.gcc, f"-print-file-name=lib{library}.a"]).strip()
        exports = decorations(args.nm, lib, "--defined-only")
        for entry in entries:
            name, label = entry.split("@")[0], f"{os.path.basename(path)} {entry}"
            listed.add(name)
            ledger.compare(label, ".def entries against mingw-w64's import libraries",
                           label, exports.get(name), "_" + entry)
            ledger.compare(label, f".def entries against {header}", label, "_" + entry,
                           functions.get(name), sides=(".def", header))
    for fn in functions:
        if fn not in listed:
            ledger.refuse(f"function {fn}", "in none of the .def files given")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--clang", "--gcc", "--nm", "--header"):
        parser.add_argument(option, required=True)
    parser.add_argument("--mingw", action="append", required=True)
    parser.add_argument("--def", dest="defs", action="append", default=[])
    parser.add_argument("--mingw-define", dest="mingw_defines", action="append", default=[])
    parser.add_argument("flags", nargs="*")
    args = parser.parse_args()
    ledger, notes = Ledger(), []
    with tempfile.TemporaryDirectory() as workdir:
        try:
            functions, notes = compare_header(args, ledger,
                                              lambda name: os.path.join(workdir, name))
            compare_defs(args, ledger, functions)
        except CompileFailed as error:
            ledger.failures.append(f"FAILED {error}")
    for note in notes:
        print(note)
    return ledger.report(os.path.relpath(args.header))


if __name__ == "__main__":
    sys.exit(main())
