"""Round-trip documents keep their texts alive: documents, views, anchor nodes
and to_tree snapshots stay readable through deletions, replacements and
re-edits done in every order, and every rendering reads back as the edits
say (texts read from the source are views into the document's kept copy)."""

import gc
import itertools

import pytest

import quillfern as q

RT = q.OPT_ROUND_TRIP

# Long and short texts, escaped and folded ones (owned), plain ones (viewed),
# anchors, aliases, tags and comments.
SINGLE = (
    "# head comment\n"
    "name: a plain value long enough to need a heap block  # trailing\n"
    "short: x\n"
    'escaped: "tab\\there and a long tail of text"\n'
    "block: |\n  literal line one\n  literal line two\n"
    "folded: >\n  folded text\n  continues here\n"
    "nested: &anchor\n  inner: !!str value with a tag and some length\n  other: [one, two]\n"
    "alias: *anchor\n"
    "list:\n  - first item of the list\n  - second\n"
)

SINGLE_OPS = {
    "replace scalar": lambda d: d.__setitem__("name", "a new value written by an edit"),
    "delete block": lambda d: (d.__delitem__("block"), d.__setitem__("escaped", {"deep": ["kept", "texts"]})),
    "re-edit item": lambda d: (d["list"].__setitem__(0, "x" * 40), d["list"].__setitem__(0, "second edit")),
    "copy a view's value": lambda d: d.__setitem__("copied", d["list"].to_dict()),
    "delete through held nesting": lambda d: d["nested"].__delitem__("other"),
}

MULTI = (
    "%YAML 1.2\n---\nfirst: &a a long first-document value  # one\nref: *a\n...\n"
    "---\nsecond: 'quoted text of some length'\nitems: [p, q, r]\n"
    "---\nthird: |\n  kept block text\n"
    "---\nfourth: plain text of the fourth document\n"
)

MULTI_OPS = {
    "delete document": lambda m: m.__delitem__(0),
    "replace document": lambda m: m.__setitem__(len(m) - 1, {"new": "a replacement document root"}),
    "edit a document": lambda m: m[0].__setitem__("added", "an added long value in a document"),
    "re-edit a document": lambda m: (m[1].__setitem__("x", 1), m[1].__setitem__("x", "again, longer text")),
    "copy across documents": lambda m: m[0].__setitem__("from_last", m[len(m) - 1].to_dict()),
}


def tree_data(node):
    """A snapshot as plain data: every field, children flattened."""
    if node is None:
        return None
    value = node.value
    if node.kind == "mapping":
        value = tuple((tree_data(k), tree_data(v)) for k, v in value)
    elif node.kind == "sequence":
        value = tuple(tree_data(v) for v in value)
    return (node.kind, node.style, node.tag, node.anchor, node.comment, node.comment_before,
            node.comment_after, node.is_merge_key, value)


def readable(view):
    """A held view: its value, or the stale-view refusal once its node is gone."""
    try:
        return view.to_dict()
    except KeyError:
        return None


def snapshot(doc, single):
    """to_tree of the document (of its first root for a stream) with its data now."""
    tree = doc.to_tree() if single else None
    return tree, tree_data(tree)


def check_snapshots(snapshots):
    # A snapshot is its own copy: later edits and deletions never reach it.
    for tree, data in snapshots:
        assert tree_data(tree) == data


def run_order(text, ops, order, single):
    doc = q.loads(text, option=RT)
    views = [doc["nested"], doc["list"], doc["nested"]["other"]] if single else [doc[i] for i in range(len(doc))]
    anchors = dict(doc.anchors)
    snapshots = [snapshot(doc, single)]
    assert doc.to_yaml() == text.encode()
    for name in order:
        ops[name](doc)
        out = doc.to_yaml()
        # Every rendering reads back as the document reads now.
        assert (q.loads(out) if single else q.loads_all(out)) == doc.to_dict(), (order, name)
        assert doc.to_yaml() == out
        for v in views:
            readable(v)
        snapshots.append(snapshot(doc, single))
        check_snapshots(snapshots)
    final = doc.to_yaml()
    # The document object goes away while views, anchor nodes and snapshots
    # are held.
    del doc
    for v in views:
        readable(v)
    assert len(anchors) == 1
    check_snapshots(snapshots)
    return final


@pytest.mark.parametrize(
    "text, ops, single",
    [(SINGLE, SINGLE_OPS, True), (MULTI, MULTI_OPS, False)],
    ids=["single document", "document stream"],
)
def test_edits_in_every_order_keep_texts_alive(text, ops, single):
    finals = {run_order(text, ops, order, single) for order in itertools.permutations(ops)}
    # Orders differ in results (appended keys, replaced documents), never in
    # being readable.
    assert all(q.loads_all(f) for f in finals)


def test_unedited_parts_render_from_kept_texts_after_document_deletion():
    m = q.loads(MULTI, option=RT)
    second = m[1]
    del m[0]
    # The stream is now re-emitted from its trees: texts viewed from the
    # source must still be there, byte for byte.
    assert m.to_yaml().decode() == (
        "---\nsecond: 'quoted text of some length'\nitems: [p, q, r]\n"
        "---\nthird: |\n  kept block text\n"
        "---\nfourth: plain text of the fourth document\n"
    )
    del m
    gc.collect()
    # Views address documents by place: this one now reads the next document.
    assert readable(second) == {"third": "kept block text\n"}


def test_loads_all_documents_outlive_each_other():
    docs = q.loads_all(MULTI, option=RT)
    keep = docs[2]
    tree = keep.to_tree()
    del docs
    gc.collect()
    assert keep.to_yaml() == b"---\nthird: |\n  kept block text\n"
    keep["third"] = "changed"
    assert keep.to_yaml() == b"---\nthird: changed\n"
    assert tree_data(tree)[0] == "mapping"
