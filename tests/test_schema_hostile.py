"""Schema validation stays linear and bounded on hostile documents, schemas
and patterns: backtracking-prone and heavy patterns (compiled per call, kept
by none), alias chains and bombs at and past the limits, large uniqueItems,
cyclic $ref, deep nesting on a small thread stack."""

import os
import subprocess
import sys
import textwrap
import time

import pytest

import quillfern as q
from helpers import run_in_small_thread

RT = q.OPT_ROUND_TRIP
ROADS = [0, RT]


@pytest.mark.parametrize("option", ROADS)
def test_nested_quantifiers_do_not_backtrack(option):
    schema = {"properties": {"s": {"pattern": "^(a+)+$"}}}
    assert q.loads("s: " + "a" * 100_000 + "\n", schema=schema, option=option) is not None
    with pytest.raises(q.QuillfernSchemaError, match=r"string does not match pattern /\^\(a\+\)\+\$/"):
        q.loads("s: " + "a" * 100_000 + "!\n", schema=schema, option=option)


def test_many_strings_against_a_unicode_class():
    n = 20_000
    text = "".join(f"- word{i}é\n" for i in range(n))
    assert len(q.loads(text, schema={"items": {"pattern": r"^\w+$"}})) == n
    with pytest.raises(q.QuillfernSchemaError) as info:
        q.loads(text + "- two words\n", schema={"items": {"pattern": r"^\w+$"}})
    assert info.value.schema_path == f"$[{n}]"


# A pattern whose compilation takes tens of milliseconds: a large Unicode
# class repeated.
HEAVY = r"\w{60}"


def timed(fn, runs=3):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def test_patterns_are_compiled_once_per_call_and_only_when_reached():
    word = "é" * 60  # matches HEAVY: every use of the pattern is searched

    def check(schema, text=word, message="longer than maxLength"):
        with pytest.raises(q.QuillfernSchemaError, match=message):
            q.loads(text, schema=schema)

    last = {"maxLength": 0}  # the one violation, after every pattern ran
    one = timed(lambda: check({"allOf": [{"pattern": HEAVY}, last]}))
    # A hundred uses of one text, in separate schema objects, cost about one
    # compilation, through `pattern` and `patternProperties` alike...
    same = {"allOf": [{"pattern": HEAVY} for _ in range(100)] + [last]}
    assert timed(lambda: check(same)) < 10 * one
    keyed = {"allOf": [{"patternProperties": {HEAVY: {}}} for _ in range(100)] + [{"required": ["y"]}]}
    assert timed(lambda: check(keyed, f"{word}: 1\n", "missing required")) < 10 * one
    # ...and a hundred distinct patterns that no instance reaches cost none.
    unreached = {"properties": {f"k{i}": {"pattern": HEAVY + str(i)} for i in range(100)},
                 "items": {"pattern": HEAVY}, "propertyNames": last}
    assert timed(lambda: check(unreached, "a: 1\n")) < 10 * one


RSS_CHILD = textwrap.dedent(
    """
    import quillfern as q

    def rss_mb():
        for line in open("/proc/self/status"):
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024

    def validate(i):
        # About 1.5 MiB of compiled program each, searched through its lazy DFA.
        q.loads("- " + "é" * 30 + "\\n", schema={"items": {"pattern": f"^(?:\\w{{1,4}}|x{i})"}})

    validate(-1)
    before = rss_mb()
    for i in range(300):
        validate(i)
    print(before, rss_mb())
    """
)


@pytest.mark.skipif(os.environ.get("QUILLFERN_SANITIZED") == "1",
                    reason="the sanitizer's allocator holds freed memory in quarantine")
def test_no_compiled_pattern_outlives_its_call():
    out = subprocess.run([sys.executable, "-c", RSS_CHILD], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    before, after = map(float, out.stdout.split())
    assert after - before < 20, (before, after)


def test_lone_surrogates_never_reach_the_pattern_engine():
    # Texts are UTF-8 before any pattern sees them: a lone surrogate fails
    # where it always does, in the input or in the schema's conversion.
    with pytest.raises(q.QuillfernParseError, match="invalid unicode code point: U\\+D800"):
        q.loads('"\\ud800"', schema={"pattern": "."})
    with pytest.raises(UnicodeEncodeError):
        q.loads("s: \ud800\n", schema={"properties": {"s": {"pattern": "."}}})
    for schema in ({"pattern": "\ud800"}, {"patternProperties": {"[\udc00]": {}}}):
        with pytest.raises(q.QuillfernEncodeError, match="unpaired surrogates"):
            q.loads("a: 1\n", schema=schema)


def alias_chain(links):
    """a0 is a scalar; each a<i> is a one-item list holding *a<i-1>."""
    lines = ["a0: &a0 x"]
    lines += [f"a{i}: &a{i} [*a{i - 1}]" for i in range(1, links + 1)]
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("option", ROADS)
def test_alias_depth_limit(option):
    # *a99 inside a100's definition reaches a0 through 100 aliases: allowed.
    assert q.loads(alias_chain(100), schema={}, option=option) is not None
    text = alias_chain(100) + "top: *a100\n"
    with pytest.raises(q.QuillfernParseError) as info:
        q.loads(text, schema={}, option=option)
    # Reported at the 101st alias followed: *a0 inside a1's definition.
    assert str(info.value) == "alias expansion exceeded the maximum alias depth of 100 at line 2, column 10"
    assert (info.value.line, info.value.column) == (2, 10)


def bomb(aliases):
    """A 1000-node list and `aliases` aliases of it: 1000 expanded nodes each."""
    return "a: &a [" + ", ".join(["0"] * 999) + "]\nb: [" + ", ".join(["*a"] * aliases) + "]\n"


def test_alias_budget_at_and_past_the_limit():
    assert q.loads(bomb(1000), schema={}, option=RT) is not None
    with pytest.raises(q.QuillfernParseError) as info:
        q.loads(bomb(1001), schema={"type": "object"}, option=RT)
    assert str(info.value).startswith("alias expansion exceeded the budget of 1000000 nodes at line 2, column ")
    # The limit does not depend on the schema's keywords.
    with pytest.raises(q.QuillfernParseError):
        q.loads(bomb(1001), schema=False, option=RT)


def test_exponential_alias_bomb_is_refused_quickly():
    lines = ["l0: &l0 [x, x, x, x, x, x, x, x, x, x]"]
    lines += [f"l{i}: &l{i} [" + ", ".join([f"*l{i - 1}"] * 10) + "]" for i in range(1, 9)]
    text = "\n".join(lines) + "\n"
    with pytest.raises(q.QuillfernParseError, match="^alias expansion exceeded the budget of 1000000 nodes"):
        q.loads(text, schema={}, option=RT)
    with pytest.raises(q.QuillfernParseError):  # the plain loader refuses it first
        q.loads(text, schema={})


@pytest.mark.parametrize("option", ROADS)
def test_unique_items_on_a_hundred_thousand_items(option):
    items = ", ".join(str(i) for i in range(100_000))
    assert q.loads(f"[{items}]", schema={"uniqueItems": True}, option=option) is not None
    with pytest.raises(q.QuillfernSchemaError, match="array items are not unique"):
        q.loads(f"[{items}, 99999.0]", schema={"uniqueItems": True}, option=option)


def test_items_that_meet_in_their_hashes_stay_cheap():
    # NaN equals nothing: many of them are unique, without comparing pairs.
    nans = "[" + ", ".join([".nan"] * 50_000) + "]"
    assert len(q.loads(nans, schema={"uniqueItems": True})) == 50_000
    # Mappings of many repeated pairs are paired off one by one.
    repeated = "{" + ", ".join(["x: 1"] * 50_000) + "}"
    with pytest.raises(q.QuillfernSchemaError, match="array items are not unique"):
        q.loads(f"[{repeated}, {repeated}]", schema={"uniqueItems": True}, option=RT)
    assert q.loads(f"[{repeated}, {repeated[:-1]}, y: 1}}]", schema={"uniqueItems": True}, option=RT) is not None


CYCLES = [
    {"$ref": "#"},
    {"$ref": "#/definitions/a", "definitions": {"a": {"$ref": "#/definitions/b"}, "b": {"$ref": "#/definitions/a"}}},
    {"allOf": [{"$ref": "#"}]},
    {"dependencies": {"a": {"$ref": "#"}}},
]


@pytest.mark.parametrize("schema", CYCLES)
def test_cyclic_refs_end(schema):
    with pytest.raises(q.QuillfernSchemaError, match=r"schema \$ref nesting too deep \(cyclic reference\?\)"):
        q.loads("a: 1\n", schema=schema)


def test_ref_budget_grows_with_the_document():
    n = 120_000
    schema = {"items": {"$ref": "#/definitions/i"}, "definitions": {"i": {"type": "integer"}}}
    text = "[" + ", ".join(["1"] * n) + "]"
    assert len(q.loads(text, schema=schema)) == n
    with pytest.raises(q.QuillfernSchemaError, match="expected type integer") as info:
        q.loads(text[:-1] + ", x]", schema=schema)
    assert info.value.schema_path == f"$[{n}]"


@pytest.mark.parametrize("option", ROADS)
def test_deep_nesting_on_a_small_thread_stack(option):
    depth = 900
    text = "[" * depth + "1" + "]" * depth
    schema = {"items": {"$ref": "#"}, "type": ["array", "integer"], "uniqueItems": True}

    def run():
        return q.loads(text, schema=schema, option=option)

    assert run_in_small_thread(run) is not None

    def failing():
        return q.loads(text.replace("1", "x"), schema=schema, option=option)

    with pytest.raises(q.QuillfernSchemaError) as info:
        run_in_small_thread(failing)
    assert info.value.schema_path == "$" + "[0]" * depth
