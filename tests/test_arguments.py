"""Argument extraction: the interpreter's error texts and the conversion note."""

import os
import pathlib

import pytest

from quillfern import _quillfern as m

NOTE = "while processing '{}'"


def call_error(fn, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    return str(info.value)


@pytest.mark.parametrize(
    "fn, args, kwargs, message",
    [
        (m.loads, ("a", "b"), {}, "loads() takes 1 positional arguments but 2 were given"),
        (m.loads, (), {"data": "a"},
         "loads() got some positional-only arguments passed as keyword arguments: 'data'"),
        (m.loads, (), {}, "loads() missing 1 required positional argument: 'data'"),
        (m.loads, ("a",), {"nope": 1}, "loads() got an unexpected keyword argument 'nope'"),
        (m.loads_all, ("a", 1, 2), {}, "loads_all() takes 1 positional arguments but 3 were given"),
        (m.loads_all, ("a",), {"schema": None}, "loads_all() got an unexpected keyword argument 'schema'"),
        (m.yaml_version, (), {}, "yaml_version() missing 1 required positional argument: 'data'"),
        (m.yaml_version, ("a",), {"data": "a"},
         "yaml_version() got some positional-only arguments passed as keyword arguments: 'data'"),
        (m.yaml_version, ("a",), {"option": 1}, "yaml_version() got an unexpected keyword argument 'option'"),
        (m.dumps, (1, 2), {}, "dumps() takes 1 positional arguments but 2 were given"),
        (m.dumps, (), {"obj": 1}, "dumps() got some positional-only arguments passed as keyword arguments: 'obj'"),
        (m.to_json, (1,), {"width": 3}, "to_json() got an unexpected keyword argument 'width'"),
        (m.schema_ref, (), {}, "schema_ref() missing 1 required positional argument: 'data'"),
        (m.dump_includes, (), {"doc": 1, "include_dir": "x"},
         "dump_includes() got some positional-only arguments passed as keyword arguments: 'doc'"),
        (m.dump_includes_map, (1, 2), {}, "dump_includes_map() takes 1 positional arguments but 2 were given"),
        (m.QuillfernTag, (), {}, "QuillfernTag.__new__() missing 2 required positional arguments: 'tag' and 'value'"),
        (m.QuillfernTag, ("!t",), {}, "QuillfernTag.__new__() missing 1 required positional argument: 'value'"),
        (m.QuillfernTag, ("!t", 1, 2), {}, "QuillfernTag.__new__() takes 2 positional arguments but 3 were given"),
        (m.QuillfernTag, ("!t",), {"tag": "!u", "value": 1},
         "QuillfernTag.__new__() got multiple values for argument 'tag'"),
        (m.QuillfernTag, ("!t", 1), {"extra": 1}, "QuillfernTag.__new__() got an unexpected keyword argument 'extra'"),
        (m.QuillfernScalar, (), {}, "QuillfernScalar.__new__() missing 1 required positional argument: 'value'"),
        (m.QuillfernScalar, ("x", "y"), {}, "QuillfernScalar.__new__() takes 1 positional arguments but 2 were given"),
        (m.QuillfernMapping, ([],), {"items": []}, "QuillfernMapping.__new__() got an unexpected keyword argument 'items'"),
        (m.QuillfernSequence, ([],), {"items": []}, "QuillfernSequence.__new__() got multiple values for argument 'items'"),
        *[(getattr(m, name)().__setstate__, args, kwargs, f"{name}.__setstate__() {text}")
          for name in ("QuillfernAnnotatedDict", "QuillfernAnnotatedList")
          for args, kwargs, text in (
              ((), {}, "missing 1 required positional argument: 'state'"),
              ((1, 2), {}, "takes 1 positional arguments but 2 were given"),
              ((1,), {"state": 1}, "got multiple values for argument 'state'"),
              ((1,), {"extra": 1}, "got an unexpected keyword argument 'extra'"))],
    ],
)
def test_argument_errors(fn, args, kwargs, message):
    assert call_error(fn, *args, **kwargs) == message


def test_keywords_are_examined_in_call_order():
    assert call_error(m.loads, "a", zz=1, aa=2) == "loads() got an unexpected keyword argument 'zz'"
    assert call_error(m.loads, "a", aa=1, zz=2) == "loads() got an unexpected keyword argument 'aa'"


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


@pytest.mark.parametrize(
    "fn, kwargs, exc, param",
    [
        (m.loads, {"option": "x"}, TypeError, "option"),
        (m.loads, {"option": -1}, OverflowError, "option"),
        (m.loads, {"option": 1 << 64}, OverflowError, "option"),
        (m.loads, {"option": 1.0}, TypeError, "option"),
        (m.loads, {"option": Index(-5)}, OverflowError, "option"),
        (m.loads, {"include_dir": 5}, TypeError, "include_dir"),
        (m.loads, {"include_dir": b"bytes/path"}, TypeError, "include_dir"),
        (m.loads, {"root_path": 3.5}, TypeError, "root_path"),
        (m.loads_all, {"option": "x"}, TypeError, "option"),
        (m.loads_all, {"option": [1]}, TypeError, "option"),
    ],
)
def test_conversion_failures_carry_the_note(fn, kwargs, exc, param):
    with pytest.raises(exc) as info:
        fn("a: 1", **kwargs)
    assert info.value.__notes__ == [NOTE.format(param)]


class BytesPath:
    def __fspath__(self):
        return b"/tmp"


def test_fspath_giving_bytes_is_refused_with_note():
    with pytest.raises(TypeError) as info:
        m.loads("a", include_dir=BytesPath())
    assert info.value.__notes__ == [NOTE.format("include_dir")]


@pytest.mark.parametrize(
    "kwargs, outcome",
    [
        ({}, {"a": 1}),
        ({"option": None}, {"a": 1}),
        ({"option": 0}, {"a": 1}),
        ({"option": True}, {"a": 1}),
        ({"option": Index(3)}, {"a": 1}),
        ({"option": (1 << 64) - 1},
         ValueError("OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive")),
        ({"option": m.OPT_INDENT_2 | m.OPT_INDENT_4}, {"a": 1}),
        ({"include_dir": pathlib.Path("."), "root_path": os.getcwd()}, {"a": 1}),
        ({"include_dir": None, "schema": object(), "tags": [], "tag_handler": 5},
         TypeError("tags must be a dict (or Tags) mapping each tag name to a callable")),
    ],
)
def test_accepted_arguments_reach_the_implementation(kwargs, outcome):
    # No conversion failed: the call loads, or fails in the implementation
    # with its own error (no argument note).
    if isinstance(outcome, Exception):
        with pytest.raises(type(outcome)) as info:
            m.loads("a: 1", **kwargs)
        assert info.value.args == outcome.args
        assert not getattr(info.value, "__notes__", None)
    else:
        assert m.loads("a: 1", **kwargs) == outcome


@pytest.mark.parametrize(
    "args, exc, param",
    [
        ((1, "v"), TypeError, "tag"),
        ((b"!t", "v"), TypeError, "tag"),
    ],
)
def test_tag_constructor_conversion_note(args, exc, param):
    with pytest.raises(exc) as info:
        m.QuillfernTag(*args)
    assert info.value.__notes__ == [NOTE.format(param)]


def test_foreign_self_is_refused_by_getters():
    getter = m.QuillfernTag.__dict__["tag"]
    with pytest.raises(TypeError):
        getter.__get__(object())
