#!/usr/bin/env python3
"""QuillfernNode against ruamel.yaml's round-trip containers, on the corpus.

Two ratios measured in one run (ruamel's time divided by quillfern's):

- metadata: line, column and inline comment of every scalar leaf, through
  doc.locate(path) against ruamel's `lc` and `ca` on the same loaded data
  (loading excluded on both sides);
- edit: load, one value edit and one comment edit, then the text, against
  ruamel's load, the same two edits and dump.

    python benchmarks/node_bench.py
"""
from __future__ import annotations

import io
import pathlib
import sys

import quillfern

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from bench import best_time, corpus_texts  # noqa: E402

try:
    from ruamel.yaml import YAML as RuamelYAML
    from ruamel.yaml.comments import CommentedMap, CommentedSeq
except Exception:  # pragma: no cover - optional peer
    RuamelYAML = None

RT = quillfern.OPT_ROUND_TRIP


def leaf_paths(doc) -> list[tuple]:
    """Paths of the scalar leaves that both libraries address alike: str keys
    and list indices only."""
    return [p for p, _ in doc.walk()
            if p and all(isinstance(s, (str, int)) and not isinstance(s, bool) for s in p) and doc.locate(p)]


def ruamel_parent(data, path):
    for step in path[:-1]:
        data = data[step]
    return data


def cases() -> list[tuple[str, object, object, list[tuple]]]:
    """(text, quillfern document, ruamel data, leaf paths) for every corpus text
    holding one document that both libraries load and address alike."""
    ry = RuamelYAML()
    out = []
    for text in corpus_texts():
        try:
            doc = quillfern.loads(text, option=RT)
            data = ry.load(text)
            paths = leaf_paths(doc)
            for p in paths:
                ruamel_parent(data, p)[p[-1]]
                if not isinstance(ruamel_parent(data, p), (CommentedMap, CommentedSeq)):
                    raise TypeError
        except Exception:  # noqa: BLE001 - multi-document texts, keys ruamel types differently
            continue
        if paths:
            out.append((text, doc, data, paths))
    return out


def ours_metadata(items):
    for _, doc, _, paths in items:
        for p in paths:
            n = doc.locate(p)
            n.line, n.column, n.comment


def ruamel_metadata(items):
    for _, _, data, paths in items:
        for p in paths:
            parent = ruamel_parent(data, p)
            k = p[-1]
            parent.lc.value(k) if isinstance(parent, CommentedMap) else parent.lc.item(k)
            parent.ca.items.get(k)


def ours_edit(items):
    for text, _, _, paths in items:
        doc = quillfern.loads(text, option=RT)
        n = doc.locate(paths[0])
        n.value = "edited"
        n.comment = "note"
        doc.to_yaml()


def ruamel_edit(items, ry):
    for text, _, _, paths in items:
        data = ry.load(text)
        parent = ruamel_parent(data, paths[0])
        k = paths[0][-1]
        parent[k] = "edited"
        parent.yaml_add_eol_comment("note", k)
        ry.dump(data, io.StringIO())


def main() -> None:
    if RuamelYAML is None:
        print("ruamel.yaml is not installed: nothing to compare with")
        return
    items = cases()
    leaves = sum(len(c[3]) for c in items)
    print(f"QuillfernNode vs ruamel.yaml: {len(items)} corpus texts, {leaves} scalar leaves")
    ours = best_time(lambda: ours_metadata(items), 5)
    peer = best_time(lambda: ruamel_metadata(items), 5)
    print(f"metadata (line, column, comment per leaf)  quillfern {ours * 1e3:8.2f} ms  ruamel {peer / ours:6.1f}x")
    ry = RuamelYAML()
    ours = best_time(lambda: ours_edit(items), 3)
    peer = best_time(lambda: ruamel_edit(items, ry), 2)
    print(f"load + value edit + comment edit + text  quillfern {ours * 1e3:8.2f} ms  ruamel {peer / ours:6.1f}x")


if __name__ == "__main__":
    main()
