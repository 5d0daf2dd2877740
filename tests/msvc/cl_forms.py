"""Fails when a file that Visual Studio's path compiles holds a form that cl
refuses and clang-cl accepts, so that a clang-cl build alone would never
notice. cl's /W4 warnings that clang has too are on in that build
(cmake/msvc.cmake); these are the ones with no clang counterpart, and the
GNU-only forms that cl does not know at all. The files are the ones the
build itself compiled and included (ninja's commands and its recorded
header dependencies), limited to the project's own tree.

With --planted, each check and each of those clang warnings meets a case
planted to break it and must refuse it, and its mended twin must pass."""

import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile

# The source at the end of each compile command: cl's and clang-cl's "-c -- <file>".
COMPILED = re.compile(r"\s-c\s+--\s+(\S+\.(?:c|cc|cpp|cxx))\s*$")


def ninja(build, *args):
    return subprocess.run(["ninja", "-C", build, "-t", *args], check=True, text=True,
                          stdout=subprocess.PIPE).stdout


def compiled_files(build, source):
    """(sources, headers) under `source` that the build in `build` compiled."""
    root = os.path.realpath(source) + os.sep
    sources, headers = set(), set()
    for line in ninja(build, "commands").splitlines():
        found = COMPILED.search(line)
        if found:
            sources.add(os.path.realpath(os.path.join(build, found.group(1))))
    for line in ninja(build, "deps").splitlines():
        if line.startswith("    "):
            headers.add(os.path.realpath(os.path.join(build, line.strip())))
    inside = lambda paths: sorted(p for p in paths if p.startswith(root))
    return inside(sources), inside(headers)


# --- the text the checks read: code only, every line where it was ----------

def code_only(text):
    """`text` with comments and the insides of string and character literals
    blanked (newlines kept), so that prose never trips a check."""
    out, i, n = [], 0, len(text)
    while i < n:
        two = text[i:i + 2]
        if two == "//":
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif two == "/*":
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif text[i] in "\"'" and not (text[i] == "'" and i and text[i - 1].isalnum()
                                       and text[i - 1] not in "uUL8"):
            quote, j = text[i], i + 1
            while j < n and text[j] != quote and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(quote + " " * (min(j, n) - i - 1) + (quote if j < n else ""))
            i = j + 1
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def closing(text, start, pair="()"):
    """The index just past the bracket that closes the one at `start`."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == pair[0]:
            depth += 1
        elif text[i] == pair[1]:
            depth -= 1
            if depth == 0:
                return i + 1
    return len(text)


def blank(text, start, end):
    return text[:start] + re.sub(r"[^\n]", " ", text[start:end]) + text[end:]


CLASS_HEAD = re.compile(r"(?<!enum )\b(?:struct|class|union)\s+(\w+)[^;{}()=]*\{")


def scopes(code):
    """[(name, start, text)]: the file's own scope (name None) and each class
    body, each with the bodies of the classes inside it blanked; `start` is
    where the text begins in `code`."""
    found, heads = [], [(m.group(1), m.end() - 1) for m in CLASS_HEAD.finditer(code)]
    bodies = [(name, brace, closing(code, brace, "{}")) for name, brace in heads]
    for name, start, end in [(None, 0, len(code))] + bodies:
        text = code[start:end]
        for _, inner_start, inner_end in bodies:
            if start < inner_start and inner_end <= end and (inner_start, inner_end) != (start, end):
                text = blank(text, inner_start - start + 1, inner_end - start - 1)
        found.append((name, start, text))
    return found


def members(body):
    """The declarations directly in a class body: (offset, text) of each, with
    anything in braces below it (function bodies, initialisers) blanked."""
    inner = body[1:-1]
    i = 0
    while True:
        brace = inner.find("{", i)
        if brace < 0:
            break
        end = closing(inner, brace, "{}")
        inner = blank(inner, brace + 1, end - 1)
        i = end
    found, start = [], 0
    for m in re.finditer(r"[;}]", inner):
        found.append((start + 1, inner[start:m.end()]))
        start = m.end()
    return found


# --- the checks: each returns [(offset in code, what was found)] ------------

def gnu_forms(code):
    return [(m.start(), f"{m.group(1)}: GNU-only, cl rejects it")
            for m in re.finditer(r"\b(__asm__|__attribute__|__builtin_\w*|__atomic_\w*)", code)]


ASSIGNMENT = re.compile(r"(?<![=!<>])=(?!=)|(?:<<|>>)=")
DECLARATION = re.compile(r"^\s*(?:const\s+)?[\w:]+(?:<[^;]*>)?(?:\s*[*&]+\s*|\s+)\w+\s*[={]")


def outermost(expression):
    """`expression` with everything inside its parentheses blanked."""
    i = expression.find("(")
    while i >= 0:
        end = closing(expression, i)
        expression = blank(expression, i + 1, end - 1)
        i = expression.find("(", end)
    return expression


def tests_assignment(expression):
    """Whether an assignment is the value tested: the whole expression, or an
    operand of !, && or ||, in any number of parentheses. An assignment
    compared with something, (x = f()) != 0, is a comparison."""
    level = outermost(expression)
    cuts = [0] + [c for m in re.finditer(r"&&|\|\|", level) for c in m.span()] + [len(level)]
    for start, end in zip(cuts[::2], cuts[1::2]):
        operand = expression[start:end].strip()
        while operand.startswith("!"):
            operand = operand[1:].strip()
        if operand.startswith("(") and closing(operand, 0) == len(operand):
            if tests_assignment(operand[1:-1]):
                return True
        elif ASSIGNMENT.search(outermost(operand)):
            return True
    return False


def assignment_in_condition(code):
    """C4706: cl warns at an assignment whose value is tested, in parentheses
    or not; clang only without them."""
    found = []
    for m in re.finditer(r"\b(if|while)(?:\s+constexpr)?\s*\(|\bfor\s*\(|!\s*\(", code):
        opening = m.end() - 1
        inside = code[opening + 1:closing(code, opening) - 1]
        inside = re.sub(r"\{[^}]*\}", "{}", re.sub(r"\[[^\]]*\]", "[]", inside))
        parts = inside.split(";")
        if m.group(0).startswith("for"):
            condition = parts[1] if len(parts) == 3 else ""
        elif m.group(1):
            condition = parts[-1]
            if DECLARATION.match(condition):
                continue
        else:
            condition = "(" + inside + ")"
        if tests_assignment(condition):
            found.append((m.start(), "C4706: an assignment whose value is tested"))
    return found


PLACEMENT_DELETE = re.compile(r"\boperator\s+delete\s*\(\s*void\s*\*\s*\w*\s*,\s*void\s*\*")
PLACEMENT_NEW = re.compile(
    r"\boperator\s+new\s*\(\s*(?:std::)?(?:size_t|unsigned\s+int)\s*\w*\s*,\s*void\s*\*")
USUAL_DELETE = re.compile(r"\boperator\s+delete\s*\(\s*void\s*\*\s*\w*\s*[,)]")


def placement_without_delete(code):
    """C4291: a placement new that has no matching placement delete. A class
    that declares its own operator delete hides the global placement one, so
    it must declare the placement form too; and whatever defines a placement
    operator new defines the matching delete beside it."""
    found = []
    for name, start, text in scopes(code):
        if PLACEMENT_DELETE.search(text):
            continue
        where = PLACEMENT_NEW.search(text)
        if where:
            found.append((start + where.start(), "C4291: placement operator new with no "
                          "operator delete(void *, void *) beside it"))
        elif name and USUAL_DELETE.search(text):
            found.append((start, f"C4291: {name} declares operator delete, which hides the "
                          "global placement delete, and no operator delete(void *, void *)"))
    return found


def parameters(text):
    """The parameter types of a declaration's parameter list, names dropped."""
    types = []
    for parameter in text.split(","):
        words = re.findall(r"[\w:]+|\*|&", parameter)
        if len(words) > 1 and re.fullmatch(r"\w+", words[-1]) and words[-1] not in (
                "int", "long", "char", "short", "unsigned", "signed", "size_t"):
            words = words[:-1]
        types.append(" ".join(words))
    return tuple(types)


GLOBAL_DELETE = re.compile(r"^[ \t]*(?:inline\s+)?void\s+operator\s+delete\s*(\[\s*\])?\s*\(([^)]*)\)",
                           re.M)


def delete_without_array_form(code):
    """Vector deleting destructors: cl gives an exported class with a virtual
    destructor one, whose array path calls the global operator delete[]. A
    binary with no C runtime that supplies the usual operator delete (clang's
    link fails without it) must supply the array form with it."""
    _, _, text = scopes(code)[0]
    scalar, array = {}, set()
    for m in GLOBAL_DELETE.finditer(text):
        kind = parameters(m.group(2))
        if m.group(1):
            array.add(kind)
        elif len(kind) < 2 or kind[1] != "void *":
            scalar.setdefault(kind, m.start())
    return [(at, f"vector deleting destructor: operator delete({', '.join(kind)}) with no "
             "operator delete[] of the same parameters")
            for kind, at in scalar.items() if kind not in array]


def reference_without_constructor(code):
    """C4510 and C4610: a class with a reference or const member and no
    constructor, which cl cannot give a default constructor."""
    found = []
    for name, start, text in scopes(code)[1:]:
        stuck, constructed = [], False
        for _, member in members(text):
            member = re.sub(r"^\s*(?:(?:public|private|protected)\s*:\s*)*", "", member).strip()
            if re.match(rf"(?:(?:explicit|constexpr|inline)\s+)*{name}\s*\(", member):
                constructed = True
            elif re.match(r"(?:static|using|typedef|friend|template|enum|constexpr)\b", member) \
                    or "(" in member or "=" in member or "{" in member:
                continue
            elif re.search(r"(?:&|\bconst\s+[\w:]+|\*\s*const)\s*\w+\s*;$", member):
                stuck.append(re.search(r"(\w+)\s*;$", member).group(1))
        if stuck and not constructed:
            found.append((start, f"C4510/C4610: {name} holds {', '.join(stuck)} (a reference or "
                          "const member) and declares no constructor"))
    return found


CHECKS = {
    "gnu-form": gnu_forms,
    "C4706": assignment_in_condition,
    "C4291": placement_without_delete,
    "C4510": reference_without_constructor,
    "vector-delete": delete_without_array_form,
}


def findings(text):
    """{check name: [(line number, what)]} for one file's text."""
    code = code_only(text)
    line = lambda offset: code.count("\n", 0, offset) + 1
    return {name: sorted({(line(at), what) for at, what in check(code)})
            for name, check in CHECKS.items()}


# --- the planted cases ------------------------------------------------------

# (the check that must refuse it, the planted form, its mended twin)
PLANTED_FORMS = [
    ("gnu-form", "int f(int x) { return __builtin_popcount(x); }",
     "int f(int x) { return x; }  // __builtin_popcount in a comment"),
    ("gnu-form", "__attribute__((noinline)) int f() { return 0; }",
     "__declspec(noinline) int f() { return 0; }"),
    ("C4706", "int *g(); int f() { int *p; if ((p = g())) return *p; return 0; }",
     "int *g(); int f() { int *p = g(); if (p) return *p; return 0; }"),
    ("C4706", "bool f(bool &b) { return !(b = true); }",
     "bool f(bool &b) { b = true; return false; }"),
    ("C4706", "int g(); int f() { int x; while (x > 0 && !(x = g())) {} return x; }",
     "int g(); int f() { int x; while ((x = g()) != 0 && x <= 9) {} return x; }"),
    ("C4706", "int g(); void f(int &x) { for (; (x = g());) {} }",
     "int g(); void f(int &x) { for (x = g(); x >= 0 && x <= 9 && x != 5;) x = g(); }"),
    ("C4291", "inline void *operator new(unsigned int, void *w) noexcept { return w; }",
     "inline void *operator new(unsigned int, void *w) noexcept { return w; }\n"
     "inline void operator delete(void *, void *) noexcept {}"),
    ("C4291", "struct S { virtual ~S() {} static void operator delete(void *) {} };",
     "struct S { virtual ~S() {} static void operator delete(void *) {}\n"
     "  static void operator delete(void *, void *) {} };"),
    ("C4510", "struct T { int &n; };", "struct T { explicit T(int &m) : n(m) {} int &n; };"),
    ("C4510", "struct T { public: const int n; };", "struct T { const int n = 1; };"),
    ("vector-delete", "void operator delete(void *) noexcept {}",
     "void operator delete(void *) noexcept {}\nvoid operator delete[](void *) noexcept {}"),
    ("vector-delete", "void operator delete(void *p, unsigned int size) noexcept {}",
     "void operator delete(void *p, unsigned int size) noexcept {}\n"
     "void operator delete[](void *, unsigned int) noexcept {}"),
]

# (the diagnostic clang-cl must fail with under the build's own flags, the
# cl warning it stands for, the planted form, its mended twin)
PLANTED_COMPILES = [
    ("-Wimplicit-int-conversion", "C4244", "char f(int x) { return x; }",
     "char f(int x) { return static_cast<char>(x); }"),
    ("-Wshorten-64-to-32", "C4244", "int f(long long x) { return x; }",
     "int f(long long x) { return static_cast<int>(x); }"),
    ("-Wimplicit-float-conversion", "C4244", "float f(double x) { return x; }",
     "float f(double x) { return static_cast<float>(x); }"),
    ("-Wfloat-conversion", "C4244", "int f(double x) { return x; }",
     "int f(double x) { return static_cast<int>(x); }"),
    ("-Wshadow", "C4459", "int g; int f() { int g = 1; return g; }",
     "int g; int f() { int h = 1; return h + g; }"),
    ("-Wshadow", "C4456", "int f(int n) { int a = n; { int a = 2; n += a; } return a + n; }",
     "int f(int n) { int a = n; { int b = 2; n += b; } return a + n; }"),
    ("-Wshadow-field-in-constructor", "C4458",
     "struct S { int v; explicit S(int v) : v(v) {} int f() { return v; } };",
     "struct S { int v; explicit S(int w) : v(w) {} int f() { return v; } };"),
    ("-Wunused-but-set-variable", "C4189", "int f() { int a = 0; a = 2; return 0; }",
     "int f() { int a = 0; a = 2; return a; }"),
    ("-Wconditional-uninitialized", "C4701",
     "int f(int n) { int x; for (int i = 0; i < n; ++i) x = i; return x; }",
     "int f(int n) { int x = 0; for (int i = 0; i < n; ++i) x = i; return x; }"),
    ("-Wunreachable-code", "C4702", "int g(); int f() { return 1; g(); }",
     "int g(); int f() { g(); return 1; }"),
]


def compile_command(build):
    """The build's own command for one of the plug-in's sources, as a list
    with the source and the object file still to fill in."""
    for line in ninja(build, "commands").splitlines():
        if COMPILED.search(line) and "src/text/text.cpp" in line:
            words = [w for w in shlex.split(line) if w != "/showIncludes"]
            if "/WX" not in words:
                raise SystemExit(f"{build} compiles without /WX, so a warning would not stop "
                                 "it; it stands in for the workflow's build, which stops on one")
            return words[:words.index("--")]
    raise SystemExit(f"no compile command for src/text/text.cpp in {build}")


def compiles(command, folder, text):
    source = os.path.join(folder, "planted.cpp")
    with open(source, "w", encoding="utf-8") as handle:
        handle.write(text + "\n")
    words = [f"/Fo{folder}/planted.obj" if w.startswith("/Fo") else w for w in command]
    done = subprocess.run(words + ["--", source], text=True, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, check=False)
    return done.returncode, done.stdout


def planted(build):
    failed = 0
    for check, bad, good in PLANTED_FORMS:
        refused = {name for name, found in findings(bad).items() if found}
        passed = {name for name, found in findings(good).items() if found}
        verdict = "ok" if refused == {check} and not passed else "WRONG"
        failed += verdict != "ok"
        print(f"{verdict}: {check:13} refuses {bad!r}: {sorted(refused)}; its twin: {sorted(passed)}")
    command = compile_command(build)
    with tempfile.TemporaryDirectory() as folder:
        for flag, warning, bad, good in PLANTED_COMPILES:
            status, output = compiles(command, folder, bad)
            hit = f"[-Werror,{flag}]" in output
            twin, twin_output = compiles(command, folder, good)
            verdict = "ok" if status != 0 and hit and twin == 0 else "WRONG"
            failed += verdict != "ok"
            print(f"{verdict}: {flag} ({warning}) refuses {bad!r}: exit {status}, "
                  f"{'named' if hit else 'NOT named'}; its twin: exit {twin}")
            if verdict != "ok":
                print(output + twin_output)
    print(f"{len(PLANTED_FORMS)} planted forms and {len(PLANTED_COMPILES)} planted compiles, "
          f"{failed} wrong")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the build tree of Visual Studio's path")
    parser.add_argument("--source", required=True, help="the project's root")
    parser.add_argument("--planted", action="store_true", help="run the planted cases instead")
    args = parser.parse_args()
    if args.planted:
        return planted(args.build)
    sources, headers = compiled_files(args.build, args.source)
    if not sources or not headers:
        print(f"nothing to check in {args.build}: {len(sources)} sources, {len(headers)} headers "
              "(is it built?)")
        return 1
    count = 0
    for path in sources + headers:
        with open(path, encoding="utf-8", errors="replace") as handle:
            for name, found in findings(handle.read()).items():
                for number, what in found:
                    print(f"{os.path.relpath(path, args.source)}:{number}: {what}")
                    count += 1
    print(f"checked {len(sources)} sources and {len(headers)} headers of {args.build} for "
          f"{', '.join(CHECKS)}: {count} found")
    return 1 if count else 0


if __name__ == "__main__":
    sys.exit(main())
