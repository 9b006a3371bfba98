"""Schema validation through loads(schema=...): every keyword's message with
its instance path and position, the check order, $ref, modelines and
schema="auto", both roads, and the places where validation follows the
returned value."""

import logging

import pytest

import quillfern as q

RT = q.OPT_ROUND_TRIP


def violation(text, schema, option=0):
    """(message, schema_path, line, column) of the raised error, or None."""
    try:
        q.loads(text, schema=schema, option=option)
    except q.QuillfernSchemaError as e:
        prefix = "schema validation failed: "
        assert str(e).startswith(prefix)
        tail = f" at {e.schema_path} (line {e.line}, column {e.column})"
        assert str(e).endswith(tail), str(e)
        return str(e)[len(prefix):-len(tail)], e.schema_path, e.line, e.column
    return None


def both_roads(text, schema):
    plain = violation(text, schema)
    assert violation(text, schema, RT) == plain, text
    return plain


# (schema, text, expected (message, path, line, column) or None)
KEYWORDS = [
    # boolean and non-mapping schemas
    (False, "x: 1\n", ("value is not allowed (schema is false)", "$", 1, 1)),
    (True, "x: 1\n", None),
    ({}, "x: 1\n", None),
    (5, "x: 1\n", None),
    ("a string", "x: 1\n", None),
    # type
    ({"properties": {"server": {"properties": {"port": {"type": "integer"}}}}}, "server:\n  port: abc\n",
     ("expected type integer, found string", "$.server.port", 2, 9)),
    ({"type": "integer"}, "3", None),
    ({"type": "integer"}, "3.0", None),
    ({"type": "integer"}, "12345678901234567890", None),
    ({"type": "integer"}, "3.5", ("expected type integer, found number", "$", 1, 1)),
    ({"type": "integer"}, ".inf", ("expected type integer, found number", "$", 1, 1)),
    ({"type": "number"}, ".nan", None),
    ({"type": "strin"}, "1", None),
    ({"type": ["string", "null"]}, "5", ("expected type string | null, found integer", "$", 1, 1)),
    ({"type": []}, "[]", ("expected type , found array", "$", 1, 1)),
    ({"type": "string"}, "yes", None),
    ({"type": "string"}, "2024-01-02", None),
    ({"type": "boolean"}, "true", None),
    ({"type": "null"}, "~", None),
    ({"type": "object"}, "[1]", ("expected type object, found array", "$", 1, 1)),
    # enum and const
    ({"enum": [1, "a"]}, "1.0", None),
    ({"enum": [1, "a"]}, "a", None),
    ({"enum": [1, "a"]}, "'1'", ("value is not one of the allowed enum values", "$", 1, 1)),
    ({"enum": []}, "1", ("value is not one of the allowed enum values", "$", 1, 1)),
    ({"const": {"a": [1, 2]}}, "{a: [1.0, 2]}", None),
    ({"const": {"a": [1, 2]}}, "{a: [2, 1]}", ("value does not equal the required const", "$", 1, 1)),
    ({"const": True}, "1", ("value does not equal the required const", "$", 1, 1)),
    ({"const": None}, "", None),
    # numeric bounds
    ({"minimum": 5}, "3", ("value 3 is less than minimum 5", "$", 1, 1)),
    ({"maximum": 2.5}, "3", ("value 3 is greater than maximum 2.5", "$", 1, 1)),
    ({"exclusiveMinimum": 5}, "5", ("value 5 is not greater than 5", "$", 1, 1)),
    ({"exclusiveMaximum": 0.0001}, "0.0001", ("value 0.0001 is not less than 0.0001", "$", 1, 1)),
    ({"minimum": 5, "exclusiveMinimum": True}, "5", None),
    ({"maximum": 1e20}, "1e21", ("value 1000000000000000000000 is greater than maximum 100000000000000000000", "$", 1, 1)),
    ({"maximum": 0}, ".inf", ("value inf is greater than maximum 0", "$", 1, 1)),
    ({"minimum": 0}, "-.inf", ("value -inf is less than minimum 0", "$", 1, 1)),
    ({"minimum": 0}, ".nan", None),
    ({"maximum": -1}, "-0.0", ("value -0 is greater than maximum -1", "$", 1, 1)),
    ({"minimum": 0}, "x", None),
    ({"minimum": 0}, "true", None),
    ({"multipleOf": 0.1}, "0.3", None),
    ({"multipleOf": 3}, "10", ("value 10 is not a multiple of 3", "$", 1, 1)),
    ({"multipleOf": 0}, "10", None),
    ({"multipleOf": -2}, "3", None),
    ({"multipleOf": 2}, "1" + "0" * 39, None),
    # 2**127 - 2, checked exactly although its double is 2**127
    ({"multipleOf": 7}, "170141183460469231731687303715884105726", None),
    ({"multipleOf": 5}, "170141183460469231731687303715884105726",
     ("value 170141183460469231731687303715884105728 is not a multiple of 5", "$", 1, 1)),
    # strings
    ({"minLength": 2}, "é", ("string is shorter than minLength 2", "$", 1, 1)),
    ({"maxLength": 3}, "abcd", ("string is longer than maxLength 3", "$", 1, 1)),
    ({"maxLength": -1}, "''", ("string is longer than maxLength -1", "$", 1, 1)),
    ({"minLength": 2.5}, "a", None),
    ({"minLength": "2"}, "a", None),
    ({"minLength": 2.0}, "a", ("string is shorter than minLength 2", "$", 1, 1)),
    ({"maxLength": 1e300}, "abc", None),
    ({"minLength": 5}, "12", None),  # not a string
    ({"pattern": "^a"}, "ba", ("string does not match pattern /^a/", "$", 1, 1)),
    ({"pattern": "b"}, "abc", None),
    ({"pattern": "("}, "abc", ("schema has an invalid regex pattern /(/", "$", 1, 1)),
    ({"pattern": "("}, "12", None),
    # $ref
    ({"$ref": "#/definitions/port", "type": "string", "definitions": {"port": {"type": "integer"}}}, "8080", None),
    ({"$ref": "#"}, "1", ("schema $ref nesting too deep (cyclic reference?)", "$", 1, 1)),
    ({"$ref": "other.json#/a"}, "1", ("unresolvable schema $ref 'other.json#/a'", "$", 1, 1)),
    ({"$ref": "#foo"}, "1", ("unresolvable schema $ref '#foo'", "$", 1, 1)),
    ({"$ref": "#/missing"}, "1", ("unresolvable schema $ref '#/missing'", "$", 1, 1)),
    ({"$ref": ""}, "1", ("unresolvable schema $ref ''", "$", 1, 1)),
    ({"$ref": "#/items/01", "items": [{"type": "string"}, {"type": "integer"}]}, "x", ("expected type integer, found string", "$", 1, 1)),
    ({"$ref": "#/items/+1", "items": [{"type": "string"}, {"type": "integer"}]}, "x", ("expected type integer, found string", "$", 1, 1)),
    ({"$ref": "#/items/-1", "items": [{}]}, "x", ("unresolvable schema $ref '#/items/-1'", "$", 1, 1)),
    ({"$ref": "#/items/99999999999999999999", "items": [{}]}, "x", ("unresolvable schema $ref '#/items/99999999999999999999'", "$", 1, 1)),
    ({"$ref": "#/a~1b", "a/b": {"type": "integer"}}, "x", ("expected type integer, found string", "$", 1, 1)),
    ({"$ref": "#/a~01", "a~1": {"type": "integer"}}, "x", ("expected type integer, found string", "$", 1, 1)),
    ({"$ref": 5, "type": "integer"}, "x", ("expected type integer, found string", "$", 1, 1)),
    # combinators
    ({"anyOf": []}, "1", ("value does not match any of the anyOf schemas", "$", 1, 1)),
    ({"oneOf": []}, "1", ("value matches 0 of the oneOf schemas (exactly one required)", "$", 1, 1)),
    ({"anyOf": [{"type": "string"}, {"type": "integer"}]}, "1", None),
    ({"oneOf": [{"type": "integer"}, {"minimum": 0}]}, "1", ("value matches 2 of the oneOf schemas (exactly one required)", "$", 1, 1)),
    ({"allOf": [{"type": "integer"}, {"minimum": 3}]}, "1", ("value 1 is less than minimum 3", "$", 1, 1)),
    ({"not": {}}, "1", ("value must not match the 'not' schema", "$", 1, 1)),
    ({"not": False}, "1", None),
    # object keywords
    ({"required": ["a", "b"]}, "a: 1\n", ("missing required property 'b'", "$", 1, 1)),
    ({"required": ["1"]}, "1: x\n", None),
    ({"required": ["a", 5]}, "a: 1\n", None),
    ({"properties": {"a": {"type": "string"}}, "additionalProperties": False}, "a: 1\nb: 2\n",
     ("expected type string, found integer", "$.a", 1, 4)),
    ({"properties": {"a": {}}, "additionalProperties": False}, "a: 1\nb: 2\n",
     ("additional property 'b' is not allowed", "$.b", 2, 4)),
    ({"patternProperties": {"^x-": {"type": "integer"}}, "additionalProperties": False}, "x-a: 1\ny: 2\n",
     ("additional property 'y' is not allowed", "$.y", 2, 4)),
    ({"patternProperties": {"^x-": {"type": "integer"}}}, "x-a: b\n", ("expected type integer, found string", "$.x-a", 1, 6)),
    ({"patternProperties": {"(": {}}}, "a: 1\n", ("schema has an invalid regex pattern /(/", "$", 1, 1)),
    ({"patternProperties": {"(": {}}}, "[1]", None),
    ({"additionalProperties": {"type": "string"}}, "a: x\nb: 2\n", ("expected type string, found integer", "$.b", 2, 4)),
    ({"maxProperties": 1}, "[a]: 1\nb: 2\n", ("object has more than maxProperties 1", "$", 1, 1)),
    ({"required": ["[a]"], "additionalProperties": False}, "[a]: 1\n", ("missing required property '[a]'", "$", 1, 1)),
    ({"minProperties": 2}, "{}", ("object has fewer than minProperties 2", "$", 1, 1)),
    ({"maxProperties": -1}, "{}", ("object has more than maxProperties -1", "$", 1, 1)),
    ({"propertyNames": {"maxLength": 3}}, "long: 1\n", ("string is longer than maxLength 3", "$.long", 1, 1)),
    ({"propertyNames": {"type": "string"}}, "1: x\n", None),
    ({"dependencies": {"a": ["b"]}}, "a: 1\n", ("property 'a' requires 'b' to also be present", "$", 1, 1)),
    ({"dependencies": {"a": ["b"]}}, "b: 1\n", None),
    ({"dependencies": {"a": {"required": ["c"]}}}, "a: 1\n", ("missing required property 'c'", "$", 1, 1)),
    ({"dependencies": {"a": False}}, "a: 1\n", ("value is not allowed (schema is false)", "$", 1, 1)),
    # array keywords
    ({"minItems": 2}, "[1]", ("array has fewer than minItems 2", "$", 1, 1)),
    ({"maxItems": 1}, "[1, 2]", ("array has more than maxItems 1", "$", 1, 1)),
    ({"items": {"type": "integer"}}, "[1, x]", ("expected type integer, found string", "$[1]", 1, 5)),
    ({"items": [{"type": "integer"}], "additionalItems": False}, "[1, 2, 3]",
     ("array has more items than the 1 allowed", "$[1]", 1, 5)),
    ({"items": [{}], "additionalItems": {"type": "string"}}, "[1, 2]", ("expected type string, found integer", "$[1]", 1, 5)),
    ({"additionalItems": False}, "[1, 2]", None),
    ({"items": False}, "[]", None),
    ({"uniqueItems": True}, "[1, 1.0]", ("array items are not unique", "$", 1, 1)),
    ({"uniqueItems": True}, "[1, '1']", None),
    ({"uniqueItems": True}, "[{a: 1}, {a: 1}]", ("array items are not unique", "$", 1, 1)),
    ({"uniqueItems": True}, "[true, 1]", None),
    ({"uniqueItems": True}, "[{a: 1, b: 2}, {b: 2, a: 1}]", ("array items are not unique", "$", 1, 1)),
    ({"uniqueItems": False}, "[1, 1]", None),
    ({"contains": {"type": "string"}}, "[]", ("no array item matches the 'contains' schema", "$", 1, 1)),
    ({"contains": {"type": "string"}}, "[1, a]", None),
    # a scalar root passes every object and array keyword
    ({"required": ["a"], "minItems": 3, "uniqueItems": True, "contains": False}, "5", None),
]


@pytest.mark.parametrize("schema, text, expected", KEYWORDS, ids=[str(i) for i in range(len(KEYWORDS))])
def test_keywords(schema, text, expected):
    assert both_roads(text, schema) == expected


# The first violation in the keywords' order wins.
ORDER = [
    ({"type": "string", "enum": [1], "minimum": 5}, "3", "expected type string, found integer"),
    ({"enum": ["x"], "const": "y", "minimum": 5}, "3", "value is not one of the allowed enum values"),
    ({"const": "y", "minimum": 5}, "3", "value does not equal the required const"),
    ({"maximum": 1, "minimum": 5}, "3", "value 3 is less than minimum 5"),
    ({"multipleOf": 2, "exclusiveMaximum": 3}, "3", "value 3 is not less than 3"),
    ({"pattern": "z", "minLength": 9}, "abc", "string is shorter than minLength 9"),
    ({"allOf": [{"minimum": 9}], "required": ["z"]}, "a: 1", "missing required property 'z'"),
    ({"not": {}, "anyOf": [False]}, "1", "value does not match any of the anyOf schemas"),
    ({"required": ["b"], "properties": {"a": {"type": "string"}}}, "a: 1", "missing required property 'b'"),
    ({"minProperties": 5, "properties": {"a": {"type": "string"}}}, "a: 1", "expected type string, found integer"),
    ({"items": {"type": "string"}, "minItems": 5}, "[1]", "array has fewer than minItems 5"),
]


@pytest.mark.parametrize("schema, text, message", ORDER)
def test_first_violation_in_check_order_wins(schema, text, message):
    assert both_roads(text, schema)[0] == message


def test_error_is_a_value_error_with_attributes():
    with pytest.raises(ValueError) as info:
        q.loads("a: [1, {b: x}]\n", schema={"properties": {"a": {"items": {"properties": {"b": {"type": "integer"}}}}}})
    e = info.value
    assert isinstance(e, q.QuillfernSchemaError)
    assert (e.schema_path, e.line, e.column) == ("$.a[1].b", 1, 12)
    assert str(e) == "schema validation failed: expected type integer, found string at $.a[1].b (line 1, column 12)"


def test_only_the_first_document_is_validated():
    schema = {"required": ["b"]}
    assert violation("a: 1\n---\nb: x\n", schema)[0] == "missing required property 'b'"
    assert q.loads("b: 1\n---\na: x\n", schema=schema) == {"b": 1}
    # An empty first document has nothing to check; the next one never
    # stands in for it.
    assert q.loads("---\n---\na: 1\n", schema={"type": "null"}) is None
    assert violation("---\n---\na: 1\n", {"type": "object"}) is None
    # Nor on the round-trip road, whose document leaves the empty one out.
    assert violation("---\n---\na: 1\n", {"type": "null"}, RT) is None
    # No document: the schema is not even converted.
    assert q.loads("# only a comment\n", schema={"x": object()}) is None
    assert violation("", {"x": object()}, RT) is None


def test_schema_conversion_errors_pass_through():
    with pytest.raises(q.QuillfernUnserializableError, match="^type object is not YAML serializable$"):
        q.loads("a: 1", schema={"x": object()})
    with pytest.raises(q.QuillfernUnserializableError):
        q.loads("a: 1", schema={"x": object()}, option=RT)


def test_tuple_and_subclass_schemas():
    class D(dict):
        pass

    assert violation("5", D(type="string"))[0] == "expected type string, found integer"
    assert violation("5", {"enum": (1, 2)})[0] == "value is not one of the allowed enum values"
    assert violation("x", {"type": ("integer", "null")})[0] == "expected type integer | null, found string"


def test_warnings_are_logged_before_the_schema_error(caplog):
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        with pytest.raises(q.QuillfernSchemaError):
            q.loads("a: 1\na: 2\n", schema={"type": "array"}, option=q.OPT_DUPLICATE_KEYS_WARN)
    assert any("duplicate" in r.getMessage() for r in caplog.records)


def test_parse_errors_come_before_validation():
    with pytest.raises(q.QuillfernParseError):
        q.loads("a: [1\n", schema=False)
    with pytest.raises(q.QuillfernParseError):
        q.loads("a: [1\n", schema=False, option=RT)
    # A syntax error in a later document still fails the plain road.
    with pytest.raises(q.QuillfernParseError):
        q.loads("a: 1\n---\nb: [\n", schema={})


# ------------------------------------------------------------- typing modes

TYPING = [
    # (text, option, expected type name of $.v)
    ("v: yes\n", 0, "string"),
    ("v: yes\n", q.OPT_YAML_1_1, "boolean"),
    ("%YAML 1.1\n---\nv: yes\n", 0, "boolean"),
    ("%YAML 1.2\n---\nv: yes\n", q.OPT_YAML_1_1, "string"),
    ("v: 0o17\n", 0, "integer"),
    ("v: 017\n", q.OPT_YAML_1_1, "integer"),
    ("v: 1e3\n", q.OPT_KESTIL_COMPAT, "string"),
    ("v: y\n", q.OPT_KESTIL_COMPAT, "string"),
    ("v: y\n", q.OPT_YAML_1_1, "boolean"),
    ("%YAML 1.2\n---\nv: yes\n", q.OPT_KESTIL_COMPAT, "boolean"),
    ("v: 2024-01-02\n", q.OPT_TIMESTAMPS, "string"),
    ("v: !!str 5\n", 0, "string"),
    ("v: !custom 5\n", 0, "string"),
    ("v: !!str\n", 0, "string"),
    ("v: '5'\n", 0, "string"),
    ("v:\n", 0, "null"),
]


@pytest.mark.parametrize("text, option, kind", TYPING)
def test_scalars_are_typed_as_the_result(text, option, kind):
    schema = {"properties": {"v": {"type": "array"}}}
    expected = ("expected type array, found " + kind, "$.v")
    assert violation(text, schema, option)[:2] == expected
    if not option & q.OPT_UPGRADE_1_1:
        assert violation(text, schema, option | RT)[:2] == expected


def test_round_trip_upgrade_validates_the_upgraded_document():
    schema = {"properties": {"v": {"type": "boolean"}, "w": {"type": "string"}}}
    # Under 1.1 both are booleans; the upgrade rewrites yes to true and keeps
    # the 1.1 string 'y'... as a boolean too.
    assert violation("v: yes\nw: ok\n", schema, RT | q.OPT_UPGRADE_1_1) is None
    assert violation("v: yes\nw: ok\n", schema, RT) == ("expected type boolean, found string", "$.v", 1, 4)


# ------------------------------------------------------ aliases and merges

def test_alias_is_validated_as_its_target_at_its_own_position():
    schema = {"properties": {"item": {"required": ["x"], "properties": {"x": {"type": "string"}}}}}
    text = "base: &b {x: 1}\nitem: *b\n"
    assert both_roads(text, schema) == ("expected type string, found integer", "$.item.x", 1, 14)
    assert both_roads(text, {"properties": {"item": {"type": "array"}}}) == (
        "expected type array, found object", "$.item", 2, 7)


def test_alias_stands_for_the_nearest_preceding_definition():
    text = "a: &x 1\nb: &x 2\nc: *x\n"
    assert q.loads(text) == {"a": 1, "b": 2, "c": 2}
    assert both_roads(text, {"properties": {"c": {"const": 2}}}) is None
    assert both_roads(text, {"properties": {"c": {"const": 1}}})[1] == "$.c"


MERGES = [
    ("<<: {a: 1, b: 2}\nb: 3\n", {"b": 3, "a": 1}),
    ("<<: [{a: 1}, {a: 2}]\n", {"a": 1}),
    ("<<: {a: 1, a: x}\n", {"a": "x"}),
    ("base: &b {x: 1}\nm:\n  <<: *b\n  y: 2\n", {"base": {"x": 1}, "m": {"y": 2, "x": 1}}),
    ("<<: {<<: {a: 1}, b: 2}\n", {"b": 2, "a": 1}),
    ("k: {<<: {a: 1}}\n", {"k": {"a": 1}}),
    ("<<:\nx: 1\n", {"x": 1}),
    ("a: &a {p: 1}\nb: &b {q: 2, p: 0}\nc: {<<: [*a, *b], r: 3}\n", None),
    ("- &a {x: 1}\n- <<: *a\n  x: 2\n", [{"x": 1}, {"x": 2}]),
]


@pytest.mark.parametrize("text, expected", MERGES)
def test_merge_keys_are_validated_as_loaded(text, expected):
    loaded = q.loads(text)
    if expected is not None:
        assert loaded == expected
    # What validation compares is what loads returns.
    assert both_roads(text, {"const": loaded}) is None


def test_merge_leftovers_and_non_merge_keys():
    schema = {"properties": {"x": {}}, "additionalProperties": False}
    assert both_roads("<<: 5\nx: 1\n", schema) == ("additional property '<<' is not allowed", "$.<<", 1, 5)
    assert both_roads("<<: [{a: 1}, 5]\n", {"properties": {"<<": {"const": [5]}, "a": {"const": 1}}}) is None
    assert both_roads("'<<': {a: 1}\n", {"required": ["<<"]}) is None
    assert both_roads("!custom <<: {a: 1}\n", {"required": ["<<"]}) is None
    # A null merge value merges nothing, and its key is gone.
    assert both_roads("<<: null\n", {"required": ["<<"]}) == ("missing required property '<<'", "$", 1, 1)
    assert both_roads("'<<': null\n", {"required": ["<<"]}) is None
    # A mapping used as a key is never merged into.
    assert both_roads("? {<<: {a: 1}}\n: v\n", {"maxProperties": 1}) is None


def test_merge_tag_follows_the_road():
    text = "!!merge m: {a: 1}\n"
    # Under YAML 1.2 the plain loader keeps a !!merge-tagged key as a key.
    assert q.loads(text) == {"m": {"a": 1}}
    assert violation(text, {"required": ["m"]}) is None
    assert violation(text, {"required": ["m"]}, RT) == ("missing required property 'm'", "$", 1, 1)
    assert violation(text, {"required": ["a"]}, RT) is None
    assert violation(text, {"required": ["a"]}, q.OPT_YAML_1_1) is None


# --------------------------------------------------------------- equality

EQUALITY = [
    ("9007199254740993", 9007199254740992.0, False),
    ("9007199254740993", 9007199254740993, True),
    ("0x10000000000000000", 2**64, True),
    ("-0x10000000000000000", -(2**64), True),
    ("-0o2" + "0" * 21, -(2**64), True),
    ("0x10000000000000001", 2**64, False),
    ("18446744073709551616", 18446744073709551616.0, True),
    ("18446744073709551617", 18446744073709551616.0, False),
    ("1", True, False),
    ("0", False, False),
    ("-0.0", 0, True),
    (".nan", float("nan"), False),
    # A repeated key is one key holding its last value, as loads returns it.
    ("{x: 1, x: 1}", {"x": 1}, True),
    ("{x: 1, x: 2}", {"x": 1}, False),
]


@pytest.mark.parametrize("text, value, equal", EQUALITY)
def test_const_compares_exact_values(text, value, equal):
    got = both_roads(text, {"const": value})
    assert (got is None) == equal, got


def test_big_integers_with_underscores_and_radixes_under_yaml_1_1():
    for text in ("0b1" + "_0000" * 16, "-0x1_0000_0000_0000_0000", "1_8446_7440_7370_9551_616"):
        value = -(2**64) if text.startswith("-") else 2**64
        for option in (q.OPT_YAML_1_1, q.OPT_YAML_1_1 | RT):
            assert violation(text, {"const": value}, option) is None, text
            assert violation(text, {"const": value + 1}, option) is not None, text


def test_unique_items_agrees_with_equality():
    assert both_roads("[{x: 1, x: 1}, {x: 1, y: 2}]", {"uniqueItems": True}) is None
    assert both_roads("[0x10000000000000000, 18446744073709551616]", {"uniqueItems": True})[0] == \
        "array items are not unique"
    assert both_roads("[0x10000000000000000, 18446744073709551616.0]", {"uniqueItems": True})[0] == \
        "array items are not unique"
    assert both_roads("[9007199254740993, 9007199254740992.0]", {"uniqueItems": True}) is None
    assert both_roads("[[1, 2], [2, 1], [1, 2.0]]", {"uniqueItems": True})[0] == "array items are not unique"
    assert both_roads("[.nan, .nan]", {"uniqueItems": True}) is None


# ------------------------------------------------------ modeline and auto

MODELINES = [
    ("# yaml-language-server: $schema=./a.json\n", "./a.json"),
    ("#yaml-language-server:$schema=  x y  \n", "x y"),
    ("# YAML-LANGUAGE-SERVER: $schema=x\n", None),
    ("# yaml-language-server: $schema = x\n", None),
    ("# yaml-language-server: $schema=\n# yaml-language-server: $schema=b\n", "b"),
    ("key: v\n# yaml-language-server: $schema=x\n", None),
    ("%YAML 1.2\n# yaml-language-server: $schema=x\n", None),
    ("---\n# yaml-language-server: $schema=x\n", None),
    ("# yaml-language-server: $schema=a\n# yaml-language-server: $schema=b\n", "a"),
    ("\n  \n# other\n\t# yaml-language-server: $schema=c\n", "c"),
    ("# yaml-language-server: $schema=crlf\r\nx: 1\r\n", "crlf"),
    ("\u3000#\u00a0yaml-language-server:\u2003$schema=u\u2028\n", "u"),
    ("# yaml-language-server: $schema=last", "last"),
    ("\ufeff# yaml-language-server: $schema=bom\n", "bom"),
    ("\ufeff\ufeff# yaml-language-server: $schema=bom\n", None),
    ("", None),
]


@pytest.mark.parametrize("text, ref", MODELINES)
def test_schema_ref(text, ref):
    assert q.schema_ref(text) == ref
    assert q.schema_ref(text.encode()) == ref


def test_schema_ref_of_encoded_input():
    text = "# yaml-language-server: $schema=s.json\nx: 1\n"
    assert q.schema_ref(text.encode("utf-16")) == "s.json"  # with its byte-order mark
    assert q.schema_ref(text.encode("utf-16-be")) == "s.json"
    assert q.schema_ref(("\ufeff" + text).encode("utf-8")) == "s.json"
    assert q.schema_ref(b"# yaml-language-server: $schema=s.json\nx: 1\n") == "s.json"
    assert q.schema_ref(bytearray(b"# yaml-language-server: $schema=m\n")) == "m"
    with pytest.raises(TypeError, match=r"^loads\(\) requires str, bytes, bytearray, or a buffer"):
        q.schema_ref(42)
    with pytest.raises(q.QuillfernDecodeError):
        q.schema_ref(b"\xff\xfe\x00")


def test_auto_calls_the_resolver_before_parsing():
    calls = []

    def resolver(ref):
        calls.append(ref)
        return {"properties": {"x": {"type": "string"}}}

    text = "# yaml-language-server: $schema=s.json\nx: 1\n"
    for option in (0, RT):
        with pytest.raises(q.QuillfernSchemaError):
            q.loads(text, schema="auto", schema_resolver=resolver, option=option)
    assert calls == ["s.json", "s.json"]
    # The resolver runs even when parsing then fails.
    with pytest.raises(q.QuillfernParseError):
        q.loads("# yaml-language-server: $schema=t\na: [\n", schema="auto", schema_resolver=resolver)
    assert calls[-1] == "t"


def test_auto_without_modeline_or_schema():
    def never(ref):
        raise AssertionError("resolver called")

    assert q.loads("x: 1\n", schema="auto", schema_resolver=never) == {"x": 1}
    assert q.loads("# yaml-language-server: $schema=a\nx: 1\n", schema="auto", schema_resolver=lambda r: None) == {"x": 1}

    class Boom(Exception):
        pass

    def raising(ref):
        raise Boom(ref)

    with pytest.raises(Boom):
        q.loads("# yaml-language-server: $schema=a\nx: [\n", schema="auto", schema_resolver=raising)
    with pytest.raises(TypeError):  # bad data before the resolver
        q.loads(5, schema="auto", schema_resolver=raising)


def test_auto_with_a_byte_order_mark():
    text = "\ufeff# yaml-language-server: $schema=s\nx: 1\n"
    for data in (text, text.encode("utf-8"), text[1:].encode("utf-16"), text[1:].encode("utf-32")):
        with pytest.raises(q.QuillfernSchemaError):
            q.loads(data, schema="auto", schema_resolver=lambda r: {"type": "array"})


def test_schema_resolver_is_ignored_beside_a_schema_object():
    assert q.loads("x: 1", schema={}, schema_resolver=lambda r: 1 / 0) == {"x": 1}


# ---------------------------------------------------------------- patterns

INVALID = "invalid"
PATTERNS = [
    # (pattern, string, True: matches / False: does not / INVALID)
    (r"^\d+$", "١٢٣", True),
    (r"^\D$", "٣", False),
    (r"^\s$", "\u3000", True),
    (r"^\s$", "\u200b", False),
    (r"^\S+$", "a\u2003b", False),
    (r"^\w+$", "é日本_x1", True),
    (r"^\w+$", "a-b", False),
    (r"^\W$", "-", True),
    (r"^\W$", "é", False),
    (r"^[\w-]+$", "é-b", True),
    (r"^[\d.]+$", "١.٢", True),
    (r"^[\s,]+$", "\u00a0,", True),
    (r"^[\S]+$", "ab", True),
    (r"^[^\S]+$", "\t\u2028", True),
    (r"^[^\W]+$", "é", True),
    (r"[a\S]", "a", True),
    (r"[\W\d]", "a", False),
    (r"^(?<year>\d{4})$", "2024", True),
    (r"^(?P<year>\d{4})$", "2024", True),
    (r"^\u00e9$", "é", True),
    (r"^\u{e9}$", "é", True),
    (r"^\U000000e9$", "é", True),
    (r"^\U{1F600}$", "\U0001F600", True),
    (r"^\x{e9}\xe9$", "éé", True),
    (r"\u00g9", "x", INVALID),
    (r"\u{}", "x", INVALID),
    (r"(?=a)", "a", INVALID),
    (r"(?<!a)b", "b", INVALID),
    (r"(?<=a)b", "ab", INVALID),
    (r"\k<n>", "a", INVALID),
    (r"(?P<n>a)(?P<n>b)", "ab", INVALID),
    # only the (?<name> group opener is read as (?P<name>: not in a class,
    # not after an escape
    (r"^(?<y>\d)(?<m>\d)$", "12", True),
    (r"^[(?<n>]+$", "(?<n>", True),
    (r"^[(?<n>]+$", "P", False),
    (r"^\(?<n>$", "<n>", True),
    (r"(a)\1", "aa", INVALID),
    # class set operations and nested classes; an empty class is refused
    (r"^[a-z&&[^aeiou]]+$", "bcd", True),
    (r"^[a-z&&[^aeiou]]+$", "bad", False),
    (r"[a&&b]", "a", INVALID),
    (r"[a--b]", "a", True),
    (r"[a--a]", "a", INVALID),
    (r"[a~~b]", "a", True),
    (r"[a[b]]", "a", True),
    (r"^[a[0-9[é]]]+$", "a1é", True),
    (r"^[[:alpha:]]+$", "ab", True),
    (r"^[]a]+$", "]a", True),
    (r"^[^]a]$", "b", True),
    (r"(?x)a b", "ab", True),
    (r"(?x) ^ a \  b # a comment", "a b", True),
    (r"(?x)a b", "a b", False),
    (r"(?i)^É$", "é", True),
    (r"^\p{Greek}+$", "αβ", True),
    (r"^\p{L}$", "ж", True),
    # long, short, gc=/sc=/Script= and binary property names
    (r"\p{Letter}", "a", True),
    (r"\p{Letter}", "1", False),
    (r"^\p{digit}$", "٣", True),
    (r"^\p{Decimal_Number}$", "٣", True),
    (r"^\p{gc=Nd}$", "٣", True),
    (r"^\p{gc=Nd}$", "a", False),
    (r"^\p{sc=Greek}+$", "αβ", True),
    (r"^\p{Script=Greek}$", "a", False),
    (r"^\p{Alphabetic}$", "Ⓐ", True),
    (r"^\p{White_Space}$", "\u3000", True),
    (r"^\P{White_Space}$", "\u3000", False),
    (r"\p{NoSuchProperty}", "a", INVALID),
    (r"^\w$", "Ⓐ", True),  # Other_Alphabetic is a word character
    (r"^a{1000}$", "a" * 1000, True),
    (r"^a{1001}$", "a" * 1001, True),
    (r"a{1001}", "a", False),
    (r"^(?:ab){2000}$", "ab" * 2000, True),
    ("(" * 250 + "a" + ")" * 250, "a", True),
    ("(" * 251 + "a" + ")" * 251, "a", INVALID),
    (r"\Q.\E", ".", INVALID),
    # over the 10 MiB compiled-size limit: a large Unicode class repeated
    (r"\w{100}", "a", INVALID),
    (r"a{1000}{1000}", "a", INVALID),
    (r"a\z", "a", True),
    (r"^.$", "\n", False),
    # \b and \B are Unicode word boundaries, like \w
    (r"\bé", "é", True),
    (r"\bécole", "l'école", True),
    (r"\bcole", "école", False),
    (r"\Bcole", "école", True),
    (r"é\b", "é!", True),
    (r"é\B", "éa", True),
    ("[", "a", INVALID),
    ("a\\", "a", INVALID),
]


@pytest.mark.parametrize("pattern, string, expected", PATTERNS)
def test_pattern_syntax(pattern, string, expected):
    text = q.dumps({"s": string})
    got = violation(text.decode(), {"properties": {"s": {"pattern": pattern}}})
    if expected is INVALID:
        assert got == (f"schema has an invalid regex pattern /{pattern}/", "$.s", 1, 4)
    elif expected:
        assert got is None
    else:
        assert got == (f"string does not match pattern /{pattern}/", "$.s", 1, 4)
    keyed = violation(q.dumps({string: 1}).decode(), {"patternProperties": {pattern: False}})
    if expected is INVALID:
        assert keyed == (f"schema has an invalid regex pattern /{pattern}/", "$", 1, 1)
    elif expected:
        assert keyed[0] == "value is not allowed (schema is false)"
    else:
        assert keyed is None


def _plain_data(x):
    """True when the loaded value converts back to the same schema value
    (no NaN, no collection keys)."""
    if isinstance(x, float):
        return x == x
    if isinstance(x, list):
        return all(_plain_data(i) for i in x)
    if isinstance(x, dict):
        return all(not isinstance(k, tuple) and _plain_data(k) and _plain_data(v) for k, v in x.items())
    return True


def test_corpus_documents_are_validated_as_loaded():
    from helpers import corpus_files

    checked = 0
    for path in corpus_files():
        data = path.read_bytes()
        try:
            # Duplicate keys are validated one by one, as written.
            loaded = q.loads(data, option=q.OPT_DUPLICATE_KEYS_ERROR)
        except q.QuillfernError:
            continue
        if not _plain_data(loaded):
            continue
        for option in (0, RT):
            try:
                q.loads(data, schema={"const": loaded}, option=option)
            except q.QuillfernSchemaError as e:
                pytest.fail(f"{path.name} (option {option}): {e}")
        checked += 1
    assert checked > 100 or not corpus_files()
