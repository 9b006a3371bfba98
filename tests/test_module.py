"""The module frame: exported names, constants, signatures and class properties."""

import inspect
import pickle

import pytest

import quillfern
from quillfern import _quillfern as m

FUNCTIONS = [
    "loads",
    "loads_all",
    "dumps",
    "to_json",
    "schema_ref",
    "yaml_version",
    "dump_includes",
    "dump_includes_map",
]
OPTIONS = [
    "OPT_YAML_1_1",
    "OPT_KESTIL_COMPAT",
    "OPT_UPGRADE_1_1",
    "OPT_YAML_1_1_WARN",
    "OPT_ROUND_TRIP",
    "OPT_ANNOTATED",
    "OPT_ANNOTATE_NUMBERS",
    "OPT_INCLUDES",
    "OPT_INCLUDE_DIR_RECURSIVE",
    "OPT_SECRETS",
    "OPT_ENV_VAR",
    "OPT_SECRET_NOT_FOUND_WARN",
    "OPT_ENV_VAR_NOT_FOUND_WARN",
    "OPT_PASSTHROUGH_TAG",
    "OPT_DUPLICATE_KEYS_ERROR",
    "OPT_DUPLICATE_KEYS_WARN",
    "OPT_REJECT_COMPLEX_KEYS",
    "OPT_INDENT_2",
    "OPT_INDENT_4",
    "OPT_INDENTLESS_SEQUENCES",
    "OPT_FLOW_STYLE",
    "OPT_SORT_KEYS",
    "OPT_EXPLICIT_START",
    "OPT_EXPLICIT_END",
    "OPT_SINGLE_QUOTES",
    "OPT_NULL_AS_KEYWORD",
    "OPT_NULL_AS_TILDE",
    "OPT_SERIALIZE_NUMPY",
    "OPT_PASSTHROUGH_DATETIME",
    "OPT_PASSTHROUGH_DATACLASS",
    "OPT_OMIT_MICROSECONDS",
    "OPT_NAIVE_UTC",
    "OPT_UTC_Z",
    "OPT_TIMESTAMPS",
]
CLASSES = [
    "QuillfernDocument",
    "QuillfernTreeNode",
    "QuillfernDocumentView",
    "QuillfernNode",
    "QuillfernTag",
    "QuillfernAnnotatedDict",
    "QuillfernAnnotatedList",
    "QuillfernScalar",
    "QuillfernSequence",
    "QuillfernMapping",
]

SIGNATURES = {
    "loads": "(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, "
    "tag_handler=None, tags=None, root_path=None, on_missing_secret=None, on_missing_env_var=None)",
    "loads_all": "(data, /, *, option=None, tag_handler=None, tags=None)",
    "dumps": "(obj, /, *, default=None, option=None, serializers=None, width=None, represent=None)",
    "to_json": "(obj, /, *, default=None, option=None)",
    "schema_ref": "(data, /)",
    "yaml_version": "(data, /)",
    "dump_includes": "(doc, /, *, include_dir=None)",
    "dump_includes_map": "(doc, /)",
}


def test_all_lists_52_names_in_order():
    assert m.__all__ == FUNCTIONS + OPTIONS + CLASSES
    assert len(m.__all__) == 52
    for name in m.__all__:
        assert getattr(quillfern, name) is getattr(m, name)
    assert set(m.__all__) <= set(quillfern.__all__)


def test_option_constants_are_single_bits_in_order():
    for bit, name in enumerate(OPTIONS):
        assert getattr(m, name) == 1 << bit, name
        assert type(getattr(m, name)) is int
    assert m.OPT_YAML_1_1 == 1
    assert m.OPT_TIMESTAMPS == 8589934592


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_signature_and_docstring(name):
    fn = getattr(m, name)
    assert fn.__text_signature__ == SIGNATURES[name]
    assert fn.__doc__ is None  # nothing beyond the signature
    assert fn.__module__ == m.__name__
    assert fn.__self__ is m
    params = inspect.signature(fn).parameters
    first = next(iter(params.values()))
    assert first.kind is inspect.Parameter.POSITIONAL_ONLY
    for p in list(params.values())[1:]:
        assert p.kind is inspect.Parameter.KEYWORD_ONLY and p.default is None


@pytest.mark.parametrize(
    "name, module, constructible, doc_start",
    [
        ("QuillfernDocument", None, False,
         "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`."),
        ("QuillfernTreeNode", "quillfern", False,
         "An owned node snapshot. Collections contain child snapshots rather than"),
        ("QuillfernDocumentView", None, False,
         "A live proxy onto a nested node of a [`QuillfernDocument`], addressed by path."),
        ("QuillfernNode", None, False,
         "A metadata-bearing handle onto a single node of a [`QuillfernDocument`]."),
        ("QuillfernTag", None, True,
         "A custom-tagged YAML value, returned when `OPT_PASSTHROUGH_TAG` is set and"),
        ("QuillfernAnnotatedDict", "quillfern", True,
         "A `dict` subclass carrying source-location metadata (`__line__`,"),
        ("QuillfernAnnotatedList", "quillfern", True,
         "A `list` subclass carrying source-location metadata,"),
        ("QuillfernScalar", "quillfern", True,
         "A scalar node descriptor returned by a `represent` callback: the text to emit,"),
        ("QuillfernSequence", "quillfern", True,
         "A sequence node descriptor: its items (original host objects, re-dispatched"),
        ("QuillfernMapping", "quillfern", True,
         "A mapping node descriptor: its `(key, value)` pairs (original host objects,"),
    ],
)
def test_class_properties(name, module, constructible, doc_start):
    cls = getattr(m, name)
    assert cls.__name__ == name
    if module is None:
        assert "." not in cls.__qualname__
        assert repr(cls) == f"<class '{name}'>"
    else:
        assert cls.__module__ == module
    assert cls.__doc__.startswith(doc_start)
    if constructible:
        assert cls.__text_signature__ is not None
    else:
        assert cls.__text_signature__ is None
        with pytest.raises(TypeError):
            cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    # Not immutable: class attributes can be reassigned from Python.
    cls.extra_attribute = 1
    del cls.extra_attribute


def test_class_text_signatures():
    assert m.QuillfernTag.__text_signature__ == "(tag, value)"
    assert m.QuillfernScalar.__text_signature__ == (
        '(value, *, tag=None, style="auto", comment=None, comment_before=None, comment_after=None)'
    )
    for name, first in (("QuillfernMapping", "pairs"), ("QuillfernSequence", "items")):
        assert getattr(m, name).__text_signature__ == (
            f"({first}, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)"
        )
    assert m.QuillfernAnnotatedDict.__text_signature__ == "(*_args, **_kwargs)"
    assert m.QuillfernAnnotatedList.__text_signature__ == "(*_args, **_kwargs)"


def test_types_are_created_once_per_process():
    import importlib.util
    import sys

    spec = importlib.util.find_spec("quillfern._quillfern")
    fresh = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(fresh)
    assert fresh is not m
    for name in CLASSES:
        assert getattr(fresh, name) is getattr(m, name)
    assert fresh.__all__ == m.__all__
    assert sys.modules["quillfern._quillfern"] is m


def test_annotated_containers_are_plain_dict_and_list():
    d = m.QuillfernAnnotatedDict()
    assert d == {} and isinstance(d, dict) and type(d) is m.QuillfernAnnotatedDict
    d2 = m.QuillfernAnnotatedDict({"a": 1}, b=2)
    assert d2 == {"a": 1, "b": 2}
    lst = m.QuillfernAnnotatedList("ab")
    assert lst == ["a", "b"] and isinstance(lst, list)
    for obj in (d2, lst):
        assert (obj.__line__, obj.__column__, obj.__end_line__, obj.__end_column__) == (0, 0, 0, 0)
        assert (obj.__offset__, obj.__end_offset__) == (0, 0)
        assert (obj.__file__, obj.__source_tag__, obj.__source_target__) == (None, None, None)
        with pytest.raises(AttributeError):
            obj.__line__ = 3
        back = pickle.loads(pickle.dumps(obj))
        assert type(back) is type(obj) and back == obj


def test_pickle_finds_annotated_classes_by_reference():
    data = pickle.dumps(m.QuillfernAnnotatedDict(a=1))
    assert b"quillfern" in data and b"QuillfernAnnotatedDict" in data


def test_tag_fields_and_repr():
    value = [1, 2]
    t = m.QuillfernTag("!t", value)
    assert t.tag == "!t"
    assert t.value is value
    assert repr(t) == "QuillfernTag('!t', ...)"
    assert m.QuillfernTag(value=3, tag="!k").value == 3


def test_tag_inside_its_own_value_is_collected():
    import gc
    import weakref

    class Box:
        pass

    box = Box()
    t = m.QuillfernTag("!loop", box)
    box.tag = t
    ref = weakref.ref(box)
    del box, t
    gc.collect()
    assert ref() is None


def test_long_chains_of_nested_instances_are_released_without_crashing():
    # Releasing a deep chain must not recurse once per level on the C stack.
    # A crash would kill pytest, so the chains are built in a child process.
    import subprocess
    import sys
    import textwrap

    code = textwrap.dedent(
        """
        from quillfern import _quillfern as m
        makers = [
            lambda x: m.QuillfernTag("!t", x),
            lambda x: m.QuillfernAnnotatedList([x]),
            lambda x: m.QuillfernAnnotatedDict(k=x),
            lambda x: m.QuillfernTag("!t", m.QuillfernAnnotatedDict(k=m.QuillfernAnnotatedList([x]))),
        ]
        for make in makers:
            x = None
            for _ in range(200000):
                x = make(x)
            del x
        print("ok")
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"


def test_import_in_a_subinterpreter_is_refused():
    # Type objects and exception classes are cached for the whole process; a
    # subinterpreter must not load the module and hand its own classes to the
    # main interpreter (or the other way round).
    import subprocess
    import sys
    import textwrap

    code = textwrap.dedent(
        """
        try:
            import _xxsubinterpreters as si
        except ImportError:
            print("skip")
            raise SystemExit
        iid = si.create()
        try:
            si.run_string(iid, "import quillfern")
        except Exception as e:
            assert "does not support loading in subinterpreters" in str(e), e
        else:
            raise SystemExit("the subinterpreter loaded the module")
        finally:
            si.destroy(iid)
        import quillfern
        try:
            quillfern.yaml_version(b"\\xff")
        except quillfern.QuillfernDecodeError:
            print("ok")
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr + result.stdout
    if result.stdout.strip() == "skip":
        pytest.skip("no subinterpreter module")
    assert result.stdout.strip() == "ok"
