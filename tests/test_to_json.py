"""to_json: layout, keys, YAML-only values, errors and the JSON read-back."""

import json
import math
import pathlib
import random

import pytest

import quillfern as q
from quillfern import QuillfernTag
from quillfern.exceptions import QuillfernEncodeError

SUITE = pathlib.Path(__file__).resolve().parent.parent.parent / "shared" / "yaml-test-suite"


@pytest.mark.parametrize(
    "obj, option, expected",
    [
        (None, 0, b"null"),
        ({"b": 1, "a": [1, 2]}, 0, b'{"b":1,"a":[1,2]}'),
        ({"b": 1, "a": [1, 2]}, q.OPT_SORT_KEYS, b'{"a":[1,2],"b":1}'),
        ({"b": 1, "a": [1, 2]}, q.OPT_INDENT_2, b'{\n  "b": 1,\n  "a": [\n    1,\n    2\n  ]\n}'),
        ({"b": [1]}, q.OPT_INDENT_4, b'{\n    "b": [\n        1\n    ]\n}'),
        ({"b": [1]}, q.OPT_INDENT_2 | q.OPT_INDENT_4, b'{\n    "b": [\n        1\n    ]\n}'),
        ({"a": {}, "b": []}, q.OPT_INDENT_2, b'{\n  "a": {},\n  "b": []\n}'),
        ({}, q.OPT_INDENT_2, b"{}"),
        ([], q.OPT_INDENT_4, b"[]"),
        ({True: 1, None: 2, 1.5: 3, math.nan: 4, 7: 5, 2**70: 6}, 0,
         b'{"true":1,"null":2,"1.5":3,"null":4,"7":5,"1180591620717411303424":6}'),
        ({1: "a", "1": "b"}, 0, b'{"1":"a","1":"b"}'),
        ({"b": 1, 1: 2, "a": 3, "1": 4}, q.OPT_SORT_KEYS, b'{"1":2,"1":4,"a":3,"b":1}'),
        ({QuillfernTag("!k", "key"): QuillfernTag("!v", [1])}, 0, b'{"key":[1]}'),
        ("\x00\x0b\x7f\u2028\u2029\b\f\n\r\t\"\\/é", 0,
         b'"\\u0000\\u000b\x7f\\u2028\\u2029\\b\\f\\n\\r\\t\\"\\\\/\xc3\xa9"'),
        ([math.inf, -math.inf, math.nan, 1e16, 1.5e-7, 1.0, -0.0, 2**64, -(2**63)], 0,
         b"[null,null,null,1.0e+16,1.5e-07,1.0,-0.0,18446744073709551616,-9223372036854775808]"),
        ((1, {2}), 0, b"[1,[2]]"),
        (b"bytes", 0, b'"bytes"'),
        ({"x": None}, q.OPT_NULL_AS_TILDE | q.OPT_FLOW_STYLE | q.OPT_YAML_1_1, b'{"x":null}'),
    ],
)
def test_json_layouts(obj, option, expected):
    assert q.to_json(obj, option=option) == expected


@pytest.mark.parametrize("key", [(1, 2), QuillfernTag("!t", (1,))])
def test_collection_keys_fail(key):
    with pytest.raises(QuillfernEncodeError, match="^a collection cannot be a JSON object key$"):
        q.to_json({"ok": 1, key: 2})
    with pytest.raises(QuillfernEncodeError, match="^a collection cannot be a JSON object key$"):
        q.to_json([{"deep": {key: 1}}], option=q.OPT_INDENT_2)


def test_to_json_takes_default_only():
    assert q.to_json({"a": object()}, default=lambda o: "x") == b'{"a":"x"}'
    with pytest.raises(TypeError, match="unexpected keyword argument 'serializers'"):
        q.to_json(1, serializers={})


def suite_json_values():
    values = []
    for path in sorted(SUITE.glob("**/in.json")):
        text = path.read_text(encoding="utf-8")
        dec = json.JSONDecoder()
        i = 0
        while True:
            while i < len(text) and text[i].isspace():
                i += 1
            if i >= len(text):
                break
            v, i = dec.raw_decode(text, i)
            values.append((path.parent.name, v))
    return values


SUITE_VALUES = suite_json_values()


@pytest.mark.skipif(not SUITE_VALUES, reason="yaml-test-suite not found")
@pytest.mark.parametrize("option", [0, q.OPT_INDENT_2, q.OPT_INDENT_4, q.OPT_SORT_KEYS])
def test_json_read_back_of_the_suite(option):
    for name, value in SUITE_VALUES:
        text = q.to_json(value, option=option)
        assert json.loads(text) == value, name
        if option == 0:
            assert json.loads(text) == json.loads(json.dumps(value)), name


def random_json(rnd, depth=0):
    kind = rnd.randrange(9 if depth < 6 else 6)
    if kind == 0:
        return None
    if kind == 1:
        return rnd.random() < 0.5
    if kind == 2:
        return rnd.choice([0, -1, 2**63 - 1, -(2**63), 2**64, rnd.randint(-10**30, 10**30)])
    if kind == 3:
        return rnd.choice([0.0, -0.0, 1e16, 1e-7, 1.5, rnd.uniform(-1e300, 1e300), rnd.random()])
    if kind in (4, 5):
        return "".join(rnd.choice("ab \t\n\"\\/\x00\x1f\x7fé\u2028\U0001F600") for _ in range(rnd.randrange(8)))
    if kind in (6, 7):
        return [random_json(rnd, depth + 1) for _ in range(rnd.randrange(5))]
    return {str(rnd.random())[:5]: random_json(rnd, depth + 1) for _ in range(rnd.randrange(5))}


@pytest.mark.parametrize("seed", range(20))
def test_json_read_back_of_random_data(seed):
    rnd = random.Random(seed)
    for _ in range(50):
        value = random_json(rnd)
        for option in (0, q.OPT_INDENT_2):
            assert json.loads(q.to_json(value, option=option)) == value
