"""Annotated results: loads and loads_all with OPT_ANNOTATED return the plain
road's data, every mapping, sequence and string (with OPT_ANNOTATE_NUMBERS
every 64-bit int and float too) carrying where it came from."""

import bisect
import copy
import datetime
import gc
import logging
import pickle
import subprocess
import sys
import textwrap

import pytest

import quillfern as q
from quillfern import exceptions as qe

from helpers import corpus_files, run_in_small_thread, same, suite_cases

A = q.OPT_ANNOTATED
AN = q.OPT_ANNOTATED | q.OPT_ANNOTATE_NUMBERS
ADict, AList = q.QuillfernAnnotatedDict, q.QuillfernAnnotatedList
AStr, AInt, AFloat = q.QuillfernAnnotatedStr, q.QuillfernAnnotatedInt, q.QuillfernAnnotatedFloat


def loc(v):
    return (v.__line__, v.__column__, v.__end_line__, v.__end_column__, v.__offset__, v.__end_offset__)


# ------------------------------------------------------------ value classes

KINDS = [
    # text, class without numbers, class with OPT_ANNOTATE_NUMBERS
    ("abc", AStr, AStr),
    ('"123"', AStr, AStr),
    ("'1.5'", AStr, AStr),
    ("!!str 7", AStr, AStr),
    ("12", int, AInt),
    ("-0x1F", int, AInt),
    ("1.5e3", float, AFloat),
    (".inf", float, AFloat),
    ("99999999999999999999999", int, int),  # beyond 64 bits
    ("true", bool, bool),
    ("null", type(None), type(None)),
    ("~", type(None), type(None)),
    ("[1]", AList, AList),
    ("{a: 1}", ADict, ADict),
    ("<<", AStr, AStr),
]


@pytest.mark.parametrize("text, plain_cls, numbers_cls", KINDS, ids=[k[0] for k in KINDS])
def test_class_of_each_kind(text, plain_cls, numbers_cls):
    doc = f"v: {text}\n"
    for option, cls in ((A, plain_cls), (AN, numbers_cls)):
        v = q.loads(doc, option=option)["v"]
        assert type(v) is cls
        assert v == q.loads(doc)["v"]


def test_annotated_numbers_keep_their_value_and_location():
    d = q.loads("a: 12\nb: -2.5\n", option=AN)
    assert d["a"] == 12 and d["a"] + 1 == 13 and loc(d["a"]) == (1, 4, 1, 6, 3, 5)
    assert d["b"] == -2.5 and loc(d["b"]) == (2, 4, 2, 8, 9, 13)
    assert d["a"].__style__ == "plain"


def test_loaded_scalars_are_what_their_class_builds():
    d = q.loads("a: x\nb: 2\nc: 2.5\n", option=AN, root_path="f.yaml")
    names = ["__line__", "__column__", "__file__", "__end_line__", "__end_column__", "__style__",
             "__source_tag__", "__source_target__", "__offset__", "__end_offset__"]
    for v in d.values():
        built = type(v)(type(v)._plain(v), *(getattr(v, n) for n in names))
        assert vars(v) == vars(built) and list(vars(v)) == names
        assert v == built and hash(v) == hash(built)
        back = pickle.loads(pickle.dumps(v))
        assert type(back) is type(v) and vars(back) == vars(v)


STYLES = [
    ("a: plain\n", "plain"),
    ("a: 'single'\n", "single"),
    ('a: "double"\n', "double"),
    ("a: |\n  literal\n", "literal"),
    ("a: >\n  folded\n", "folded"),
]


@pytest.mark.parametrize("text, style", STYLES, ids=[s for _, s in STYLES])
def test_styles(text, style):
    assert q.loads(text, option=A)["a"].__style__ == style


# ---------------------------------------------------------------- locations

def test_first_character_is_line_1_column_1_offset_0():
    d = q.loads("k: v\n", option=A)
    assert loc(d) == (1, 1, 1, 5, 0, 4)
    [k] = d
    assert loc(k) == (1, 1, 1, 2, 0, 1)
    assert loc(d["k"]) == (1, 4, 1, 5, 3, 4)


def test_columns_count_characters_offsets_count_bytes():
    d = q.loads("é: ünï\n", option=A)
    [k] = d
    assert loc(k) == (1, 1, 1, 2, 0, 2)
    assert loc(d["é"]) == (1, 4, 1, 7, 4, 9)


@pytest.mark.parametrize("brk", ["\n", "\r\n", "\r"], ids=["LF", "CRLF", "CR"])
def test_each_line_break_counts_once(brk):
    text = brk.join(["a: 1", "b:", "  - x", "  - yy", ""])
    d = q.loads(text, option=A)
    lst = d["b"]
    assert (lst.__line__, lst.__column__) == (3, 3)
    assert loc(lst[1])[:4] == (4, 5, 4, 7)
    raw = text.encode()
    assert raw[lst[1].__offset__:lst[1].__end_offset__] == b"yy"


def test_byte_order_mark_counts_in_offsets_not_columns():
    d = q.loads("\ufeffa: b\n".encode(), option=A)
    [k] = d
    assert loc(k) == (1, 1, 1, 2, 3, 4)
    assert loc(d["a"]) == (1, 4, 1, 5, 6, 7)


def test_flow_collections_end_past_their_closing_bracket():
    text = "a: [1, {b: c}]  # note\n"
    d = q.loads(text, option=A)
    for node, want in ((d["a"], "[1, {b: c}]"), (d["a"][1], "{b: c}")):
        assert text.encode()[node.__offset__:node.__end_offset__].decode() == want
        assert node.__end_column__ == node.__column__ + len(want)


def test_file_names():
    text = "a: [x]\n"
    for option in (A, AN):
        d = q.loads(text, option=option)
        assert d.__file__ is None and d["a"].__file__ is None and d["a"][0].__file__ is None
    d = q.loads(text, option=A, root_path="conf/main.yaml")
    assert d.__file__ == d["a"].__file__ == d["a"][0].__file__ == "conf/main.yaml"
    # A path that is not valid Unicode shows its bad bytes as U+FFFD.
    d = q.loads(text, option=A, root_path="conf/\udcff.yaml")
    assert d["a"][0].__file__ == "conf/\ufffd.yaml" == d.__file__
    assert all(v.__file__ is None for v in q.loads_all("a: [x]\n---\nb: y\n", option=A))


# ------------------------------------------------------------ tags and sources

def test_source_tag_of_custom_and_standard_tags():
    d = q.loads("a: !custom foo\nb: !!str 123\nc: !secret pw\nd: !include x.yaml\ne: !mytag [1]\n"
                "f: !<tag:yaml.org,2002:str> z\ng: ! bare\n", option=A)
    assert d["a"].__source_tag__ == "!custom" and d["a"].__source_target__ is None
    assert d["b"].__source_tag__ is None
    assert d["f"].__source_tag__ == "!<tag:yaml.org,2002:str>"  # verbatim tags are read as written
    assert d["g"].__source_tag__ == "!"
    # Without the directive options the tag is read as written.
    assert d["c"].__source_tag__ == "!secret" and d["c"].is_secret and not d["c"].is_include
    assert d["d"].is_include and not d["d"].is_env_var
    assert d["e"].__source_tag__ == "!mytag" and not d["e"].is_include


def test_tag_handlers_and_passthrough_receive_annotated_values():
    seen = []

    def handler(name, value):
        seen.append((name, type(value), value.__line__))
        return value

    d = q.loads("a: !t x\nb: !m {k: v}\nc: !s [1]\n", option=A, tag_handler=handler)
    assert seen == [("!t", AStr, 1), ("!m", ADict, 2), ("!s", AList, 3)]
    assert d == {"a": "x", "b": {"k": "v"}, "c": [1]}
    d = q.loads("a: !t x\n", option=A, tags={"!t": lambda v: (type(v), v.__column__)})
    assert d["a"] == (AStr, 7)
    d = q.loads("a: !t x\n", option=A | q.OPT_PASSTHROUGH_TAG)
    assert isinstance(d["a"], q.QuillfernTag) and type(d["a"].value) is AStr


def test_keys_and_values_meet_the_same_tag_rules():
    tags = {"!up": lambda v: v.upper(), "!t": lambda v: tuple(v)}
    texts = [
        "? [&x !up a]\n: 1\nb: *x\n",
        "? [&x !up a]: 1\nb: *x\n",
        "? !t {a: b}\n: 1\n",
        "u: &u !up w\n? !t [a, b]\n: 1\nc: [!up z, *u]\n",
        "&k !up key: *k\n",
        # %TAG handles are expanded for resolution and the handlers' names
        "%TAG !e! tag:example.com,2000:\n---\na: !e!up x\nb: !e!t [1]\n",
        "%TAG !c! tag:yaml.org,2002:\n---\na: !c!int '3'\nb: !c!str 4\n",
        "%TAG ! tag:p:\n---\na: !up x\n",
        # custom-tagged mappings are not merged but kept under "<<"
        "<<: !t {a: 1}\nb: 2\n",
        "x: &x !t {a: 1}\n<<: *x\n",
        "<<: [!t {a: 1}, {c: 3}]\n",
        "y: {<<: !t {a: 1}, <<: 5}\n",
    ]
    for text in texts:
        for kw in ({"tags": tags}, {"tag_handler": lambda n, v: tags.get(n.rsplit(":", 1)[-1], lambda v: v)(v)},
                   {"tag_handler": lambda n, v: (n, v)}):
            for fn in (q.loads, q.loads_all):
                assert same(outcome(fn, text, A, **kw), outcome(fn, text, 0, **kw)), text


def test_tag_handlers_never_see_lists_with_empty_slots():
    def inspect(name, value):
        for o in gc.get_objects():
            if type(o) in (list, AList, tuple):
                len([x for x in o])  # an empty slot would crash here
        return value

    assert q.loads("- [1, !t a, 2]\n- {? [b, !t c]: d}\n", option=A, tag_handler=inspect) == [
        [1, "a", 2], {("b", "c"): "d"}]


# ------------------------------------------------------ aliases, merges, keys

def test_aliases_give_one_object():
    d = q.loads("a: &x {k: 1}\nb: *x\nc: &s str\nd: *s\n", option=A)
    assert d["b"] is d["a"] and d["d"] is d["c"]
    assert loc(d["b"])[:2] == (1, 7)


def test_an_alias_the_cache_cannot_answer_keeps_the_whole_location():
    text = "? &k [a, b]\n: *k\n"
    d = q.loads(text, option=A)
    [(key, value)] = d.items()
    assert key == ("a", "b") and type(key) is tuple and type(key[0]) is str
    assert value == ["a", "b"] and type(value) is AList
    assert text.encode()[value.__offset__:value.__end_offset__] == b"[a, b]"
    assert value.__end_column__ == 12


def test_aliases_take_the_nearest_definition_in_their_document():
    assert q.loads("&x a: 1\n&x b: *x\n", option=A) == {"a": 1, "b": "b"} == q.loads("&x a: 1\n&x b: *x\n")


def test_merges():
    text = ("base: &b {x: 1, y: 2}\n"
            "m: {<<: [*b, 5], y: 3}\n"
            "n: {<<: 5, <<: 6}\n"
            "o: {b: 1, <<: {a: 2, b: 3}}\n"
            "p: {<<: *b, '<<': q}\n")
    d = q.loads(text, option=A)
    assert d == q.loads(text)
    assert d["m"] == {"x": 1, "y": 3, "<<": [5]}
    [merge_key] = [k for k in d["n"] if k == "<<"]
    assert type(merge_key) is AStr and d["n"]["<<"] == [5, 6]
    assert d["p"]["x"] is d["base"]["x"]


def test_collection_keys_are_plain_tuples():
    d = q.loads("? [a, [b, c]]\n: 1\n? {x: 1}\n: 2\n", option=A)
    assert list(d) == [("a", ("b", "c")), (("x", 1),)]
    assert all(type(k) is tuple for k in d)


def test_loads_all_keeps_anchors_within_their_document():
    a, b = q.loads_all("a: &x [1]\nb: *x\n---\nc: &x [2]\nd: *x\n", option=A)
    assert a["b"] is a["a"] and b["d"] is b["c"] and b["c"] == [2]
    assert loc(b["c"])[:2] == (4, 7)


# ------------------------------------------------------------ roads and order

def test_first_document_as_on_the_plain_road():
    for text in ("---\n---\na: 1\n", "", "# only\n", "---\n", "a: 1\n---\nb: 2\n"):
        assert q.loads(text, option=A) == q.loads(text)
        assert q.loads_all(text, option=A) == q.loads_all(text)
    with pytest.raises(qe.QuillfernDuplicateKeyError):  # later documents are still checked
        q.loads("a: 1\n---\nb: 1\nb: 2\n", option=A | q.OPT_DUPLICATE_KEYS_ERROR)


def test_timestamps_follow_the_timestamp_options():
    text = "d: 2024-01-02\n"
    assert type(q.loads(text, option=A)["d"]) is AStr
    for option in (q.OPT_TIMESTAMPS, q.OPT_KESTIL_COMPAT):
        assert q.loads(text, option=A | option)["d"] == datetime.date(2024, 1, 2) == q.loads(text, option=option)["d"]


def test_unhashable_keys_fail_as_on_the_plain_road():
    for kw in ({}, {"tag_handler": lambda n, v: [v]}):
        text = "? !t {a: b}\n: 1\n" if not kw else "? !t x\n: 1\n"
        for road in (0, A):
            with pytest.raises(qe.QuillfernDecodeError, match="^mapping key is not hashable in Python$"):
                q.loads(text, option=road, **kw)


PRE_PASS_ERRORS = [
    ("a: [1\n", 0),
    ("a: b\n  c: d\n", 0),
    ("? [a]\n: 1\n", q.OPT_REJECT_COMPLEX_KEYS),
    ("a: *nope\n", 0),
    ("a: 1\n---\nb: {c\n", 0),
]


@pytest.mark.parametrize("text, option", PRE_PASS_ERRORS)
def test_pre_pass_errors_equal_the_plain_road_and_log_nothing(text, option, caplog):
    # A duplicate key and YAML 1.1 booleans before the error: the pre-pass
    # reports the error first, and nothing is logged.
    text = "x: yes\nx: on\n" + text
    with pytest.raises(qe.QuillfernError) as plain:
        q.loads(text, option=option)
    caplog.clear()
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        for call in (q.loads, q.loads_all):
            for dup in (q.OPT_DUPLICATE_KEYS_WARN, q.OPT_DUPLICATE_KEYS_ERROR):
                with pytest.raises(qe.QuillfernError) as annotated:
                    call(text, option=option | A | dup | q.OPT_YAML_1_1 | q.OPT_YAML_1_1_WARN)
                assert type(annotated.value) is type(plain.value)
                assert str(annotated.value) == str(plain.value)
                assert annotated.value.file is None
    assert caplog.records == []


def test_warning_order_and_duplicate_error(caplog):
    text = "k: yes\nk: no\n"
    opts = A | q.OPT_YAML_1_1 | q.OPT_YAML_1_1_WARN
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        assert q.loads(text, option=opts | q.OPT_DUPLICATE_KEYS_WARN) == {"k": False}
    msgs = [r.getMessage() for r in caplog.records]
    assert len(msgs) == 3 and msgs[0].startswith("duplicate mapping key 'k' at line 2, column 1")
    assert all(m.startswith("YAML 1.1 syntax") for m in msgs[1:])
    caplog.clear()
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        with pytest.raises(qe.QuillfernDuplicateKeyError, match="at line 2, column 1$"):
            q.loads(text, option=opts | q.OPT_DUPLICATE_KEYS_ERROR)
        with pytest.raises(qe.QuillfernDuplicateKeyError):
            q.loads_all("a: 1\n---\n" + text, option=opts | q.OPT_DUPLICATE_KEYS_ERROR)
    assert caplog.records == []


def test_round_trip_wins_and_directives_are_not_available_yet():
    assert type(q.loads("a: 1\n", option=A | q.OPT_ROUND_TRIP)).__name__ == "QuillfernDocument"
    for opt in (q.OPT_INCLUDES, q.OPT_SECRETS, q.OPT_ENV_VAR):
        with pytest.raises(NotImplementedError):
            q.loads("a: 1\n", option=A | opt)
        with pytest.raises(NotImplementedError):
            q.loads("a: 1\n", option=opt)


def test_deep_result_in_a_small_thread():
    depth = 1000
    text = "[" * depth + "]" * depth

    def build():
        v = q.loads(text, option=A)
        n = 0
        while v:
            v = v[0]
            n += 1
        del v
        return n

    assert run_in_small_thread(build) == depth - 1


# --------------------------------------------------- class lookup, subprocess

CLASS_LOOKUP = textwrap.dedent("""
    import quillfern as q
    calls = []
    orig = q.QuillfernAnnotatedStr
    def record(*args, **kw):
        calls.append((args, kw))
        return orig(*args)
    del q.QuillfernAnnotatedStr
    try:
        q.loads("a: b\\n", option=q.OPT_ANNOTATED)
    except AttributeError:
        print("failed lookup raised")
    q.QuillfernAnnotatedStr = record
    d = q.loads('k: "v"\\n', option=q.OPT_ANNOTATED, root_path="f.yaml")
    for args, kw in calls:
        print(repr(args), kw)
    q.QuillfernAnnotatedStr = lambda *a: 1 / 0
    print(q.loads("x: y\\n", option=q.OPT_ANNOTATED))
    # A class whose __new__ is replaced is called, argument for argument.
    q.QuillfernAnnotatedInt.__new__ = staticmethod(lambda cls, *a: len(a))
    print(q.loads("n: 5\\n", option=q.OPT_ANNOTATED | q.OPT_ANNOTATE_NUMBERS))
""")


def test_annotated_str_class_is_looked_up_once():
    out = subprocess.run([sys.executable, "-c", CLASS_LOOKUP], capture_output=True, text=True, check=True).stdout
    assert out.splitlines() == [
        "failed lookup raised",
        "('v', 1, 4, 'f.yaml', 1, 7, 'double', None, None, 3, 6) {}",  # the value before its key
        "('k', 1, 1, 'f.yaml', 1, 2, 'plain', None, None, 0, 1) {}",
        "{'x': 'y'}",
        "{'n': 11}",
    ]


# ------------------------------------------------------------- the classes

STATE = (3, 4, "f.yaml", 5, 6, "!secret", "name", 7, 8)


@pytest.mark.parametrize("cls, items", [(ADict, {"a": 1}), (AList, [1, 2])], ids=["dict", "list"])
def test_reduce_shapes_and_setstate(cls, items):
    obj = cls(items)
    obj.__setstate__(STATE)
    assert (obj.__line__, obj.__column__, obj.__file__, obj.__end_line__, obj.__end_column__,
            obj.__source_tag__, obj.__source_target__, obj.__offset__, obj.__end_offset__) == STATE
    r = obj.__reduce__()
    assert len(r) == 5 and r[0] is cls and r[1] == () and r[2] == STATE
    if cls is ADict:
        assert r[3] is None and list(r[4]) == [("a", 1)]
    else:
        assert list(r[3]) == [1, 2] and r[4] is None
    assert cls.__reduce__.__text_signature__ == "($self)"
    assert cls.__setstate__.__text_signature__ == "($self, state)"


BAD_STATES = [
    ((1, 2, None, 3, 4, None, None, 5), ValueError, "^expected tuple of length 9, but got tuple of length 8"),
    ([1, 2, None, 3, 4, None, None, 5, 6], TypeError, None),
    ((-1, 2, None, 3, 4, None, None, 5, 6), OverflowError, None),
    ((1, 2**32, None, 3, 4, None, None, 5, 6), OverflowError, None),
    ((1, 2, None, 3, 4, None, None, 5, 2**64), OverflowError, None),
    ((1, 2, 3, 3, 4, None, None, 5, 6), TypeError, None),
    ((1, 2, None, 3, 4, None, b"x", 5, 6), TypeError, None),
    ((1, 2.0, None, 3, 4, None, None, 5, 6), TypeError, None),
]


@pytest.mark.parametrize("cls", [ADict, AList], ids=["dict", "list"])
@pytest.mark.parametrize("state, exc, match", BAD_STATES)
def test_setstate_errors_leave_the_record(cls, state, exc, match):
    obj = cls()
    obj.__setstate__(STATE)
    with pytest.raises(exc, match=match) as e:
        obj.__setstate__(state)
    assert e.value.__notes__ == ["while processing 'state'"]
    assert obj.__reduce__()[2] == STATE


def test_setstate_takes_index_objects_and_refuses_readers_meanwhile():
    obj = ADict()
    seen = []

    class Index:
        def __index__(self):
            try:
                obj.__line__
            except RuntimeError as e:
                seen.append(str(e))
            try:
                obj.__reduce__()
            except BaseException as e:  # the internal error: __reduce__ expects its record free
                seen.append((type(e).__name__, str(e).startswith("Already mutably borrowed")))
            return 9

    obj.__setstate__((Index(), 1, None, 1, 1, None, None, Index(), 1))
    assert seen == ["Already mutably borrowed", ("QuillfernInternalError", True)] * 2
    assert (obj.__line__, obj.__offset__) == (9, 9)


@pytest.mark.parametrize("tag, secret, env, include", [
    ("!secret", True, False, False),
    ("!env_var", False, True, False),
    ("!include", False, False, True),
    ("!include_dir_merge_named", False, False, True),
    ("!include_dir_list", False, False, True),
    ("!include_dirx", False, False, False),
    ("!secrets", False, False, False),
    (None, False, False, False),
])
def test_directive_predicates(tag, secret, env, include):
    for obj in (ADict(), AList()):
        obj.__setstate__((1, 1, None, 1, 1, tag, None, 0, 0))
        assert (obj.is_secret, obj.is_env_var, obj.is_include) == (secret, env, include)


def test_pickle_and_copy_keep_every_record():
    text = "a: &x {b: [1, {c: d}]}\ne: [*x, f]\n"
    d = q.loads(text, option=AN)

    def records(v):
        if isinstance(v, dict):
            return [(type(v), loc(v))] + [r for k, x in v.items() for r in records(k) + records(x)]
        if isinstance(v, list):
            return [(type(v), loc(v))] + [r for x in v for r in records(x)]
        if hasattr(v, "__line__"):
            return [(type(v), loc(v), v.__style__)]
        return [(type(v),)]

    want = records(d)
    for proto in range(pickle.HIGHEST_PROTOCOL + 1):
        back = pickle.loads(pickle.dumps(d, protocol=proto))
        assert back == d and records(back) == want
    deep = copy.deepcopy(d)
    assert records(deep) == want and deep["e"][0] is deep["a"]
    shallow = copy.copy(d)
    assert loc(shallow) == loc(d) and shallow["a"] is d["a"]


# ------------------------------------------------- corpus and suite agreement

class Positions:
    """Line and column of byte offsets, counted as the loader does: LF, CR and
    CR LF one break each, columns in characters, a leading BOM not counted."""

    def __init__(self, raw):
        self.raw = raw
        starts = [3 if raw.startswith(b"\xef\xbb\xbf") else 0]
        i, n = 0, len(raw)
        while i < n:
            c = raw[i]
            if c == 0x0A or (c == 0x0D and (i + 1 >= n or raw[i + 1] != 0x0A)):
                starts.append(i + 1)
            i += 1
        self.starts = starts

    def at(self, offset):
        line = max(bisect.bisect_right(self.starts, offset) - 1, 0)
        start = min(self.starts[line], offset)
        column = sum(1 for b in self.raw[start:offset] if b & 0xC0 != 0x80)
        return line + 1, column + 1


def check_locations(value, pos, seen):
    if id(value) in seen:
        return
    seen.add(id(value))
    if hasattr(value, "__offset__"):
        assert (value.__line__, value.__column__) == pos.at(value.__offset__)
        assert (value.__end_line__, value.__end_column__) == pos.at(value.__end_offset__)
        piece = pos.raw[value.__offset__:value.__end_offset__]
        style = getattr(value, "__style__", None)
        if style == "plain" and isinstance(value, str) and not value.__source_tag__ and b"\n" not in piece \
                and b"\r" not in piece:
            assert piece.decode() == value
        elif style in ("single", "double"):
            quote = b"'" if style == "single" else b'"'
            assert piece[:1] == quote and piece[-1:] == quote
        elif style in ("literal", "folded"):
            assert piece[:1] == (b"|" if style == "literal" else b">")
    if isinstance(value, dict):
        for k, v in value.items():
            check_locations(k, pos, seen)
            check_locations(v, pos, seen)
    elif isinstance(value, (list, tuple)):
        for v in value:
            check_locations(v, pos, seen)


def outcome(fn, text, option, **kw):
    try:
        return fn(text, option=option, **kw)
    except qe.QuillfernError as e:
        return type(e)


CORPUS = corpus_files()


@pytest.mark.skipif(not CORPUS, reason="the corpus is not available")
def test_corpus_agrees_with_plain_loading_and_locations_hold():
    checked = 0
    for path in CORPUS:
        raw = path.read_bytes()
        for fn in (q.loads, q.loads_all):
            plain = outcome(fn, raw, 0)
            for option in (A, AN):
                annotated = outcome(fn, raw, option)
                assert same(annotated, plain), path
        if isinstance(annotated, list):
            pos = Positions(raw)
            check_locations(annotated, pos, set())
            checked += 1
    assert checked > len(CORPUS) // 2


# Valid suite cases where the annotated road reads differently, with why.
SUITE_EXCEPTIONS = {}

SUITE = [d for d in suite_cases() if not (d / "error").exists()]


@pytest.mark.skipif(not SUITE, reason="the YAML test suite is not available")
def test_suite_loads_all_agrees_with_plain_loading():
    differ = []
    for case in SUITE:
        raw = (case / "in.yaml").read_bytes()
        plain = outcome(q.loads_all, raw, 0)
        if not all(same(outcome(q.loads_all, raw, option), plain) for option in (A, AN)):
            differ.append(case.relative_to(case.parent.parent).as_posix())
    assert sorted(differ) == sorted(SUITE_EXCEPTIONS)
