"""Bad input never crashes the process: random bytes and random objects
through yaml_version and the input layer."""

import array
import os
import random
import subprocess
import sys
import textwrap

import pytest

from quillfern import _quillfern as m
from quillfern.exceptions import QuillfernDecodeError, QuillfernError

PREFIXES = [
    b"",
    b"\xef\xbb\xbf",
    b"\xff\xfe",
    b"\xfe\xff",
    b"\xff\xfe\x00\x00",
    b"\x00\x00\xfe\xff",
    b"\x00",
    b"%YAML ",
    b"%YAML 1.",
    b"#",
    b"\r",
]


def random_bytes(rng):
    n = rng.choice([0, 1, 2, 3, 4, 5, 7, 8, 16, 64, 300])
    mode = rng.random()
    if mode < 0.3:
        body = bytes(rng.getrandbits(8) for _ in range(n))
    elif mode < 0.6:
        alphabet = b"%YAML 1.2#\r\n\t .0123456789\x00\xc2\x85\xa0\xe3\x80\x80\xef\xbb\xbf\xff"
        body = bytes(rng.choice(alphabet) for _ in range(n))
    else:
        text = "".join(chr(rng.choice([0x20, 0x25, 0x2E, 0x31, 0x85, 0x3000, 0xFEFF, rng.randrange(0x110000)]))
                       for _ in range(n // 4))
        enc = rng.choice(["utf-8", "utf-16-le", "utf-16-be", "utf-32-le", "utf-32-be", "utf-16", "utf-32"])
        body = text.encode(enc, "surrogatepass")
    return rng.choice(PREFIXES) + body


def check(data):
    try:
        result = m.yaml_version(data)
    except (QuillfernDecodeError, TypeError, UnicodeEncodeError):
        return
    assert result is None or isinstance(result, str)
    if result is not None:
        major, minor = result.split(".")
        assert major.isdigit() and minor.isdigit()


def test_random_bytes():
    rng = random.Random(20261210)
    for _ in range(20000):
        data = random_bytes(rng)
        check(data)
        if rng.random() < 0.1:
            check(bytearray(data))
            check(memoryview(data))
        if rng.random() < 0.05:
            try:
                check(data.decode("utf-8"))
            except UnicodeDecodeError:
                pass


class Weird:
    def __index__(self):
        raise RuntimeError("boom")

    def __fspath__(self):
        raise RuntimeError("boom")


def random_objects():
    np = None
    try:
        import numpy as np  # noqa: F811
    except ImportError:
        pass
    objs = [
        None, 0, -1, 1 << 70, 1.5, float("nan"), True, [], [b"a"], (), {}, set(), object(), Weird(),
        "x" * 10000, "\ud800", "\udfff%YAML 1.1", b"\x00" * 7, type, m, m.QuillfernTag("!t", 1),
        array.array("B"), array.array("b", [1]), array.array("d", [1.0]), array.array("I", [1, 2]),
        memoryview(b""), memoryview(b"ab").cast("c"), memoryview(b"abcd").cast("B", [2, 2]),
        memoryview(b"abcdefgh")[::3], range(3), iter([1]), lambda: 0, Exception("x"),
    ]
    if np is not None:
        objs += [
            np.zeros(0, dtype=np.uint8), np.zeros((3, 0), dtype=np.uint8), np.arange(10, dtype=np.uint8)[::-1],
            np.arange(12, dtype=np.uint8).reshape(3, 4).T, np.zeros(3, dtype=np.int8), np.zeros(3, dtype=">u2"),
            np.zeros(2, dtype=np.float32), np.array([b"%YAML 1.1"]), np.zeros((2, 2), dtype="S1"),
            np.bool_(True), np.uint8(5),
        ]
    return objs


# What a bad argument may raise: the library's own errors and the argument
# conversion errors (OverflowError and UnicodeEncodeError among them). A
# SystemError (an error indicator or reference count gone wrong) or the
# internal error is a fault.
ARGUMENT_ERRORS = (QuillfernError, TypeError, ValueError, OverflowError)


def outcome(fn, obj):
    try:
        fn()
    except ARGUMENT_ERRORS as e:
        return type(e)
    except RuntimeError as e:
        # Weird's own error passes through its conversion unchanged.
        assert isinstance(obj, Weird) and str(e) == "boom", repr(e)
        return RuntimeError
    return None


def test_random_objects():
    for obj in random_objects():
        check(obj)
        for fn, kwargs in ((m.loads, {"option": obj}), (m.loads, {"include_dir": obj}),
                           (m.loads, {"root_path": obj}), (m.loads_all, {"option": obj})):
            outcome(lambda: fn("", **kwargs), obj)
        outcome(lambda: m.QuillfernTag(obj, obj), obj)


def test_annotated_dict_accepts_and_refuses_what_dict_does():
    # It is built by dict's own constructor; each side gets a fresh object,
    # as iterators are used up.
    for obj, twin in zip(random_objects(), random_objects()):
        try:
            expected = dict(twin)
        except Exception as e:  # noqa: BLE001 - dict's own verdict is the reference
            expected = type(e)
        try:
            got = m.QuillfernAnnotatedDict(obj)
        except Exception as e:  # noqa: BLE001 - compared with dict's
            assert type(e) is expected, (obj, e)
        else:
            assert got == expected, obj


def test_random_bytes_in_a_child_process():
    # A crash (not just an exception) would kill pytest; run a second batch
    # where a crash shows up as a failed return code.
    code = textwrap.dedent(
        """
        import random
        from quillfern import _quillfern as m
        from quillfern.exceptions import QuillfernDecodeError
        rng = random.Random(7)
        for _ in range(50000):
            n = rng.randrange(0, 24)
            data = bytes(rng.getrandbits(8) for _ in range(n))
            for form in (data, bytearray(data), memoryview(data)):
                try:
                    m.yaml_version(form)
                except QuillfernDecodeError:
                    pass
        print("done")
        """
    )
    env = dict(os.environ)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=300)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "done"
