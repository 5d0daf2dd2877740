"""The body contract of docs/endpoint.md, checked on the bytes of one body:
the JSON Schema docs/stand-event.schema.json with the standard validator,
and the form the schema cannot state (no duplicate keys, keys in their
order, compact, exactly the product's escapes).

Bytes from 0x80 up pass through the product as the client gave them, so a
body need not be UTF-8. Such a body is decoded with surrogateescape: valid
UTF-8 sequences become their characters and every other byte one lone
surrogate, so each byte still counts as at most one character against the
schema's bounds and the encoding back gives the very bytes received.
"""

import json
import os

import jsonschema

SCHEMA_PATH = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "docs", "stand-event.schema.json")

with open(SCHEMA_PATH, "rb") as _handle:
    SCHEMA = json.loads(_handle.read().decode("utf-8"))
jsonschema.Draft202012Validator.check_schema(SCHEMA)
VALIDATOR = jsonschema.Draft202012Validator(SCHEMA)


KEY_ORDER = ("action", "callsign", "observedAt", "controller", "destination", "stand")


class JsonProblem(ValueError):
    pass


def _pairs_without_duplicates(pairs):
    keys = [key for key, _ in pairs]
    duplicates = {key for key in keys if keys.count(key) > 1}
    if duplicates:
        raise JsonProblem(f"duplicate keys {sorted(duplicates)}")
    return pairs


def _no_constant(name):
    raise JsonProblem(f"non-standard JSON constant {name}")


def load_object_pairs(text):
    """The top-level object of `text` as (key, value) pairs in their order,
    nested objects as pairs too; JsonProblem for invalid JSON, duplicate
    keys, NaN and the like, or anything but an object."""
    try:
        value = json.loads(text, object_pairs_hook=_pairs_without_duplicates,
                           parse_constant=_no_constant)
    except json.JSONDecodeError as error:
        raise JsonProblem(f"invalid JSON: {error}") from None
    if not isinstance(value, list) or not text.lstrip().startswith("{"):
        raise JsonProblem("not a JSON object")
    return value


def decode(body):
    """(text, whether the body was valid UTF-8)."""
    try:
        return body.decode("utf-8"), True
    except UnicodeDecodeError:
        return body.decode("utf-8", "surrogateescape"), False


def problem(body):
    """None when `body` keeps the contract, else what breaks it."""
    text, _ = decode(body)
    try:
        value = dict(load_object_pairs(text))
    except JsonProblem as error:
        return f"not a JSON body: {error}"
    errors = sorted(VALIDATOR.iter_errors(value), key=lambda e: list(e.absolute_path))
    if errors:
        return "; ".join(f"{'/'.join(map(str, e.absolute_path)) or 'body'}: {e.message}"
                         for e in errors)
    ordered = {key: value[key] for key in KEY_ORDER if key in value}
    canonical = json.dumps(ordered, ensure_ascii=False, separators=(",", ":"))
    if canonical.encode("utf-8", "surrogateescape") != body:
        return f"not in the product's form (key order, spacing or escapes): {canonical!r}"
    return None
