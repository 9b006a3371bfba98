"""Random documents against random schemas on both roads: every call returns
or raises one of the library's errors, and the plain and round-trip roads
(which read untagged YAML 1.2 alike) report the same first violation."""

import os
import random
import time

import quillfern as q

BUDGET = float(os.environ.get("QUILLFERN_FUZZ_SECONDS", "3"))
if os.environ.get("QUILLFERN_SANITIZED"):
    BUDGET = min(BUDGET, 1.0)

SCALARS = ["1", "-2", "3.5", "0x10", "1e3", ".inf", ".nan", "yes", "true", "null", "~", "abc", "'1'", '"x y"',
           "2024-01-02", "99999999999999999999", "é", "<<", "'<<'", ""]
KEYS = ["a", "b", "c", "1", "x-a", "<<", "'a'", "[a]"]


def document(rnd, depth=0):
    r = rnd.random()
    if depth > 3 or r < 0.35:
        return rnd.choice(SCALARS) or "''"
    if r < 0.65:
        return "[" + ", ".join(document(rnd, depth + 1) for _ in range(rnd.randint(0, 4))) + "]"
    pairs = []
    for _ in range(rnd.randint(0, 4)):
        key = rnd.choice(KEYS)
        value = document(rnd, depth + 1)
        if key == "<<" and rnd.random() < 0.7:
            value = "{" + ", ".join(f"{rnd.choice(KEYS[:4])}: {rnd.choice(SCALARS[:6])}" for _ in range(2)) + "}"
        pairs.append(f"{key}: {value}")
    return "{" + ", ".join(pairs) + "}"


def with_anchors(rnd, text):
    # An anchored copy first, then aliases to it inside the document.
    if rnd.random() < 0.3:
        return "{base: &b " + document(rnd, 2) + ", doc: " + text.replace("abc", "*b", 1) + "}"
    return text


def schema(rnd, depth=0):
    if depth > 3 or rnd.random() < 0.15:
        return rnd.choice([True, False, {}, {"$ref": "#"}, {"$ref": "#/definitions/d"}, {"$ref": "#/nope"}])
    s = {}
    for _ in range(rnd.randint(1, 3)):
        k = rnd.choice([
            "type", "enum", "const", "minimum", "exclusiveMaximum", "multipleOf", "minLength", "maxLength",
            "pattern", "required", "properties", "patternProperties", "additionalProperties", "minProperties",
            "propertyNames", "dependencies", "items", "additionalItems", "uniqueItems", "contains", "allOf",
            "anyOf", "oneOf", "not", "maxItems"])
        sub = lambda: schema(rnd, depth + 1)  # noqa: E731
        s[k] = {
            "type": lambda: rnd.choice(["integer", "string", ["number", "null"], "object", "array", "boolean"]),
            "enum": lambda: rnd.sample([1, "a", None, 1.0, [1], {"a": 1}, True, 10**20], 3),
            "const": lambda: rnd.choice([1, "a", None, {"a": 1}, [1, "a"]]),
            "minimum": lambda: rnd.choice([0, 2.5, -1]),
            "exclusiveMaximum": lambda: rnd.choice([1, 100]),
            "multipleOf": lambda: rnd.choice([2, 0.5, 3]),
            "minLength": lambda: rnd.choice([1, 2, 2.0]),
            "maxLength": lambda: rnd.choice([0, 3]),
            "pattern": lambda: rnd.choice(["^a", r"\d", "(", r"^[\w-]+$", "é"]),
            "required": lambda: rnd.sample(["a", "b", "1", "<<"], 2),
            "properties": lambda: {rnd.choice(["a", "b", "1", "<<"]): sub() for _ in range(2)},
            "patternProperties": lambda: {rnd.choice(["^x", "a|b", "["]): sub()},
            "additionalProperties": sub,
            "minProperties": lambda: rnd.choice([1, 3]),
            "propertyNames": sub,
            "dependencies": lambda: {"a": rnd.choice([["b"], sub()])},
            "items": lambda: rnd.choice([sub(), [sub(), sub()]]),
            "additionalItems": sub,
            "uniqueItems": lambda: True,
            "contains": sub,
            "allOf": lambda: [sub(), sub()],
            "anyOf": lambda: [sub(), sub()],
            "oneOf": lambda: [sub(), sub()],
            "not": sub,
            "maxItems": lambda: 2,
        }[k]()
    if depth == 0:
        s["definitions"] = {"d": schema(rnd, 2)}
    return s


def outcome(text, s, option):
    try:
        q.loads(text, schema=s, option=option)
        return None
    except q.QuillfernSchemaError as e:
        return (str(e), e.schema_path, e.line, e.column)


def test_random_documents_and_schemas_agree_on_both_roads():
    rnd = random.Random(1717)
    deadline = time.monotonic() + BUDGET
    runs = 0
    while time.monotonic() < deadline or runs < 50:
        text = with_anchors(rnd, document(rnd))
        try:
            q.loads(text)
        except q.QuillfernError:
            continue
        s = schema(rnd)
        option = rnd.choice([0, 0, q.OPT_YAML_1_1, q.OPT_KESTIL_COMPAT])
        plain = outcome(text, s, option)
        assert outcome(text, s, option | q.OPT_ROUND_TRIP) == plain, (text, s, option)
        runs += 1
