"""docs/numbers.md against the code: each row's code line is found once in
its file, the row's number is worked out of that line, and each document
the row names states the number. A changed constant fails here until the
table and the documents follow.

Run from anywhere: python3 test_numbers.py [repository root]; without an
argument the root is two folders up from this file.
"""

import os
import re
import sys
import unittest

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 and __name__ == "__main__"
                       else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TABLE = os.path.join("docs", "numbers.md")
HEADER = ["number", "what", "code line", "file", "documents", "from the code"]

NUMBER = re.compile(r"\d{1,3}(?:,\d{3})+(?!\d)|\d+")
# A literal in code, not the digits of a name such as uint32_t.
LITERAL = re.compile(r"(?<![\w.])\d+")
WORDS = {2: "two", 3: "three", 4: "four", 5: "five", 6: "six", 7: "seven", 8: "eight",
         9: "nine"}


def cells(line):
    return [cell.strip() for cell in line.strip().strip("|").split("|")]


def unquoted(cell):
    return cell[1:-1] if len(cell) >= 2 and cell[0] == cell[-1] == "`" else None


def code_lines(text):
    """Each line without its // comment, blanks collapsed."""
    for line in text.split("\n"):
        yield " ".join(line.split("//", 1)[0].split())


def rows(text):
    """(line number, cells) of the table's body; raises on a table that is
    not there or not shaped as the header says."""
    lines = text.split("\n")
    header = [n for n, line in enumerate(lines) if cells(line) == HEADER]
    if len(header) != 1:
        raise AssertionError(f"{TABLE}: no single table headed {HEADER}")
    start = header[0] + 2
    for number, line in enumerate(lines[start:], start + 1):
        if not line.startswith("|"):
            break
        yield number, cells(line)


def documented(cell):
    return [int(n.replace(",", "")) for n in NUMBER.findall(cell)]


def states(text, written):
    """Whether `text` holds the number as written in the table (thousands
    comma included), or a small one as its word."""
    value = int(written.replace(",", ""))
    if re.search(rf"(?<![\d,.]){re.escape(written)}(?![\d]|,\d)", text):
        return True
    word = WORDS.get(value)
    return word is not None and re.search(rf"\b{word}\b", text, re.IGNORECASE) is not None


def problems_of_row(root, number, row):
    where = f"{TABLE}:{number}"
    if len(row) != len(HEADER):
        return [f"{where}: {len(row)} cells, not {len(HEADER)}"]
    figure, _, code_cell, file_cell, documents, formula_cell = row
    code, path, formula = unquoted(code_cell), unquoted(file_cell), unquoted(formula_cell)
    if not code or not path or not formula:
        return [f"{where}: code line, file and formula must each be in backticks"]
    wanted = documented(figure)
    if not wanted:
        return [f"{where}: no number in {figure!r}"]
    source = os.path.join(root, path)
    if not os.path.isfile(source):
        return [f"{where}: no file {path}"]
    with open(source, encoding="utf-8") as handle:
        found = [line for line in code_lines(handle.read()) if line == code]
    if len(found) != 1:
        return [f"{where}: {path} holds {len(found)} lines `{code}`, not 1"]
    v = [int(n) for n in LITERAL.findall(code)]
    try:
        value = eval(formula, {"__builtins__": {"sum": sum}, "v": v})
    except Exception as error:  # a formula that cannot be worked out is a broken row
        return [f"{where}: `{formula}` on {v}: {error!r}"]
    got = value if isinstance(value, list) else [value]
    problems = []
    if got != wanted:
        problems.append(f"{where}: the code gives {got} (`{code}` in {path}), the table {wanted}")
    names = [name.strip() for name in documents.split(",") if name.strip()]
    if not names:
        problems.append(f"{where}: names no document")
    for name in names:
        document = os.path.join(root, name)
        if not os.path.isfile(document):
            problems.append(f"{where}: no document {name}")
            continue
        with open(document, encoding="utf-8") as handle:
            text = handle.read()
        for written in NUMBER.findall(figure):
            if not states(text, written):
                problems.append(f"{where}: {name} does not state {written}")
    return problems


def problems_of(root):
    """(rows checked, problems) of the whole table."""
    with open(os.path.join(root, TABLE), encoding="utf-8") as handle:
        text = handle.read()
    checked, problems = 0, []
    for number, row in rows(text):
        checked += 1
        problems += problems_of_row(root, number, row)
    return checked, problems


class NumbersTable(unittest.TestCase):

    def test_every_documented_number_follows_from_the_code(self):
        checked, problems = problems_of(ROOT)
        print(f"checked {checked} rows of {TABLE} against src/ and the documents",
              file=sys.stderr)
        self.assertGreater(checked, 0, f"no row in {TABLE}: the check would prove nothing")
        self.assertEqual(problems, [], "\n".join(problems))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
