"""Item assignment and deletion on round-trip documents and views: exact
texts, errors, the alias rule, and host values turned into nodes."""

import math

import pytest

import quillfern as q

from helpers import run_in_small_thread

RT = q.OPT_ROUND_TRIP


def load(text, option=0):
    return q.loads(text, option=RT | option)


def setitem(*path_and_value):
    *path, key, value = path_and_value

    def op(d):
        target = d
        for p in path:
            target = target[p]
        target[key] = value

    return op


def delitem(*path):
    *path, key = path

    def op(d):
        target = d
        for p in path:
            target = target[p]
        del target[key]

    return op


# (name, input, option, edit, expected text)
EDITS = [
    ("replace scalar keeps comment and gap", "a: 1   # one\nb: 2\n", 0, setitem("a", 5), "a: 5   # one\nb: 2\n"),
    ("replace keeps head comments and blank line", "a: 1\n\n# about b\nb: 2  # two\n", 0,
     setitem("b", "x"), "a: 1\n\n# about b\nb: x  # two\n"),
    ("replace scalar with mapping", "a: 1\nb: 2\n", 0, setitem("a", {"x": 1, "y": [1, 2]}),
     "a:\n  x: 1\n  y:\n  - 1\n  - 2\nb: 2\n"),
    ("replace scalar with sequence", "a: 1  # c\nb: 2\n", 0, setitem("a", ["p", "q"]), "a:  # c\n- p\n- q\nb: 2\n"),
    ("replace mapping with scalar", "a:\n  x: 1\nb: 2\n", 0, setitem("a", "z"), "a: z\nb: 2\n"),
    ("append key", "a: 1  # c\nb: 2\n", 0, setitem("c", 3.5), "a: 1  # c\nb: 2\nc: 3.5\n"),
    ("append int key", "a: 1\n", 0, setitem(7, True), "a: 1\n7: true\n"),
    ("append to nested mapping", "top:\n  a: 1\nafter: 2\n", 0, setitem("top", "b", 2),
     "top:\n  a: 1\n  b: 2\nafter: 2\n"),
    ("delete first key", "a: 1\nb: 2\nc: 3\n", 0, delitem("a"), "b: 2\nc: 3\n"),
    ("delete middle key", "a: 1\n# about b\nb: 2  # gone\nc: 3\n", 0, delitem("b"), "a: 1\nc: 3\n"),
    ("delete last key", "a: 1\nb: 2\nc: 3\n", 0, delitem("c"), "a: 1\nb: 2\n"),
    ("delete duplicate key removes every entry", "a: 1\nb: 2\na: 3\n", 0, delitem("a"), "b: 2\n"),
    ("assign duplicate key replaces the last", "a: 1\nb: 2\na: 3\n", 0, setitem("a", 9), "a: 1\nb: 2\na: 9\n"),
    ("delete first item", "s:\n- a\n- b\n- c\n", 0, delitem("s", 0), "s:\n- b\n- c\n"),
    ("delete middle item", "s:\n- a\n- b\n- c\n", 0, delitem("s", 1), "s:\n- a\n- c\n"),
    ("delete last item", "s:\n- a\n- b\n- c\n", 0, delitem("s", 2), "s:\n- a\n- b\n"),
    ("delete root item", "- a\n- b\n", 0, delitem(0), "- b\n"),
    ("replace item keeps comment", "- a  # first\n- b\n", 0, setitem(0, "z"), "- z  # first\n- b\n"),
    ("flow mapping value", "m: {a: 1, b: 2}\nn: 3\n", 0, setitem("m", "b", 7), "m: {a: 1, b: 7}\nn: 3\n"),
    ("flow mapping append", "m: {a: 1}\n", 0, setitem("m", "z", [1]), "m: {a: 1, z: [1]}\n"),
    ("flow mapping delete", "m: {a: 1, b: 2, c: 3}\n", 0, delitem("m", "b"), "m: {a: 1, c: 3}\n"),
    ("flow sequence item", "s: [1, 2, 3]\n", 0, setitem("s", 1, "x y"), "s: [1, x y, 3]\n"),
    ("flow sequence delete", "s: [1, 2, 3]\n", 0, delitem("s", 0), "s: [2, 3]\n"),
    ("anchored value keeps its anchor", "a: &x 1\nb: *x\n", 0, setitem("a", 2), "a: &x 2\nb: *x\n"),
    ("custom tag kept", "a: !color red\n", 0, setitem("a", "blue"), "a: !color blue\n"),
    ("core tag dropped when it would change the value", "a: !!str x\n", 0, setitem("a", 5), "a: 5\n"),
    ("core tag kept when it does not", "a: !!str x\n", 0, setitem("a", "y"), "a: !!str y\n"),
    ("core tag dropped for None", "a: !!str x\nb: 1\n", 0, setitem("a", None), "a:\nb: 1\n"),
    ("alias removed, then its anchor", "a: &x 1\nb: *x\nc: 3\n", 0,
     lambda d: (delitem("b")(d), delitem("a")(d)), "c: 3\n"),
    ("deleting anchor and all its aliases together", "a:\n  x: &k 1\n  y: *k\nb: 2\n", 0, delitem("a"), "b: 2\n"),
    # None under each null option.
    ("None, default null style", "a: 1\nb: 2\n", 0, setitem("a", None), "a:\nb: 2\n"),
    ("None, keyword null style", "a: 1\nb: 2\n", q.OPT_NULL_AS_KEYWORD, setitem("a", None), "a: null\nb: 2\n"),
    ("None, tilde null style", "a: 1\nb: 2\n", q.OPT_NULL_AS_TILDE, setitem("a", None), "a: ~\nb: 2\n"),
    ("None item, tilde", "- 1\n", q.OPT_NULL_AS_TILDE, setitem(0, None), "- ~\n"),
    ("None key, keyword", "a: 1\n", q.OPT_NULL_AS_KEYWORD, setitem(None, 2), "a: 1\nnull: 2\n"),
    # Strings that need quotes, under each quote option.
    ("bool word, double quotes", "a: 1\n", 0, setitem("a", "true"), 'a: "true"\n'),
    ("bool word, single quotes", "a: 1\n", q.OPT_SINGLE_QUOTES, setitem("a", "true"), "a: 'true'\n"),
    ("number text, single quotes", "a: 1\n", q.OPT_SINGLE_QUOTES, setitem("a", "0x1F"), "a: '0x1F'\n"),
    ("empty string", "a: 1\n", q.OPT_SINGLE_QUOTES, setitem("a", ""), "a: ''\n"),
    ("quote inside, single preferred", "a: 1\n", q.OPT_SINGLE_QUOTES, setitem("a", "'x'"), "a: \"'x'\"\n"),
    ("line break, single preferred", "a: 1\n", q.OPT_SINGLE_QUOTES, setitem("a", "x\ny"), 'a: "x\\ny"\n'),
    ("control char, single preferred", "a: 1\n", q.OPT_SINGLE_QUOTES, setitem("a", "x\ty"), 'a: "x\\ty"\n'),
    ("plain string stays plain", "a: 1\n", q.OPT_SINGLE_QUOTES, setitem("a", "hello world"), "a: hello world\n"),
    ("comment-like text quoted", "a: 1\n", 0, setitem("a", "x #y"), 'a: "x #y"\n'),
    ("yes is quoted for YAML 1.1", "a: 1\n", q.OPT_YAML_1_1, setitem("a", "yes"), 'a: "yes"\n'),
    # A document that reads plain timestamps as dates keeps such a string a string.
    ("date text quoted when timestamps are read", "a: 1\n", q.OPT_TIMESTAMPS, setitem("a", "2001-12-14"),
     'a: "2001-12-14"\n'),
    ("date text plain otherwise", "a: 1\n", 0, setitem("a", "2001-12-14"), "a: 2001-12-14\n"),
    # A type tag is kept only over a value of its type.
    ("int tag kept over an int", "a: !!int 3\n", 0, setitem("a", 7), "a: !!int 7\n"),
    ("int tag dropped over text", "a: !!int 3\n", 0, setitem("a", "x"), "a: x\n"),
    ("bool tag dropped over text", "a: !!bool true\n", 0, setitem("a", "x"), "a: x\n"),
]


@pytest.mark.parametrize("name,text,option,edit,expected", EDITS, ids=[e[0] for e in EDITS])
def test_edit_gives_exact_text(name, text, option, edit, expected):
    d = load(text, option)
    edit(d)
    out = d.to_yaml()
    assert out.decode() == expected
    assert q.dumps(d) == out
    # The text reads back to what the document now says.
    assert q.loads(out, option=option & q.OPT_YAML_1_1) == d.to_dict()


def test_flow_collection_edit_keeps_trailing_comment():
    d = load("s: [1, 2, 3]  # n\nm: {a: 1}  # c\n")
    d["s"][1] = "x"
    d["m"]["a"] = 2
    assert d.to_yaml() == b"s: [1, x, 3]  # n\nm: {a: 2}  # c\n"


def test_deleting_first_flow_item_keeps_trailing_comment():
    d = load("s: [a, b]  # n\nm: {a: 1, b: 2}  # c\n")
    del d["s"][0]
    del d["m"]["a"]
    assert d.to_yaml() == b"s: [b]  # n\nm: {b: 2}  # c\n"


# ---- multi-document objects ----

MULTI = "%YAML 1.2\n---\na: 1  # one\n...\n---\nb: 2\n---\n- c\n"


def test_multi_document_replace_keeps_directives_and_markers():
    m = load(MULTI)
    m[0] = {"z": [1, 2]}
    assert m.to_yaml().decode() == "%YAML 1.2\n---\nz:\n- 1\n- 2\n...\n---\nb: 2\n---\n- c\n"
    m[2] = "text"
    assert m.to_yaml().decode() == "%YAML 1.2\n---\nz:\n- 1\n- 2\n...\n---\nb: 2\n---\ntext\n"


def test_multi_document_delete_is_rendered():
    m = load(MULTI)
    del m[1]
    assert len(m) == 2
    assert m.to_yaml().decode() == "%YAML 1.2\n---\na: 1  # one\n...\n---\n- c\n"
    del m[0]
    # One document is left: keys now address its items.
    assert m.to_yaml().decode() == "---\n- c\n"
    assert m.to_dict() == ["c"]


def test_multi_document_errors():
    m = load(MULTI)
    before = m.to_yaml()
    with pytest.raises(IndexError, match="^index out of range$"):
        m[3] = 1
    with pytest.raises(IndexError, match="^index out of range$"):
        del m[3]
    with pytest.raises(TypeError):
        m["a"] = 1
    with pytest.raises(OverflowError):
        del m[-1]
    assert m.to_yaml() == before
    empty = load("")
    with pytest.raises(IndexError, match="^index out of range$"):
        empty[0] = 1


def test_multi_document_views_edit_their_own_document():
    m = load("---\na: 1\n---\na: 2\nb: [1]\n")
    m[1]["a"] = 20
    m[1]["b"][0] = 10
    assert m.to_yaml().decode() == "---\na: 1\n---\na: 20\nb: [10]\n"
    v = m[1]
    del v["b"]
    assert m.to_dict() == [{"a": 1}, {"a": 20}]


def test_loads_all_documents_edit_separately():
    docs = q.loads_all("a: 1\n---\nb: 2  # keep\n", option=RT)
    docs[1]["c"] = 3
    assert b"".join(d.to_yaml() for d in docs) == b"a: 1\n---\nb: 2  # keep\nc: 3\n"


# ---- views ----


def test_view_edits_are_live_both_ways():
    d = load("server:\n  host: a  # h\n  ports: [1, 2]\n")
    v = d["server"]
    v["host"] = "b"
    assert d["server"]["host"] == "b"
    d["server"]["ports"][1] = 3
    assert v["ports"].to_dict() == [1, 3]
    del v["ports"]
    assert d.to_yaml().decode() == "server:\n  host: b  # h\n"


def test_stale_view_refuses_edits_until_its_path_resolves_again():
    d = load("a:\n  x: 1\nb: 2\n")
    v = d["a"]
    del d["a"]
    for op in (lambda: v.__setitem__("x", 1), lambda: v.__delitem__("x")):
        with pytest.raises(KeyError, match="stale view"):
            op()
    d["a"] = {"y": 1}
    v["y"] = 2
    assert d.to_dict() == {"b": 2, "a": {"y": 2}}


def test_edit_errors_leave_text_unchanged():
    d = load("a: 1\ns: [1]\nm: {k: v}\n")
    before = d.to_yaml()
    cases = [
        (lambda: d.__setitem__("a", (1, 2)), TypeError, r"^cannot convert \(1, 2\) to a YAML node$"),
        (lambda: d.__setitem__("a", {1, 2}), TypeError, "cannot convert"),
        (lambda: d.__setitem__("a", b"x"), TypeError, r"^cannot convert b'x' to a YAML node$"),
        (lambda: d.__setitem__("a", "\ud800"), TypeError, "cannot convert"),
        (lambda: d.__setitem__((1, 2), 1), TypeError, "cannot convert"),
        (lambda: d.__setitem__("a", [1, object()]), TypeError, "cannot convert"),
        (lambda: d["s"].__setitem__(1, 0), IndexError, "^index out of range$"),
        (lambda: d["s"].__setitem__("x", 0), TypeError, None),
        (lambda: d["s"].__setitem__(-1, 0), OverflowError, None),
        (lambda: d["s"].__delitem__(5), IndexError, "^index out of range$"),
        (lambda: d.__delitem__("missing"), KeyError, "missing"),
    ]
    for op, exc, pattern in cases:
        with pytest.raises(exc, match=pattern):
            op()
        assert d.to_yaml() == before
    with pytest.raises(KeyError) as info:
        del d[(1, 2)]
    assert info.value.args == ((1, 2),)


def test_scalar_root_is_not_a_collection():
    d = load("42\n")
    with pytest.raises(TypeError, match="^node is not a mapping or sequence$"):
        d["a"] = 1
    with pytest.raises(TypeError, match="^node is not a mapping or sequence$"):
        del d[0]


# ---- keys written differently are different entries ----


def test_plain_and_quoted_keys_are_distinct():
    d = load('1: x\n"1": y\n')
    assert d[1] == "x"
    assert d["1"] == "y"
    d[1] = "z"
    assert d.to_yaml().decode() == '1: z\n"1": y\n'
    d["1"] = "w"
    assert d.to_yaml().decode() == '1: z\n"1": w\n'
    del d[1]
    assert d.to_yaml().decode() == '"1": w\n'


def test_views_through_differently_written_keys():
    d = load('1: {a: 1}\n"1": {a: 2}\n')
    v = d[1]
    v["a"] = 10
    assert d.to_dict() == {1: {"a": 10}, "1": {"a": 2}}


def test_date_text_keys_stay_strings_under_timestamps():
    d = load("a: 1\n", q.OPT_TIMESTAMPS)
    d["2001-12-15"] = 1
    d["2001-12-15"] = 2  # finds the entry it wrote
    assert d.to_dict() == {"a": 1, "2001-12-15": 2}
    assert d.to_yaml() == b'a: 1\n"2001-12-15": 2\n'


def test_host_equality_matches_keys():
    d = load("1: a\nnull: c\n'2': d\n")
    d[1.0] = "A"
    d[None] = "C"
    d[2] = "E"  # the quoted '2' is a string: a new entry
    assert d.to_yaml().decode() == "1: A\nnull: C\n'2': d\n2: E\n"
    # True equals 1 for the host, and the last matching entry is taken.
    d = load("1: a\ntrue: b\n")
    d[1] = "x"
    assert d.to_yaml().decode() == "1: a\ntrue: x\n"


# ---- the alias rule ----

REFUSED = [
    ("delete anchored value", "a: &x 1\nb: *x\n", delitem("a"), "x"),
    ("delete anchored item", "- &x 1\n- *x\n", delitem(0), "x"),
    ("delete anchored key", "&k a: 1\nb: *k\n", delitem("a"), "k"),
    ("assign over the anchor's subtree", "a:\n  k: &x 1\nb: *x\n", setitem("a", 0), "x"),
    ("assign over an item holding the anchor", "- [&x 1]\n- *x\n", setitem(0, None), "x"),
    ("view delete", "m:\n  a: &x 1\nb: *x\n", delitem("m", "a"), "x"),
    ("view assign", "m:\n  a: [&x 1]\nb: *x\n", setitem("m", "a", []), "x"),
]


@pytest.mark.parametrize("name,text,edit,anchor", REFUSED, ids=[r[0] for r in REFUSED])
def test_alias_rule_refuses_and_leaves_bytes(name, text, edit, anchor):
    d = load(text)
    with pytest.raises(ValueError) as info:
        edit(d)
    assert str(info.value) == (
        f"deleting this node would remove anchor '&{anchor}', still referenced by an alias "
        f"'*{anchor}' elsewhere; the result would not re-parse. Remove or rewrite the alias first."
    )
    assert d.to_yaml().decode() == text
    assert q.loads(d.to_yaml()) == q.loads(text)


def test_alias_rule_allows_what_keeps_references():
    # Assigning to an anchored node keeps the anchor, so the alias follows.
    d = load("a: &x 1\nb: *x\n")
    d["a"] = [1, 2]
    assert d.to_yaml().decode() == "a: &x\n- 1\n- 2\nb: *x\n"
    assert q.loads(d.to_yaml()) == {"a": [1, 2], "b": [1, 2]}
    # A second definition before the alias still serves it.
    d = load("a: &x 1\nb: &x 2\nc: *x\n")
    del d["b"]
    assert q.loads(d.to_yaml()) == {"a": 1, "c": 1}


def test_alias_rule_respects_documents():
    m = load("a: &x 1\n---\nb: &x 2\nc: *x\n")
    with pytest.raises(ValueError, match="anchor '&x'"):
        del m[1]["b"]
    del m[0]["a"]  # document 0's anchor never served document 1
    assert q.loads_all(m.to_yaml()) == [{}, {"b": 2, "c": 2}]


# ---- host values to nodes ----


class Index:
    def __index__(self):
        return 12


class Floaty:
    def __float__(self):
        return 2.5


CONVERSIONS = [
    (True, "true"),
    (False, "false"),
    (1, "1"),
    (-7, "-7"),
    (2**70, "1180591620717411303424"),
    (-(2**70), "-1180591620717411303424"),
    (1.5, "1.5"),
    (float("inf"), ".inf"),
    (float("-inf"), "-.inf"),
    (float("nan"), ".nan"),
    (1e20, "1.0e+20"),
    (Index(), "12"),
    (Floaty(), "2.5"),
    ("plain", "plain"),
    ("", '""'),
    ("null", '"null"'),
    ("1.5", '"1.5"'),
    ("- x", '"- x"'),
    ("caf\u00e9", "caf\u00e9"),
]


@pytest.mark.parametrize("value,text", CONVERSIONS, ids=[repr(c[0]) for c in CONVERSIONS])
def test_host_values_become_scalars(value, text):
    d = load("k: 0\n")
    d["k"] = value
    assert d.to_yaml().decode() == f"k: {text}\n"


def test_decimal_and_numpy_like_values():
    import decimal

    d = load("k: 0\n")
    d["k"] = decimal.Decimal("0.25")
    assert d.to_yaml() == b"k: 0.25\n"
    np = pytest.importorskip("numpy")
    d["k"] = np.bool_(True)
    assert d.to_yaml() == b"k: true\n"
    d["k"] = np.int64(-3)
    assert d.to_yaml() == b"k: -3\n"
    d["k"] = np.uint64(2**64 - 1)
    assert d.to_yaml() == b"k: 18446744073709551615\n"
    d["k"] = np.float32(0.5)
    assert d.to_yaml() == b"k: 0.5\n"


def test_assigned_nodes_report_position_one_one():
    d = load("a: 1\nb: 2\n")
    d["c"] = {"x": 1}
    assert d["c"].range() == (1, 1, 1, 1)


def test_deep_values():
    d = load("a: 1\n")
    before = d.to_yaml()
    deep = 1
    for _ in range(1000):
        deep = [deep]
    with pytest.raises(ValueError, match=r"^value is too deeply nested to assign \(possible self-reference\)$"):
        d["a"] = deep
    # Levels count from the document root, so the edited text stays within
    # the loader's nesting limit: under a root key one level less fits.
    ok = 1
    for _ in range(998):
        ok = [ok]
    with pytest.raises(ValueError, match="too deeply nested"):
        d["b"] = [ok]
    assert d.to_yaml() == before
    d["b"] = ok
    assert d["b"].range() == (1, 1, 1, 1)
    out = d.to_yaml()
    assert out.count(b"-") == 998
    assert d.to_yaml() == out
    assert "b" in q.loads(out)  # it reloads
    del d["b"]
    m = load("---\na: 1\n---\nb: 2\n")
    m[0] = [ok]  # a whole document may use every level
    assert len(q.loads_all(m.to_yaml())) == 2
    with pytest.raises(ValueError, match="too deeply nested"):
        m[0] = [[ok]]
    v = load("a:\n  b: [x]\n")["a"]["b"]
    with pytest.raises(ValueError, match="too deeply nested"):
        v[0] = ok[0]
    v[0] = ok[0][0]
    selfref = []
    selfref.append(selfref)
    with pytest.raises(ValueError, match="possible self-reference"):
        d["a"] = selfref
    selfdict = {}
    selfdict["me"] = selfdict
    with pytest.raises(ValueError, match="possible self-reference"):
        d["a"] = selfdict
    assert d.to_yaml() == before


def test_conversion_runs_host_code_safely():
    class Evil:
        def __index__(self):
            items.clear()
            return 1

    items = [Evil(), Evil(), 3]
    d = load("a: 0\n")
    d["a"] = items
    assert d.to_dict() == {"a": [1, 1, 3]}


def test_reentrant_edit_during_key_comparison_is_refused():
    seen = []

    class Key:
        def __eq__(self, other):
            try:
                d["x"] = 1
            except RuntimeError as e:
                seen.append(str(e))
            return False

        def __hash__(self):
            return 0

    d = load("a: 1\n")
    with pytest.raises(TypeError, match="cannot convert"):
        d[Key()] = 2
    assert seen == ["Already borrowed"]
    assert d.to_yaml() == b"a: 1\n"


def test_float_formats_read_back():
    d = load("k: 0\n")
    for v in (0.1, 1e-7, 123456789.125, -0.0, 5e-324):
        d["k"] = v
        got = q.loads(d.to_yaml())["k"]
        assert got == v and math.copysign(1, got) == math.copysign(1, v)


def test_view_through_alias_edits_the_anchored_node():
    d = load("base: &b {k: 1}\nuse: *b\n")
    d["use"]["k"] = 5
    assert d.to_yaml() == b"base: &b {k: 5}\nuse: *b\n"
    assert d.to_dict() == {"base": {"k": 5}, "use": {"k": 5}}
    # Replacing the anchored node keeps its anchor, so the alias follows.
    d["base"] = 3
    assert q.loads(d.to_yaml()) == {"base": 3, "use": 3}


def test_whole_document_edits_are_not_alias_checked_across_documents():
    m = load("a: &x 1\nb: *x\n---\nc: 2\n")
    m[0] = {"a": 2}  # the alias went with its document
    assert q.loads_all(m.to_yaml()) == [{"a": 2}, {"c": 2}]


def test_deep_edits_on_a_small_stack():
    # Conversion, the alias check and re-emission of 1000-level trees must
    # not run out of a 256 KiB thread stack.
    def work():
        flow = load("[" * 999 + "1" + "]" * 999 + "\n")
        v = flow
        for _ in range(997):
            v = v[0]
        v[0] = [2]
        block = load("".join("  " * i + "k:\n" for i in range(999)) + "  " * 999 + "v\n")
        v = block
        for _ in range(998):
            v = v["k"]
        v["k"] = "w"
        assigned = load("a: 1\n")
        deep = 1
        for _ in range(998):
            deep = [deep]
        assigned["a"] = deep
        with pytest.raises(ValueError, match="too deeply nested"):
            assigned["b"] = [deep]
        return [d.to_yaml() for d in (flow, block, assigned)]

    flow, block, assigned = run_in_small_thread(work)
    assert flow == ("[" * 999 + "2" + "]" * 999 + "\n").encode()
    assert block.endswith(b"  " * 998 + b"k: w\n")
    reloaded = q.loads(assigned)["a"]
    for _ in range(998):
        reloaded = reloaded[0]
    assert reloaded == 1
