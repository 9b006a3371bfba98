"""dumps(obj, represent=callback): which objects reach the callback, the
built-in representation, shared objects, descriptor styles, tags, comments,
key order, flow overrides and the layout options, byte for byte."""

import dataclasses
import datetime
import enum

import pytest

import quillfern as q

S, M, Q = q.QuillfernScalar, q.QuillfernMapping, q.QuillfernSequence


def none(o):
    return None


def dump(obj, cb=none, **kw):
    return q.dumps(obj, represent=cb, **kw)


def at(marker, descriptor):
    """A callback that returns `descriptor` for the object `marker` only."""
    return lambda o: descriptor if o is marker else None


ROOT = object()


def root(descriptor, **kw):
    return dump(ROOT, at(ROOT, descriptor), **kw)


def refusal(style, reason):
    return (f"a {style} scalar cannot represent this value without changing it on reload ({reason}); "
            'use "double" or the default style')


# ---- shared objects ----

class E(enum.Enum):
    A = 1
    L = [1]


def _self_list():
    a = [1]
    a.append(a)
    return a


def _self_dict():
    d = {"k": 1}
    d["self"] = d
    return d


SHARED_X = {"k": 1}
SHARED_Y = [2]
SHARED_T = (1, 2)
SHARED_D = datetime.date(2020, 1, 2)
SHARED_TAG = q.QuillfernTag("!t", 1)


@pytest.mark.parametrize("obj, text", [
    (_self_list(), "&id001\n- 1\n- *id001\n"),
    (_self_dict(), "&id001\nk: 1\nself: *id001\n"),
    ([SHARED_X, SHARED_X], "- &id001\n  k: 1\n- *id001\n"),
    ([SHARED_X], "- k: 1\n"),
    ([SHARED_Y, SHARED_X, SHARED_X, SHARED_Y], "- &id001\n  - 2\n- &id002\n  k: 1\n- *id002\n- *id001\n"),
    ({"a": SHARED_X, "b": [SHARED_X]}, "a: &id001\n  k: 1\nb:\n  - *id001\n"),
    # untracked objects are written in full every time
    (["s", "s", 7, 7, 1.5, 1.5, True, True, None, None, b"b", b"b", (), ()],
     "- s\n- s\n- 7\n- 7\n- 1.5\n- 1.5\n- true\n- true\n-\n-\n- b\n- b\n- []\n- []\n"),
    ([SHARED_T, SHARED_T, SHARED_D, SHARED_D], "- &id001\n  - 1\n  - 2\n- *id001\n- &id002 2020-01-02\n- *id002\n"),
    ([SHARED_TAG, SHARED_TAG], "- !t &id001 1\n- *id001\n"),
    # an enum member is its value: aliased only when the value is tracked
    ([E.A, E.A, E.L, E.L], "- 1\n- 1\n- &id001\n  - 1\n- *id001\n"),
])
def test_shared_objects_are_anchored_in_output_order(obj, text):
    assert dump(obj) == text.encode()


def test_anchor_numbers_grow_past_three_digits():
    objs = [[i] for i in range(1001)]
    text = dump(objs + objs).decode()
    assert "&id001\n" in text and "&id999\n" in text and "&id1000\n" in text and "&id1001\n" in text
    assert text.endswith("- *id1001\n")


def test_temporaries_never_become_aliases():
    # Each call returns a fresh list that dies after it was represented; its
    # address is reused, but the walk keeps it alive, so no alias appears.
    class Fresh:
        pass

    text = dump([Fresh() for _ in range(50)], lambda o: None, default=lambda o: [len("x")])
    assert "*" not in text.decode() and "&" not in text.decode()
    text = dump(list(range(50)), lambda o: Q([[str(o)]]) if type(o) is int else None)
    assert "*" not in text.decode() and "&" not in text.decode()


def test_which_objects_reach_the_callback():
    x = {"k": 1}
    seen = []

    def cb(o):
        seen.append(o)
        return None

    dump({"a": [x, x], (1,): None}, cb)
    assert seen == [{"a": [x, x], (1,): None}, "a", [x, x], x, "k", 1, (1,), 1, None]


@pytest.mark.parametrize("default, exc, message", [
    (lambda o: o, ValueError, "cannot serialize a value that refers only to itself"),
    (lambda o: object(), q.QuillfernUnserializableError, "type object is not YAML serializable"),
])
def test_default_outcomes(default, exc, message):
    with pytest.raises(exc) as e:
        dump(object(), default=default)
    assert type(e.value) is exc and str(e.value) == message


def test_default_applies_once_along_a_chain_and_is_restored():
    class A:
        pass

    calls = []

    def default(o):
        calls.append(type(o).__name__)
        return {"inner": 1} if isinstance(o, A) else "x"

    assert dump([A(), A()], default=default) == b"- inner: 1\n- inner: 1\n"
    assert calls == ["A", "A"]
    with pytest.raises(q.QuillfernUnserializableError, match="type object is not YAML"):
        dump(A(), default=lambda o: [object()])


def test_dataclasses_enums_and_numpy():
    @dataclasses.dataclass
    class P:
        x: int
        y: list

    assert dump(P(1, [2])) == b"x: 1\ny:\n  - 2\n"
    with pytest.raises(q.QuillfernUnserializableError):
        dump(P(1, []), option=q.OPT_PASSTHROUGH_DATACLASS)
    assert dump({"d": datetime.datetime(2020, 1, 2, 3, 4, 5, 6)}, option=q.OPT_OMIT_MICROSECONDS) == \
        b"d: 2020-01-02T03:04:05\n"
    np = pytest.importorskip("numpy")
    arr = np.array([1, 2])
    assert dump({"a": arr, "b": arr}, option=q.OPT_SERIALIZE_NUMPY) == b"a:\n  - 1\n  - 2\nb:\n  - 1\n  - 2\n"


def test_tags_and_serializer_results():
    class P:
        pass

    lst = [1]
    assert dump([q.QuillfernTag("!t", lst), lst]) == b"- !t\n  - 1\n-\n  - 1\n"
    assert dump(P(), serializers={P: lambda o: ("!p", [1])}) == b"!p\n  - 1\n"
    assert dump(P(), serializers={P: lambda o: q.QuillfernTag("!p", 2)}) == b"!p 2\n"
    cases = [
        (q.QuillfernTag("!t", _self_list()), ValueError, "cannot attach a tag to a self-referential or shared value"),
        (q.QuillfernTag("!t", q.QuillfernTag("!u", 1)), q.QuillfernEncodeError,
         "cannot attach a tag to a value that already carries a tag"),
        (q.QuillfernTag("bad", 1), q.QuillfernEncodeError, "invalid tag \"bad\": a tag must start with '!'"),
    ]
    for obj, exc, message in cases:
        with pytest.raises(exc) as e:
            dump(obj)
        assert type(e.value) is exc and str(e.value) == message
    with pytest.raises(q.QuillfernEncodeError, match="^a tags callback must return a QuillfernTag or a"):
        dump(P(), serializers={P: lambda o: ["!p", 1]})
    with pytest.raises(TypeError, match="'int' object cannot be converted to 'str'"):
        dump(P(), serializers={P: lambda o: (1, 1)})
    # a subclass of a registered type is not served by the entry
    class Sub(P):
        pass

    with pytest.raises(q.QuillfernUnserializableError):
        dump(Sub(), serializers={P: lambda o: ("!p", 1)})


# ---- scalar descriptors ----

@pytest.mark.parametrize("text, tag, option, out", [
    ("123", None, 0, '"123"'),
    ("123", None, q.OPT_SINGLE_QUOTES, "'123'"),
    ("abc", None, 0, "abc"),
    ("yes", None, q.OPT_YAML_1_1, '"yes"'),
    ("yes", "!!bool", q.OPT_YAML_1_1, "yes"),
    ("yes", "!!bool", 0, "!!bool 'yes'"),
    ("123", "!!str", 0, "'123'"),
    ("abc", "tag:yaml.org,2002:str", 0, "abc"),
    ("it's", "!!str", q.OPT_SINGLE_QUOTES, "it's"),
    ("'a", "!!str", q.OPT_SINGLE_QUOTES, "\"'a\""),
    ("'a", None, q.OPT_SINGLE_QUOTES, "\"'a\""),
    ("#a", None, q.OPT_SINGLE_QUOTES, "'#a'"),
    ("abc", "!custom", 0, "!custom 'abc'"),
    ("a\tb", "!custom", 0, '!custom "a\\tb"'),
    ("12", "!!int", 0, "12"),
    ("0b101", "!!int", 0, "!!int '0b101'"),
    ("0b101", "!!int", q.OPT_YAML_1_1, "0b101"),
    ("1.5", "!!float", 0, "1.5"),
    ("x", "!!float", 0, "!!float 'x'"),
    ("~", "!!null", 0, "~"),
    ("null", "tag:yaml.org,2002:null", 0, "null"),
    ("<<", "!!str", 0, "'<<'"),
    ("a\nb", None, 0, "|-\n  a\n  b"),
    ("a\nb", "!!str", 0, "|-\n  a\n  b"),
    ("a\nb", "!!int", 0, '!!int "a\\nb"'),
])
def test_auto_style_with_and_without_tags(text, tag, option, out):
    assert root(S(text, tag=tag), option=option) == (out + "\n").encode()


@pytest.mark.parametrize("option, block, flow, top", [
    (0, "a:\n", "[null, 1]\n", "null\n"),
    (q.OPT_NULL_AS_TILDE, "a: ~\n", "[~, 1]\n", "~\n"),
    (q.OPT_NULL_AS_KEYWORD, "a: null\n", "[null, 1]\n", "null\n"),
])
def test_an_empty_text_tagged_null_is_a_null(option, block, flow, top):
    cb = lambda o: S("", tag="!!null") if o is None else None  # noqa: E731
    assert dump({"a": None}, cb, option=option) == block.encode()
    assert dump([None, 1], cb, option=option | q.OPT_FLOW_STYLE) == flow.encode()
    assert dump(None, cb, option=option) == top.encode()
    assert q.loads(dump([None, 1], cb, option=option | q.OPT_FLOW_STYLE)) == [None, 1]


@pytest.mark.parametrize("descriptor, key, flow", [
    (S("a\nb"), '"a\\nb": 1\n', '["a\\nb"]\n'),
    (S("a\nb", style="literal"), '"a\\nb": 1\n', '["a\\nb"]\n'),
    (S("ab", style="folded"), '"ab": 1\n', '["ab"]\n'),
    (S("ab", style="plain"), "ab: 1\n", "[ab]\n"),
    (S("ab", style="single"), "'ab': 1\n", "['ab']\n"),
])
def test_block_styles_become_double_quotes_as_keys_and_in_flow(descriptor, key, flow):
    marker = "m"
    assert dump({marker: 1}, at(marker, descriptor)) == key.encode()
    assert dump([marker], at(marker, descriptor), option=q.OPT_FLOW_STYLE) == flow.encode()


@pytest.mark.parametrize("text, style, out", [
    ("123", "plain", "123\n"),
    ("-a", "plain", "-a\n"),
    ("a b", "plain", "a b\n"),
    ("it's", "single", "'it''s'\n"),
    ("", "single", "''\n"),
    ("a\tb", "single", "'a\tb'\n"),
    ("x\n", "double", '"x\\n"\n'),
    ("ab c", "folded", ">-\n  ab c\n"),
    ("ab c", "literal", "|-\n  ab c\n"),
    ("a\nb\n", "literal", "|\n  a\n  b\n"),
    ("", "literal", '""\n'),
])
def test_explicit_styles_that_are_kept(text, style, out):
    assert root(S(text, style=style)) == out.encode()
    assert q.loads(root(S(text, style=style))) == (123 if text == "123" else text)


@pytest.mark.parametrize("text, style, reason", [
    ("", "plain", "an empty string has no plain rendering"),
    ("a\nb", "plain", "a plain scalar cannot hold a line break"),
    ("a\rb", "plain", "a plain scalar cannot hold a line break"),
    ("a\tb", "plain", "it contains a tab or control character"),
    ("a\x85\x01", "plain", "it contains a tab or control character"),
    ("\ufeffa", "plain", "a leading byte order mark would be stripped on reload"),
    (" a", "plain", "leading or trailing spaces would be trimmed on reload"),
    ("a ", "plain", "leading or trailing spaces would be trimmed on reload"),
    ("- a", "plain", "it begins with a YAML indicator"),
    ("-", "plain", "it begins with a YAML indicator"),
    ("@x", "plain", "it begins with a YAML indicator"),
    ("`x", "plain", "it begins with a YAML indicator"),
    ('"x', "plain", "it begins with a YAML indicator"),
    ("---", "plain", "it re-reads as a document marker"),
    ("... x", "plain", "it re-reads as a document marker"),
    ("a #b", "plain", "it contains a ' #' comment starter"),
    ("a: b", "plain", "it contains a ':' mapping indicator"),
    ("a:", "plain", "it contains a ':' mapping indicator"),
    ("a: b #c", "plain", "it contains a ':' mapping indicator"),
    ("a #b: c", "plain", "it contains a ' #' comment starter"),
    ("a\nb", "single", "single quotes cannot hold a line break"),
    ("a\x07", "single", "single quotes cannot escape a control character"),
    ("a\rb", "literal", "it contains a carriage return"),
    ("a\x00", "literal", "it contains a non-printable control character"),
    ("a\ufffe", "folded", "it contains a non-printable control character"),
    ("a\nb", "folded", "folding would rewrite its line breaks"),
    ("\n  a", "literal", "its first line begins with whitespace"),
    ("\ta", "folded", "its first line begins with whitespace"),
])
def test_explicit_styles_that_are_refused(text, style, reason):
    with pytest.raises(ValueError) as e:
        root(S(text, style=style))
    assert str(e.value) == refusal(style, reason)


def test_scalar_checks_run_tag_then_style_then_comments():
    with pytest.raises(q.QuillfernEncodeError, match="invalid tag"):
        dump([0], at(0, S("", tag="bad tag", style="plain", comment_after="x")))
    with pytest.raises(ValueError, match="no plain rendering"):
        dump([0], at(0, S("", style="plain", comment_after="x")))
    with pytest.raises(ValueError, match="^comment_after is only supported"):
        dump([0], at(0, S("x", comment_after="x")))


def test_a_foreign_callback_result_is_refused():
    with pytest.raises(TypeError) as e:
        dump(1, lambda o: 5)
    assert str(e.value) == ("a represent callback must return a quillfern.QuillfernScalar, "
                            "quillfern.QuillfernSequence, quillfern.QuillfernMapping, or None")


# ---- collection descriptors ----

def test_mapping_pairs_are_all_checked_before_any_is_represented():
    seen = []

    def cb(o):
        seen.append(o)
        return M([("a", 1), ("b", 2, 3)]) if o is ROOT else None

    with pytest.raises(ValueError) as e:
        dump(ROOT, cb)
    assert str(e.value) == "a QuillfernMapping pair must be a (key, value) tuple of exactly two items"
    assert seen == [ROOT]
    with pytest.raises(ValueError) as e:
        root(M([("a", 1), ["b", 2]]))
    assert str(e.value) == "a QuillfernMapping pair must be a (key, value) tuple"
    with pytest.raises(q.QuillfernEncodeError, match="invalid tag"):
        root(M([("a", object())], tag="no"))


def test_descriptor_tags_and_shorthand():
    assert root(M([("a", 1)], tag="tag:yaml.org,2002:map")) == b"!!map\n  a: 1\n"
    assert root(Q([1], tag="!s")) == b"!s\n  - 1\n"
    assert root(Q([1], tag="!s"), option=q.OPT_INDENTLESS_SEQUENCES) == b"!s\n- 1\n"
    assert dump({"k": ROOT}, at(ROOT, Q([1], tag="!s")), option=q.OPT_INDENTLESS_SEQUENCES) == b"k: !s\n  - 1\n"
    assert root(S("x", tag="tag:yaml.org,2002:")) == b"!! 'x'\n"


def test_one_tag_on_many_nodes_keeps_each_nodes_own_fields():
    # Nodes given the same tag carry it together until one gets a comment or
    # an anchor of its own.
    a, b, c = object(), object(), object()

    def cb(table):
        return lambda o: table.get(o) if type(o) is object else None

    table = {a: M([("a", 1)], tag="!t", comment_before="c"), b: M([("b", 2)], tag="!t", comment="d"),
             c: M([("c", 3)], tag="!t")}
    assert dump([a, b, c], cb(table)) == b"# c\n- !t\n  a: 1\n- !t # d\n  b: 2\n- !t\n  c: 3\n"
    table = {a: S("x", tag="!t", comment="d"), b: S("y", tag="!t"), c: S("z", tag="!t")}
    assert dump([a, b, c], cb(table)) == b"- !t 'x' # d\n- !t 'y'\n- !t 'z'\n"
    shared, other = {"p": 1}, {"r": 2}
    tag_dicts = lambda o: M(list(o.items()), tag="!t") if type(o) is dict else None  # noqa: E731
    assert dump([shared, other, shared], tag_dicts) == b"- !t &id001\n  p: 1\n- !t\n  r: 2\n- *id001\n"


def test_tags_across_calls_calls_inside_callbacks_and_threads():
    # A thread remembers the last tag from one call to the next: a call made
    # inside a callback or on another thread, with other tags, leaves each
    # call's tags as they were, and a bad tag is refused after a good one.
    import threading

    def tag_dicts(tag, inside=None):
        def cb(o):
            if type(o) is dict:
                if inside:
                    inside()
                return M(list(o.items()), tag=tag)
            return None
        return cb

    inner = []
    outer = dump({"x": {"y": 1}, "w": [{"v": 2}]}, tag_dicts("!a", lambda: inner.append(dump({"z": 1}, tag_dicts("!b")))))
    assert outer == b"!a\n  x: !a\n    y: 1\n  w:\n    - !a\n      v: 2\n"
    assert inner == [b"!b\n  z: 1\n"] * 3
    with pytest.raises(q.QuillfernEncodeError, match="invalid tag"):
        dump({"x": 1}, tag_dicts("no"))
    assert dump({"x": 1}, tag_dicts("!a")) == b"!a\n  x: 1\n"

    results = {}

    def run(n):
        tag = f"!t{n}"
        results[n] = {dump({"k": {"j": i}}, tag_dicts(tag)) for i in range(300)} == \
            {f"{tag}\n  k: {tag}\n    j: {i}\n".encode() for i in range(300)}

    threads = [threading.Thread(target=run, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == {n: True for n in range(4)}


def test_key_order():
    keys = {(1,): 1, b"b": 1, "a": 1, 2: 1, 1.5: 1, True: 1, None: 1}
    assert dump(keys, option=q.OPT_SORT_KEYS) == b"null: 1\ntrue: 1\n1.5: 1\n2: 1\na: 1\nb: 1\n[1]: 1\n"
    nan = float("nan")
    assert dump({2**70: 1, 2e21: 1, 1e21: 1, nan: 1, float("inf"): 1}, option=q.OPT_SORT_KEYS) == \
        b"1.0e+21: 1\n1180591620717411303424: 1\n2.0e+21: 1\n.inf: 1\n.nan: 1\n"
    # integers and floats compare exactly, never through a rounded double
    assert dump({2**53 + 1: "a", 2.0**53: "b"}, option=q.OPT_SORT_KEYS) == \
        b"9007199254740992.0: b\n9007199254740993: a\n"
    assert root(M([(0, "a"), (-0.0, "b"), (-1, "c")]), option=q.OPT_SORT_KEYS) == b"-1: c\n-0.0: b\n0: a\n"
    assert dump({(2,): 1, (1,): 1}, option=q.OPT_SORT_KEYS) == b"[2]: 1\n[1]: 1\n"
    assert dump({"b": 1, "\ud800": 2, "a": 3}, lambda o: S("s") if o == "\ud800" else None,
                option=q.OPT_SORT_KEYS) == b"a: 3\nb: 1\ns: 2\n"
    assert root(M([("b", 1), ("a", 2), ("b", 3)]), option=q.OPT_SORT_KEYS) == b"a: 2\nb: 1\nb: 3\n"


def test_key_order_is_a_strict_weak_order():
    import random

    rng = random.Random(7)
    pool = [0, 1, -1, 2**53, 2**53 + 1, 2.0**53, 2**64, -(2**64), 0.5, -0.0, 0.0, float("inf"), -float("inf"),
            float("nan"), 10**30, 1e30, True, False, None, "a", "", b"b", (1,)]
    for _ in range(200):
        ks = rng.sample(pool, 8)
        d = {}
        for k in ks:
            d.setdefault(k, len(d))
        values = list(q.loads(dump(d, option=q.OPT_SORT_KEYS)).values())
        again = {k: d[k] for k in sorted(d, key=lambda k: rng.random())}
        assert list(q.loads(dump(again, option=q.OPT_SORT_KEYS)).values()) == values


@pytest.mark.parametrize("obj, cb, option, out", [
    ({(1, 2): "v"}, none, 0, "[1, 2]: v\n"),
    ([ROOT], at(ROOT, M([("a", 1)], flow=False)), q.OPT_FLOW_STYLE, "[{a: 1}]\n"),
    ({"a": ROOT}, at(ROOT, Q([1, 2], flow=True)), 0, "a: [1, 2]\n"),
    ({"a": ROOT}, at(ROOT, Q([1, [2]], flow=False)), q.OPT_FLOW_STYLE, "{a: [1, [2]]}\n"),
    (ROOT, at(ROOT, M([("a", [1])], flow=False)), q.OPT_FLOW_STYLE, "a: [1]\n"),
    ({ROOT: 1}, at(ROOT, M([("a", 1)], flow=False)), 0, "?\n  a: 1\n: 1\n"),
])
def test_flow_decisions(obj, cb, option, out):
    assert dump(obj, cb, option=option) == out.encode()
    q.loads(out)


# ---- comments ----

@pytest.mark.parametrize("obj, cb, out", [
    (ROOT, at(ROOT, S("x", comment_before="a\n\nb", comment="c", comment_after="d\ne\n")),
     "# a\n#\n# b\nx # c\n# d\n# e\n"),
    (ROOT, at(ROOT, M([("a", 1)], comment_before="top", comment="first", comment_after="end")),
     "# top\n# first\na: 1\n# end\n"),
    ({"k": ROOT, "z": 1}, at(ROOT, M([("a", 1)], comment="c", comment_after="end")), "k: # c\n  a: 1\n  # end\nz: 1\n"),
    ([ROOT], at(ROOT, Q([1], comment_before="above", comment_after="below")), "# above\n-\n  - 1\n  # below\n"),
    ({"k": ROOT}, at(ROOT, S("v", comment_before="above key")), "# above key\nk: v\n"),
    ({ROOT: 1}, at(ROOT, S("k", comment_before="key head")), "# key head\nk: 1\n"),
    ([ROOT], at(ROOT, S("v", comment="c")), "- v # c\n"),
    ([ROOT, 2], at(ROOT, S("v", comment="c")), "- v # c\n- 2\n"),
])
def test_comment_places(obj, cb, out):
    text = dump(obj, cb)
    assert text == out.encode()
    q.loads(text)


@pytest.mark.parametrize("obj, cb, message", [
    ([ROOT], at(ROOT, S("x", comment_after="a")), "comment_after is only supported"),
    ([ROOT], at(ROOT, M([], comment_after="a")), "comment_after is only supported"),
    ([ROOT], at(ROOT, Q([1], flow=True, comment_after="a")), "comment_after is only supported"),
    ({ROOT: 1}, at(ROOT, S("k", comment="c")), "a mapping key cannot carry an inline comment or comment_after"),
    ({ROOT: 1}, at(ROOT, Q([1], flow=False, comment_after="c")),
     "a mapping key cannot carry an inline comment or comment_after"),
    ({(ROOT,): 1}, at(ROOT, S("k", comment_before="c")),
     "a comment inside a mapping key is not supported, since the key must stay on one line"),
])
def test_comment_refusals(obj, cb, message):
    with pytest.raises(ValueError) as e:
        dump(obj, cb)
    assert str(e.value).startswith(message)


# ---- driver ----

def test_driver_order_and_errors():
    def recursion(o):
        raise RecursionError("deep")

    with pytest.raises(q.QuillfernUnserializableError) as e:
        dump(1, recursion)
    assert str(e.value) == "object is too deeply nested to serialize (possible self-reference)"
    assert isinstance(e.value.__cause__, RecursionError) and str(e.value.__cause__) == "deep"

    class MyRecursion(RecursionError):
        pass

    def sub(o):
        raise MyRecursion()

    with pytest.raises(q.QuillfernUnserializableError) as e:
        dump(1, sub)
    assert type(e.value.__cause__) is MyRecursion

    def bad(o):
        raise KeyError("kept")

    with pytest.raises(KeyError, match="kept"):
        dump(1, bad)
    with pytest.raises(ValueError, match="mutually exclusive"):
        dump(1, bad, option=q.OPT_NULL_AS_TILDE | q.OPT_NULL_AS_KEYWORD)
    with pytest.raises(TypeError) as e:
        dump(1, bad, option="x")
    assert e.value.__notes__ == ["while processing 'option'"]


def test_documents_ignore_represent_and_views_pass_through_to_dict():
    doc = q.loads("a: [1, 2] # c\n", option=q.OPT_ROUND_TRIP)
    assert dump(doc, lambda o: 1 / 0) == b"a: [1, 2] # c\n"
    assert dump(doc["a"], at(1, S("one"))) == dump([1, 2], at(1, S("one"))) == b"- one\n- 2\n"


def test_recursion_in_a_callback_of_real_depth_is_reported_as_nesting():
    def cb(o):
        def down(n):
            return down(n + 1)

        return down(0)

    with pytest.raises(q.QuillfernUnserializableError) as e:
        dump(1, cb)
    assert isinstance(e.value.__cause__, RecursionError)


@pytest.mark.parametrize("option, width, out", [
    (0, None, "a:\n  - 1\n  - b:\nc: x y z\nt: !t\n  - 1\n"),
    (q.OPT_INDENT_4, None, "a:\n    - 1\n    - b:\nc: x y z\nt: !t\n    - 1\n"),
    (q.OPT_INDENTLESS_SEQUENCES, None, "a:\n- 1\n- b:\nc: x y z\nt: !t\n  - 1\n"),
    (q.OPT_EXPLICIT_START | q.OPT_EXPLICIT_END, None, "---\na:\n  - 1\n  - b:\nc: x y z\nt: !t\n  - 1\n...\n"),
    (q.OPT_NULL_AS_TILDE, None, "a:\n  - 1\n  - b: ~\nc: x y z\nt: !t\n  - 1\n"),
    (q.OPT_NULL_AS_KEYWORD, None, "a:\n  - 1\n  - b: null\nc: x y z\nt: !t\n  - 1\n"),
    (q.OPT_FLOW_STYLE, None, "{a: [1, {b: null}], c: x y z, t: !t [1]}\n"),
    (q.OPT_SINGLE_QUOTES, 5, "a:\n  - 1\n  - b:\nc: 'x\n   y\n   z'\nt: !t\n  - 1\n"),
    (0, 5, 'a:\n  - 1\n  - b:\nc: "x\n   y\n   z"\nt: !t\n  - 1\n'),
])
def test_layout_options(option, width, out):
    data = {"a": [1, {"b": None}], "c": "x y z", "t": q.QuillfernTag("!t", [1])}
    assert dump(data, option=option, width=width) == out.encode()
    assert q.loads(out, option=q.OPT_PASSTHROUGH_TAG)["c"] == "x y z"


def test_root_scalars_and_raw_text_endings():
    assert dump(None) == b"null\n"
    assert dump(None, option=q.OPT_NULL_AS_TILDE) == b"~\n"
    assert dump("a\nb\n") == b"|\n  a\n  b\n"
    assert dump([]) == b"[]\n" and dump({}) == b"{}\n"
    assert dump(1, option=q.OPT_EXPLICIT_START | q.OPT_EXPLICIT_END) == b"---\n1\n...\n"


def test_bytes_and_big_numbers():
    assert dump({"b": b"xy", "n": 10**30, "f": float("-inf")}) == b"b: xy\nn: 1000000000000000000000000000000\nf: -.inf\n"
    with pytest.raises(q.QuillfernEncodeError):
        dump(b"\xff")
    with pytest.raises(q.QuillfernEncodeError):
        dump("\ud800")
