"""Unedited block scalars in edited round-trip documents: their verbatim text
is kept where it reads back as the same value (an indentation indicator
included), and keep-chomped text at the very end of the input, whose last
line has no line break, is closed so that what follows cannot change it."""

import pytest

import quillfern as q

RT = q.OPT_ROUND_TRIP


def load(text):
    return q.loads(text.encode(), option=RT)


def new_key(*path):
    def edit(d):
        target = d
        for p in path:
            target = target[p]
        target["zz"] = 1
    return edit


def foot(*path):
    def edit(d):
        node = d.node
        for p in path:
            node = node[p]
        node.comment_after = "foot"
    return edit


# Texts that end inside a keep-chomped block scalar, with the edits that put
# something after it.
OPEN_ENDINGS = [
    ("a: |+\n  x", [new_key(), foot()]),
    ("a: >+\n  x\n  y", [new_key(), foot()]),
    ("a: |+\n  x\n  ", [new_key(), foot()]),  # a last line of indentation only
    ("a: |+\n  x\n\n  ", [new_key(), foot()]),
    ("a: |+\n  x\n     ", [new_key(), foot()]),  # SPACEs past the indentation are content
    ("a: >+\n  x\n\n  y\n  ", [new_key(), foot()]),
    ("a: |+ # note\n  x", [new_key(), foot()]),
    ("a: |+ # note\n  x\n  ", [new_key(), foot()]),
    ("a: |2+\n   x", [new_key(), foot()]),
    ("a: |+\n  x\r\n  ", [new_key(), foot()]),
    ("a: !t &k |+\n  x", [new_key(), foot()]),
    ("a: |+\n", [new_key(), foot()]),
    ("a: |+\n  ", [new_key(), foot()]),
    ("s:\n- |+\n  x", [new_key(), foot(), foot("s")]),
    ("s:\n- >+\n  x\n  ", [new_key(), foot(), foot("s")]),
    ("- |+\n  x", [foot()]),
    ("- |+\n   ", [foot()]),
    ("- a\n- - |+\n    x\n    ", [foot(), foot(1)]),
    ("a:\n  b: |+\n    x", [new_key(), new_key("a"), foot(), foot("a")]),
    ("a:\n  b: |+\n    x\n    ", [new_key(), new_key("a"), foot(), foot("a")]),
]


@pytest.mark.parametrize(
    "text, edit",
    [(t, e) for t, edits in OPEN_ENDINGS for e in edits],
    ids=[f"{t!r}-{i}" for t, edits in OPEN_ENDINGS for i in range(len(edits))],
)
def test_text_after_an_open_keep_scalar_leaves_its_value(text, edit):
    doc = load(text)
    before = doc.to_dict()
    edit(doc)
    out = doc.to_yaml()
    assert q.loads(out) == doc.to_dict()
    assert q.loads(out, option=RT).to_dict() == doc.to_dict()
    # The scalar itself reads as it did.
    assert without_new_keys(doc.to_dict()) == before


def without_new_keys(value):
    if isinstance(value, dict):
        return {k: without_new_keys(v) for k, v in value.items() if k != "zz"}
    if isinstance(value, list):
        return [without_new_keys(v) for v in value]
    return value


@pytest.mark.parametrize("text", [t for t, _ in OPEN_ENDINGS])
def test_an_open_keep_scalar_left_last_keeps_its_bytes(text):
    doc = load("first: 0\n---\n" + text)
    doc[0] = {"first": 1}
    assert doc.to_yaml() == ("first: 1\n---\n" + text).encode()


# Block scalars with an indentation indicator, and the path of the value "b"
# that the edit changes.
INDICATED = [
    ("a: |2\n   x\nb: 1\n", ["b"]),
    ("a: >1-\n  x\n  y\nb: 1\n", ["b"]),
    ("a: |4+\n     x\n\nb: 1\n", ["b"]),
    ("a: |2\n\n  \n   x\nb: 1\n", ["b"]),  # leading empty lines
    ("a: |2+\n  \nb: 1\n", ["b"]),  # no content
    ("a: |1 # note\n  x\n y\nb: 1\n", ["b"]),
    ("top:\n  a: |2\n     x\n  b: 1\n", ["top", "b"]),
    ("top:\n  a: >1-\n     x\n    y\n  b: 1\n", ["top", "b"]),
    ("top:\n  - |4+\n       x\n\n  - >1-\n     y\nb: 1\n", ["b"]),
    ("s:\n- |2\n   x\n- |4+\n     x\n\nb: 1\n", ["b"]),
    ("- - |2\n     x\n  - >1-\n    y\n- b: 1\n", [1, "b"]),
    ("k:\n  m:\n    n: |1\n      x\n     y\n    b: 1\n", ["k", "m", "b"]),
    ("? |2\n   key\n: v\nb: 1\n", ["b"]),
    ("a: 1\n---\n|2\n   x\n", [0, "a"]),
    ("a: 1\n---\n- >2-\n   x\n  y\n", [0, "a"]),
    ("b: 1\n--- |1+\n  x\n", [0, "b"]),
]


def edit_b(doc, path):
    target = doc
    for p in path[:-1]:
        target = target[p]
    target[path[-1]] = 2


@pytest.mark.parametrize("text, path", INDICATED)
def test_an_indicated_block_scalar_is_pasted_where_its_indentation_holds(text, path):
    doc = load(text)
    edit_b(doc, path)
    out = doc.to_yaml().decode()
    expected = text.replace(": 1", ": 2")
    if path[0] == 0:
        expected = expected.replace("--- ", "---\n")  # the root's own line
    assert out == expected
    assert [d.to_dict() for d in q.loads_all(out, option=RT)] == [d.to_dict() for d in q.loads_all(expected, option=RT)]


@pytest.mark.parametrize("text", [t for t, _ in INDICATED if t.startswith(("top", "k:", "s:", "- -"))])
def test_an_indicated_block_scalar_moved_elsewhere_still_reads_the_same(text):
    doc = load(text)
    view = doc[0] if text[0] == "-" else doc[text.split(":", 1)[0]]
    # A view writes its node at the top level: the indentation moves.
    assert q.loads(view.to_yaml()) == view.to_dict()
