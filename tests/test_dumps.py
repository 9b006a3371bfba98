"""dumps: layouts, options, conversion of host objects, tags and errors."""

import enum
import gc
import math

import pytest

import quillfern as q
from quillfern import QuillfernTag
from quillfern.exceptions import QuillfernEncodeError, QuillfernUnserializableError

from helpers import run_in_small_thread

O = q  # option constants

TOO_DEEP = "object is too deeply nested to serialize (possible self-reference)"


class K:
    """A key type that the serializers below turn into a tagged text."""

    def __init__(self, text):
        self.text = text


TAGGING = {K: lambda k: ("!t", k.text)}


def nested_lists(levels, inner):
    x = inner
    for _ in range(levels):
        x = [x]
    return x


# ---------------------------------------------------------------- layouts

LAYOUTS = [
    # root dispatch and nulls
    (None, 0, None, b"null\n"),
    (None, O.OPT_NULL_AS_TILDE, None, b"~\n"),
    (None, O.OPT_NULL_AS_KEYWORD, None, b"null\n"),
    ({}, 0, None, b"{}\n"),
    ([], 0, None, b"[]\n"),
    ({"a": None}, 0, None, b"a:\n"),
    ({"a": None}, O.OPT_NULL_AS_KEYWORD, None, b"a: null\n"),
    ({"a": None}, O.OPT_NULL_AS_TILDE, None, b"a: ~\n"),
    ([None], 0, None, b"-\n"),
    ([None], O.OPT_NULL_AS_KEYWORD, None, b"- null\n"),
    ([None], O.OPT_NULL_AS_TILDE, None, b"- ~\n"),
    ([None, {"a": None}], O.OPT_FLOW_STYLE, None, b"[null, {a: null}]\n"),
    ({None: 1}, 0, None, b"null: 1\n"),
    ({None: 1}, O.OPT_NULL_AS_TILDE, None, b"~: 1\n"),
    # sequences
    ({"a": [1, 2]}, 0, None, b"a:\n  - 1\n  - 2\n"),
    ({"a": [1, 2]}, O.OPT_INDENTLESS_SEQUENCES, None, b"a:\n- 1\n- 2\n"),
    ({"a": [1, 2]}, O.OPT_INDENT_4, None, b"a:\n    - 1\n    - 2\n"),
    ([[1, 2], 3], 0, None, b"-\n  - 1\n  - 2\n- 3\n"),
    ([[1, 2], 3], O.OPT_INDENTLESS_SEQUENCES, None, b"-\n  - 1\n  - 2\n- 3\n"),
    ((1, 2), 0, None, b"- 1\n- 2\n"),
    # compact mappings in sequences
    ([{"a": 1, "b": 2}], 0, None, b"- a: 1\n  b: 2\n"),
    ([{"a": 1, "b": 2}], O.OPT_INDENT_4, None, b"- a: 1\n  b: 2\n"),
    ([{"a": {"b": 1}}], 0, None, b"- a:\n    b: 1\n"),
    ([{"a": {"b": 1}}], O.OPT_INDENT_4, None, b"- a:\n      b: 1\n"),
    ({"a": {"b": {"c": 1}}}, 0, None, b"a:\n  b:\n    c: 1\n"),
    # flow style
    ({"a": [1, {"b": 2}]}, O.OPT_FLOW_STYLE, None, b"{a: [1, {b: 2}]}\n"),
    ([[], {}], 0, None, b"- []\n- {}\n"),
    (["a,b", "[x]"], O.OPT_FLOW_STYLE, None, b'["a,b", "[x]"]\n'),
    (["a,b", "[x]"], 0, None, b"- a,b\n- \"[x]\"\n"),
    # keys
    ({(1, 2): "x"}, 0, None, b"[1, 2]: x\n"),
    ({"a": 1, K("b"): 2}, 0, None, b"a: 1\n? !t b\n: 2\n"),
    ({K("b"): 2, "a": 1}, 0, None, b"!t b: 2\na: 1\n"),
    ({"x": {"a": 1, K("b"): 2}}, 0, None, b"x:\n  a: 1\n  ? !t b\n  : 2\n"),
    # tags
    (QuillfernTag("!t", "x"), 0, None, b"!t x\n"),
    (QuillfernTag("!t", [1]), 0, None, b"!t\n  - 1\n"),
    (QuillfernTag("!t", [1]), O.OPT_INDENTLESS_SEQUENCES, None, b"!t\n- 1\n"),
    (QuillfernTag("!t", "a\nb\n"), 0, None, b"!t |\n  a\n  b\n"),
    (QuillfernTag("!t", {"a": 1}), 0, None, b"!t\n  a: 1\n"),
    (QuillfernTag("!t", None), 0, None, b"!t\n"),
    ({"k": QuillfernTag("!t", [1])}, 0, None, b"k: !t\n  - 1\n"),
    ({"k": QuillfernTag("!t", [1])}, O.OPT_INDENTLESS_SEQUENCES, None, b"k: !t\n  - 1\n"),
    ([QuillfernTag("!t", [1])], 0, None, b"- !t\n  - 1\n"),
    ({"k": QuillfernTag("!t", None)}, 0, None, b"k: !t\n"),
    ([QuillfernTag("!<tag:x,2024:y>", 1)], O.OPT_FLOW_STYLE, None, b"[!<tag:x,2024:y> 1]\n"),
    # literal blocks
    ("a\nb\n", 0, None, b"|\n  a\n  b\n"),
    ("a\nb\n", O.OPT_INDENT_4, None, b"|\n    a\n    b\n"),
    ("a\nb", 0, None, b"|-\n  a\n  b\n"),
    ("a\n\n", 0, None, b"|+\n  a\n\n"),
    ({"k": "a\n\nb"}, 0, None, b"k: |-\n  a\n\n  b\n"),
    (["a\nb\n"], 0, None, b"- |\n  a\n  b\n"),
    # explicit start and end
    (1, O.OPT_EXPLICIT_START | O.OPT_EXPLICIT_END, None, b"---\n1\n...\n"),
    ({"a": 1}, O.OPT_EXPLICIT_START, None, b"---\na: 1\n"),
    # scalars
    ([True, False, 1, -1, 0], 0, None, b"- true\n- false\n- 1\n- -1\n- 0\n"),
    ([2**63 - 1, -(2**63), 2**63, -(2**63) - 1, 2**64], 0, None,
     b"- 9223372036854775807\n- -9223372036854775808\n- 9223372036854775808\n"
     b"- -9223372036854775809\n- 18446744073709551616\n"),
    ([1.0, 100.0, 0.0, -0.0, 0.1, 0.0001, 0.00001, 1e15, 1e16, 1.5e300, 123456.789],
     O.OPT_FLOW_STYLE, None,
     b"[1.0, 100.0, 0.0, -0.0, 0.1, 0.0001, 1.0e-05, 1000000000000000.0, 1.0e+16, 1.5e+300, 123456.789]\n"),
    ([math.inf, -math.inf, math.nan], O.OPT_FLOW_STYLE, None, b"[.inf, -.inf, .nan]\n"),
    (["", "true", "1", "null", "a: b", "x #y", " a", "'q"], 0, None,
     b'- ""\n- "true"\n- "1"\n- "null"\n- "a: b"\n- "x #y"\n- " a"\n- "\'q"\n'),
    (["", "true", "'q"], O.OPT_SINGLE_QUOTES, None, b"- ''\n- 'true'\n- \"'q\"\n"),
    (["yes", "on", "y", "inf"], 0, None, b'- "yes"\n- "on"\n- y\n- inf\n'),
    (["y", "N"], O.OPT_YAML_1_1, None, b'- "y"\n- "N"\n'),
    (["y", "N"], O.OPT_KESTIL_COMPAT, None, b"- y\n- N\n"),
    ("2001-12-15T02:59:43.1z", O.OPT_YAML_1_1, None, b'"2001-12-15T02:59:43.1z"\n'),
    ("a\tb", 0, None, b'"a\\tb"\n'),
    # width
    ({"k": "aaa bbb ccc ddd"}, 0, 10, b'k: "aaa\n   bbb ccc\n   ddd"\n'),
    ({"k": "aaa bbb ccc ddd"}, 0, 0, b"k: aaa bbb ccc ddd\n"),
    ({"k": "aaa bbb ccc ddd"}, 0, None, b"k: aaa bbb ccc ddd\n"),
    ({"k": "aaaaaaaaaaaaaaa"}, 0, 5, b"k: aaaaaaaaaaaaaaa\n"),
    ({"k": "a\tb c d"}, 0, 5, b'k: "a\\tb\n   c\n   d"\n'),
    ({"k": "aaa bbb ccc"}, O.OPT_SINGLE_QUOTES, 8, b"k: 'aaa\n   bbb\n   ccc'\n"),
    ([1111, 2222, 3333], O.OPT_FLOW_STYLE, 10, b"[1111, 2222,\n  3333]\n"),
    # sort order: null < bool < number < text < collection
    ({"b": 1, "a": 2, 2: 3, None: 4, True: 5, (1,): 6, 1.5: 7}, O.OPT_SORT_KEYS, None,
     b"null: 4\ntrue: 5\n1.5: 7\n2: 3\na: 2\nb: 1\n[1]: 6\n"),
    ({"b": 1, "a": 2}, O.OPT_SORT_KEYS | O.OPT_FLOW_STYLE, None, b"{a: 2, b: 1}\n"),
    ({2**53 + 1: "a", float(2**53): "b"}, O.OPT_SORT_KEYS, None,
     b"9007199254740992.0: b\n9007199254740993: a\n"),
    ({2**70 + 1: "big", float(2**70): "f", -(2**70): "neg"}, O.OPT_SORT_KEYS, None,
     b"-1180591620717411303424: neg\n1.1805916207174113e+21: f\n1180591620717411303425: big\n"),
    ({"ab": 1, "a": 2, "B": 3, "é": 4}, O.OPT_SORT_KEYS, None, b"B: 3\na: 2\nab: 1\n\xc3\xa9: 4\n"),
    ({(2,): "x", (1,): "y"}, O.OPT_SORT_KEYS, None, b"[2]: x\n[1]: y\n"),
    ({math.nan: "a", 1: "b", -math.inf: "c", 2**64: "d", 1.5: "e", -0.0: "f", -(2**64): "g"}, O.OPT_SORT_KEYS,
     None, b"-.inf: c\n-18446744073709551616: g\n-0.0: f\n1: b\n1.5: e\n18446744073709551616: d\n.nan: a\n"),
    # bits that dumps does not read change nothing
    ({"a": [1]}, O.OPT_ROUND_TRIP | O.OPT_INDENT_2 | O.OPT_TIMESTAMPS, None, b"a:\n  - 1\n"),
]


@pytest.mark.parametrize("obj, option, width, expected", LAYOUTS)
def test_layouts(obj, option, width, expected):
    assert q.dumps(obj, option=option, width=width, serializers=TAGGING) == expected


def test_option_none_is_zero():
    assert q.dumps({"a": 1}, option=None) == q.dumps({"a": 1}, option=0) == b"a: 1\n"


# ---------------------------------------------------------------- arguments


def test_argument_errors_carry_the_note():
    with pytest.raises(TypeError) as info:
        q.dumps(1, option="x")
    assert info.value.__notes__ == ["while processing 'option'"]
    with pytest.raises(OverflowError) as info:
        q.dumps(1, option=-1)
    assert info.value.__notes__ == ["while processing 'option'"]
    with pytest.raises(OverflowError) as info:
        q.dumps(1, width=2**64)
    assert info.value.__notes__ == ["while processing 'width'"]
    with pytest.raises(TypeError) as info:
        q.dumps(1, serializers=[])
    assert str(info.value) == "'list' object is not an instance of 'dict'"
    assert info.value.__notes__ == ["while processing 'serializers'"]
    with pytest.raises(TypeError) as info:
        q.to_json(1, option=1.5)
    assert info.value.__notes__ == ["while processing 'option'"]


def test_argument_errors_come_before_the_object_is_looked_at():
    # the null-option conflict and conversion errors never mask an argument error
    with pytest.raises(TypeError):
        q.dumps(object(), option=O.OPT_NULL_AS_KEYWORD | O.OPT_NULL_AS_TILDE, width="x")


def test_index_objects_are_accepted():
    class Idx:
        def __index__(self):
            return O.OPT_FLOW_STYLE

    assert q.dumps({"a": [1]}, option=Idx()) == b"{a: [1]}\n"


def test_null_options_are_exclusive():
    with pytest.raises(ValueError, match="^OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive$"):
        q.dumps(None, option=O.OPT_NULL_AS_KEYWORD | O.OPT_NULL_AS_TILDE)


def test_represent_none_takes_the_plain_road():
    assert q.dumps({"a": 1}, represent=None) == b"a: 1\n"


def test_serializers_may_be_a_dict_subclass():
    class D(dict):
        pass

    assert q.dumps(K("x"), serializers=D(TAGGING)) == b"!t x\n"


# ---------------------------------------------------------------- conversion


class IntE(enum.IntEnum):
    THREE = 3


class StrE(str, enum.Enum):
    A = "text"


class MyFloat(float):
    def __float__(self):
        raise AssertionError("the stored value is used")


class MyStr(str):
    def __str__(self):
        raise AssertionError("the character data is used")


class MyInt(int):
    pass


@pytest.mark.parametrize(
    "obj, expected",
    [
        (True, b"true\n"),
        (IntE.THREE, b"3\n"),
        (StrE.A, b"text\n"),
        (MyFloat(2.5), b"2.5\n"),
        (MyStr("s"), b"s\n"),
        (MyInt(2**80), b"1208925819614629174706176\n"),
        (b"abc", b"abc\n"),
        (frozenset([7]), b"- 7\n"),
        ((1, (2,)), b"- 1\n-\n  - 2\n"),
        ({(1, 2): None}, b"[1, 2]:\n"),
    ],
)
def test_builtin_subclasses_and_containers(obj, expected):
    assert q.dumps(obj) == expected


def test_sets_follow_iteration_order():
    s = {"b", "a", "c"}
    assert q.dumps(s, option=O.OPT_FLOW_STYLE) == ("[" + ", ".join(s) + "]\n").encode()


@pytest.mark.parametrize(
    "obj, exc, message",
    [
        (b"\xff", QuillfernEncodeError,
         "cannot serialize bytes that are not valid UTF-8; decode them yourself (e.g. base64) before dumping"),
        ("a\ud800b", QuillfernEncodeError,
         "cannot serialize a str containing unpaired surrogates; convert it to valid Unicode (or recover the "
         "original bytes and handle them explicitly) before dumping"),
        ({"k": ["\udfff"]}, QuillfernEncodeError,
         "cannot serialize a str containing unpaired surrogates; convert it to valid Unicode (or recover the "
         "original bytes and handle them explicitly) before dumping"),
        (bytearray(b"a"), QuillfernUnserializableError, "type bytearray is not YAML serializable"),
        (memoryview(b"a"), QuillfernUnserializableError, "type memoryview is not YAML serializable"),
        (object(), QuillfernUnserializableError, "type object is not YAML serializable"),
        ([1, {"a": [K]}], QuillfernUnserializableError, "type type is not YAML serializable"),
        (nested_lists(1000, 1), QuillfernEncodeError, TOO_DEEP),
        (nested_lists(1000, []), QuillfernEncodeError, TOO_DEEP),
    ],
)
def test_conversion_errors(obj, exc, message):
    for fn in (q.dumps, q.to_json):
        with pytest.raises(exc) as info:
            fn(obj)
        assert str(info.value) == message
        assert type(info.value) is exc


def test_depth_limit_counts_every_level():
    assert q.dumps(nested_lists(999, 1)).endswith(b"- 1\n")
    assert q.dumps(nested_lists(999, [])).endswith(b"- []\n")
    # dicts, tuples and tags count like lists
    x = 1
    for i in range(1000):
        x = {"k": x} if i % 3 == 0 else (x,) if i % 3 == 1 else QuillfernTag("!t", x)
    with pytest.raises(QuillfernEncodeError, match="too deeply nested"):
        q.dumps(x)


@pytest.mark.parametrize("make", [
    lambda: (lambda l: (l.append(l), l)[1])([]),
    lambda: (lambda d: (d.__setitem__("self", d), d)[1])({}),
    lambda: (lambda l: (l.append({"x": (l,)}), l)[1])([]),
])
def test_self_reference_fails_cleanly(make):
    obj = make()
    for fn in (q.dumps, q.to_json):
        with pytest.raises(QuillfernEncodeError, match="possible self-reference"):
            fn(obj)


def test_self_reference_through_default_and_serializers():
    class Loop:
        pass

    loop = Loop()
    # default is used once; its result's unhandled content fails by type
    with pytest.raises(QuillfernUnserializableError, match="^type Loop is not YAML serializable$"):
        q.dumps(loop, default=lambda o: [o])
    # a serializer that returns its own type recurses until the depth limit
    with pytest.raises(QuillfernEncodeError, match="possible self-reference"):
        q.dumps(loop, serializers={Loop: lambda o: ("!l", o)})


# ---------------------------------------------------------------- default and serializers


class P:
    pass


class Sub(P):
    pass


def test_default_is_called_once_and_not_inside_its_result():
    calls = []

    def default(o):
        calls.append(o)
        return [o.__class__.__name__, P()]

    with pytest.raises(QuillfernUnserializableError, match="^type P is not YAML serializable$"):
        q.dumps(P(), default=default)
    assert len(calls) == 1
    assert q.dumps([P(), P()], default=lambda o: "p") == b"- p\n- p\n"


def test_default_errors_pass_through_unchanged():
    err = ValueError("mine")

    def default(o):
        raise err

    for fn in (q.dumps, q.to_json):
        with pytest.raises(ValueError) as info:
            fn({"a": [P()]}, default=default)
        assert info.value is err


def test_default_result_naming_its_own_type():
    with pytest.raises(QuillfernUnserializableError, match="^type Sub is not YAML serializable$"):
        q.dumps(P(), default=lambda o: Sub())


def test_serializers_lookup_rules():
    seen = []

    def ser(o):
        seen.append(type(o).__name__)
        return ("!p", "v")

    table = {P: ser, int: lambda o: ("!never", 0), str: lambda o: ("!never", 0), list: lambda o: 1}
    assert q.dumps([P(), 1, "s", [2]], serializers=table) == b"- !p v\n- 1\n- s\n-\n  - 2\n"
    assert seen == ["P"]
    # a subclass of a registered type is not matched
    with pytest.raises(QuillfernUnserializableError, match="type Sub"):
        q.dumps(Sub(), serializers=table)
    # serializers win over default and over the fallback types
    assert q.dumps(P(), serializers=table, default=lambda o: "d") == b"!p v\n"
    import uuid

    assert q.dumps(uuid.UUID(int=1), serializers={uuid.UUID: lambda u: ("!uuid", u.int)}) == b"!uuid 1\n"


def test_serializers_use_the_plain_dict_lookup():
    class Table(dict):
        def __missing__(self, key):
            raise AssertionError("not consulted")

        def __getitem__(self, key):
            raise AssertionError("not consulted")

        def get(self, key, default=None):
            raise AssertionError("not consulted")

    assert q.dumps(P(), serializers=Table({P: lambda o: ("!p", 1)})) == b"!p 1\n"
    with pytest.raises(QuillfernUnserializableError):
        q.dumps(Sub(), serializers=Table({P: lambda o: ("!p", 1)}))


def test_serializers_lookup_errors_pass_through():
    class Boom(Exception):
        pass

    class Meta(type):
        def __hash__(cls):
            raise Boom()

        def __eq__(cls, other):
            return cls is other

    class Odd(metaclass=Meta):
        pass

    with pytest.raises(Boom):
        q.dumps(Odd(), serializers={int: str})


def test_serializer_errors_pass_through():
    err = KeyError("x")

    def ser(o):
        raise err

    with pytest.raises(KeyError) as info:
        q.dumps([P()], serializers={P: ser})
    assert info.value is err


@pytest.mark.parametrize(
    "result, exc, message",
    [
        (["!p", 1], QuillfernEncodeError, "a tags callback must return a QuillfernTag or a (tag, value) tuple"),
        (("!p", 1, 2), QuillfernEncodeError, "a tags callback must return a QuillfernTag or a (tag, value) tuple"),
        (None, QuillfernEncodeError, "a tags callback must return a QuillfernTag or a (tag, value) tuple"),
        ("plain", QuillfernEncodeError, "a tags callback must return a QuillfernTag or a (tag, value) tuple"),
        ((1, 2), TypeError, None),
        (("!p", QuillfernTag("!q", 1)), QuillfernEncodeError,
         "cannot attach a tag to a value that already carries a tag"),
        (("p", 1), QuillfernEncodeError, "invalid tag \"p\": a tag must start with '!'"),
        (("!p", object()), QuillfernUnserializableError, "type object is not YAML serializable"),
    ],
)
def test_serializer_results(result, exc, message):
    with pytest.raises(exc) as info:
        q.dumps(P(), serializers={P: lambda o: result})
    if message is not None:
        assert str(info.value) == message
    else:
        assert "int" in str(info.value)


def test_serializer_results_that_work():
    table = {P: lambda o: ("!p", {"a": 1})}
    assert q.dumps(P(), serializers=table) == b"!p\n  a: 1\n"

    class Tuple2(tuple):
        pass

    assert q.dumps(P(), serializers={P: lambda o: Tuple2(("!p", [1]))}) == b"!p\n  - 1\n"
    assert q.dumps(P(), serializers={P: lambda o: QuillfernTag("!q", 2)}) == b"!q 2\n"
    # a value inside the result is again subject to the serializers
    assert q.dumps(P(), serializers={P: lambda o: ("!p", [K("x")]), **TAGGING}) == b"!p\n  - !t x\n"


# ---------------------------------------------------------------- tags

TAG_ERRORS = [
    ("point", "invalid tag \"point\": a tag must start with '!'"),
    ("", "invalid tag \"\": a tag must start with '!'"),
    ("! x", "invalid tag \"! x\": a tag cannot contain whitespace or control characters (found ' ')"),
    ("!a\tb", "invalid tag \"!a\\tb\": a tag cannot contain whitespace or control characters (found '\\t')"),
    ("!a\nb", "invalid tag \"!a\\nb\": a tag cannot contain whitespace or control characters (found '\\n')"),
    ("!a\x00", "invalid tag \"!a\\0\": a tag cannot contain whitespace or control characters (found '\\0')"),
    ("!a\x07", "invalid tag \"!a\\u{7}\": a tag cannot contain whitespace or control characters (found '\\u{7}')"),
    ("!é\x85", "invalid tag \"!é\\u{85}\": a tag cannot contain whitespace or control characters (found '\\u{85}')"),
    ("!a\u3000", "invalid tag \"!a\\u{3000}\": a tag cannot contain whitespace or control characters "
                 "(found '\\u{3000}')"),
    ("!a\"b'c d", "invalid tag \"!a\\\"b'c d\": a tag cannot contain whitespace or control characters (found ' ')"),
    ("!<>", "invalid tag \"!<>\": a verbatim tag must be '!<...>' with non-empty content and no interior '>'"),
    ("!<", "invalid tag \"!<\": a verbatim tag must be '!<...>' with non-empty content and no interior '>'"),
    ("!<a>b>", "invalid tag \"!<a>b>\": a verbatim tag must be '!<...>' with non-empty content and no interior '>'"),
    ("!<ab", "invalid tag \"!<ab\": a verbatim tag must be '!<...>' with non-empty content and no interior '>'"),
    ("!a!b", "invalid tag \"!a!b\": a named tag handle (!name!suffix) needs a %TAG directive, which dumps does "
             "not emit; use a primary (!suffix), secondary (!!suffix), or verbatim (!<uri>) tag"),
    ("!!a!b", "invalid tag \"!!a!b\": a named tag handle (!name!suffix) needs a %TAG directive, which dumps does "
              "not emit; use a primary (!suffix), secondary (!!suffix), or verbatim (!<uri>) tag"),
    ("!a,b", "invalid tag \"!a,b\": a shorthand tag cannot contain a flow indicator (found ',')"),
    ("!a]", "invalid tag \"!a]\": a shorthand tag cannot contain a flow indicator (found ']')"),
    ("!a}", "invalid tag \"!a}\": a shorthand tag cannot contain a flow indicator (found '}')"),
]


@pytest.mark.parametrize("tag, message", TAG_ERRORS)
def test_invalid_tags(tag, message):
    for via in (lambda: QuillfernTag(tag, 1), lambda: {"k": [QuillfernTag(tag, 1)]}):
        with pytest.raises(QuillfernEncodeError) as info:
            q.dumps(via())
        assert str(info.value) == message
    with pytest.raises(QuillfernEncodeError) as info:
        q.dumps(P(), serializers={P: lambda o: (tag, 1)})
    assert str(info.value) == message


@pytest.mark.parametrize("tag", ["!", "!!", "!x", "!!str", "!my-type", "!<tag:example,2024:x>", "!<a,b[c>",
                                 "!a[b", "!a{b", "!é"])
def test_valid_tags_are_written_as_given(tag):
    assert q.dumps(QuillfernTag(tag, 1)) == tag.encode() + b" 1\n"


def test_tag_on_tagged_value():
    with pytest.raises(QuillfernEncodeError, match="^cannot attach a tag to a value that already carries a tag$"):
        q.dumps(QuillfernTag("!a", QuillfernTag("!b", 1)))
    # the tag is checked before the value is converted
    with pytest.raises(QuillfernEncodeError, match="must start with"):
        q.dumps(QuillfernTag("a", object()))


def test_tag_value_may_use_the_same_tag_object():
    tag = QuillfernTag("!t", None)

    class Reader:
        pass

    def default(o):
        return [tag.tag, repr(tag)]

    outer = QuillfernTag("!o", Reader())
    assert q.dumps(outer, default=default) == b"!o\n  - \"!t\"\n  - QuillfernTag('!t', ...)\n"


# ---------------------------------------------------------------- reference discipline


class Mutator:
    """Converted through `default`, which mutates the container it sits in."""

    def __init__(self, action):
        self.action = action


def run_mutator(o):
    o.action()
    return "m"


class Fresh:
    pass


def test_list_is_snapshotted_before_children_run_host_code():
    lst = []
    lst.extend([1, Mutator(lambda: lst.clear()), Fresh(), "tail"])
    out = q.dumps(lst, default=lambda o: run_mutator(o) if isinstance(o, Mutator) else "fresh")
    assert out == b"- 1\n- m\n- fresh\n- tail\n"
    assert lst == []


def test_list_growth_during_conversion_is_ignored():
    lst = []
    lst.extend([Mutator(lambda: lst.extend(range(5))), 2])
    assert q.dumps(lst, default=run_mutator) == b"- m\n- 2\n"


def test_dict_is_snapshotted_before_children_run_host_code():
    d = {}
    d.update({"a": 1, "b": Mutator(lambda: d.clear()), "c": Fresh(), Fresh(): "k"})
    out = q.dumps(d, default=lambda o: run_mutator(o) if isinstance(o, Mutator) else "fresh")
    assert out == b"a: 1\nb: m\nc: fresh\nfresh: k\n"
    d2 = {}
    d2.update({"a": Mutator(lambda: d2.update({"z": 1})), "b": 2})
    assert q.dumps(d2, default=run_mutator) == b"a: m\nb: 2\n"


def test_dict_subclass_is_read_from_its_storage():
    class Odd(dict):
        def items(self):
            return [("x", 1)]

        def keys(self):
            return ["x"]

        def __iter__(self):
            return iter(["x"])

        def __getitem__(self, k):
            return 42

    assert q.dumps(Odd(a=1, b=2)) == b"a: 1\nb: 2\n"


def test_list_subclass_is_iterated():
    class Rev(list):
        def __iter__(self):
            return iter(list(list.__iter__(self))[::-1])

    assert q.dumps(Rev([1, 2, 3])) == b"- 3\n- 2\n- 1\n"

    class Huge(tuple):
        def __len__(self):
            return 2**62

        def __length_hint__(self):
            return 2**62

    assert q.dumps(Huge((1,))) == b"- 1\n"

    class Broken(list):
        def __iter__(self):
            raise LookupError("no")

    with pytest.raises(LookupError):
        q.dumps(Broken([1]))


def test_generator_errors_pass_through_and_release_everything():
    class Gen(tuple):
        def __iter__(self):
            yield [1, 2]
            yield {"a": "b"}
            raise RuntimeError("gen")

    before = len(gc.get_objects())
    for _ in range(200):
        with pytest.raises(RuntimeError, match="gen"):
            q.dumps(Gen())
    gc.collect()
    assert len(gc.get_objects()) - before < 100


def test_no_reference_leaks_on_success_and_failure():
    import sys

    item = Fresh()
    data = {"k": [item, item], "t": (item,), "s": QuillfernTag("!t", item)}
    base = sys.getrefcount(item)
    for _ in range(100):
        q.dumps(data, default=lambda o: "x")
        q.to_json(data, default=lambda o: "x")
        with pytest.raises(QuillfernUnserializableError):
            q.dumps(data)
        with pytest.raises(QuillfernEncodeError):
            q.dumps([data, b"\xff"], default=lambda o: "x")
    assert sys.getrefcount(item) == base


def test_mutating_a_tag_value_holder_is_safe():
    holder = {"v": [Fresh()]}
    tag = QuillfernTag("!t", holder["v"])

    def default(o):
        holder.clear()
        gc.collect()
        return "gone"

    assert q.dumps(tag, default=default) == b"!t\n  - gone\n"


# ---------------------------------------------------------------- concurrency


def test_deep_data_on_a_small_thread_stack():
    n = 999

    def work():
        deep = nested_lists(n, 1)
        results = q.dumps(deep), q.to_json(deep, option=q.OPT_INDENT_2)
        with pytest.raises(QuillfernEncodeError):
            q.dumps(nested_lists(5000, 1))
        return results

    yaml, json = run_in_small_thread(work)
    assert yaml == "".join("  " * i + "-\n" for i in range(n - 1)).encode() + b"  " * (n - 1) + b"- 1\n"
    assert json == "\n".join(["  " * i + "[" for i in range(n)] + ["  " * n + "1"] +
                             ["  " * i + "]" for i in reversed(range(n))]).encode()


def test_dumps_in_threads():
    import threading

    data = {"k": [{"a": i, "b": "x" * i} for i in range(200)]}
    expected = q.dumps(data)
    errors = []

    def work():
        for _ in range(20):
            if q.dumps(data) != expected:
                errors.append("mismatch")

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
