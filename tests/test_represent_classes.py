"""The descriptor classes a represent callback returns: QuillfernScalar,
QuillfernMapping and QuillfernSequence construct, check and normalise their
arguments, and never change afterwards."""

import gc

import pytest

import quillfern as q

S, M, Q = q.QuillfernScalar, q.QuillfernMapping, q.QuillfernSequence
INLINE_BREAK = ("an inline comment cannot contain a line break; use comment_before or comment_after for a "
                "multi-line comment")
UNICODE_BREAK = "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines"
CONTROL = "a comment cannot contain control characters other than tab"


def build(cls, **kw):
    first = kw.pop("first", "x" if cls is S else [])
    return cls(first, **kw)


@pytest.mark.parametrize("cls", [S, M, Q], ids=["scalar", "mapping", "sequence"])
@pytest.mark.parametrize("param, bad", [
    ("tag", 1), ("comment", b"c"), ("comment_before", 2.5), ("comment_after", ["c"]),
])
def test_a_wrong_type_is_noted_with_the_parameter(cls, param, bad):
    with pytest.raises(TypeError) as e:
        build(cls, **{param: bad})
    assert e.value.__notes__ == [f"while processing '{param}'"]


@pytest.mark.parametrize("kw, param", [
    ({"first": 1}, "value"), ({"first": None}, "value"), ({"style": 1}, "style"),
    # conversions run in parameter order: the first failure is reported
    ({"first": 1, "tag": 2}, "value"), ({"tag": 2, "style": 3, "comment": 4}, "tag"),
    ({"style": 3, "comment": 4}, "style"),
])
def test_scalar_conversions_in_parameter_order(kw, param):
    with pytest.raises(TypeError) as e:
        build(S, **kw)
    assert e.value.__notes__ == [f"while processing '{param}'"]


@pytest.mark.parametrize("cls", [M, Q])
@pytest.mark.parametrize("flow", [1, 0, "yes", 1.0])
def test_flow_takes_only_booleans(cls, flow):
    with pytest.raises(TypeError, match="cannot be converted to 'bool'") as e:
        cls([], flow=flow)
    assert e.value.__notes__ == ["while processing 'flow'"]


@pytest.mark.parametrize("cls", [M, Q])
def test_flow_reads_back(cls):
    assert cls([]).flow is None
    assert cls([], flow=None).flow is None
    assert cls([], flow=True).flow is True
    assert cls([], flow=False).flow is False
    np = pytest.importorskip("numpy")
    assert cls([], flow=np.bool_(True)).flow is True
    assert cls([], flow=np.bool_(False)).flow is False


@pytest.mark.parametrize("name, shown", [
    (None, "auto"), ("auto", "auto"), ("plain", "plain"), ("single", "single"), ("double", "double"),
    ("literal", "literal"), ("folded", "folded"),
])
def test_style_names(name, shown):
    kw = {} if name is None else {"style": name}
    assert S("x", **kw).style == shown
    assert S("x", style=name).style == shown


class Text(str):
    pass


@pytest.mark.parametrize("name, shown", [
    ("Plain", '"Plain"'), ("", '""'), ("dq\"", '"dq\\""'), ("a\\b", '"a\\\\b"'), ("t\tn\nr\r", '"t\\tn\\nr\\r"'),
    ("\x00\x1b\x7f\x9f", '"\\0\\u{1b}\\u{7f}\\u{9f}"'), ("é", '"é"'),
])
def test_an_unknown_style_is_refused_with_its_name_escaped(name, shown):
    with pytest.raises(ValueError) as e:
        S("x", style=name)
    assert str(e.value) == (f"invalid scalar style {shown}: expected one of 'auto', 'plain', 'single', 'double', "
                            "'literal', 'folded'")
    assert not getattr(e.value, "__notes__", None)


def test_a_str_subclass_is_a_style_name():
    assert S(Text("x"), style=Text("single")).style == "single"


def test_scalar_fields_and_repr():
    s = S("x")
    assert (s.value, s.tag, s.style, s.comment, s.comment_before, s.comment_after) == ("x", None, "auto", None,
                                                                                       None, None)
    assert repr(s) == 'QuillfernScalar("x", style="auto")'
    t = S('a"b\\\n\t\x01é', tag="!t", style="literal", comment="c", comment_before="b", comment_after="a")
    assert repr(t) == 'QuillfernScalar("a\\"b\\\\\\n\\t\\u{1}é", tag="!t", style="literal")'
    assert (t.tag, t.comment, t.comment_before, t.comment_after) == ("!t", "c", "b", "a")


def test_collection_fields():
    pairs = [("a", 1)]
    m = M(pairs, tag="!m", comment="c", comment_before="b", comment_after="a")
    assert m.pairs is pairs
    assert (m.tag, m.flow, m.comment, m.comment_before, m.comment_after) == ("!m", None, "c", "b", "a")
    items = (1, 2)
    s = Q(items)
    assert s.items is items
    assert (s.tag, s.flow, s.comment, s.comment_before, s.comment_after) == (None,) * 5


class MyList(list):
    pass


class MyTuple(tuple):
    pass


@pytest.mark.parametrize("cls, attr", [(M, "pairs"), (Q, "items")])
def test_entries_kinds(cls, attr):
    shared = [1]
    d = cls(shared)
    shared.append(2)
    assert getattr(d, attr) is shared and getattr(d, attr) == [1, 2]
    for kept in (MyList([1]), MyTuple((1,)), (), []):
        assert getattr(cls(kept), attr) is kept
    gen = (i for i in range(3))
    assert getattr(cls(gen), attr) == [0, 1, 2]
    assert list(gen) == []
    assert getattr(cls({"a": 1, "b": 2}), attr) == ["a", "b"]
    assert type(getattr(cls({1, }), attr)) is list


@pytest.mark.parametrize("cls", [M, Q])
def test_entries_that_cannot_be_listed_raise_the_list_error_without_note(cls):
    with pytest.raises(TypeError, match="'int' object is not iterable") as e:
        cls(5)
    assert not getattr(e.value, "__notes__", None)

    def broken():
        yield 1
        raise KeyError("inside")

    with pytest.raises(KeyError, match="inside") as e:
        cls(broken())
    assert not getattr(e.value, "__notes__", None)


@pytest.mark.parametrize("cls", [S, M, Q], ids=["scalar", "mapping", "sequence"])
@pytest.mark.parametrize("kw, message", [
    ({"comment": "a\nb"}, INLINE_BREAK), ({"comment": "a\rb"}, INLINE_BREAK), ({"comment": "a\x85b"}, INLINE_BREAK),
    ({"comment": "a\u2028"}, INLINE_BREAK), ({"comment": "\u2029"}, INLINE_BREAK),
    ({"comment_before": "a\x85b"}, UNICODE_BREAK), ({"comment_after": "a\u2028b"}, UNICODE_BREAK),
    # the loader refuses these in comments, so they are refused up front
    ({"comment": "a\x00"}, CONTROL), ({"comment": "\x7f"}, CONTROL), ({"comment": "\x9b"}, CONTROL),
    ({"comment_before": "a\n\x1b"}, CONTROL), ({"comment_after": "\ufffe"}, CONTROL),
    ({"comment_after": "\uffff"}, CONTROL),
])
def test_comment_checks(cls, kw, message):
    with pytest.raises(ValueError) as e:
        build(cls, **kw)
    assert str(e.value) == message


@pytest.mark.parametrize("given, stored", [
    ("a\r\nb", "a\nb"), ("a\rb", "a\nb"), ("a\n\nb", "a\n\nb"), ("\na\n", "\na\n"), ("", ""), ("t\tb", "t\tb"),
    ("a\r\n\r\n", "a\n\n"),
])
def test_comment_lines_are_normalised(given, stored):
    for cls in (S, M, Q):
        d = build(cls, comment_before=given, comment_after=given)
        assert d.comment_before == stored and d.comment_after == stored
    assert S("x", comment="t\tb").comment == "t\tb"


def test_inline_comment_is_checked_before_the_others_are_normalised():
    with pytest.raises(ValueError, match="inline comment"):
        S("x", comment="a\nb", comment_before="\x85")


@pytest.mark.parametrize("d", [S("x"), M([]), Q([])], ids=["scalar", "mapping", "sequence"])
def test_descriptors_are_immutable(d):
    for name in ("tag", "comment", "comment_before", "comment_after"):
        with pytest.raises(AttributeError):
            setattr(d, name, "x")
    with pytest.raises(AttributeError):
        d.new_attribute = 1


def test_collections_take_part_in_cycle_collection():
    items = []
    seq = Q(items)
    items.append(seq)
    alive = [type(o) for o in gc.get_objects() if type(o) is Q].count(Q)
    del items, seq
    gc.collect()
    assert [type(o) for o in gc.get_objects() if type(o) is Q].count(Q) == alive - 1
