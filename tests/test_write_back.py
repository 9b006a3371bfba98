"""Writing edits back into real include trees: which files save and
dump_includes rewrite, what each file holds afterwards, and the edits that
are refused before anything is written."""

import os

import pytest

import quillfern as q
from test_directives import tree

RT = q.OPT_ROUND_TRIP | q.OPT_INCLUDES | q.OPT_SECRETS | q.OPT_ENV_VAR
SECRET = "s3cret-value"
ENV = "env-value-77"


@pytest.fixture(autouse=True)
def env_value(monkeypatch):
    monkeypatch.setenv("QF_WB", ENV)


def load_tree(tmp_path, files, main="main.yaml"):
    """The tree under tmp_path/conf, and its main file loaded with its origin set."""
    conf = tree(tmp_path / "conf", files)
    path = conf / main
    doc = q.loads(path.read_bytes(), option=RT, include_dir=str(conf), root_path=str(path))
    doc.set_origin(str(path))
    return conf, doc


def snapshot(conf):
    return {str(p.relative_to(conf)): p.read_bytes() for p in sorted(conf.rglob("*")) if not p.is_dir()}


def written(conf, paths):
    """save()'s list as names relative to the tree."""
    return [os.path.relpath(p, conf.resolve()) for p in paths]


def reload(conf, main="main.yaml"):
    path = conf / main
    return q.loads(path.read_bytes(), option=RT, include_dir=str(conf), root_path=str(path)).to_dict()


# ---- which files are written ----


def test_each_file_is_written_for_its_own_edits(tmp_path):
    files = {
        "main.yaml": "# main\nname: app  # kept\nsub: !include sub/b.yaml\nopts: { a: 1 ,  b: 2 }\n",
        "sub/b.yaml": "b: 1  # b note\nnested: !include c.yaml\n",
        "sub/c.yaml": "- c1\n- c2\n",
    }
    conf, doc = load_tree(tmp_path, files)
    assert doc.save() == []
    assert q.dump_includes_map(doc) == {str(conf.resolve() / k): v.encode() for k, v in files.items()
                                        if k != "main.yaml"}
    before = snapshot(conf)
    q.dump_includes(doc)
    assert snapshot(conf) == before

    doc["sub"]["nested"][1] = "changed"
    assert written(conf, doc.save()) == ["sub/c.yaml"]
    assert snapshot(conf) == {**before, "sub/c.yaml": b"- c1\n- changed\n"}
    # Only included content changed: the main text is its loaded bytes.
    assert doc.to_yaml() == before["main.yaml"]
    assert written(conf, doc.save(str(conf / "copy.yaml"))) == ["copy.yaml", "sub/c.yaml"]
    assert (conf / "copy.yaml").read_bytes() == before["main.yaml"]
    (conf / "copy.yaml").unlink()

    doc["sub"]["b"] = 2
    assert written(conf, doc.save()) == ["sub/b.yaml", "sub/c.yaml"]
    assert (conf / "sub/b.yaml").read_bytes() == b"b: 2  # b note\nnested: !include c.yaml\n"

    doc["name"] = "other"
    assert written(conf, doc.save()) == ["main.yaml", "sub/b.yaml", "sub/c.yaml"]
    assert (conf / "main.yaml").read_bytes() == (b"# main\nname: other  # kept\nsub: !include sub/b.yaml\n"
                                                 b"opts: {a: 1, b: 2}\n")
    assert reload(conf) == {"name": "other", "sub": {"b": 2, "nested": ["c1", "changed"]}, "opts": {"a": 1, "b": 2}}


def test_an_edit_of_a_document_without_origin_needs_a_path_before_any_file_is_written(tmp_path):
    conf = tree(tmp_path / "conf", {"b.yaml": "x: 1\n"})
    doc = q.loads("a: !include b.yaml\nk: 1\n", option=RT, include_dir=str(conf))
    doc["a"]["x"] = 2
    doc["k"] = 2
    with pytest.raises(ValueError, match="save\\(\\) needs a path"):
        doc.save()
    assert (conf / "b.yaml").read_bytes() == b"x: 1\n"
    assert written(conf, doc.save(str(conf / "main.yaml"))) == ["main.yaml", "b.yaml"]


def test_a_whole_document_include_rewrites_only_its_file(tmp_path):
    conf, doc = load_tree(tmp_path, {"main.yaml": "# top\n!include b.yaml  # note\n", "b.yaml": "# own\nx: 1\n"})
    doc["x"] = 2
    assert written(conf, doc.save()) == ["b.yaml"]
    assert snapshot(conf) == {"main.yaml": b"# top\n!include b.yaml  # note\n", "b.yaml": b"# own\nx: 2\n"}
    assert doc.to_yaml() == b"# top\n!include b.yaml  # note\n"


# One file included at two places: (edits as (key, value), save's outcome,
# how often save lists the file, dump_includes_map's outcome); a conflict
# writes nothing.
CONFLICT = "'{}' is included more than once with conflicting edits"


@pytest.mark.parametrize("edits, saved, listed, mapped", [
    ([("p", 2)], "x: 2\n", 1, CONFLICT),
    # written once, listed for each place that holds the edit
    ([("p", 2), ("q", 2)], "x: 2\n", 2, "x: 2\n"),
    ([("p", 2), ("q", 3)], CONFLICT, 0, CONFLICT),
], ids=["one edit", "two equal edits", "two different edits"])
def test_a_file_included_twice(edits, saved, listed, mapped, tmp_path):
    conf, doc = load_tree(tmp_path, {"main.yaml": "p: !include b.yaml\nq: !include b.yaml\n", "b.yaml": "x: 1\n"})
    for key, value in edits:
        doc[key]["x"] = value
    path = str(conf.resolve() / "b.yaml")
    for call, outcome in ((lambda: q.dump_includes_map(doc), mapped), (lambda: q.dump_includes(doc), mapped),
                          (doc.save, saved)):
        if outcome == CONFLICT:
            with pytest.raises(q.QuillfernIncludeError, match=CONFLICT.format(path)) as info:
                call()
            assert info.value.file == path and info.value.include_stack == []
            assert (conf / "b.yaml").read_bytes() == b"x: 1\n"
    if saved != CONFLICT:
        assert doc.save() == [path] * listed
        assert (conf / "b.yaml").read_text() == saved
    if mapped != CONFLICT:
        assert q.dump_includes_map(doc) == {path: mapped.encode()}


# ---- what an included file holds afterwards ----


@pytest.mark.parametrize("loaded, expected", [
    ("x: 1\n---\ny: 2\n", "x: 5\n---\ny: 2\n"),
    # What lies between the first document and the second's start stays
    # once, and later documents stay byte for byte.
    ("x: 1  # c\n# after the first\n\n--- # second\ny:   2\n...\n---\r\nz: [3]\n",
     "x: 5  # c\n# after the first\n\n--- # second\ny:   2\n...\n---\r\nz: [3]\n"),
    ("%YAML 1.2\n---\nx: 1\n...\n%YAML 1.2\n---\ny: 2\n", "%YAML 1.2\n---\nx: 5\n...\n%YAML 1.2\n---\ny: 2\n"),
    ("x: 1\n--- |\n  text\n", "x: 5\n--- |\n  text\n"),
], ids=["two", "comments and markers", "directives", "block scalar"])
def test_an_included_file_of_several_documents_keeps_the_later_ones(loaded, expected, tmp_path):
    conf, doc = load_tree(tmp_path, {"main.yaml": "a: !include b.yaml\n", "b.yaml": loaded})
    doc["a"]["x"] = 5
    assert written(conf, doc.save()) == ["b.yaml"]
    assert (conf / "b.yaml").read_bytes() == expected.encode()
    assert q.dump_includes_map(doc) == {str(conf.resolve() / "b.yaml"): expected.encode()}
    assert reload(conf) == {"a": {"x": 5}}


@pytest.mark.parametrize("loaded, expected", [
    ("", "x: 5\n"),
    ("# only a comment\n", "# only a comment\nx: 5\n"),
    ("# no line break", "# no line break\nx: 5\n"),
    ("# c\n\n# d\n", "# c\n\n# d\nx: 5\n"),
    ("---\n", "---\nx: 5\n"),
])
def test_a_file_without_a_document_keeps_its_text_above_the_new_content(loaded, expected, tmp_path):
    conf, doc = load_tree(tmp_path, {"main.yaml": "a: !include b.yaml  # note\n", "b.yaml": loaded})
    assert q.dump_includes_map(doc) == {str(conf.resolve() / "b.yaml"): loaded.encode()}
    doc["a"]["x"] = 5
    assert written(conf, doc.save()) == ["b.yaml"]
    assert (conf / "b.yaml").read_bytes() == expected.encode()
    assert (conf / "main.yaml").read_bytes() == b"a: !include b.yaml  # note\n"
    assert reload(conf) == {"a": {"x": 5}}


def test_directives_keep_their_quoting_anchor_and_comments(tmp_path):
    main = ("# head\na: &inc !include 'b.yaml'  # single\nb: *inc\n"
            "c: !include \"c.yaml\"\nd: [!include c.yaml, !secret 'pw']\ne: !env_var \"QF_WB\"  # env\n")
    b_text = "# b head\nk: 1\nin_b: &x !include 'c.yaml'  # from b\nalias: *x\n"
    conf, doc = load_tree(tmp_path, {"main.yaml": main, "b.yaml": b_text, "c.yaml": "v: 1\n",
                                     "secrets.yaml": f"pw: {SECRET}\n"})
    doc["a"]["k"] = 2
    doc["top"] = 1
    assert written(conf, doc.save()) == ["main.yaml", "b.yaml"]
    assert (conf / "main.yaml").read_text() == main + "top: 1\n"
    assert (conf / "b.yaml").read_text() == b_text.replace("k: 1", "k: 2")
    assert (conf / "c.yaml").read_text() == "v: 1\n"


@pytest.mark.parametrize("path, attr, value, main, b", [
    (("a",), "comment", "new", "a: !include b.yaml # new\n", None),
    (("a",), "anchor", "zz", "a: &zz !include b.yaml  # dir\n", None),
    (("a", "n"), "comment", "new", None, "# own\nx: 1\nn: !include c.yaml # new\n"),
])
def test_a_directive_s_own_comment_and_anchor_are_edits_of_the_including_file(path, attr, value, main, b, tmp_path):
    files = {"main.yaml": "a: !include b.yaml  # dir\n", "b.yaml": "# own\nx: 1\nn: !include c.yaml\n",
             "c.yaml": "# c\nk: v\n"}
    conf, doc = load_tree(tmp_path, files)
    node = doc.node
    for step in path:
        node = node[step]
    setattr(node, attr, value)
    doc.save()
    expected = {**files, "main.yaml": main or files["main.yaml"], "b.yaml": b or files["b.yaml"]}
    assert snapshot(conf) == {k: v.encode() for k, v in expected.items()}
    assert doc.to_yaml() == expected["main.yaml"].encode()


# ---- chains: an included file whose root is itself a directive ----


def chain_files(b_root):
    return {
        "main.yaml": "top: 1\nsub: !include b.yaml  # in main\n",
        "b.yaml": f"# b's own\n{b_root}  # in b\n",
        "c.yaml": "# c's own\nx: 1  # x\n",
        "secrets.yaml": f"x: {SECRET}\nm: {{x: {SECRET}}}\n",
    }


def test_an_edit_through_a_chain_of_includes_goes_to_the_innermost_file(tmp_path):
    conf, doc = load_tree(tmp_path, chain_files("&c !include c.yaml"))
    before = snapshot(conf)
    doc["sub"]["x"] = 2
    assert written(conf, doc.save()) == ["c.yaml"]
    assert snapshot(conf) == {**before, "c.yaml": b"# c's own\nx: 2  # x\n"}
    root = conf.resolve()
    assert q.dump_includes_map(doc) == {str(root / "b.yaml"): before["b.yaml"],
                                        str(root / "c.yaml"): b"# c's own\nx: 2  # x\n"}
    doc["top"] = 2
    assert written(conf, doc.save()) == ["main.yaml", "c.yaml"]
    assert (conf / "main.yaml").read_text() == "top: 2\nsub: !include b.yaml  # in main\n"
    assert reload(conf) == {"top": 2, "sub": {"x": 2}}


@pytest.mark.parametrize("b_root, directive, edit", [
    ("!secret m", "!secret m", lambda d: d["sub"].__setitem__("x", 2)),
    ("!include_dir_named parts", "!include_dir_named parts", lambda d: d["sub"]["p"].__setitem__("k", 2)),
    ("!include c_secret.yaml", "!secret m", lambda d: d["sub"].__setitem__("y", 2)),
])
def test_an_edit_through_a_chain_to_no_file_is_refused(b_root, directive, edit, tmp_path):
    files = {**chain_files(b_root), "parts/p.yaml": "k: 1\n", "c_secret.yaml": "!secret m\n"}
    conf, doc = load_tree(tmp_path, files)
    before = snapshot(conf)
    holder = "c_secret.yaml" if "c_secret" in b_root else "b.yaml"
    edit(doc)
    message = f"cannot write back an edit inside '{directive}': only the main text and files read by !include"
    for call in (doc.save, lambda: q.dump_includes(doc), lambda: q.dump_includes_map(doc)):
        with pytest.raises(q.QuillfernIncludeError, match=message) as info:
            call()
        assert info.value.file == str(conf.resolve() / holder) and info.value.include_stack == []
    assert snapshot(conf) == before


def test_an_environment_value_through_a_chain_is_replaced_only_as_a_whole(tmp_path):
    conf, doc = load_tree(tmp_path, chain_files("!env_var QF_WB"))
    assert doc["sub"] == ENV
    assert q.dump_includes_map(doc) == {str(conf.resolve() / "b.yaml"): b"# b's own\n!env_var QF_WB  # in b\n"}
    doc["sub"] = "plain"  # the directive in main.yaml is replaced: a main-text edit
    assert written(conf, doc.save()) == ["main.yaml"]
    assert (conf / "main.yaml").read_text() == "top: 1\nsub: plain  # in main\n"


# ---- edits that belong to no file ----


@pytest.mark.parametrize("directive, edit", [
    ("!include_dir_list parts", lambda d: d["list"][0].__setitem__("k", 2)),
    ("!include_dir_named parts", lambda d: d["named"]["p"].__setitem__("k", 2)),
    ("!include_dir_merge_list lists", lambda d: d["merged_list"].__setitem__(0, 2)),
    ("!include_dir_merge_named parts", lambda d: d["merged"].__setitem__("k", 2)),
    ("!secret m", lambda d: d["secret"].__setitem__("x", 2)),
    ("!secret m", lambda d: d["flow"][0].__setitem__("x", 2)),
    # taken out of the node itself, alone or beside an edit of its comment
    ("!secret m", lambda d: d["secret"].__delitem__("x")),
    ("!secret m", lambda d: (d["secret"].__delitem__("x"), setattr(d.node["secret"], "comment", "c"))),
    ("!include_dir_list parts", lambda d: (d["list"].__delitem__(0), setattr(d.node["list"], "anchor", "a"))),
])
def test_edits_inside_directory_forms_and_secrets_are_refused(directive, edit, tmp_path):
    main = ("list: !include_dir_list parts\nnamed: !include_dir_named parts\n"
            "merged_list: !include_dir_merge_list lists\nmerged: !include_dir_merge_named parts\n"
            "secret: !secret m\nflow: [!secret m]\nk: 1\n")
    conf, doc = load_tree(tmp_path, {"main.yaml": main, "parts/p.yaml": "k: 1\n", "lists/l.yaml": "[1]\n",
                                     "secrets.yaml": f"m: {{x: {SECRET}}}\n"})
    before = snapshot(conf)
    doc["k"] = 2  # a writable edit as well: still nothing is written
    edit(doc)
    message = f"cannot write back an edit inside '{directive}'"
    for call in (doc.save, lambda: doc.save(str(conf / "out.yaml")), lambda: q.dump_includes(doc),
                 lambda: q.dump_includes_map(doc)):
        with pytest.raises(q.QuillfernIncludeError, match=message) as info:
            call()
        assert info.value.file == str(conf / "main.yaml") and info.value.include_stack == []
    assert snapshot(conf) == before


VALUE_FILES = {
    "main.yaml": ("pw: !secret pw  # s\nm: !secret m\nenv: !env_var QF_WB\nlist: !include_dir_list parts\n"
                  "named: !include_dir_named parts\nml: !include_dir_merge_list lists\n"
                  "mn: !include_dir_merge_named parts\nsub: !include b.yaml\n"),
    "b.yaml": "bm: !secret m\nbl: !include_dir_list parts\n",
    "parts/p.yaml": "k: 1\n",
    "lists/l.yaml": "[1]\n",
    "secrets.yaml": f"pw: {SECRET}\nm: {{x: {SECRET}}}\n",
}


@pytest.mark.parametrize("path, attr, value, file, old, new", [
    (("pw",), "comment", "new", "main.yaml", "pw: !secret pw  # s", "pw: !secret pw # new"),
    (("m",), "anchor", "a", "main.yaml", "m: !secret m", "m: &a !secret m"),
    (("env",), "comment", "new", "main.yaml", "env: !env_var QF_WB", "env: !env_var QF_WB # new"),
    (("list",), "comment", "new", "main.yaml", "list: !include_dir_list parts", "list: !include_dir_list parts # new"),
    (("named",), "anchor", "a", "main.yaml", "named: !include_dir_named", "named: &a !include_dir_named"),
    (("ml",), "comment", "new", "main.yaml", "ml: !include_dir_merge_list lists",
     "ml: !include_dir_merge_list lists # new"),
    (("mn",), "anchor", "a", "main.yaml", "mn: !include_dir_merge_named", "mn: &a !include_dir_merge_named"),
    (("sub", "bm"), "comment", "new", "b.yaml", "bm: !secret m", "bm: !secret m # new"),
    (("sub", "bl"), "anchor", "a", "b.yaml", "bl: !include_dir_list", "bl: &a !include_dir_list"),
], ids=["secret comment", "secret anchor", "env_var comment", "dir_list comment", "dir_named anchor",
        "dir_merge_list comment", "dir_merge_named anchor", "in b.yaml: secret comment", "in b.yaml: dir_list anchor"])
def test_a_value_or_directory_directive_s_own_comment_and_anchor_are_written(path, attr, value, file, old, new,
                                                                              tmp_path):
    conf, doc = load_tree(tmp_path, VALUE_FILES)
    before = snapshot(conf)
    node = doc.node
    for step in path:
        node = node[step]
    setattr(node, attr, value)
    assert written(conf, doc.save()) == [file]
    assert snapshot(conf) == {**before, file: before[file].replace(old.encode(), new.encode())}
    assert SECRET.encode() not in (conf / file).read_bytes()
    assert reload(conf) == doc.to_dict()
    if file != "main.yaml":
        assert q.dump_includes_map(doc)[str(conf.resolve() / file)] == (conf / file).read_bytes()
    # The content is still no file's.
    doc["m"]["x"] = 2
    with pytest.raises(q.QuillfernIncludeError, match="cannot write back an edit inside '!secret m'"):
        doc.save()


def test_an_edit_in_a_file_included_by_a_listed_file_is_written_there(tmp_path):
    files = {"main.yaml": "l: !include_dir_list parts\nk: 1\n",
             "parts/a.yaml": "x: !include ../x.yaml  # in a\nown: 1\n",
             "x.yaml": "# x\nv: 1\ns: !secret m\n",
             "secrets.yaml": f"m: {{y: {SECRET}}}\n"}
    conf, doc = load_tree(tmp_path, files)
    before = snapshot(conf)
    doc["l"][0]["x"]["v"] = 2
    assert written(conf, doc.save()) == ["x.yaml"]
    assert snapshot(conf) == {**before, "x.yaml": b"# x\nv: 2\ns: !secret m\n"}
    assert q.dump_includes_map(doc) == {str(conf.resolve() / "x.yaml"): b"# x\nv: 2\ns: !secret m\n"}
    assert reload(conf) == doc.to_dict()

    def refused(directive, holder):
        for call in (doc.save, lambda: q.dump_includes_map(doc)):
            with pytest.raises(q.QuillfernIncludeError, match=f"cannot write back an edit inside '{directive}'") as info:
                call()
            assert info.value.file == str(conf.resolve() / holder if holder != "main.yaml" else conf / holder)

    # What the listed file holds, the directive's comment included, is still
    # no file's; a secret inside x.yaml is refused as x.yaml's.
    for edit, directive, holder in (
            (lambda: doc["l"][0].__setitem__("own", 2), "!include_dir_list parts", "main.yaml"),
            (lambda: setattr(doc.node["l"][0]["x"], "comment", "new"), "!include_dir_list parts", "main.yaml"),
            (lambda: doc["l"][0]["x"]["s"].__setitem__("y", 2), "!secret m", "x.yaml")):
        conf, doc = load_tree(tmp_path / str(len(holder) + len(directive)), files)
        doc["l"][0]["x"]["v"] = 3
        edit()
        refused(directive, holder)


def test_the_yaml_1_1_upgrade_is_no_edit_of_content_no_file_holds(tmp_path):
    files = {"main.yaml": "s: !secret flag\nm: !secret m\nl: !include_dir_list parts\nb: !include b.yaml\n",
             "secrets.yaml": "flag: yes\nm: {on: off, x: 017}\n", "parts/p.yaml": "- on\n- !include ../c.yaml\n",
             "b.yaml": "k: 1\n", "c.yaml": "c: no\n"}
    conf = tree(tmp_path / "conf", files)
    path = conf / "main.yaml"
    doc = q.loads(path.read_bytes(), option=RT | q.OPT_UPGRADE_1_1, include_dir=str(conf), root_path=str(path))
    doc.set_origin(str(path))
    assert doc.to_dict() == {"s": True, "m": {True: False, "x": 15}, "l": [[True, {"c": False}]], "b": {"k": 1}}
    before = snapshot(conf)
    # Only c.yaml, which a file holds, is upgraded on disk.
    assert written(conf, doc.save()) == ["c.yaml"]
    assert snapshot(conf) == {**before, "c.yaml": b"c: false\n"}
    assert q.dump_includes_map(doc) == {str(conf.resolve() / "b.yaml"): b"k: 1\n",
                                        str(conf.resolve() / "c.yaml"): b"c: false\n"}
    q.dump_includes(doc)
    doc["b"]["k"] = 2
    assert written(conf, doc.save()) == ["c.yaml", "b.yaml"]  # in the order they were read


def test_no_file_of_the_tree_ever_holds_a_secret_or_a_variable(tmp_path):
    files = {
        "main.yaml": ("pw: !secret pw\nenv: !env_var QF_WB\nflow: {p: !secret pw, e: !env_var QF_WB}\n"
                      "list: [!secret pw, !env_var QF_WB]\nblock:\n  - !secret pw\n  - !env_var QF_WB\n"
                      "sub: !include b.yaml\nchained: !include c.yaml\nk: 1\n"),
        "b.yaml": "pw: !secret pw\nflow: [!env_var QF_WB, {s: !secret pw}]\nx: 1\n",
        "c.yaml": "!secret pw\n",
        "secrets.yaml": f"pw: {SECRET}\n",
    }
    conf, doc = load_tree(tmp_path, files)
    assert doc["sub"]["pw"] == SECRET and doc["flow"]["e"] == ENV and doc["chained"] == SECRET

    def check():
        for name, data in snapshot(conf).items():
            if name != "secrets.yaml":
                assert SECRET.encode() not in data and ENV.encode() not in data, name

    doc["k"] = 2
    doc["sub"]["x"] = 2
    assert written(conf, doc.save()) == ["main.yaml", "b.yaml"]
    check()
    q.dump_includes(doc)
    check()
    assert written(conf, doc.save(str(conf / "copy.yaml"))) == ["copy.yaml", "b.yaml"]
    check()
    for data in q.dump_includes_map(doc).values():
        assert SECRET.encode() not in data and ENV.encode() not in data
    assert reload(conf) == doc.to_dict()
    assert "!secret pw" in (conf / "b.yaml").read_text() and "!env_var QF_WB" in (conf / "main.yaml").read_text()


def test_a_detached_copy_of_a_secret_or_a_variable_is_its_directive(tmp_path):
    main = ("pw: &p !secret pw\nenv: &e !env_var QF_WB\nm: &m {s: !secret pw, k: 1}\nsm: &sm !secret map\n"
            "uses: [*p, *e, *m]\nblock:\n  use_p: *p\n  use_e: *e\n  use_sm: *sm\n")
    conf, doc = load_tree(tmp_path, {"main.yaml": main, "secrets.yaml": f"pw: {SECRET}\nmap: {{x: {SECRET}}}\n"})
    for i in range(3):
        doc.node["uses"][i].detach()
    for key in ("use_p", "use_e", "use_sm"):
        doc.node["block"][key].detach()
    assert doc["uses"].to_dict() == [SECRET, ENV, {"s": SECRET, "k": 1}]
    assert written(conf, doc.save()) == ["main.yaml"]
    assert (conf / "main.yaml").read_text() == (
        "pw: &p !secret pw\nenv: &e !env_var QF_WB\nm: &m {s: !secret pw, k: 1}\nsm: &sm !secret map\n"
        "uses: [!secret pw, !env_var QF_WB, {s: !secret pw, k: 1}]\nblock:\n  use_p: !secret pw\n"
        "  use_e: !env_var QF_WB\n  use_sm: !secret map\n")
    assert reload(conf) == doc.to_dict()
    # The copy's content still belongs to no file.
    doc["block"]["use_sm"]["x"] = 2
    with pytest.raises(q.QuillfernIncludeError, match="cannot write back an edit inside '!secret map'"):
        doc.save()


# ---- which file is replaced ----


def test_a_link_swapped_in_after_the_load_is_refused(tmp_path):
    conf, doc = load_tree(tmp_path, {"main.yaml": "a: !include b.yaml\n", "b.yaml": "x: 1\n",
                                     "other.yaml": "x: 9\n"})
    # Saving twice works: our own replacement is the file from then on.
    for value in (2, 3):
        doc["a"]["x"] = value
        assert written(conf, doc.save()) == ["b.yaml"]
    q.dump_includes(doc)
    doc["a"]["x"] = 4
    assert written(conf, doc.save()) == ["b.yaml"]
    assert (conf / "b.yaml").read_text() == "x: 4\n"

    os.rename(conf / "b.yaml", conf / "b.old")
    os.symlink("other.yaml", conf / "b.yaml")
    before = snapshot(conf)
    doc["a"]["x"] = 5
    doc["main_edit"] = 1
    message = f"cannot write {conf.resolve() / 'b.yaml'}: it no longer resolves to the file that was loaded"
    with pytest.raises(OSError) as info:
        doc.save()
    assert str(info.value) == message
    with pytest.raises(ValueError) as info:
        q.dump_includes(doc)
    assert str(info.value) == message
    assert snapshot(conf) == before and os.path.islink(conf / "b.yaml")
    # Put back: the file loaded is there again.
    os.unlink(conf / "b.yaml")
    os.rename(conf / "b.old", conf / "b.yaml")
    assert written(conf, doc.save()) == ["main.yaml", "b.yaml"]


def test_an_included_file_read_through_a_link_is_written_through_it(tmp_path):
    conf = tree(tmp_path / "conf", {"real/b.yaml": "x: 1\n"})
    os.symlink("real/b.yaml", conf / "link.yaml")
    doc = q.loads("a: !include link.yaml\n", option=RT, include_dir=str(conf))
    doc["a"]["x"] = 2
    assert written(conf, doc.save()) == ["real/b.yaml"]
    assert os.readlink(conf / "link.yaml") == "real/b.yaml"
    assert (conf / "real/b.yaml").read_text() == "x: 2\n"
