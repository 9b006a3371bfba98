"""Schema validation judges what loads returns: multipleOf on huge
quotients, and the empty first document of a round-trip stream."""

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


