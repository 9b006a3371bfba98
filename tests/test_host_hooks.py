"""Host code that runs during a call (import hooks, audit hooks, collector
callbacks, a class's own __hash__) never meets a list or tuple with empty
slots, and the extension keeps to the interpreter's public C API."""

import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import textwrap

import pytest

import quillfern
from quillfern import _quillfern

# Every list and tuple the collector knows is walked item by item whenever a
# hook runs during a call; an empty slot crashes the child.
CHILD = textwrap.dedent(
    r"""
    import builtins, gc, os, sys
    import quillfern as q

    active = False
    busy = False
    calls = 0

    def scan(*_):
        global busy, calls
        if not active or busy:
            return
        busy = True  # the walk raises audit events of its own
        try:
            calls += 1
            for o in gc.get_objects():
                if type(o) is list or type(o) is tuple:
                    for x in o:
                        pass
        finally:
            busy = False

    hook = sys.argv[1]
    if hook == "import":
        real = builtins.__import__
        def hooked(name, *a, **k):
            scan()
            return real(name, *a, **k)
        builtins.__import__ = hooked
    elif hook == "audit":
        sys.addaudithook(lambda event, args: scan())
    else:
        # Unmarshalling code fills tuples in place too: no first import
        # under this hook.
        import datetime
        gc.set_threshold(1)
        gc.callbacks.append(scan)

    conf = sys.argv[2]

    def refused_key():
        try:
            q.loads("- a\n- b\n- ? !x {k: v}\n  : 1\n- c\n")
        except q.QuillfernDecodeError as e:
            assert "not hashable" in str(e)
        else:
            raise AssertionError("no error")

    def include_stack():
        try:
            q.loads("- 1\n- !include a.yaml\n", option=q.OPT_INCLUDES, include_dir=conf)
        except q.QuillfernError as e:
            assert len(e.include_stack) == 2, e.include_stack
        else:
            raise AssertionError("no error")

    def host_hash():
        q.QuillfernTag.__hash__ = lambda self: scan() or 7
        try:
            return q.loads("- a\n- {? !x k : v}\n- c\n", option=q.OPT_PASSTHROUGH_TAG)
        finally:
            del q.QuillfernTag.__hash__

    rt = lambda text: q.loads(text, option=q.OPT_ROUND_TRIP)
    # Past the interpreter's free lists, so that making them runs the
    # collector.
    wide = "".join("- [%s]\n" % ", ".join(["x"] * 30) for _ in range(30))
    many = "---\n".join(["- [a]\n" * 100] * 2)
    cases = [
        # each first use in this process: the kept key table, the datetime
        # import, the exception classes
        lambda: q.loads("- alpha: 1\n- beta: 2\n- gamma: 3\n"),
        lambda: q.loads("- 2001-01-01\n- [x, 2001-01-02]\n- b\n", option=q.OPT_TIMESTAMPS),
        refused_key,
        lambda: q.loads_all("- a: 1\n---\n- [b, c]\n- d\n"),
        lambda: q.loads("? [a, [b, c]]\n: - x\n  - y\n"),
        host_hash,
        lambda: rt(wide + "- {k: v, l: w}\n- ? [x, y]\n  : z\n").to_tree(),
        lambda: rt(many).to_dict(),
        lambda: rt("a: &x 1\nb: *x\nc: [*x, *x]\n").node["a"].aliases,
        include_stack,
    ]
    for case in cases:
        active = True
        try:
            case()
        finally:
            active = False
    gc.callbacks.clear()
    print("ok", calls)
    """
)


@pytest.mark.parametrize("hook", ["import", "audit", "collector"])
def test_hooks_during_calls_never_meet_empty_slots(hook, tmp_path):
    conf = tmp_path / "conf"
    conf.mkdir()
    (conf / "a.yaml").write_text("- x\n- !include b.yaml\n")
    (conf / "b.yaml").write_text("- !include c.yaml\n")
    (conf / "c.yaml").write_text("k: [1, 2, 3\n")
    # Without site the hooks also see the first imports of atexit and
    # datetime; the package is found through PYTHONPATH instead.
    env = dict(os.environ, PYTHONPATH=str(pathlib.Path(quillfern.__file__).parent.parent))
    result = subprocess.run(
        [sys.executable, "-S", "-c", CHILD, hook, str(conf)],
        capture_output=True, text=True, timeout=120, env=env,
    )
    assert result.returncode == 0, result.stderr
    word, calls = result.stdout.split()
    assert word == "ok"
    assert int(calls) > 0  # the hook did run during the calls


def extension_path():
    return pathlib.Path(_quillfern.__file__)


# Private symbols the extension may import, each with why it is there. The
# interpreter's public macros expand to most of them.
ALLOWED_PRIVATE = {
    "_Py_Dealloc": "Py_DECREF",
    "_Py_NoneStruct": "Py_None",
    "_Py_TrueStruct": "Py_True",
    "_Py_FalseStruct": "Py_False",
    "_PyByteArray_empty_string": "PyByteArray_AS_STRING",
    "_Py_BuildValue_SizeT": "Py_BuildValue under PY_SSIZE_T_CLEAN (3.11, 3.12)",
    "_PyObject_CallMethod_SizeT": "PyObject_CallMethod under PY_SSIZE_T_CLEAN (3.11, 3.12)",
    "_PyUnicode_Ready": "PyUnicode_READY (3.11)",
    "_PyTrash_begin": "Py_TRASHCAN_BEGIN (3.11, 3.12)",
    "_PyTrash_cond": "Py_TRASHCAN_BEGIN (3.11, 3.12)",
    "_PyTrash_end": "Py_TRASHCAN_END (3.11, 3.12)",
    "_PyThreadState_UncheckedGet": "Py_TRASHCAN_BEGIN (3.12)",
    "_PyTrash_thread_deposit_object": "Py_TRASHCAN_BEGIN (3.13)",
    "_PyTrash_thread_destroy_chain": "Py_TRASHCAN_END (3.13)",
    "_PyDict_NewPresized": "a dict sized for its keys at once; before 3.13 only, where it is still exported",
}


def undefined_private_symbols():
    out = subprocess.run(
        ["nm", "-D", "--undefined-only", str(extension_path())], capture_output=True, text=True, check=True
    ).stdout
    names = {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}
    return sorted(n for n in names if n.startswith("_Py"))


@pytest.mark.skipif(shutil.which("nm") is None or sys.platform != "linux", reason="needs nm and an ELF build")
def test_extension_imports_only_allowed_private_symbols():
    found = undefined_private_symbols()
    assert [n for n in found if n not in ALLOWED_PRIVATE] == []


def test_short_ascii_strs_are_ordinary_strs():
    # Short ASCII scalars and keys are made from a copied header: they must
    # behave as any str would.
    doc = quillfern.loads("- ab\n- quillfern\n- {key: value, ab: x}\n" + "- %s\n" % ("y" * 70))
    made = [doc[0], doc[1], *doc[2], doc[2]["key"], doc[3]]
    for s in made:
        twin = "".join(list(s))
        assert type(s) is str and s == twin and hash(s) == hash(twin)
        assert sys.getsizeof(s) == sys.getsizeof(twin)
        assert s.isascii() and s.upper() == twin.upper() and s.encode() == twin.encode()
        assert {twin: 1}[s] == 1


@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="free-threaded builds only")
def test_free_threaded_interpreter_keeps_its_lock_with_the_module():
    code = "import sys, quillfern; print(sys._is_gil_enabled())"
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60, env=env)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "True"
