"""Loading-road checks that go beyond the per-feature tables: the YAML test
suite compared node by node with its event streams (which also covers the
cases that have no in.json), explicit keys whose content is an indentless
sequence, keep chomping of empty block scalars at the end of input, and mapping
keys that only become equal once tags are dropped on the way to host objects."""

import copy
import logging
import math
import re

import pytest

import quillfern as q
from quillfern import exceptions as qe

from helpers import SUITE, suite_cases


# ---- the test suite's event streams as expected host values ----

_INT = re.compile(r"[-+]?(0|[1-9][0-9]*|0[xX][0-9a-fA-F]+|0[oO][0-7]+)\Z")
_FLOAT = re.compile(r"[-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?\Z")
_FLOAT_WORD = re.compile(r"[-+]?(inf|infinity|nan)\Z", re.IGNORECASE)
_SPECIAL = {".inf": math.inf, ".Inf": math.inf, ".INF": math.inf, "+.inf": math.inf, "+.Inf": math.inf,
            "+.INF": math.inf, "-.inf": -math.inf, "-.Inf": -math.inf, "-.INF": -math.inf,
            ".nan": math.nan, ".NaN": math.nan, ".NAN": math.nan}
_NULLS = {"", "~", "null", "Null", "NULL"}
_TRUE = {"true", "True", "TRUE"}
_FALSE = {"false", "False", "FALSE"}
_CORE = "tag:yaml.org,2002:"


def _int(text):
    sign = -1 if text.startswith("-") else 1
    body = text.lstrip("+-")
    if body[:2] in ("0o", "0O"):
        return sign * int(body[2:], 8)
    return sign * int(body, 0 if body[:2] in ("0x", "0X") else 10)


def _float(text):
    if text in _SPECIAL:
        return _SPECIAL[text]
    if _FLOAT.match(text) or _FLOAT_WORD.match(text):
        return float(text)
    return None


def _plain(text):
    """YAML 1.2 core resolution of an untagged plain scalar."""
    if text in _NULLS:
        return None
    if text in _TRUE or text in _FALSE:
        return text in _TRUE
    if text == "<<" or text[:1] not in set("0123456789+-."):
        return text
    if _INT.match(text):
        return _int(text)
    if text in _SPECIAL:
        return _SPECIAL[text]
    if any(c in text for c in ".eE") and _FLOAT.match(text):
        return float(text)
    return text


def _tagged(tag, text):
    """A scalar under an explicit core tag; any other tag leaves a string."""
    if tag == _CORE + "null" and text in _NULLS:
        return None
    if tag == _CORE + "bool" and (text in _TRUE or text in _FALSE):
        return text in _TRUE
    if tag == _CORE + "int" and _INT.match(text):
        return _int(text)
    if tag == _CORE + "float":
        f = _float(text)
        if f is not None:
            return f
    return text


def _key(v):
    if isinstance(v, list):
        return tuple(_key(x) for x in v)
    if isinstance(v, dict):
        return tuple((_key(k), _key(x)) for k, x in v.items())
    return v


def _unescape(s):
    return (s.replace("\\\\", "\0").replace("\\n", "\n").replace("\\t", "\t").replace("\\b", "\b")
            .replace("\\r", "\r").replace("\0", "\\"))


def documents_from_events(lines):
    docs, stack, anchors = [], [], {}

    def add(value, anchor):
        if anchor:
            anchors[anchor] = value
        if not stack:
            docs.append(value)
            return
        top = stack[-1]
        if top["kind"] == "seq":
            top["items"].append(value)
        elif top["key"] is None:
            top["key"] = (value,)
        else:
            top["items"].append((top["key"][0], value))
            top["key"] = None

    for line in lines:
        event, _, rest = line.partition(" ")
        if event in ("+STR", "-STR", "-DOC"):
            continue
        if event == "+DOC":
            anchors = {}
        elif event in ("+MAP", "+SEQ"):
            anchor = next((w[1:] for w in rest.split() if w.startswith("&")), None)
            stack.append({"kind": "map" if event == "+MAP" else "seq", "items": [], "key": None,
                          "anchor": anchor})
        elif event in ("-MAP", "-SEQ"):
            top = stack.pop()
            if top["kind"] == "seq":
                value = top["items"]
            else:
                value = {}
                for k, v in top["items"]:
                    value[_key(k)] = v
            add(value, top["anchor"])
        elif event == "=ALI":
            add(copy.deepcopy(anchors[rest[1:]]), None)
        elif event == "=VAL":
            anchor = tag = None
            while True:
                if rest.startswith("&"):
                    word, rest = rest.split(" ", 1)
                    anchor = word[1:]
                elif rest.startswith("<"):
                    end = rest.index("> ")
                    tag, rest = rest[1:end], rest[end + 2:]
                else:
                    break
            style, text = rest[0], _unescape(rest[1:])
            if tag is not None:
                value = _tagged(tag, text)
            else:
                value = _plain(text) if style == ":" else text
            add(value, anchor)
        else:
            raise ValueError(line)
    return docs


def same(a, b):
    if isinstance(a, dict) and isinstance(b, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return type(a) is type(b) and a == b


CASES = [c for c in suite_cases() if not (c / "error").exists() and (c / "test.event").exists()]

# Cases whose events this loader does not reproduce, each with its reason.
EVENT_XFAIL: dict[str, str] = {}


@pytest.mark.skipif(not CASES, reason="the YAML test suite is not available")
@pytest.mark.parametrize("case", CASES, ids=lambda d: str(d.relative_to(SUITE)))
def test_suite_case_matches_its_events(case, request):
    cid = str(case.relative_to(SUITE))
    if cid in EVENT_XFAIL:
        request.applymarker(pytest.mark.xfail(reason=EVENT_XFAIL[cid], strict=True))
    want = documents_from_events((case / "test.event").read_text(encoding="utf-8").splitlines())
    got = q.loads_all((case / "in.yaml").read_bytes())
    assert same(got, want), (got, want)


# ---- explicit keys holding an indentless sequence ----

@pytest.mark.parametrize("text, want", [
    ("?\n- a\n- b\n: x", {("a", "b"): "x"}),
    ("---\n?\n- a\n- b\n:\n- c\n- d", {("a", "b"): ["c", "d"]}),
    ("?\n- a\n", {("a",): None}),
    ("x:\n  ?\n  - a\n  : y", {"x": {("a",): "y"}}),
    ("- ?\n  - a\n  : b", [{("a",): "b"}]),
    ("? &k\n- a\n: *k", {("a",): ["a"]}),
    ("?\n- a\n: x\n?\n- b\n: y\nc: z", {("a",): "x", ("b",): "y", "c": "z"}),
    ("?\n- - a\n  - b\n- c\n: x", {(("a", "b"), "c"): "x"}),
    # Indented past the "?", the same key already loads.
    ("? - a\n  - b\n: x", {("a", "b"): "x"}),
])
def test_explicit_key_with_indentless_sequence(text, want):
    assert q.loads(text) == want
    assert q.loads_all(text) == [want]


def test_indentless_sequence_key_meets_the_complex_key_policy():
    with pytest.raises(qe.QuillfernComplexKeyError) as info:
        q.loads("?\n- a\n: x", option=q.OPT_REJECT_COMPLEX_KEYS)
    assert str(info.value) == "complex mapping key (a sequence used as a key) at line 1, column 1"


# ---- keep chomping of an empty block scalar at the end of input ----

# Every blank line of an empty kept scalar counts, the last one too when the
# input ends without its line break (as the YAML test suite's JEF9 cases say).
@pytest.mark.parametrize("text, want", [
    ("k: |+\n  ", {"k": "\n"}),
    ("k: >+\n  ", {"k": "\n"}),
    ("|+\n  ", "\n"),
    ("|+\n \n ", "\n\n"),
    ("k: |+\n  \n", {"k": "\n"}),
    ("k: |+\n\n  \n", {"k": "\n\n"}),
    ("k: |+\n", {"k": ""}),
])
def test_keep_chomping_of_empty_block_scalar_at_end(text, want):
    assert q.loads(text) == want


# ---- keys that are equal only once their tags are dropped ----

@pytest.mark.parametrize("text, shown, where", [
    ("!t a: 1\na: 2", "a", "line 2, column 1"),
    ("!t a: 1\n!u a: 2", "a", "line 2, column 1"),
    ("a: 1\n!t a: 2", "a", "line 2, column 1"),
    ("{!t a: 1, a: 2}", "a", "line 1, column 11"),
    ("[!t a]: 1\n[a]: 2", 'Sequence([String("a")])', "line 2, column 1"),
    ("x: 1\n---\n!t a: 1\na: 2", "a", "line 4, column 1"),
])
def test_tagged_key_duplicates_are_reported(text, shown, where):
    with pytest.raises(qe.QuillfernDuplicateKeyError) as info:
        q.loads_all(text, option=q.OPT_DUPLICATE_KEYS_ERROR)
    assert str(info.value) == f"duplicate mapping key: {shown} at {where}"


def test_tagged_key_duplicates_are_warned(caplog):
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        assert q.loads("!t a: 1\na: 2", option=q.OPT_DUPLICATE_KEYS_WARN) == {"a": 2}
    assert [r.getMessage() for r in caplog.records] == [
        "duplicate mapping key 'a' at line 2, column 1; keeping the last value"]


def test_tagged_keys_kept_apart_by_a_handler_are_no_duplicates():
    handler = {"!t": lambda v: v.upper()}
    assert q.loads("!t a: 1\na: 2", option=q.OPT_DUPLICATE_KEYS_ERROR, tags=handler) == {"A": 1, "a": 2}
    assert q.loads("!t a: 1\na: 2", option=q.OPT_DUPLICATE_KEYS_ERROR,
                   tag_handler=lambda name, v: (name, v)) == {("!t", "a"): 1, "a": 2}


@pytest.mark.parametrize("text, want", [
    ("x:\n  !t a: 2\n  <<: {a: 1}", {"x": {"a": 2}}),
    ("x:\n  <<: {!t a: 1}\n  a: 2", {"x": {"a": 2}}),
    ("x:\n  <<: [{!t a: 1}, {a: 3}]\n  b: 2", {"x": {"a": 1, "b": 2}}),
])
def test_explicit_tagged_key_wins_over_merged_key(text, want):
    got = q.loads(text)
    assert got == want
    assert list(got["x"]) == list(want["x"])


def test_tagged_merge_keys_stay_apart_under_a_handler():
    got = q.loads("x:\n  !t a: 2\n  <<: {a: 1}", tags={"!t": lambda v: "T" + v})
    assert got == {"x": {"Ta": 2, "a": 1}}
