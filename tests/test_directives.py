"""Configuration directives on the plain and annotated roads of loads:
!include and the directory forms, !secret, !env_var; confinement to the
include directory, limits, errors and missing values."""

import logging
import os
import random
import subprocess
import sys
import textwrap

import pytest

import quillfern as q

INC = q.OPT_INCLUDES
ALL = q.OPT_INCLUDES | q.OPT_SECRETS | q.OPT_ENV_VAR


def tree(base, files):
    """Writes {relative path: text} under base (a text of None makes a directory)."""
    for rel, text in files.items():
        p = base / rel
        if text is None:
            p.mkdir(parents=True, exist_ok=True)
            continue
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(text.encode() if isinstance(text, str) else text)
    return base


def load(text, conf, option=ALL, **kw):
    return q.loads(text, option=option, include_dir=str(conf), **kw)


def failure(text, conf, option=ALL, **kw):
    with pytest.raises(q.QuillfernError) as info:
        load(text, conf, option, **kw)
    return info.value


# ---- the directive forms ----


def test_include_resolves_from_the_including_file(tmp_path):
    conf = tree(tmp_path / "conf", {
        "main.yaml": "a: !include sub/a.yaml\n",
        "sub/a.yaml": "b: !include b.yaml\n---\nignored: true\n",
        "sub/b.yaml": "[1, 2]\n",
        "empty.yaml": "# only a comment\n",
    })
    assert load((conf / "main.yaml").read_text(), conf, root_path=str(conf / "main.yaml")) == {"a": {"b": [1, 2]}}
    # Without root_path the main text stands in the include directory.
    assert load("x: !include sub/b.yaml\ne: !include empty.yaml\n", conf) == {"x": [1, 2], "e": {}}


def test_root_path_with_a_bare_name_resolves_against_the_working_directory(tmp_path, monkeypatch):
    conf = tree(tmp_path / "conf", {"a.yaml": "1\n", "conf/a.yaml": "2\n"})
    monkeypatch.chdir(tmp_path)
    # a.yaml relative to the working directory is tmp_path/a.yaml: outside conf.
    with pytest.raises(q.QuillfernIncludeConfinementError):
        q.loads("v: !include a.yaml\n", option=INC, include_dir="conf", root_path="main.yaml")
    assert q.loads("v: !include conf/a.yaml\n", option=INC, include_dir="conf", root_path="main.yaml") == {"v": 1}
    monkeypatch.chdir(conf)
    assert q.loads("v: !include a.yaml\n", option=INC) == {"v": 1}


def test_directory_forms_list_in_byte_order_and_skip(tmp_path):
    conf = tree(tmp_path / "conf", {
        "d/b.yaml": "b\n", "d/a.yml": "a\n", "d/A.yaml": "A\n", "d/.hidden.yaml": "h\n",
        "d/notes.txt": "t\n", "d/c.YAML": "c\n", "d/secrets.yaml": "s: 1\n", "d/sub/x.yaml": "x\n",
    })
    named = lambda option: list(load("!include_dir_named d\n", conf, option))
    assert named(INC | q.OPT_SECRETS | q.OPT_INCLUDE_DIR_RECURSIVE) == ["A", "a", "b", "x"]
    assert named(INC | q.OPT_SECRETS) == ["A", "a", "b"]
    assert named(INC) == ["A", "a", "b", "secrets"]
    assert load("!include_dir_list d\n", conf, INC) == ["A", "a", "b", {"s": 1}]


def test_recursive_listing_is_pre_order(tmp_path):
    conf = tree(tmp_path / "conf", {"d/m.yaml": "m\n", "d/s1/z.yaml": "z\n", "d/s2/a.yaml": "a\n"})
    assert load("!include_dir_list d\n", conf, INC | q.OPT_INCLUDE_DIR_RECURSIVE) == ["m", "z", "a"]


def test_list_forms_read_every_document_and_merge(tmp_path):
    conf = tree(tmp_path / "conf", {
        "l/1.yaml": "[1, 2]\n", "l/2.yaml": "3\n---\n[4]\n",
        "m/a.yaml": "k: 1\nj: 2\n", "m/b.yaml": "k: 3\n", "m/c.yaml": "[not, a, mapping]\n",
    })
    assert load("!include_dir_list l\n", conf, INC) == [[1, 2], 3, [4]]
    assert load("!include_dir_merge_list l\n", conf, INC) == [1, 2, 3, 4]
    # Both k pairs stand; the later wins in a dict.
    assert load("!include_dir_merge_named m\n", conf, INC) == {"k": 3, "j": 2}
    with pytest.raises(q.QuillfernDuplicateKeyError):
        load("!include_dir_merge_named m\n", conf, INC | q.OPT_DUPLICATE_KEYS_ERROR)


def test_named_keys_are_strings_and_never_merge(tmp_path):
    conf = tree(tmp_path / "conf", {"d/1.yaml": "one\n", "d/null.yaml": "n\n", "d/<<.yaml": "{m: 1}\n"})
    assert load("!include_dir_named d\n", conf, INC) == {"1": "one", "<<": {"m": 1}, "null": "n"}


def test_absent_directory_or_plain_file_gives_an_empty_form(tmp_path):
    conf = tree(tmp_path / "conf", {"f.yaml": "1\n"})
    for form, empty in (("!include_dir_list", []), ("!include_dir_named", {}),
                        ("!include_dir_merge_list", []), ("!include_dir_merge_named", {})):
        assert load(f"{form} absent\n", conf, INC) == empty
        assert load(f"{form} f.yaml\n", conf, INC) == empty


def test_directive_tags_only_when_enabled_and_never_on_keys(tmp_path):
    conf = tree(tmp_path / "conf", {"a.yaml": "1\n", "secrets.yaml": "pw: x\n"})
    assert load("v: !include a.yaml\n", conf, q.OPT_SECRETS) == {"v": "a.yaml"}
    assert load("v: !secret pw\n", conf, INC) == {"v": "pw"}
    assert load("!include a.yaml : 1\n", conf, INC) == {"a.yaml": 1}


# ---- environment values ----


@pytest.mark.parametrize("arg, env, expected", [
    ("APP_PORT", {"APP_PORT": "8080"}, "8080"),
    ("PORT 8080", {}, "8080"),
    ("GREETING  hello    big\u3000world ", {}, "hello big world"),
    ("GREETING dflt", {"GREETING": "set"}, "set"),
    ("''", {}, ""),
    ("'  '", {}, ""),
])
def test_env_var_values_are_strings(arg, env, expected, monkeypatch, tmp_path):
    for name in ("APP_PORT", "PORT", "GREETING"):
        monkeypatch.delenv(name, raising=False)
    for k, v in env.items():
        monkeypatch.setenv(k, v)
    assert load(f"v: !env_var {arg}\n", tmp_path, q.OPT_ENV_VAR) == {"v": expected}


@pytest.mark.parametrize("name", ["QF_UNSET_VARIABLE", "A=B", '"A\\0X"'])
def test_undefined_env_var_fails_with_its_position(name, tmp_path, monkeypatch):
    monkeypatch.setenv("A", "leak")
    err = failure(f"x: 1\nv: !env_var {name}\n", tmp_path, q.OPT_ENV_VAR)
    assert type(err) is q.QuillfernEnvVarError
    assert (err.line, err.column, err.file) == (2, 13, f"{tmp_path}/<root>")
    assert "leak" not in str(err)
    assert not hasattr(err, "include_stack")


def test_env_var_not_valid_unicode_is_undefined(tmp_path, monkeypatch):
    monkeypatch.setitem(os.environb, b"QF_BYTES", b"\xff")
    assert load("v: !env_var QF_BYTES fallback\n", tmp_path, q.OPT_ENV_VAR) == {"v": "fallback"}


# ---- secrets ----


def test_secret_from_the_nearest_file_up_to_the_root(tmp_path):
    tree(tmp_path, {"secrets.yaml": "pw: above\nonly_above: x\n"})
    conf = tree(tmp_path / "conf", {
        "secrets.yaml": "pw: root\ndb_password: r\n",
        "app/secrets.yaml": "db_password: app\n",
        "app/x.yaml": "a: !secret db_password\nb: !secret pw\n",
    })
    assert load("x: !include app/x.yaml\n", conf) == {"x": {"a": "app", "b": "root"}}
    assert load("p: !secret pw\n", conf) == {"p": "root"}
    with pytest.raises(q.QuillfernSecretNotFoundError):
        load("p: !secret only_above\n", conf)


def test_secret_values_keep_their_structure_and_aliases_bind_in_their_file(tmp_path):
    conf = tree(tmp_path / "conf", {
        "secrets.yaml": "base: &base {host: h, port: 1}\ndb: *base\npw: &x hunter2\nn: !!int '5'\n",
    })
    got = load("a: &x public\nb: !secret pw\nc: *x\nd: !secret db\nn: !secret n\n", conf)
    assert got == {"a": "public", "b": "hunter2", "c": "public", "d": {"host": "h", "port": 1}, "n": 5}


@pytest.mark.parametrize("text, message", [
    ("- a\n", "secrets.yaml does not contain a dictionary"),
    ("a: [1, !secret b]\n", "secrets not supported in a secrets.yaml file"),
    ("a: [\n", "invalid secrets.yaml: "),
])
def test_secrets_file_errors(text, message, tmp_path):
    conf = tree(tmp_path / "conf", {"secrets.yaml": text})
    err = failure("x: !secret anything\n", conf)
    assert type(err) is q.QuillfernIncludeError
    assert str(err).startswith(message)
    assert err.file == str(conf.resolve() / "secrets.yaml") or err.file == str(conf / "secrets.yaml")
    assert err.include_stack == []


def test_secrets_logger_entry(tmp_path, caplog):
    conf = tree(tmp_path / "conf", {"secrets.yaml": "logger: info\npw: x\n", "ok/secrets.yaml": "logger: DEBUG\n",
                                    "ok/f.yaml": "!secret pw\n"})
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        assert load("v: !secret pw\n", conf) == {"v": "x"}
    assert [r.getMessage() for r in caplog.records] == [
        "secrets.yaml: 'logger: debug' expected, but a different value was found"]
    caplog.clear()
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        with pytest.raises(q.QuillfernSecretNotFoundError):
            load("v: !secret logger\n", conf)
        # A failure later in the load: the collected warning is never logged.
        with pytest.raises(q.QuillfernIncludeNotFoundError):
            load("v: !secret pw\nw: !include missing.yaml\n", conf)
    assert caplog.records == []


def test_unreadable_secrets_candidates_are_skipped(tmp_path):
    conf = tree(tmp_path / "conf", {"secrets.yaml": "pw: root\n", "d/secrets.yaml": None, "d/f.yaml": "!secret pw\n"})
    (conf / "e").mkdir()
    os.mkfifo(conf / "e" / "secrets.yaml")
    (conf / "e" / "f.yaml").write_text("!secret pw\n")
    assert load("[!include d/f.yaml, !include e/f.yaml]\n", conf) == ["root", "root"]


# ---- missing values ----


def test_missing_values_are_reported_after_expansion_in_order(tmp_path, caplog, monkeypatch):
    monkeypatch.delenv("QF_MISSING", raising=False)
    calls = []
    text = "a: !env_var QF_MISSING\nb: !secret s1\nc: !secret s2\n"
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        got = load(text, tmp_path,
                   ALL | q.OPT_SECRET_NOT_FOUND_WARN | q.OPT_ENV_VAR_NOT_FOUND_WARN,
                   on_missing_secret=lambda *a: calls.append(("secret",) + a),
                   on_missing_env_var=lambda *a: calls.append(("env",) + a))
    assert got == {"a": None, "b": None, "c": None}
    root = f"{tmp_path}/<root>"
    assert calls == [("secret", "s1", root, 2), ("secret", "s2", root, 3), ("env", "QF_MISSING", root, 1)]
    assert [r.getMessage() for r in caplog.records] == [
        f"secret 's1' is not defined in any secrets.yaml at {root}:2",
        f"secret 's2' is not defined in any secrets.yaml at {root}:3",
        f"environment variable 'QF_MISSING' is not defined at {root}:1",
    ]


def test_a_raising_callback_ends_the_load(tmp_path, caplog, monkeypatch):
    monkeypatch.delenv("QF_MISSING", raising=False)
    env_calls = []

    def boom(*args):
        raise KeyError("boom")

    with caplog.at_level(logging.WARNING, logger="quillfern"):
        with pytest.raises(KeyError, match="boom"):
            load("a: !env_var QF_MISSING\nb: !secret s\n", tmp_path,
                 ALL | q.OPT_ENV_VAR_NOT_FOUND_WARN, on_missing_secret=boom, on_missing_env_var=env_calls.append)
    assert env_calls == [] and caplog.records == []


# ---- errors ----


def test_error_texts_positions_and_include_stacks(tmp_path):
    conf = tree(tmp_path / "conf", {
        "a.yaml": "x: !include b.yaml\n",
        "b.yaml": "\ny: !include a.yaml\n",
        "bad.yaml": "k: [1,\n",
        "wrap.yaml": "- 1\n- !include bad.yaml\n",
    })
    c = conf.resolve()
    err = failure("top: !include a.yaml\n", conf, INC)
    assert type(err) is q.QuillfernCircularIncludeError
    assert str(err) == (f"circular include detected: 'a.yaml' in {c}/a.yaml\n  included from {c}/a.yaml, line 1"
                        f"\n  included from {c}/b.yaml, line 1")
    assert err.file == f"{c}/a.yaml"
    assert err.include_stack == [(f"{c}/a.yaml", 1), (f"{c}/b.yaml", 1)]

    err = failure("\n\nw: !include wrap.yaml\n", conf, INC)
    assert type(err) is q.QuillfernParseError
    assert (err.file, err.line) == (f"{c}/bad.yaml", 2)
    assert err.include_stack == [(f"{c}/wrap.yaml", 3)]

    for arg in ("", "'  '", "[a]"):
        err = failure(f"x: !include {arg}\n", conf, INC)
        assert (type(err), str(err).split(" in ")[0]) == (q.QuillfernIncludeError, "!include needs an argument")
    err = failure("x: !include_dir_merge_named\n", conf, INC)
    assert str(err).startswith("!include_dir_merge_named needs an argument")

    err = failure("x: !include missing.yaml\n", conf, INC)
    assert type(err) is q.QuillfernIncludeNotFoundError
    assert str(err) == f"cannot read included file 'missing.yaml': No such file or directory (os error 2) in {c}/missing.yaml"


def test_check_order_argument_depth_path_cycle_read(tmp_path):
    # Each file's chain is one deeper; at the limit every later check is
    # shadowed by the depth check, and an argument error by nothing.
    files = {f"f{i}.yaml": f"!include f{i + 1}.yaml\n" for i in range(1, 50)}
    files["f50.yaml"] = "!include ../outside.yaml\n"
    conf = tree(tmp_path / "conf", files)
    err = failure("!include f1.yaml\n", conf, INC)
    assert type(err) is q.QuillfernIncludeDepthError
    assert str(err).startswith("include chain exceeds the maximum depth of 50 in ")
    assert len(err.include_stack) == 50
    (conf / "f50.yaml").write_text("!include\n")
    assert type(failure("!include f1.yaml\n", conf, INC)) is q.QuillfernIncludeError
    (conf / "f50.yaml").write_text("50\n")
    assert load("!include f1.yaml\n", conf, INC) == 50
    # Path before cycle, cycle before read.
    (conf / "f2.yaml").write_text("!include ../f1.yaml\n")
    assert type(failure("!include f1.yaml\n", conf, INC)) is q.QuillfernIncludeConfinementError
    (conf / "f2.yaml").write_text("!include f1.yaml\n")
    assert type(failure("!include f1.yaml\n", conf, INC)) is q.QuillfernCircularIncludeError


def test_file_count_limit(tmp_path):
    conf = tree(tmp_path / "conf", {"leaf.yaml": "1\n", "mid.yaml": "[" + ", ".join(["!include leaf.yaml"] * 100) + "]\n"})
    mids = ", ".join(["!include mid.yaml"] * 99)
    assert len(load(f"[{mids}, !include leaf.yaml]\n", conf, INC)) == 100  # 10,000 reads
    err = failure(f"[{mids}, !include leaf.yaml, !include leaf.yaml]\n", conf, INC)
    assert type(err) is q.QuillfernIncludeDepthError
    assert str(err).startswith("include expansion exceeded the maximum of 10000 files (a fan-out of nested includes) in ")
    assert err.file == str(conf.resolve() / "leaf.yaml")


def test_a_self_listing_directory_stops_at_the_depth_limit(tmp_path):
    conf = tree(tmp_path / "conf", {"d/self.yaml": "!include_dir_list .\n"})
    err = failure("!include_dir_list d\n", conf, INC)
    assert type(err) is q.QuillfernIncludeDepthError
    assert len(err.include_stack) == 50


def test_utf16_included_file(tmp_path):
    conf = tree(tmp_path / "conf", {"u.yaml": "a: 1\n".encode("utf-16")})
    err = failure("!include u.yaml\n", conf, INC)
    assert type(err) is q.QuillfernIncludeNotFoundError
    assert str(err).startswith("cannot read included file 'u.yaml': stream did not contain valid UTF-8 in ")


def test_nul_in_paths(tmp_path):
    err = failure('!include "a\\0b.yaml"\n', tmp_path, INC)
    assert type(err) is q.QuillfernIncludeNotFoundError
    assert str(err).startswith("cannot read included file 'a\0b.yaml': path contains a NUL byte")
    for kw in ("include_dir", "root_path"):
        with pytest.raises(ValueError, match="embedded null byte") as info:
            q.loads("a: 1\n", option=INC, **{"include_dir": str(tmp_path), kw: "x\0y"})
        assert info.value.__notes__ == [f"while processing '{kw}'"]


# ---- confinement ----


@pytest.fixture
def jail(tmp_path):
    """conf/ inside tmp_path, a sibling conf2/ and an outside/ with a canary."""
    tree(tmp_path, {
        "outside/o.yaml": "CANARY-q7x\n", "conf2/x.yaml": "CANARY-q7x\n",
        "conf/in.yaml": "inside\n", "conf/sub/rel.yaml": "!include ../in.yaml\n", "conf/d/ok.yaml": "fine\n",
    })
    conf = tmp_path / "conf"
    os.symlink(tmp_path / "outside" / "o.yaml", conf / "out_link.yaml")
    os.symlink(conf / "sub" / "rel.yaml", conf / "in_link.yaml")
    os.symlink(conf / "nothing.yaml", conf / "dangling.yaml")
    os.symlink("loop.yaml", conf / "loop.yaml")
    os.symlink(tmp_path / "outside", conf / "out_dir")
    os.symlink(conf / "d", conf / "d_link")
    return tmp_path


CONFINED = q.QuillfernIncludeConfinementError
NOT_FOUND = q.QuillfernIncludeNotFoundError


@pytest.mark.parametrize("directive, outcome", [
    ("!include ../outside/o.yaml", CONFINED),
    ("!include ../conf2/x.yaml", CONFINED),
    ("!include {jail}/outside/o.yaml", CONFINED),
    ("!include {jail}/conf/in.yaml", "inside"),
    ("!include sub/../in.yaml", "inside"),
    ("!include out_link.yaml", CONFINED),
    ("!include in_link.yaml", "inside"),  # its own include resolves from its target
    ("!include dangling.yaml", (NOT_FOUND, "cannot read included file 'dangling.yaml': not found")),
    ("!include loop.yaml", (NOT_FOUND, "cannot read included file 'loop.yaml': Too many levels of symbolic links (os error 40)")),
    ("!include out_dir/o.yaml", CONFINED),
    ("!include_dir_list out_dir", CONFINED),
    ("!include_dir_list d_link", ["fine"]),
    ("!include_dir_list ..", CONFINED),
    ("!include /etc/hosts", CONFINED),
    # Through a name that does not exist nothing is found, whatever follows.
    ("!include nothing/../in.yaml",
     (NOT_FOUND, "cannot read included file 'nothing/../in.yaml': No such file or directory (os error 2)")),
    ("!include in.yaml/../in.yaml",
     (NOT_FOUND, "cannot read included file 'in.yaml/../in.yaml': Not a directory (os error 20)")),
    ("!include dangling.yaml/../in.yaml",
     (NOT_FOUND, "cannot read included file 'dangling.yaml/../in.yaml': No such file or directory (os error 2)")),
    ("!include_dir_list nothing/../d", []),
    ("!include ../nothing/x.yaml", CONFINED),
])
def test_confinement_table(jail, directive, outcome):
    text = directive.replace("{jail}", str(jail)) + "\n"
    if isinstance(outcome, (str, list)):
        assert load(text, jail / "conf", INC) == outcome
        return
    cls, message = outcome if isinstance(outcome, tuple) else (outcome, None)
    err = failure(text, jail / "conf", INC)
    assert type(err) is cls
    if message:
        assert str(err).split(" in ")[0] == message
    assert "CANARY-q7x" not in str(err)


@pytest.mark.parametrize("target", ["o.yaml", "absent.yaml", "", "o.yaml/x"])
@pytest.mark.parametrize("form", ["!include", "!include_dir_list"])
def test_a_path_through_a_missing_name_tells_nothing_of_the_outside(jail, form, target):
    # out_dir leads outside: whether its target exists must not show.
    arg = f"nothing/../out_dir/{target}".rstrip("/")
    if form == "!include_dir_list":
        assert load(f"{form} {arg}\n", jail / "conf", INC) == []
        return
    err = failure(f"{form} {arg}\n", jail / "conf", INC)
    assert type(err) is NOT_FOUND
    assert str(err) == f"cannot read included file '{arg}': No such file or directory (os error 2) in {jail}/conf/<root>"
    assert (err.file, err.include_stack) == (f"{jail}/conf/<root>", [])


def test_links_in_a_listed_directory(jail):
    conf = jail / "conf"
    os.symlink(jail / "outside" / "o.yaml", conf / "d" / "x.yaml")
    err = failure("!include_dir_list d\n", conf, INC)
    assert type(err) is CONFINED
    os.remove(conf / "d" / "x.yaml")
    os.symlink(conf / "gone.yaml", conf / "d" / "x.yaml")
    err = failure("!include_dir_list d\n", conf, INC)
    assert str(err).startswith(f"cannot read included file '{conf.resolve()}/d/x.yaml': not found")
    os.remove(conf / "d" / "x.yaml")
    # A link back to the listed directory is listed once.
    os.symlink(conf / "d", conf / "d" / "again")
    assert load("!include_dir_list d\n", conf, INC | q.OPT_INCLUDE_DIR_RECURSIVE) == ["fine"]


def test_missing_and_linked_include_directories(jail):
    for option in (INC, q.OPT_SECRETS):
        text = "!include in.yaml\n" if option == INC else "!secret pw\n"
        err = failure(text, jail / "missing", option)
        assert type(err) is (CONFINED if option == INC else q.QuillfernSecretNotFoundError)
    os.symlink(jail / "conf", jail / "conf_link")
    assert load("!include in.yaml\n", jail / "conf_link", INC) == "inside"
    assert type(failure("!include absent.yaml\n", jail / "conf_link", INC)) is NOT_FOUND
    assert load("!include_dir_list absent\n", jail / "conf_link", INC) == []


def test_files_that_are_not_regular_are_refused_without_blocking(tmp_path):
    # A FIFO would block a reader and a socket refuses to be opened: both are
    # "not a regular file", as an include, in a listing and as secrets.yaml.
    script = textwrap.dedent(f"""
        import os, socket, quillfern as q
        os.chdir({str(tmp_path)!r})
        for d in ("fifo", "sock"):
            os.makedirs(d + "/list")
        os.mkfifo("fifo/p.yaml")
        os.mkfifo("fifo/list/p.yaml")
        os.mkfifo("fifo/secrets.yaml")
        held = []
        for name in ("sock/p.yaml", "sock/list/p.yaml", "sock/secrets.yaml"):
            s = socket.socket(socket.AF_UNIX)
            s.bind(name)
            held.append(s)
        for d in ("fifo", "sock"):
            for text in ("!include p.yaml", "!include_dir_list list"):
                try:
                    q.loads(text, option=q.OPT_INCLUDES, include_dir=d)
                except q.QuillfernIncludeNotFoundError as e:
                    print(str(e).split(" in ")[0].replace(os.getcwd(), "."))
            print(q.loads("!secret pw", option=q.OPT_SECRETS | q.OPT_SECRET_NOT_FOUND_WARN, include_dir=d))
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=30)
    assert out.stdout.splitlines() == [
        line for d in ("fifo", "sock") for line in (
            "cannot read included file 'p.yaml': not a regular file",
            f"cannot read included file './{d}/list/p.yaml': not a regular file",
            "None",
        )
    ], out.stderr


def test_canary_never_escapes(jail, caplog):
    rng = random.Random(15)
    conf = jail / "conf"
    pieces = ["..", ".", "sub", "d", "out_dir", "d_link", "out_link.yaml", "in.yaml", "o.yaml", "outside",
              "conf2", "x.yaml", "", str(jail), "loop.yaml", "dangling.yaml", "nothing"]
    forms = ["!include", "!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
             "!include_dir_merge_named", "!secret"]
    (jail / "outside" / "secrets.yaml").write_text("CANARY-q7x: CANARY-q7x\npw: CANARY-q7x\n")
    for i in range(6):
        os.symlink(rng.choice([jail / "outside", jail / "outside" / "o.yaml", conf / "d", "..", "../outside"]),
                   conf / "d" / f"l{i}.yaml")
    with caplog.at_level(logging.DEBUG, logger="quillfern"):
        for _ in range(300):
            arg = "/".join(rng.choice(pieces) for _ in range(rng.randint(1, 4)))
            text = f"v: {rng.choice(forms)} '{arg}'\n"
            try:
                result = load(text, conf, ALL | q.OPT_INCLUDE_DIR_RECURSIVE | q.OPT_SECRET_NOT_FOUND_WARN)
            except q.QuillfernError as e:
                assert "CANARY-q7x" not in str(e), text
                continue
            assert "CANARY-q7x" not in repr(result), text
    assert all("CANARY-q7x" not in r.getMessage() for r in caplog.records)


# ---- annotated results ----


def test_annotated_results_name_their_files(tmp_path, monkeypatch):
    monkeypatch.setenv("QF_HOST", "example.org")
    conf = tree(tmp_path / "conf", {
        "sub/a.yaml": "# head\nport: 80\n",
        "secrets.yaml": "pw: hunter2\n",
        "d/x.yaml": "x: 1\n",
    })
    text = "a: !include sub/a.yaml\nb: !secret pw\nc: !env_var QF_HOST\nd: !include_dir_named d\nplain: v\n"
    r = load(text, conf, ALL | q.OPT_ANNOTATED | q.OPT_ANNOTATE_NUMBERS)
    c = conf.resolve()
    assert r.__file__ == f"{conf}/<root>"
    assert (r["a"].__file__, r["a"].__line__) == (f"{c}/sub/a.yaml", 2)
    assert (r["a"]["port"].__file__, r["a"]["port"].__line__, r["a"]["port"].__column__) == (f"{c}/sub/a.yaml", 2, 7)
    assert (r["a"].__source_tag__, r["a"].__source_target__) == ("!include", "sub/a.yaml")
    assert (r["b"], r["b"].__source_tag__, r["b"].__source_target__, r["b"].__line__) == ("hunter2", "!secret", "pw", 2)
    assert (r["c"], r["c"].__source_tag__, r["c"].__source_target__) == ("example.org", "!env_var", "QF_HOST")
    assert (r["d"].__source_tag__, r["d"].__source_target__) == ("!include_dir_named", "d")
    assert r["d"]["x"].__file__ == f"{c}/d/x.yaml"
    assert r["plain"].__source_tag__ is None
    r = load(text, conf, ALL | q.OPT_ANNOTATED, root_path=str(conf / "main.yaml"))
    assert (r.__file__, r["plain"].__file__) == (f"{conf}/main.yaml", f"{conf}/main.yaml")


def test_per_source_checks_name_the_included_file(tmp_path):
    conf = tree(tmp_path / "conf", {"c.yaml": "? [a]\n: 1\n"})
    err = failure("x: !include c.yaml\n", conf, INC | q.OPT_REJECT_COMPLEX_KEYS)
    assert type(err) is q.QuillfernComplexKeyError
    assert err.file == str(conf.resolve() / "c.yaml")




# ---- round trip ----


RT = ALL | q.OPT_ROUND_TRIP


def test_round_trip_writes_directives_back_and_never_their_values(tmp_path, monkeypatch):
    monkeypatch.setenv("QF_HOST", "host-value-zz")
    conf = tree(tmp_path / "conf", {
        "cfg #1.yaml": "port: 80\n", "secrets.yaml": "pw: hunter2-zz\ndb: {user: u-zz, pass: p-zz}\n",
        "d/a.yaml": "1\n", "plain.yaml": "[1, 2]\n",
    })
    text = ("# settings\n"
            "a: !include \"cfg #1.yaml\"  # the port\n"
            "b: !secret pw\n"
            "c: [!secret db, !env_var QF_HOST, !include plain.yaml]\n"
            "d: !include_dir_list d\n"
            "e: !env_var 'QF_HOST fallback'\n"
            "f: {s: !secret db}\n")
    doc = load(text, conf, RT)
    assert q.dumps(doc) == text.encode()
    assert doc.to_dict() == {"a": {"port": 80}, "b": "hunter2-zz", "c": [{"user": "u-zz", "pass": "p-zz"},
                             "host-value-zz", [1, 2]], "d": [1], "e": "host-value-zz",
                             "f": {"s": {"user": "u-zz", "pass": "p-zz"}}}
    doc["g"] = 1
    out = doc.to_yaml()
    assert b"-zz" not in out
    assert out == text.encode() + b"g: 1\n"
    again = load(out.decode(), conf, RT)
    assert again.to_dict() == {**doc.to_dict(), "g": 1}


def test_round_trip_reports_as_the_other_roads(tmp_path, caplog):
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        with pytest.raises(q.QuillfernSecretNotFoundError):
            load("a: !secret nope\n", tmp_path, RT)
        doc = load("a: !secret nope\n", tmp_path, RT | q.OPT_SECRET_NOT_FOUND_WARN)
    assert doc.to_dict() == {"a": None}
    assert [r.getMessage() for r in caplog.records] == [
        f"secret 'nope' is not defined in any secrets.yaml at {tmp_path}/<root>:1"]
    assert q.dumps(doc) == b"a: !secret nope\n"


def test_a_directive_anchor_binds_and_is_written_back(tmp_path):
    conf = tree(tmp_path / "conf", {"f.yaml": "&inner [1, 2]\n"})
    text = "a: &x !include f.yaml  # note\nb: *x\n"
    r = load(text, conf, INC)
    assert r == {"a": [1, 2], "b": [1, 2]} and r["a"] is r["b"]
    doc = load(text, conf, INC | q.OPT_ROUND_TRIP)
    doc["c"] = 2
    assert doc.to_yaml() == text.encode() + b"c: 2\n"


@pytest.mark.parametrize("option", [0, q.OPT_ROUND_TRIP, q.OPT_ANNOTATED])
def test_secret_text_never_reaches_a_warning_or_an_error(tmp_path, caplog, option):
    conf = tree(tmp_path / "conf", {"secrets.yaml": "flag: yes\nmap: {pass-zz: 1, pass-zz: 2}\n"})
    text = "a: !secret flag\nb: !secret map\nc: yes\n"
    warn = q.OPT_SECRETS | q.OPT_YAML_1_1 | q.OPT_YAML_1_1_WARN | q.OPT_DUPLICATE_KEYS_WARN | option
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        load(text, conf, warn)
    messages = [r.getMessage() for r in caplog.records]
    assert any("'<secret>'" in m and "YAML 1.1" in m for m in messages)
    assert any("duplicate mapping key '<secret>'" in m for m in messages)
    assert any("YAML 1.1 syntax 'yes'" in m for m in messages)  # the main text's own value
    assert not any("pass-zz" in m for m in messages)
    with pytest.raises(q.QuillfernDuplicateKeyError) as info:
        load(text, conf, q.OPT_SECRETS | q.OPT_DUPLICATE_KEYS_ERROR | option)
    assert "pass-zz" not in str(info.value) and "<secret>" in str(info.value)


def test_an_included_directive_root_keeps_its_record(tmp_path, caplog):
    conf = tree(tmp_path / "conf", {"secrets.yaml": "pw: yes\n", "db.yaml": "!secret pw\n", "doc.yaml": "k: v\n"})
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        r = load("a: !include db.yaml\n", conf, ALL | q.OPT_YAML_1_1 | q.OPT_YAML_1_1_WARN)
    assert r == {"a": True}
    # The value came through a secret: its text is not shown.
    assert [m.getMessage().split(" ")[3] for m in caplog.records] == ["'<secret>'"]


def test_a_directive_at_a_document_root_keeps_the_document_markers(tmp_path):
    conf = tree(tmp_path / "conf", {"doc.yaml": "--- # own marker\nk: v\n"})
    text = "%YAML 1.2\n--- !include doc.yaml  # c\n---\nb: 1\n"
    doc = load(text, conf, ALL | q.OPT_ROUND_TRIP)
    assert q.dumps(doc) == text.encode()
    doc[1] = {"b": 2}
    out = doc.to_yaml()
    assert out.startswith(b"%YAML 1.2\n---") and b"!include doc.yaml  # c\n---\nb: 2\n" in out
    assert load(out.decode(), conf, ALL | q.OPT_ROUND_TRIP).to_dict() == [{"k": "v"}, {"b": 2}]


def test_aliases_bind_within_their_own_file(tmp_path):
    conf = tree(tmp_path / "conf", {"f.yaml": "k: &x inner\nuse: *x\n"})
    text = "a: &x public\nb: !include f.yaml\nc: *x\n"
    for option in (INC, INC | q.OPT_ANNOTATED):
        assert load(text, conf, option) == {"a": "public", "b": {"k": "inner", "use": "inner"}, "c": "public"}
    assert load(text, conf, INC | q.OPT_ROUND_TRIP).to_dict()["c"] == "public"


def test_write_back_of_an_included_file_of_several_documents_keeps_the_rest(tmp_path):
    rest = "---\ny: 2\n...\n--- # third\nz: 3\n"
    conf = tree(tmp_path / "conf", {"two.yaml": "x: 1  # c\n" + rest})
    doc = load("a: !include two.yaml\n", conf, INC | q.OPT_ROUND_TRIP)
    doc["a"]["x"] = 5
    assert q.dump_includes_map(doc) == {str(conf.resolve() / "two.yaml"): ("x: 5  # c\n" + rest).encode()}


def test_write_back_of_an_included_file_keeps_its_own_parts(tmp_path):
    conf = tree(tmp_path / "conf", {"own.yaml": "# head\nx: 1  # c\n"})
    text = "# top\na: &y !include own.yaml  # directive note\nb: *y\n"
    doc = load(text, conf, INC | q.OPT_ROUND_TRIP)
    doc["a"]["x"] = 5
    assert q.dump_includes_map(doc) == {str(conf.resolve() / "own.yaml"): b"# head\nx: 5  # c\n"}
    assert doc.to_yaml() == text.encode()
