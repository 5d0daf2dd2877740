#!/usr/bin/env python3
"""Checks our hand-written Windows declarations against mingw-w64's.

What to check comes from our header as the product compiler reads it; the
expected values come from mingw-w64's windows.h and winhttp.h and its import
libraries, never from our header:
  - every struct's size and alignment, each field's offset and size, every
    value macro: mingw's gcc against mingw's headers;
  - every typedef, and every function's arity, return type and parameter
    types (stdcall or not, class, size, signedness, what a pointer points
    to): clang for the mingw target against mingw's headers, as C has no way
    to name a parameter's type;
  - every function's decorated name (_Name@N) from both headers, and every
    .def entry's @N against mingw's import libraries.
Each compiler writes the values into a data section of an object file, read
back here; nothing is run.

usage: check_declarations.py --clang CXX --gcc GCC --nm NM --src DIR
                             --def FILE [--def FILE...] -- PRODUCT_FLAGS...
"""
import argparse
import json
import os
import re
import struct
import subprocess
import sys
import tempfile

HEADER = "platform/win32.h"
MINGW_INCLUDES = "#include <windows.h>\n#include <winhttp.h>\n"
BASELINE = "#include <stddef.h>\n#include <stdint.h>\n"

# Macros that are not values: the calling convention is checked through the
# functions' types and decorated names, and the import marker is ours alone.
NOT_VALUES = {"WINAPI", "ZDB_WINAPI_IMPORT"}

SECTION = ".zdbvals"

# A type as one number, the same code on both sides. A scalar is its type
# class (1 integer, 5 pointer, 12 struct), size and signedness; a pointer
# also carries what it points to (const dropped), one base-10000 digit per
# level; a stdcall function type is 1, any other fails to compile.
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
template <class T> struct zdb_type<T *> {
    static constexpr unsigned long long shape() { return 5040u + 10000u * zdb_type<T>::shape(); }
};
template <class R, class... A> struct zdb_type<R __stdcall(A...)> {
    static constexpr unsigned long long shape() { return 1; }
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
# overlapped I/O: always null); any pointer on mingw's side matches it.
VOID_POINTER = 5040


def run(cmd):
    result = subprocess.run(cmd, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{result.stdout}{result.stderr}")
    return result.stdout


def our_declarations(compile_cmd, workdir):
    """Names of what our header declares, as the product compiler reads it:
    {struct: [field]}, [typedef], {function: arity}, [value macro]."""
    probe = os.path.join(workdir, "probe.cpp")

    def compile_probe(text, *options):
        with open(probe, "w") as f:
            f.write(text)
        return run(compile_cmd + list(options) + [probe])

    def decls(text):
        top = json.loads(compile_probe(text, "-fsyntax-only", "-Xclang", "-ast-dump=json"))["inner"]
        # Declarations inside extern "C" { } count as top-level ones.
        return [inner for n in top
                for inner in (n.get("inner", []) if n["kind"] == "LinkageSpecDecl" else [n])]

    def macros(text):
        return set(re.findall(r"^#define (\w+)(?![\w(])", compile_probe(text, "-E", "-dM"), re.M))

    ours = f'#include "{HEADER}"\n'
    known = {n.get("name") for n in decls(BASELINE)}
    new = [n for n in decls(ours) if n.get("name") not in known]
    structs = {n["name"]: [f["name"] for f in n.get("inner", []) if f["kind"] == "FieldDecl"]
               for n in new if n["kind"] == "CXXRecordDecl" and n.get("completeDefinition")}
    typedefs = [n["name"] for n in new if n["kind"] == "TypedefDecl"]
    functions = {n["name"]: sum(p["kind"] == "ParmVarDecl" for p in n.get("inner", []))
                 for n in new if n["kind"] == "FunctionDecl"}
    constants = sorted(macros(ours) - macros(BASELINE) - NOT_VALUES)
    return structs, typedefs, functions, constants


def layout_rows(structs, constants):
    """(category, label, mingw C expression, our C++ expression)."""
    rows = []
    for s, fields in structs.items():
        rows.append(("struct sizes and alignments", f"sizeof({s})", f"sizeof({s})", f"sizeof({s})"))
        rows.append(("struct sizes and alignments", f"alignof({s})", f"_Alignof({s})", f"alignof({s})"))
        for f in fields:
            rows.append(("field offsets and sizes", f"offsetof({s}, {f})",
                         f"offsetof({s}, {f})", f"offsetof({s}, {f})"))
            rows.append(("field offsets and sizes", f"sizeof({s}::{f})",
                         f"sizeof((({s} *)0)->{f})", f"sizeof({s}::{f})"))
    for c in constants:
        value = f"(unsigned long long)(uintptr_t)({c})"
        rows.append(("constants (value and size)", f"value of {c}", value, value))
        rows.append(("constants (value and size)", f"sizeof({c})", f"sizeof({c})", f"sizeof({c})"))
    return rows


def type_rows(typedefs, functions):
    """(category, label, C++ expression for both sides)."""
    rows = [("typedefs", f"type of {t}", f"zdb_type<{t}>::shape()") for t in typedefs]
    for fn, arity in functions.items():
        signature = f"decltype(zdb_signature(&{fn}))"
        rows.append(("function arities and return types", f"{fn} arity", f"{signature}::arity()"))
        rows.append(("function arities and return types", f"{fn} return type",
                     f"{signature}::returns()"))
        rows += [("function parameter types", f"{fn} parameter {i + 1}",
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


def read_def(path):
    with open(path) as f:
        lines = [line.strip() for line in f if line.strip()]
    library = re.match(r"LIBRARY (\w+)\.dll", lines[0]).group(1)
    return library, lines[lines.index("EXPORTS") + 1:]


def matches(category, expected, actual):
    if category == "function parameter types" and actual == VOID_POINTER:
        return expected % 10000 == VOID_POINTER
    return expected == actual


def main():
    parser = argparse.ArgumentParser()
    for option in ("--clang", "--gcc", "--nm", "--src"):
        parser.add_argument(option, required=True)
    parser.add_argument("--def", dest="defs", action="append", required=True)
    parser.add_argument("flags", nargs="*")
    args = parser.parse_args()
    product = [args.clang] + args.flags + [f"-I{args.src}"]
    # Opaque handles as `void *`, as ours are; STRICT would only name the
    # struct each handle points to.
    mingw_types = [args.clang, "--target=i686-w64-mingw32", "-std=c++17", "-DNO_STRICT",
                   "-Wall", "-Wextra", "-Werror"]
    mingw_layout = [args.gcc, "-std=c11", "-Wall", "-Wextra", "-Werror"]
    counts, failures = {}, []

    def check(category, label, expected, actual):
        counts[category] = counts.get(category, 0) + 1
        if not matches(category, expected, actual):
            failures.append(f"{label}: mingw-w64 {expected}, ours {actual}")

    with tempfile.TemporaryDirectory() as workdir:
        structs, typedefs, functions, constants = our_declarations(product, workdir)
        layout = layout_rows(structs, constants)
        types = type_rows(typedefs, functions)
        work = lambda name: os.path.join(workdir, name)

        theirs_layout = compile_values(mingw_layout, work("layout.c"), values_source(
            MINGW_INCLUDES + "#include <stddef.h>\n#include <stdint.h>\n",
            [r[2] for r in layout]) + references_source(functions))
        theirs_types = compile_values(mingw_types, work("types.cpp"), values_source(
            MINGW_INCLUDES + TYPES_PRELUDE, [r[2] for r in types]))
        # A value the compiler could not fold would be set by a constructor
        # at run time and read here as zero: such code fails instead.
        mine = compile_values(product + ["-Werror=global-constructors"], work("ours.cpp"),
                              values_source(f'#include "{HEADER}"\n' + TYPES_PRELUDE,
                                            [r[3] for r in layout] + [r[2] for r in types])
                              + references_source(functions))

        expected = section_values(theirs_layout, len(layout)) + section_values(theirs_types, len(types))
        actual = section_values(mine, len(layout) + len(types))
        for row, want, got in zip(layout + types, expected, actual):
            check(row[0], row[1], want, got)

        their_names = decorations(args.nm, theirs_layout, "--undefined-only")
        my_names = decorations(args.nm, mine, "--undefined-only")
        for fn in functions:
            check("decorated names", fn, their_names.get(fn), my_names.get(fn))

        for path in args.defs:
            library, entries = read_def(path)
            lib = run([args.gcc, f"-print-file-name=lib{library}.a"]).strip()
            exports = decorations(args.nm, lib, "--defined-only")
            for entry in entries:
                check(".def entries' @N", f"{os.path.basename(path)} {entry}",
                      exports.get(entry.split("@")[0]), "_" + entry)

    for category, count in counts.items():
        print(f"{count:4d} {category}")
    print(f"{sum(counts.values()):4d} values checked against mingw-w64")
    for failure in failures:
        print("MISMATCH " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
