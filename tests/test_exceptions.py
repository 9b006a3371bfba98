"""The package's exception classes, the annotated scalar classes, and the
internal error raised when an exception class cannot be found."""

import copy
import os
import pickle
import subprocess
import sys
import textwrap

import pytest

import quillfern
from quillfern import exceptions as exc

NAMES = [
    "QuillfernParseError",
    "QuillfernDecodeError",
    "QuillfernDuplicateKeyError",
    "QuillfernComplexKeyError",
    "QuillfernEncodeError",
    "QuillfernUnserializableError",
    "QuillfernSchemaError",
    "QuillfernIncludeError",
    "QuillfernIncludeNotFoundError",
    "QuillfernCircularIncludeError",
    "QuillfernIncludeDepthError",
    "QuillfernIncludeConfinementError",
    "QuillfernSecretNotFoundError",
    "QuillfernEnvVarError",
]


@pytest.mark.parametrize("name", NAMES)
def test_exception_classes(name):
    cls = getattr(exc, name)
    assert getattr(quillfern, name) is cls
    assert issubclass(cls, exc.QuillfernError) and issubclass(cls, Exception)
    e = cls("message text")
    assert str(e) == "message text" and e.args == ("message text",)
    for attr in ("file", "line", "column", "include_stack", "schema_path"):
        assert not hasattr(e, attr)
        assert not hasattr(cls, attr)
    e.line = 3  # the module sets attributes after creation
    assert e.line == 3


def test_hierarchy():
    assert issubclass(exc.QuillfernParseError, exc.QuillfernDecodeError)
    assert issubclass(exc.QuillfernDecodeError, ValueError)
    assert issubclass(exc.QuillfernDuplicateKeyError, exc.QuillfernDecodeError)
    assert issubclass(exc.QuillfernComplexKeyError, exc.QuillfernDecodeError)
    assert issubclass(exc.QuillfernUnserializableError, exc.QuillfernEncodeError)
    assert issubclass(exc.QuillfernUnserializableError, TypeError)
    assert issubclass(exc.QuillfernEncodeError, ValueError)
    assert issubclass(exc.QuillfernSchemaError, ValueError)
    for name in ("NotFound", "Circular", "Depth", "Confinement"):
        cls = getattr(exc, f"QuillfernInclude{name}Error" if name != "Circular" else "QuillfernCircularIncludeError")
        assert issubclass(cls, exc.QuillfernIncludeError)


ANNOTATED = [
    (quillfern.QuillfernAnnotatedStr, "text", str),
    (quillfern.QuillfernAnnotatedInt, 42, int),
    (quillfern.QuillfernAnnotatedFloat, 2.5, float),
]


@pytest.mark.parametrize("cls, value, base", ANNOTATED)
def test_annotated_scalars(cls, value, base):
    obj = cls(value, 3, 5, "f.yaml", 3, 9, "double", "!secret", "db_pass", 17, 21)
    assert isinstance(obj, base) and obj == value and hash(obj) == hash(value)
    assert (obj.__line__, obj.__column__, obj.__file__) == (3, 5, "f.yaml")
    assert (obj.__end_line__, obj.__end_column__, obj.__style__) == (3, 9, "double")
    assert (obj.__source_tag__, obj.__source_target__) == ("!secret", "db_pass")
    assert (obj.__offset__, obj.__end_offset__) == (17, 21)
    assert obj.is_secret and not obj.is_env_var and not obj.is_include
    for back in (pickle.loads(pickle.dumps(obj)), copy.copy(obj), copy.deepcopy(obj)):
        assert type(back) is cls and back == value
        assert back.__dict__ == obj.__dict__


@pytest.mark.parametrize(
    "tag, secret, env, include",
    [
        (None, False, False, False),
        ("!secret", True, False, False),
        ("!env_var", False, True, False),
        ("!include", False, False, True),
        ("!include_dir_list", False, False, True),
        ("!include_dir_named", False, False, True),
        ("!include_dir_merge_list", False, False, True),
        ("!include_dir_merge_named", False, False, True),
        ("!include_dir_merge_named_x", False, False, False),
        ("!custom", False, False, False),
    ],
)
def test_annotated_predicates(tag, secret, env, include):
    obj = quillfern.QuillfernAnnotatedStr("v", 1, 1, None, 1, 2, "plain", tag, None, 0, 1)
    assert (obj.is_secret, obj.is_env_var, obj.is_include) == (secret, env, include)


def run_isolated(code):
    """Runs code in a fresh interpreter that imports the installed package."""
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, env=env, timeout=60
    )


def test_missing_exception_class_is_an_internal_error():
    result = run_isolated(
        """
        import quillfern
        import quillfern.exceptions as e
        del e.QuillfernDecodeError
        try:
            quillfern.yaml_version(b"\\xff")
        except Exception as err:
            raise SystemExit("caught as an ordinary Exception: %r" % err)
        except BaseException as err:
            assert type(err).__bases__ == (BaseException,), type(err).__mro__
            assert type(err).__name__ == "QuillfernInternalError"
            msg = str(err)
            assert msg.startswith("failed to import exception quillfern.exceptions.QuillfernDecodeError: "), msg
            assert "AttributeError" in msg, msg
        else:
            raise SystemExit("nothing raised")
        # The cell stayed empty: once the class is back, the real error is raised.
        class QuillfernDecodeError(ValueError):
            pass
        e.QuillfernDecodeError = QuillfernDecodeError
        try:
            quillfern.yaml_version(b"\\xff")
        except QuillfernDecodeError as err:
            assert str(err).startswith("invalid UTF-8"), str(err)
        else:
            raise SystemExit("nothing raised once the class is back")
        print("ok")
        """
    )
    assert result.returncode == 0, result.stderr + result.stdout
    assert result.stdout.strip() == "ok"


def test_missing_exceptions_module_is_an_internal_error():
    result = run_isolated(
        """
        import sys
        import quillfern
        sys.modules["quillfern.exceptions"] = None  # makes the import fail
        try:
            quillfern.yaml_version(b"\\xff")
        except Exception as err:
            raise SystemExit("caught as an ordinary Exception: %r" % err)
        except BaseException as err:
            assert type(err).__name__ == "QuillfernInternalError", type(err).__mro__
            msg = str(err)
            assert "quillfern.exceptions" in msg and "QuillfernDecodeError" in msg, msg
        else:
            raise SystemExit("nothing raised")
        print("ok")
        """
    )
    assert result.returncode == 0, result.stderr + result.stdout
    assert result.stdout.strip() == "ok"


def test_exception_attribute_that_is_not_a_type_is_an_internal_error():
    result = run_isolated(
        """
        import quillfern
        import quillfern.exceptions as e
        e.QuillfernDecodeError = "not a class"
        try:
            quillfern.yaml_version(b"\\xff")
        except Exception:
            raise SystemExit("ordinary exception")
        except BaseException as err:
            assert type(err).__name__ == "QuillfernInternalError", type(err).__mro__
            assert "is not a type" in str(err), str(err)
        else:
            raise SystemExit("nothing raised")
        print("ok")
        """
    )
    assert result.returncode == 0, result.stderr + result.stdout
    assert result.stdout.strip() == "ok"


def test_import_under_warnings_as_errors():
    # Creating the classes must not emit warnings (e.g. for names without a
    # module part).
    result = subprocess.run(
        [sys.executable, "-W", "error", "-c", "import quillfern; print(len(quillfern._quillfern.__all__))"],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "52"
