"""loads and loads_all on the plain road: typing per mode, core tags,
timestamps, mode choice, merge keys, key policies, streams, limits, errors."""

import datetime
import logging
import math
import os
import subprocess
import sys

import pytest

import quillfern as q
from quillfern import exceptions as qe

Y11 = q.OPT_YAML_1_1
KC = q.OPT_KESTIL_COMPAT
TS = q.OPT_TIMESTAMPS


def scalar(text, option=0):
    return q.loads("v: " + text, option=option)["v"]


def same(a, b):
    """Equality that also tells types apart (1 vs True vs 1.0) and NaN."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return type(a) is type(b) and a == b


S = "str"  # marker: the text itself as a str

# text, YAML 1.2, YAML 1.1, compatibility mode
TYPING = [
    ("", None, None, None),
    ("~", None, None, None),
    ("null", None, None, None),
    ("Null", None, None, None),
    ("NULL", None, None, None),
    ("nULL", S, S, S),
    ("None", S, S, S),
    ("true", True, True, True),
    ("True", True, True, True),
    ("FALSE", False, False, False),
    ("tRUE", S, S, S),
    ("yes", S, True, True),
    ("On", S, True, True),
    ("OFF", S, False, False),
    ("NO", S, False, False),
    ("yEs", S, S, S),
    ("y", S, True, S),
    ("Y", S, True, S),
    ("n", S, False, S),
    ("N", S, False, S),
    ("0", 0, 0, 0),
    ("-0", 0, 0, 0),
    ("00", S, 0, 0),
    ("0123", S, 83, 83),
    ("010", S, 8, 8),
    ("+017", S, 15, 15),
    ("09", S, S, S),
    ("0o17", 15, S, S),
    ("0O17", 15, S, S),
    ("-0o17", -15, S, S),
    ("0x1F", 31, 31, 31),
    ("0X1f", 31, 31, 31),
    ("+0x1F", 31, 31, 31),
    ("0x", S, S, S),
    ("0xG", S, S, S),
    ("0x_1F", S, 31, 31),
    ("0b1010", S, 10, 10),
    ("-0b11", S, -3, -3),
    ("0b", S, S, S),
    ("1_000", S, 1000, 1000),
    ("_1", S, 1, S),
    ("+_1", S, 1, S),
    ("1_", S, 1, 1),
    ("1,000", S, S, S),
    ("++1", S, S, S),
    ("+", S, S, S),
    ("_", S, S, S),
    ("12:30", S, 750, 750),
    ("190:20:30", S, 685230, 685230),
    ("-1:30", S, -90, -90),
    ("0:30", S, S, S),
    ("1:60", S, S, S),
    ("1:30.5", S, 90.5, 90.5),
    ("0:30.5", S, 30.5, 30.5),
    ("1:+30.5", S, 90.5, 90.5),
    ("1e3:30.5", S, S, S),
    ("9223372036854775807", 2**63 - 1, 2**63 - 1, 2**63 - 1),
    ("-9223372036854775808", -(2**63), -(2**63), -(2**63)),
    ("9223372036854775808", 2**63, 2**63, 2**63),
    ("+9223372036854775808", 2**63, 2**63, 2**63),
    ("9_223_372_036_854_775_808", S, 2**63, 2**63),
    ("0x8000000000000000", 2**63, 2**63, 2**63),
    ("-0x8000000000000000", -(2**63), -(2**63), -(2**63)),
    ("0xFFFF_FFFF_FFFF_FFFF", S, 2**64 - 1, 2**64 - 1),
    ("0o" + "7" * 30, 8**30 - 1, S, S),
    ("0b" + "1" * 70, S, 2**70 - 1, 2**70 - 1),
    ("0" + "7" * 30, S, 8**30 - 1, 8**30 - 1),
    ("1.5", 1.5, 1.5, 1.5),
    ("+.5", 0.5, 0.5, 0.5),
    ("-.5", -0.5, -0.5, -0.5),
    ("1.", 1.0, 1.0, 1.0),
    ("1.e5", 100000.0, 100000.0, S),
    ("1e3", 1000.0, 1000.0, S),
    ("1E3", 1000.0, 1000.0, S),
    ("1.0e3", 1000.0, 1000.0, S),
    ("1.0e+3", 1000.0, 1000.0, 1000.0),
    ("1.0E-3", 0.001, 0.001, 0.001),
    ("0123.5", 123.5, 123.5, 123.5),
    ("08.5", 8.5, 8.5, 8.5),
    ("1_000.5", S, 1000.5, 1000.5),
    ("._5", S, 0.5, 0.5),
    ("1e400", math.inf, math.inf, S),
    ("-1.0e+400", -math.inf, -math.inf, -math.inf),
    ("1.0e-400", 0.0, 0.0, 0.0),
    ("1.5e", S, S, S),
    (".", S, S, S),
    ("e3", S, S, S),
    ("1.5.5", S, S, S),
    (".inf", math.inf, math.inf, math.inf),
    ("+.Inf", math.inf, math.inf, math.inf),
    ("-.INF", -math.inf, -math.inf, -math.inf),
    (".NaN", math.nan, math.nan, math.nan),
    ("-.nan", S, S, S),
    (".iNf", S, S, S),
    ("inf", S, S, S),
    ("-Infinity", S, S, S),
    ("'123'", "123", "123", "123"),
    ('"yes"', "yes", "yes", "yes"),
    ('"~"', "~", "~", "~"),
]


@pytest.mark.parametrize("text, y12, y11, kc", TYPING, ids=[repr(t[0]) for t in TYPING])
def test_implicit_typing_per_mode(text, y12, y11, kc):
    for option, want in ((0, y12), (Y11, y11), (KC, kc)):
        if want is S:
            want = text
        got = scalar(text, option)
        assert same(got, want), (option, text, got, want)


# explicit core tags: text, YAML 1.2, YAML 1.1
CORE_TAGS = [
    ("!!int '123'", 123, 123),
    ("!!int 1_000", "1_000", 1000),
    ("!!int 0b1", "0b1", 1),
    ("!!int 0o17", 15, "0o17"),
    ("!!int 1:30", "1:30", 90),
    ("!!int 99999999999999999999", 99999999999999999999, 99999999999999999999),
    ("!!float 1", 1.0, 1.0),
    ("!!float Infinity", math.inf, math.inf),
    ("!!float 1_0", "1_0", 10.0),
    ("!!float 1:30", "1:30", 90.0),
    ("!!float '2.5'", 2.5, 2.5),
    ("!!bool yes", "yes", True),
    ("!!bool y", "y", True),
    ("!!bool 'true'", True, True),
    ("!!null ''", None, None),
    ("!!null x", "x", "x"),
    ("!!str 12", "12", "12"),
    ("!!str true", "true", "true"),
    ("! 12", "12", "12"),
    ("!!merge <<", "<<", "<<"),
    ("!<tag:yaml.org,2002:int> 12", "12", "12"),  # verbatim: a custom tag
    ("!!timestamp 2001-12-14", "2001-12-14", "2001-12-14"),
]


@pytest.mark.parametrize("text, y12, y11", CORE_TAGS, ids=[t[0] for t in CORE_TAGS])
def test_core_tags(text, y12, y11):
    for option, want in ((0, y12), (Y11, y11)):
        got = scalar(text, option | q.OPT_TIMESTAMPS)
        assert same(got, want), (option, text, got, want)


def test_core_tags_on_empty_nodes():
    assert q.loads("a: !!str\nb: !!null\nc: !!int\n") == {"a": "", "b": None, "c": ""}
    assert q.loads("- !!str\n- !!bool\n", option=q.OPT_PASSTHROUGH_TAG) == ["", ""]


def test_bool_under_kestil_tag():
    assert scalar("!!bool y", KC) == "y"


def dt(*a, off=None):
    tz = None if off is None else datetime.timezone(datetime.timedelta(minutes=off))
    return datetime.datetime(*a, tzinfo=tz)


TIMESTAMPS = [
    ("2001-12-14", datetime.date(2001, 12, 14)),
    ("2000-02-29", datetime.date(2000, 2, 29)),
    ("1900-02-29", "1900-02-29"),
    ("2001-04-31", "2001-04-31"),
    ("0000-01-01", "0000-01-01"),
    ("2001-1-1", "2001-1-1"),
    ("2001/12/14", "2001/12/14"),
    ("2001-12-14t21:59:43.10-05:00", dt(2001, 12, 14, 21, 59, 43, 100000, off=-300)),
    ("2001-12-14 21:59:43.10 -5", dt(2001, 12, 14, 21, 59, 43, 100000, off=-300)),
    ("2001-12-15T02:59:43.1Z", dt(2001, 12, 15, 2, 59, 43, 100000, off=0)),
    ("2001-12-15 2:59:43.10", dt(2001, 12, 15, 2, 59, 43, 100000)),
    ("2001-1-5T01:02:03", dt(2001, 1, 5, 1, 2, 3)),
    ("2001-12-14T21:59:43.1234567", dt(2001, 12, 14, 21, 59, 43, 123456)),
    ("2001-12-14T21:59:43+05:30", dt(2001, 12, 14, 21, 59, 43, off=330)),
    ("2001-12-14T21:59:43+23:59", dt(2001, 12, 14, 21, 59, 43, off=1439)),
    ("2001-12-14T21:59:43+24:00", "2001-12-14T21:59:43+24:00"),
    ("2001-12-14T21:59:43+0530", "2001-12-14T21:59:43+0530"),
    ("2001-12-14T24:00:00", "2001-12-14T24:00:00"),
    ("2001-12-14Z", "2001-12-14Z"),
]


@pytest.mark.parametrize("text, want", TIMESTAMPS, ids=[t[0] for t in TIMESTAMPS])
def test_timestamps(text, want):
    for option in (TS, KC, TS | Y11):
        got = scalar(text, option)
        assert same(got, want), (option, got)
        if isinstance(got, datetime.datetime) and got.tzinfo is not None:
            assert got.utcoffset() == want.utcoffset()
    # without the switch every timestamp stays a string (YAML 1.1 included)
    for option in (0, Y11):
        assert scalar(text, option) == text


def test_timestamps_only_for_plain_untagged_scalars():
    doc = "- 2001-12-14\n- '2001-12-14'\n- !!str 2001-12-14\n- !x 2001-12-14\n"
    got = q.loads(doc, option=TS | q.OPT_PASSTHROUGH_TAG)
    assert got[0] == datetime.date(2001, 12, 14)
    assert got[1:3] == ["2001-12-14", "2001-12-14"]
    assert got[3].tag == "!x" and got[3].value == "2001-12-14"


def test_timestamp_utc_offset_zero_is_aware():
    got = scalar("2001-12-14T21:59:43Z", TS)
    assert got.tzinfo is not None and got.utcoffset() == datetime.timedelta(0)


# mode choice: text, option, value of the scalar yes
MODES = [
    ("v: yes\n", 0, "yes"),
    ("v: yes\n", Y11, True),
    ("v: yes\n", q.OPT_UPGRADE_1_1, True),
    ("%YAML 1.1\n---\nv: yes\n", 0, True),
    ("%YAML 1.2\n---\nv: yes\n", Y11, "yes"),
    ("%YAML 1.2\n---\nv: yes\n", q.OPT_UPGRADE_1_1, "yes"),
    ("%YAML 1.3\n---\nv: yes\n", Y11, "yes"),
    ("# c\n\n%YAML 1.1\n---\nv: yes\n", 0, True),
    ("%YAML 1.2\n---\nv: y\n", KC, "y"),
    ("%YAML 1.2\n---\nv: yes\n", KC, True),
    ("%YAML 1.1\n---\nv: y\n", KC, "y"),
    ("%YAML 1.1\n---\nv: y\n", 0, True),
]


@pytest.mark.parametrize("text, option, want", MODES)
def test_mode_choice(text, option, want):
    assert q.loads(text, option=option)["v"] == want
    assert q.loads_all(text, option=option)[0]["v"] == want


def test_kestil_compat_turns_timestamps_on():
    assert scalar("2001-12-14", KC) == datetime.date(2001, 12, 14)
    assert scalar("2001-12-14", Y11) == "2001-12-14"


def test_option_forms():
    text = "v: yes"
    assert q.loads(text) == q.loads(text, option=None) == q.loads(text, option=0) == {"v": "yes"}
    assert q.loads(text, option=True) == {"v": True}  # True is bit 0, OPT_YAML_1_1
    assert q.loads(text, option=1 << 40) == {"v": "yes"}  # unnamed bits are ignored
    with pytest.raises(OverflowError) as info:
        q.loads(text, option=-1)
    assert "while processing 'option'" in info.value.__notes__
    with pytest.raises(TypeError) as info:
        q.loads(text, option="1")
    assert "while processing 'option'" in info.value.__notes__


# ------------------------------------------------------------------ merge keys

MERGES = [
    ("base: &b {a: 1, b: 2}\nm:\n  <<: *b\n  b: 3\n", {"a": 1, "b": 3}, ["a", "b"]),
    ("base: &b {a: 1, b: 2}\nm:\n  b: 3\n  <<: *b\n", {"b": 3, "a": 1}, ["b", "a"]),
    ("x: &x {c: 1}\ny: &y {c: 2, d: 3}\nm:\n  <<: [*x, *y]\n", {"c": 1, "d": 3}, ["c", "d"]),
    ("x: &x {c: 1}\ny: &y {c: 2}\nm:\n  <<: *x\n  <<: *y\n", {"c": 1}, ["c"]),
    ("m:\n  <<: 5\n  a: 1\n", {"<<": 5, "a": 1}, ["<<", "a"]),
    ("m:\n  <<: 5\n  <<: 6\n", {"<<": [5, 6]}, ["<<"]),
    ("x: &x {a: 1}\nm:\n  <<: [*x, 7]\n", {"a": 1, "<<": [7]}, None),
    ("m:\n  <<:\n  a: 1\n", {"a": 1}, ["a"]),
    ("m:\n  <<: null\n", {}, []),
    ("m:\n  '<<': {a: 1}\n", {"<<": {"a": 1}}, ["<<"]),
    ("m: {a: <<, b: [<<]}\n", {"a": "<<", "b": ["<<"]}, None),
    ("x: &x {a: 1, a: 2}\nm:\n  <<: *x\n", {"a": 2}, ["a"]),
    # an explicit 1 is never overridden by a merged true (the host folds them)
    ("x: &x {true: b}\nm:\n  1: a\n  <<: *x\n", {1: "a"}, [1]),
    ("x: &x {1: b}\nm:\n  1.0: a\n  <<: *x\n", {1.0: "a"}, [1.0]),
    # chains: a merged mapping has its own merges expanded first
    ("a: &a {x: 1}\nb: &b {<<: *a, y: 2}\nc:\n  <<: *b\n  z: 3\n", {"x": 1, "y": 2, "z": 3}, ["x", "y", "z"]),
]


@pytest.mark.parametrize("text, want, order", MERGES)
def test_merge_keys(text, want, order):
    got = q.loads(text)["m" if "\nm:" in text or text.startswith("m:") else "c"]
    assert got == want
    if order is not None:
        assert list(got) == order
        assert [type(k) for k in got] == [type(k) for k in order]


def test_merge_marker_as_root_and_in_keys():
    assert q.loads("<<") == "<<"
    assert q.loads("? [<<, a]\n: 1\n") == {("<<", "a"): 1}


# ---------------------------------------------------------------- key policies

def test_duplicate_keys_default_keeps_last_at_first_place():
    got = q.loads("a: 1\nb: 2\na: 3\n")
    assert got == {"a": 3, "b": 2} and list(got) == ["a", "b"]


@pytest.mark.parametrize(
    "text, shown, line, column",
    [
        ("a: 1\na: 2\n", "a", 2, 1),
        ("true: 1\n1: 2\n", "Int(1)", 2, 1),
        ("0.5: a\n0.5: b\n", "Float(0.5)", 2, 1),
        (".nan: a\n.nan: b\n", None, 2, 1),
        ("'<<': 1\n'<<': 2\n", "<<", 2, 1),
        ("x:\n  k: 1\n  k: 2\n", "k", 3, 3),
        ("9223372036854775808: a\n+9223372036854775808: b\n", None, 2, 1),
        ("1.0: a\n1: b\n", None, 2, 1),
        ("1e20: a\n100000000000000000000: b\n", None, 2, 1),
        ("9223372036854775808.0: a\n9223372036854775808: b\n", None, 2, 1),
    ],
)
def test_duplicate_keys_error_and_warning(text, shown, line, column, caplog):
    with pytest.raises(qe.QuillfernDuplicateKeyError) as info:
        q.loads(text, option=q.OPT_DUPLICATE_KEYS_ERROR)
    e = info.value
    assert str(e).startswith("duplicate mapping key: ")
    assert str(e).endswith(f" at line {line}, column {column}")
    if shown is not None:
        assert str(e) == f"duplicate mapping key: {shown} at line {line}, column {column}"
    assert (e.line, e.column, e.file) == (line, column, None)

    caplog.clear()
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        q.loads(text, option=q.OPT_DUPLICATE_KEYS_WARN)
    msgs = [r.getMessage() for r in caplog.records if r.name == "quillfern"]
    assert len(msgs) == 1
    assert msgs[0].startswith("duplicate mapping key '")
    assert msgs[0].endswith(f"' at line {line}, column {column}; keeping the last value")


def test_duplicate_keys_yaml11_underscore_bigint(caplog):
    with pytest.raises(qe.QuillfernDuplicateKeyError):
        q.loads("9223372036854775808: a\n9_223_372_036_854_775_808: b\n", option=Y11 | q.OPT_DUPLICATE_KEYS_ERROR)


def test_duplicate_keys_that_are_not_duplicates(caplog):
    opt = q.OPT_DUPLICATE_KEYS_ERROR
    assert q.loads("1: a\n'1': b\n", option=opt) == {1: "a", "1": "b"}
    assert q.loads("<<: {a: 1}\n<<: {b: 2}\n", option=opt) == {"a": 1, "b": 2}
    assert q.loads("a: {k: 1}\nb: {k: 2}\n", option=opt) == {"a": {"k": 1}, "b": {"k": 2}}
    assert q.loads("[a: 1, a: 2]", option=opt) == [{"a": 1}, {"a": 2}]
    assert q.loads('!t "a:s:1:b": 1\n!t:s:7:a b: 2\n', option=opt) == {"a:s:1:b": 1, "b": 2}


def test_duplicate_timestamp_keys():
    text = "2001-01-01T00:00:00: a\n2001-01-01 00:00:00: b\n"
    assert len(q.loads(text, option=q.OPT_DUPLICATE_KEYS_ERROR)) == 2
    with pytest.raises(qe.QuillfernDuplicateKeyError):
        q.loads(text, option=q.OPT_DUPLICATE_KEYS_ERROR | TS)
    # aware timestamps are one key when they name one instant
    with pytest.raises(qe.QuillfernDuplicateKeyError):
        q.loads("2001-01-01T05:00:00+05:00: a\n2001-01-01T00:00:00Z: b\n", option=q.OPT_DUPLICATE_KEYS_ERROR | TS)


def test_duplicate_error_wins_over_warning(caplog):
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        with pytest.raises(qe.QuillfernDuplicateKeyError):
            q.loads("a: 1\na: 2\n", option=q.OPT_DUPLICATE_KEYS_ERROR | q.OPT_DUPLICATE_KEYS_WARN)
    assert not [r for r in caplog.records if r.name == "quillfern"]


COMPLEX = [
    ("[a, b]: 1\n", "a sequence", 1, 1),
    ("{a: b}: 1\n", "a mapping", 1, 1),
    ("x: 1\n? [a]\n: 2\n", "a sequence", 2, 1),
]


@pytest.mark.parametrize("text, what, line, column", COMPLEX)
def test_complex_keys_rejected(text, what, line, column):
    with pytest.raises(qe.QuillfernComplexKeyError) as info:
        q.loads(text, option=q.OPT_REJECT_COMPLEX_KEYS)
    assert str(info.value) == f"complex mapping key ({what} used as a key) at line {line}, column {column}"
    assert (info.value.line, info.value.column, info.value.file) == (line, column, None)


def test_complex_keys_as_tuples():
    assert q.loads("[a, [b, c]]: 1\n") == {("a", ("b", "c")): 1}
    assert q.loads("{x: 1}: 2\n") == {(("x", 1),): 2}
    assert q.loads("? {x: [1, {y: z}]}\n: v\n") == {(("x", (1, (("y", "z"),))),): "v"}
    assert q.loads("[]: 1\n{}: 2\n") == {(): 1, (): 2} == {(): 2}
    # a tagged collection key is not complex for the policy
    assert q.loads("!t [a]: 1\n", option=q.OPT_REJECT_COMPLEX_KEYS, tags={"!t": tuple}) == {("a",): 1}


def test_unhashable_key_from_tag():
    with pytest.raises(qe.QuillfernDecodeError) as info:
        q.loads("!t {a: b}: 1\n")
    assert str(info.value) == "mapping key is not hashable in Python"
    with pytest.raises(qe.QuillfernDecodeError, match="^mapping key is not hashable in Python$"):
        q.loads("!t x: 1\n", tags={"!t": lambda v: [v]})


# ------------------------------------------------------------------------ tags

def test_tags_precedence_and_passthrough():
    calls = []

    def handler(name, value):
        calls.append((name, value))
        return ("handled", value)

    text = "a: !x 1\nb: !y [1, 2]\n"  # a custom-tagged scalar is a str
    assert q.loads(text, tags={"!x": lambda v: v + "0"}, tag_handler=handler) == {
        "a": "10",
        "b": ("handled", [1, 2]),
    }
    assert calls == [("!y", [1, 2])]
    assert q.loads(text) == {"a": "1", "b": [1, 2]}
    got = q.loads(text, option=q.OPT_PASSTHROUGH_TAG)
    assert isinstance(got["a"], q.QuillfernTag) and (got["a"].tag, got["a"].value) == ("!x", "1")
    assert (got["b"].tag, got["b"].value) == ("!y", [1, 2])
    # tags and the handler win over passthrough
    assert q.loads(text, option=q.OPT_PASSTHROUGH_TAG, tags={"!x": int})["a"] == 1


def test_verbatim_and_handle_tags():
    seen = []
    got = q.loads("- !<urn:x> 1\n- !x 2\n", tag_handler=lambda n, v: seen.append(n) or v)
    assert got == ["1", "2"] and seen == ["urn:x", "!x"]
    assert q.loads("!<urn:x> 1", tags={"urn:x": int}) == 1
    got = q.loads("!<urn:x> 1", option=q.OPT_PASSTHROUGH_TAG)
    assert got.tag == "!<urn:x>"
    got = q.loads("%TAG !e! tag:example.com,2000:\n---\n!e!thing 1\n", option=q.OPT_PASSTHROUGH_TAG)
    assert got.tag == "tag:example.com,2000:thing"
    assert q.loads("! a", option=q.OPT_PASSTHROUGH_TAG).tag == "!"


def test_tag_callable_errors_pass_through():
    def boom(v):
        raise ValueError("nope")

    with pytest.raises(ValueError, match="^nope$"):
        q.loads("a: !x 1", tags={"!x": boom})
    with pytest.raises(KeyError):
        q.loads("a: !x 1", tag_handler=lambda n, v: {}[n])


def test_tags_dict_subclass_uses_plain_lookup():
    class Tags(dict):
        def __getitem__(self, k):
            raise AssertionError("own __getitem__ must not be used")

    assert q.loads("!x 1", tags=Tags({"!x": int})) == 1
    assert q.loads("!x 1", tags={}) == "1"


def test_tags_argument_type():
    with pytest.raises(TypeError, match=r"^tags must be a dict \(or Tags\) mapping each tag name to a callable$"):
        q.loads("a", tags=["!x"])
    with pytest.raises(TypeError, match="^tags must be a dict"):
        q.loads_all("a", tags=("!x",))


def test_tag_handler_sees_inner_tagged_values_first():
    order = []
    q.loads("!outer [!inner 1]", tag_handler=lambda n, v: order.append(n) or v)
    assert order == ["!inner", "!outer"]


def test_failed_inner_value_calls_no_handler():
    calls = []
    big = "9" * 5000  # beyond the interpreter's int-to-str digit limit
    with pytest.raises(ValueError):
        q.loads(f"!t [{big}]", tag_handler=lambda n, v: calls.append(n) or v)
    assert calls == []


# ----------------------------------------------------------- host conversion

def test_equal_keys_are_one_object():
    got = q.loads("a: 1\nb: {a: 2}\n")
    k1 = next(iter(got))
    k2 = next(iter(got["b"]))
    assert k1 is k2
    long_key = "key_" + "x" * 80  # beyond the keys kept between calls
    for key in ("key_" + "x" * 40, long_key, "schlüssel"):
        docs = q.loads_all(f"{key}: 1\n---\n[{{{key}: 2}}, {{{key}: 3}}]\n")
        found = [next(iter(docs[0])), next(iter(docs[1][0])), next(iter(docs[1][1]))]
        assert found == [key] * 3 and found[0] is found[1] is found[2]


def interning_keeps_strs_mortal():
    probe = sys.intern("".join(["quillfern-test-probe-", str(id(object()))]))
    held = sys.getrefcount(probe)
    extra = probe  # noqa: F841 - one more reference, unless the str is immortal
    return sys.getrefcount(probe) == held + 1


def test_keys_stay_mortal_and_are_interned_where_that_keeps_them_so():
    # An immortal key would outlive every document that named it: a process
    # loading documents with ever new keys would grow without bound.
    key = next(iter(q.loads(f"fresh_key_{id(object())}: 1")))
    held = sys.getrefcount(key)
    extra = key  # noqa: F841
    assert sys.getrefcount(key) == held + 1
    # Where interning leaves strs mortal, keys are interned, so they are the
    # very str of an equal identifier in the caller's code.
    name = "interned_field_name"
    shared = next(iter(q.loads(name + ": 1")))
    assert (shared is name) == interning_keeps_strs_mortal()


def test_distinct_keys_leave_memory_flat():
    # In a child process, so earlier tests' keys do not count. tracemalloc
    # counts the interpreter's live allocations exactly, with any allocator
    # (the sanitizer suite runs on plain malloc).
    n = 40_000 if os.environ.get("QUILLFERN_SANITIZED") else 200_000
    code = """if True:
        import sys, tracemalloc, quillfern as q
        def load(start, count):
            for i in range(start, start + count):
                q.loads(f"k{i}: 1\\n{'long' * 20}{i}: 2\\n\u00fc{i}: 3\\n")
        load(0, 10_000)  # fills the keys kept between calls
        tracemalloc.start()
        load(10_000, int(sys.argv[1]))
        print(tracemalloc.get_traced_memory()[0])
    """
    out = subprocess.run([sys.executable, "-c", code, str(n)], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    # Kept keys would take about 300 bytes per document; what stays is the
    # bounded set of keys shared between calls.
    assert int(out.stdout) < 4_000_000


def test_keys_kept_between_calls_outlast_a_larger_vocabulary():
    # A document with more distinct keys than are kept between calls must not
    # replace the kept ones wholesale on every call (the next call would find
    # few of them), and a new vocabulary must still move in. A kept key has
    # one reference more than the key too long to be kept.
    code = """if True:
        import sys, quillfern as q
        def kept(doc, calls):
            for _ in range(calls):
                keys = list(q.loads(doc))
            alone = sys.getrefcount(keys[-1])
            return sum(sys.getrefcount(k) > alone for k in keys[:-1]) / (len(keys) - 1)
        big = "".join(f"key_{i}: {i}\\n" for i in range(10_000)) + "x" * 80 + ": 0\\n"
        small = "".join(f"field_{i}: {i}\\n" for i in range(1_000)) + "y" * 80 + ": 0\\n"
        print(kept(big, 3), kept(small, 10))
    """
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    big, small = map(float, out.stdout.split())
    assert big > 0.6 and small > 0.85, (big, small)


def test_shared_keys_are_released_at_exit():
    # Keys kept between calls are released by the exit functions, while the
    # interpreter still runs; loads called afterwards keeps nothing more.
    code = """if True:
        import atexit, sys, quillfern as q
        text = 'key_' + 'x' * 40 + ': 1\\n'
        key = next(iter(q.loads(text)))
        held = sys.getrefcount(key)
        atexit._run_exitfuncs()
        assert sys.getrefcount(key) == held - 1, (held, sys.getrefcount(key))
        assert next(iter(q.loads(text))) == key
        assert sys.getrefcount(key) == held - 1
        print('ok')
    """
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0 and out.stdout == "ok\n", out.stderr


def test_big_integers():
    assert scalar("+1_000_000_000_000_000_000_000", Y11) == 10**21
    assert scalar("-123456789012345678901234567890") == -123456789012345678901234567890
    assert scalar("0x" + "F" * 64) == 16**64 - 1


def test_scalar_types():
    got = q.loads("[~, true, 1, 1.5, x, 99999999999999999999]")
    assert [type(v) for v in got] == [type(None), bool, int, float, str, int]


def test_unicode_strings():
    assert q.loads('a: "\\u00e9\\U0001F600"\nb: ü\n') == {"a": "é\U0001F600", "b": "ü"}


# ------------------------------------------------------------------- streams

def test_streams():
    assert q.loads("") is None
    assert q.loads("# only a comment\n") is None
    assert q.loads("...\n") is None
    assert q.loads_all("") == []
    assert q.loads_all("---\n") == [None]
    assert q.loads_all("---\n---\n") == [None, None]
    assert q.loads_all("a\n---\nb\n") == ["a", "b"]
    assert q.loads_all("a\n...\nb\n") == ["a", "b"]
    assert q.loads("a\n---\nb\n") == "a"
    assert q.loads_all("a\n...\n%YAML 1.2\n---\nb\n") == ["a", "b"]
    assert q.loads_all("%YAML 1.2 # c\n---\na\n") == ["a"]
    assert q.loads_all("%FOO bar\n---\na\n") == ["a"]


def test_loads_reports_errors_in_later_documents():
    with pytest.raises(qe.QuillfernParseError):
        q.loads("a\n---\n[b\n")


def test_warnings_of_later_documents_are_logged(caplog):
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        assert q.loads("a\n---\nk: 1\nk: 2\n", option=q.OPT_DUPLICATE_KEYS_WARN) == "a"
    assert len([r for r in caplog.records if r.name == "quillfern"]) == 1


def test_no_warnings_logged_when_the_load_fails(caplog):
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        with pytest.raises(qe.QuillfernParseError):
            q.loads("k: 1\nk: 2\n---\n[\n", option=q.OPT_DUPLICATE_KEYS_WARN)
    assert not [r for r in caplog.records if r.name == "quillfern"]


def test_yaml11_warnings(caplog):
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        q.loads("a: yes\nb: 'yes'\nc: 010\n", option=Y11 | q.OPT_YAML_1_1_WARN)
        q.loads("a: yes\n", option=q.OPT_YAML_1_1_WARN)  # a YAML 1.2 load never warns
    msgs = [r.getMessage() for r in caplog.records if r.name == "quillfern"]
    assert msgs == [
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4",
        "YAML 1.1 syntax '010' resolves as int in 1.1 but str in 1.2 at line 3, column 4",
    ]


def test_failing_log_handler_does_not_disturb_loads():
    class Boom(logging.Handler):
        def emit(self, record):
            raise RuntimeError("handler failed")

    logger = logging.getLogger("quillfern")
    h = Boom()
    logger.addHandler(h)
    old = logging.raiseExceptions
    logging.raiseExceptions = False
    try:
        assert q.loads("a: 1\na: 2\n", option=q.OPT_DUPLICATE_KEYS_WARN) == {"a": 2}
    finally:
        logging.raiseExceptions = old
        logger.removeHandler(h)


# --------------------------------------------------------------- error texts

PARSE_ERRORS = [
    ("%YAML 1.2\n", "directive must be followed by a document start (---)", 1, 1),
    ("%YAML 1.2.3\n---\na\n", "invalid %YAML directive", 1, 1),
    ("%YAML 1\n---\na\n", "invalid %YAML directive", 1, 1),
    ("%YAML 1.2 x\n---\na\n", "invalid %YAML directive", 1, 1),
    ("%YAML 1.2\n%YAML 1.2\n---\na\n", "duplicate %YAML directive", 2, 1),
    ("%TAG !e! a:\n%TAG !e! b:\n---\na\n", "duplicate %TAG directive for handle '!e!'", 2, 1),
    ("a: &x &y 1\n", "a node cannot have two anchors", 1, 7),
    ("a: !e!x 1\n", "undefined tag handle: !e!", 1, 4),
    ("a: &x 1\nb: &y *x\n", "an alias node cannot have an anchor or tag", 2, 7),
    ("a: *x\n", "unknown alias: *x", 1, 4),
    ("a: *x\nb: &x 1\n", "unknown alias: *x", 1, 4),
    ("a\nb: c\n", None, None, None),
]


@pytest.mark.parametrize("text, message, line, column", PARSE_ERRORS)
def test_parse_error_texts(text, message, line, column):
    for fn in (q.loads, q.loads_all):
        with pytest.raises(qe.QuillfernParseError) as info:
            fn(text)
        e = info.value
        assert e.file is None
        assert str(e).endswith(f" at line {e.line}, column {e.column}")
        if message is not None:
            assert str(e) == f"{message} at line {line}, column {column}"
            assert (e.line, e.column) == (line, column)


def test_tag_handle_scope_is_one_document():
    assert q.loads_all("%TAG !e! tag:x:\n---\n!e!a 1\n---\n2\n") == ["1", 2]
    with pytest.raises(qe.QuillfernParseError, match="undefined tag handle: !e!"):
        q.loads_all("%TAG !e! tag:x:\n---\n!e!a 1\n---\n!e!a 2\n")


def test_error_on_first_character_has_line_1_column_1():
    with pytest.raises(qe.QuillfernParseError) as info:
        q.loads("]")
    assert (info.value.line, info.value.column) == (1, 1)
    assert str(info.value).endswith(" at line 1, column 1")


def test_block_mapping_error_texts():
    with pytest.raises(qe.QuillfernParseError) as info:
        q.loads("- - a\n  - b\n  c: d\n")
    assert info.value.line == 3
    assert q.loads("? a\n") == {"a": None}
    assert q.loads("{a, : b, c: d,}") == {"a": None, None: "b", "c": "d"}
    assert q.loads("[a, b: c, : d]") == ["a", {"b": "c"}, {None: "d"}]


def test_anchors_and_aliases():
    assert q.loads("a: &x [1, 2]\nb: *x\n") == {"a": [1, 2], "b": [1, 2]}
    got = q.loads("a: &x [1]\nb: *x\n")
    assert got["a"] is not got["b"]  # each alias is its own object
    assert q.loads("a: &x 1\nb: &x 2\nc: *x\n")["c"] == 2
    assert q.loads("a: &x\nb: *x\n") == {"a": None, "b": None}
    assert q.loads("a: &x !t 1\nb: *x\n", option=q.OPT_PASSTHROUGH_TAG)["b"].tag == "!t"
    assert q.loads("a: &x 1\nb: &x [*x]\nc: *x\n")["c"] == [1]


# ------------------------------------------------------------------- limits

def block_nest(depth):
    """A block mapping nesting `depth` nodes deep (the root counts one)."""
    lines = [" " * i + "k:" for i in range(depth - 1)]
    lines[-1] += " x"
    return "\n".join(lines) + "\n"


def test_nesting_limit():
    v = q.loads(block_nest(1000))
    for _ in range(999):
        v = v["k"]
    assert v == "x"
    with pytest.raises(qe.QuillfernParseError) as info:
        q.loads(block_nest(1001))
    assert str(info.value).startswith("maximum nesting depth (1000) exceeded at line ")
    assert (info.value.line, info.value.column) == (1000, 1000)  # the 1001st level


def test_alias_budget():
    anchor = "a: &a [" + ", ".join(["x"] * 99) + "]\n"
    ok = anchor + "b: [" + ", ".join(["*a"] * 100_000) + "]\n"
    got = q.loads(ok)
    assert len(got["b"]) == 100_000 and got["b"][-1][-1] == "x"
    with pytest.raises(qe.QuillfernParseError) as info:
        q.loads(anchor + "b: [" + ", ".join(["*a"] * 100_001) + "]\n")
    assert str(info.value).startswith("document expands to too many nodes (possible alias bomb) at line 2, column ")
    # the budget is shared by all documents of a stream
    half = anchor + "b: [" + ", ".join(["*a"] * 60_000) + "]\n"
    with pytest.raises(qe.QuillfernParseError, match="possible alias bomb"):
        q.loads_all(half + "---\n" + half)


def test_billion_laughs_is_refused_quickly():
    lines = ["a0: &a0 [x, x, x, x, x, x, x, x, x, x]"]
    for i in range(1, 10):
        lines.append(f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 10) + "]")
    with pytest.raises(qe.QuillfernParseError, match="possible alias bomb"):
        q.loads("\n".join(lines) + "\n")


# --------------------------------------------------------- schema arguments

def test_schema_arguments():
    with pytest.raises(ValueError, match=r'^schema_resolver requires schema="auto"$'):
        q.loads("a: 1", schema_resolver=lambda r: None)
    with pytest.raises(TypeError):  # bad data is reported first
        q.loads(1, schema_resolver=lambda r: None)
    with pytest.raises(ValueError, match=r'^schema="auto" requires a schema_resolver callable'):
        q.loads("a: 1", schema="auto")
    assert q.loads("a: 1", schema={"type": "object"}) == {"a": 1}
    # Any other string is a schema object, and a string schema checks nothing.
    assert q.loads("a: 1", schema="AUTO") == {"a": 1}
    assert q.loads("a: 1", schema=None) == {"a": 1}


def test_path_arguments_are_checked_even_when_unused():
    for name in ("include_dir", "root_path"):
        with pytest.raises(TypeError) as info:
            q.loads("a", **{name: 5})
        assert f"while processing '{name}'" in info.value.__notes__


def test_loads_all_rejects_directive_options():
    for opt in (q.OPT_INCLUDES, q.OPT_SECRETS, q.OPT_ENV_VAR):
        with pytest.raises(ValueError, match=r"^loads_all\(\) does not support OPT_INCLUDES, OPT_SECRETS, or OPT_ENV_VAR; use loads\(\) for include resolution$"):
            q.loads_all("a", option=opt, tags=["not checked yet"])
    assert q.loads_all("a", option=q.OPT_INCLUDE_DIR_RECURSIVE) == ["a"]


def test_data_kinds():
    assert q.loads(b"a: 1") == {"a": 1}
    assert q.loads(bytearray(b"a: 1")) == {"a": 1}
    assert q.loads(memoryview(b"a: 1")) == {"a": 1}
    assert q.loads("a: 1".encode("utf-16")) == {"a": 1}
    assert q.loads("\ufeffa: 1") == {"a": 1}
    with pytest.raises(TypeError, match=r"^loads\(\) requires str, bytes, bytearray, or a buffer"):
        q.loads_all(5)
