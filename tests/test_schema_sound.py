"""Schema validation judges what loads returns: multipleOf on huge
quotients, merges and repeated keys as each road carries them out, the empty
first document of a round-trip stream, and no secret text in a violation."""

import random

import pytest

import quillfern as q

RT = q.OPT_ROUND_TRIP

ROADS = {
    "plain": 0,
    "round trip": RT,
    "annotated": q.OPT_ANNOTATED,
    "directives": q.OPT_ENV_VAR,
}


def verdict(text, schema, option=0, **kw):
    """None when loads passes, else (message, schema_path)."""
    try:
        q.loads(text, schema=schema, option=option, **kw)
    except q.QuillfernSchemaError as e:
        return str(e), e.schema_path
    return None


def plain(value):
    """The returned value as plain data (documents, annotated classes undone)."""
    if isinstance(value, (q.QuillfernDocument, q.QuillfernDocumentView)):
        value = value.to_dict()
    if isinstance(value, dict):
        return {plain(k): plain(v) for k, v in value.items()}
    if isinstance(value, list):
        return [plain(v) for v in value]
    for kind in (bool, str, int, float):
        if isinstance(value, kind):
            return kind(value)
    return value


# ------------------------------------------------------------- multipleOf

MULTIPLES = [
    # A quotient of 2**53 or more (or an infinite one) leaves no fraction.
    ({"type": "integer", "multipleOf": 0.5}, "1e308", True),
    ({"multipleOf": 0.5}, "-1e308", True),
    ({"multipleOf": 0.1}, "1.7976931348623157e308", True),
    ({"multipleOf": 1e-300}, "3", True),
    ({"multipleOf": 3}, "1e300", True),
    ({"multipleOf": 0.5}, "9007199254740993", True),
    ({"multipleOf": 0.75}, "1e16", True),
    # Below that the fraction still counts.
    ({"multipleOf": 0.5}, "4503599627370495.5", True),
    ({"multipleOf": 0.5}, "1000000.25", False),
    ({"multipleOf": 0.5}, "1.25", False),
    ({"multipleOf": 7}, "1e300", True),
    # Integers stay exact, and infinity is no multiple.
    ({"multipleOf": 2}, "9007199254740993", False),
    ({"multipleOf": 0.5}, ".inf", False),
    ({"multipleOf": 0.5}, "-.inf", False),
]


@pytest.mark.parametrize("schema, text, passes", MULTIPLES)
@pytest.mark.parametrize("option", [0, RT])
def test_multiple_of_with_huge_quotients(schema, text, passes, option):
    got = verdict(text, schema, option)
    assert (got is None) == passes, got
    if not passes:
        assert "is not a multiple of" in got[0]


# ------------------------------------------------------------------ merges

MERGE_TEXTS = [
    "<<: null\n",
    "<<: ~\n",
    "<<:\nm: 1\n",
    "<<: !!null\n",
    "<<: !!null x\n",
    "<<: ''\n",
    "<<: !!str\n",
    "'<<': null\n",
    "{'<<': null}",
    "!!merge m: 5\n",
    "%YAML 1.1\n---\n!!merge m: 5\n",
    "!!merge m: {a: 1}\n",
    "<<: 5\n",
    "<<: 5\n<<: 6\n",
    "<<: [5, 6]\n<<: 7\n",
    "<<: [5, [6]]\n<<: [7]\n",
    "'<<': 1\n<<: 5\n",
    "<<: 5\n'<<': 1\n",
    "<<: [null, {a: 1}, ~]\n",
    "<<: [[{a: 1}], 5]\n",
    "<<: [{a: 1}, {a: 2}, 5, {b: 1}]\n",
    "<<: {a: 1, <<: 2}\n",
    "'<<': 1\n<<: {'<<': 2, a: 1}\n",
    "<<: {a: 1}\n<<: [5]\n'<<': 2\n<<: 6\n",
    "<<: {a: 1, b: 2}\nb: x\n",
    "<<: {a: 1}\na: x\na: 2\n",
    "a: 1\na: x\n<<: {b: 1}\n",
    "<<: {a: 1, a: x}\n",
    "<<: {m: 1}\nm: '1'\n",
    "<<: {true: 1}\na: 1\n",
    "<<: !foo {a: 1}\n",
    "<<: [!foo {a: 1}, {m: x}]\n",
    "<<: !!map {a: 1}\n",
    "<<: !foo 5\n<<: 6\n",
    "<<: &x {a: 1}\nb: *x\n",
    "<<: [&x {a: 1}, *x]\n",
    "s: &s !foo {a: 1}\nc: {<<: *s}\n",
    "a: &m <<\nb:\n  *m : {x: 1}\n",
    "%TAG !e! tag:yaml.org,2002:\n---\n<<: !e!map {a: 1}\n",
    "%TAG !e! tag:other:\n---\n<<: !e!map {a: 1}\n",
]

# Each probes something a merge may add, drop or keep under "<<".
MERGE_SCHEMAS = [
    {"required": ["<<"]},
    {"required": ["a"]},
    {"properties": {"<<": {"type": "array"}}},
    {"properties": {"<<": {"type": ["integer", "string"]}}},
    {"properties": {"<<": {"maxItems": 2}}},
    {"properties": {"m": {"type": "string"}}},
    {"properties": {"a": {"const": 1}, "b": {"const": 1}}},
    {"maxProperties": 1},
    {"propertyNames": {"not": {"const": "<<"}}},
    {"additionalProperties": {"type": "integer"}},
]


def pinned(value):
    """A schema that only the value itself passes."""
    if isinstance(value, dict) and all(isinstance(k, str) for k in value):
        return {"required": list(value), "additionalProperties": False,
                "properties": {k: pinned(v) for k, v in value.items()}}
    return {"const": value}


@pytest.mark.parametrize("road", ROADS)
@pytest.mark.parametrize("text", MERGE_TEXTS)
def test_merges_are_validated_as_the_road_returns_them(text, road):
    jsonschema = pytest.importorskip("jsonschema")
    option = ROADS[road]
    returned = plain(q.loads(text, option=option))
    for schema in [*MERGE_SCHEMAS, pinned(returned)]:
        expected = jsonschema.Draft7Validator(schema).is_valid(returned)
        got = verdict(text, schema, option)
        assert (got is None) == expected, (returned, schema, got)


def random_merge_text(rnd, depth=0):
    """Flow YAML full of merge keys, rests, nulls and tags; no two keys of a
    mapping alike except "<<"."""
    r = rnd.random()
    if depth > 2 or r < 0.3:
        return rnd.choice(["1", "x", "null", "~", "''", "!!str", "!!null", "!foo 1", "'<<'", "true", "1.0"])
    if r < 0.5:
        items = ", ".join(random_merge_text(rnd, depth + 1) for _ in range(rnd.randint(0, 3)))
        return rnd.choice(["", "", "!foo ", "!!seq "]) + "[" + items + "]"
    keys = rnd.sample(["a", "b", "c", "'<<'", "!!merge m"], rnd.randint(0, 3)) + ["<<"] * rnd.randint(0, 2)
    rnd.shuffle(keys)
    pairs = ", ".join(f"{k}: {random_merge_text(rnd, depth + 1)}" for k in keys)
    return rnd.choice(["", "", "", "!foo ", "!!map "]) + "{" + pairs + "}"


def test_random_merges_are_validated_as_each_road_returns_them():
    jsonschema = pytest.importorskip("jsonschema")
    rnd = random.Random(3003)
    for _ in range(1000):
        text = random_merge_text(rnd)
        if rnd.random() < 0.3:
            text = "%YAML 1.1\n---\n" + text
        for road, option in ROADS.items():
            returned = plain(q.loads(text, option=option))
            if isinstance(returned, dict) and not all(isinstance(k, str) for k in returned):
                continue
            schema = pinned(returned)
            expected = jsonschema.Draft7Validator(schema).is_valid(returned)
            assert (verdict(text, schema, option) is None) == expected, (road, text, returned)


def test_merge_examples():
    # A null merge value merges nothing: "<<" is gone.
    assert q.loads("<<: null\n") == {}
    assert verdict("<<: null\n", {"required": ["<<"]}) == (
        "schema validation failed: missing required property '<<' at $ (line 1, column 1)", "$")
    # Under YAML 1.2 a !!merge-tagged key on a source tree keeps its
    # unmergeable value under its own text.
    assert q.loads("!!merge m: 5\n", option=RT).to_dict() == {"m": 5}
    assert verdict("!!merge m: 5\n", {"properties": {"m": {"type": "string"}}}, RT) == (
        "schema validation failed: expected type string, found integer at $.m (line 1, column 12)", "$.m")
    # Two rests under one "<<" are one list, reported at the first one.
    assert verdict("<<: 5\n<<: 6\n", {"properties": {"<<": {"type": "integer"}}}) == (
        "schema validation failed: expected type integer, found array at $.<< (line 1, column 5)", "$.<<")


# ----------------------------------------------------------- repeated keys

REPEAT_TEXTS = [
    "a: 1\na: x\n",
    "a: 1\nb: 2\na: x\n",
    "a: x\nb: 2\na: 1\nb: y\n",
    "a: x\n'a': 1\n\"\\x61\": 2\n",
    "!!str a: 1\na: x\n",
    "!foo a: 1\na: x\n",
    "{a: 1, b: 2, a: x}\n",
    "x: {a: 1, a: x}\ny: [{b: 1, a: 1, a: x}]\n",
    "<<: {b: 1}\na: 1\na: x\n",
    "a: 1\n<<: {a: 2, c: 1}\na: x\n",
    "k: &k a\n*k : 1\na: x\n",
    "k: &k a\na: x\n*k : 1\n",
    "'1': a\n1: b\n",
    "%YAML 1.1\n---\n'yes': 1\nyes: x\n",
    "".join(f"k{i}: {i}\n" for i in range(12)) + "k3: x\na: 1\na: x\n",
    "".join(f"k{i}: {i}\n" for i in range(12)) + "a: x\n",
    # Keys the dict tells apart by value rather than text.
    "1: a\n1.0: b\ntrue: c\n",
    "0x1: a\n1: b\n0o1: c\nb: 1\n",
    "null: 1\n~: x\n: 2\n",
    "%YAML 1.1\n---\nyes: 1\ntrue: x\non: 2\n",
    "%YAML 1.1\n---\n1_000: a\n1000: b\n",
    "!!str 1: a\n'1': b\n1: c\n",
    "? [1]\n: 1\n? [1]\n: x\n",
    "? {a: 1}\n: 1\n? {a: 1}\n: x\nb: 2\n",
    "{1: a, 1.0: b, c: 1}\n",
    ".nan: 1\n.nan: x\n",
]

# What a repeated key can change: a value's type, the count, the keys present.
REPEAT_SCHEMAS = [
    {"properties": {"a": {"type": "string"}}},
    {"properties": {"a": {"type": "integer"}, "b": {"type": "integer"}}},
    {"maxProperties": 1},
    {"maxProperties": 2},
    {"minProperties": 3},
    {"additionalProperties": {"type": "integer"}},
    {"additionalProperties": {"type": "string"}},
    {"dependencies": {"a": ["b"]}},
    {"required": ["a", "b"]},
    {"properties": {"x": {"maxProperties": 1}, "y": {"items": {"additionalProperties": {"type": "string"}}}}},
]


@pytest.mark.parametrize("road", {**ROADS, "plain, warned": q.OPT_DUPLICATE_KEYS_WARN})
@pytest.mark.parametrize("text", REPEAT_TEXTS)
def test_repeated_keys_are_validated_as_the_road_returns_them(text, road):
    jsonschema = pytest.importorskip("jsonschema")
    option = ROADS.get(road, q.OPT_DUPLICATE_KEYS_WARN)
    returned = plain(q.loads(text, option=option))
    schemas = list(REPEAT_SCHEMAS)
    if all(isinstance(k, str) for k in returned):
        # The validator reads other keys by their text, jsonschema by value.
        schemas += [{"propertyNames": {"maxLength": 1}}, pinned(returned)]
    elif any(isinstance(k, tuple) for k in returned):
        # Collection keys name no property: only the count is comparable.
        schemas = [s for s in schemas if set(s) <= {"maxProperties", "minProperties"}]
    for schema in schemas:
        expected = jsonschema.Draft7Validator(schema).is_valid(returned)
        got = verdict(text, schema, option)
        assert (got is None) == expected, (returned, schema, got)


def test_repeated_key_examples():
    schema = {"properties": {"a": {"type": "string"}}}
    assert verdict("a: 1\na: x\n", schema) is None
    # The first place keeps its position, the last value is judged there.
    assert verdict("a: x\nb: 1\na: 1\n", schema) == (
        "schema validation failed: expected type string, found integer at $.a (line 3, column 4)", "$.a")
    assert verdict("1: a\n1.0: b\ntrue: c\n", {"maxProperties": 1}) is None
    assert verdict(".nan: 1\n.nan: 2\n", {"maxProperties": 1})[1] == "$"
    # Refused duplicates fail the load before any validation.
    with pytest.raises(q.QuillfernDuplicateKeyError):
        q.loads("a: 1\na: x\n", schema={"type": "string"}, option=q.OPT_DUPLICATE_KEYS_ERROR)


# ------------------------------------------------- empty first documents

EMPTY_FIRST = [
    "---\n---\na: 1\n",
    "--- \n...\n---\na: 1\n",
    "---\n# note\n---\na: 1\n",
    "---\n---\n---\n- 1\n",
    "%YAML 1.2\n---\n---\na: 1\n",
]

EMPTY_ROADS = {**ROADS, "round trip with directives": RT | q.OPT_ENV_VAR}


@pytest.mark.parametrize("road", EMPTY_ROADS)
@pytest.mark.parametrize("text", EMPTY_FIRST)
def test_an_empty_first_document_is_never_validated(text, road):
    option = EMPTY_ROADS[road]
    assert verdict(text, {"type": "null"}, option) is None
    assert verdict(text, False, option) is None


@pytest.mark.parametrize("road", EMPTY_ROADS)
def test_a_first_document_with_content_is_validated(road):
    option = EMPTY_ROADS[road]
    # A comment before the first "---" starts no document of its own.
    assert verdict("# note\n---\na: 1\n", {"type": "null"}, option)[1] == "$"
    # A tagged empty document has a value: the empty string.
    assert verdict("--- !!str\n---\na: 1\n", {"type": "null"}, option)[1] == "$"


# ----------------------------------------------------------------- secrets

SECRETS = "pw: HUNTER2\nnum: 70000\nmap: {ALICE: HUNTER2, n: 1}\nlist: [HUNTER2, {ALICE: 1}]\n"
SECRET_WORDS = ("HUNTER2", "ALICE", "70000")

# (text, schema, expected schema_path, expected message)
SECRET_CASES = [
    ("a: &x !secret pw\nb: {*x : 1}\n", {"properties": {"b": {"additionalProperties": False}}},
     "$.b.<secret>", "additional property '<secret>' is not allowed"),
    ("a: &x !secret pw\nb: {*x : 1}\n", {"properties": {"b": {"additionalProperties": {"type": "string"}}}},
     "$.b.<secret>", "expected type string, found integer"),
    ("a: &x !secret pw\nb: {*x : 1}\n", {"properties": {"b": {"propertyNames": {"maxLength": 3}}}},
     "$.b.<secret>", "string is longer than maxLength 3"),
    ("b: !secret map\n", {"properties": {"b": {"properties": {"n": {}}, "additionalProperties": False}}},
     "$.b.<secret>", "additional property '<secret>' is not allowed"),
    ("b: !secret map\n", {"properties": {"b": {"patternProperties": {"^A": {"type": "integer"}}}}},
     "$.b.<secret>", "expected type integer, found string"),
    ("b: !secret map\n", {"properties": {"b": {"propertyNames": {"pattern": "^n$"}}}},
     "$.b.<secret>", "string does not match pattern /^n$/"),
    ("m:\n  <<: !secret map\n  n: 2\n", {"properties": {"m": {"additionalProperties": {"type": "integer"}}}},
     "$.m.<secret>", "expected type integer, found string"),
    ("l: !secret list\n", {"properties": {"l": {"items": {"type": "integer"}}}},
     "$.l[0]", "expected type integer, found string"),
    ("l: !secret list\n", {"properties": {"l": {"items": {"additionalProperties": False}}}},
     "$.l[1].<secret>", "additional property '<secret>' is not allowed"),
    ("n: !secret num\n", {"properties": {"n": {"maximum": 5}}},
     "$.n", "value <secret> is greater than maximum 5"),
    ("n: !secret num\n", {"properties": {"n": {"multipleOf": 3}}},
     "$.n", "value <secret> is not a multiple of 3"),
    ("p: !secret pw\n", {"properties": {"p": {"enum": ["x"]}}},
     "$.p", "value is not one of the allowed enum values"),
    ("p: !secret pw\n", {"properties": {"p": {"const": "x"}}},
     "$.p", "value does not equal the required const"),
    ("p: !secret pw\n", {"properties": {"p": {"pattern": "^x"}}},
     "$.p", "string does not match pattern /^x/"),
]


@pytest.fixture(scope="module")
def conf(tmp_path_factory):
    d = tmp_path_factory.mktemp("conf")
    (d / "secrets.yaml").write_text(SECRETS)
    return d


@pytest.mark.parametrize("road", [0, q.OPT_ANNOTATED, RT], ids=["plain", "annotated", "round trip"])
@pytest.mark.parametrize("text, schema, path, message", SECRET_CASES)
def test_no_secret_text_in_a_violation(conf, text, schema, path, message, road):
    with pytest.raises(q.QuillfernSchemaError) as info:
        q.loads(text, schema=schema, option=q.OPT_SECRETS | road, include_dir=str(conf))
    e = info.value
    assert e.schema_path == path
    assert str(e).startswith(f"schema validation failed: {message} at {path} (line ")
    shown = f"{e} {e.args!r} {e.schema_path}"
    assert not any(word in shown for word in SECRET_WORDS), shown


def test_text_beside_a_secret_is_still_shown(conf):
    # Only secret text is hidden: a key of the main text beside it is not.
    got = verdict("b: !secret map\nc: 70001\n", {"additionalProperties": {"type": "string"}}, q.OPT_SECRETS,
                  include_dir=str(conf))
    assert got[1] == "$.b"
    got = verdict("b: !secret map\nc: 70001\n", {"properties": {"c": {"maximum": 5}}}, q.OPT_SECRETS,
                  include_dir=str(conf))
    assert got == ("schema validation failed: value 70001 is greater than maximum 5 at $.c (line 2, column 4)", "$.c")
