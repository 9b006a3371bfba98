"""The input layer: accepted kinds of data, encodings and decode errors.

yaml_version is the thinnest entry over the input layer, so it shows both
what decodes (a %YAML line survives the decoding) and every error text.
"""

import array
import sys

import pytest

from quillfern import _quillfern as m
from quillfern.exceptions import QuillfernDecodeError

TYPE_ERROR = "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)"
DIRECTIVE = "%YAML 1.1\n---\na\n"


@pytest.mark.parametrize(
    "data",
    [
        DIRECTIVE,
        DIRECTIVE.encode(),
        b"\xef\xbb\xbf" + DIRECTIVE.encode(),
        "\ufeff" + DIRECTIVE,
        DIRECTIVE.encode("utf-16-le"),
        DIRECTIVE.encode("utf-16-be"),
        DIRECTIVE.encode("utf-16"),  # with its byte-order mark
        "\ufeff".encode("utf-16-be") + DIRECTIVE.encode("utf-16-be"),
        DIRECTIVE.encode("utf-32-le"),
        DIRECTIVE.encode("utf-32-be"),
        DIRECTIVE.encode("utf-32"),
        "\ufeff".encode("utf-32-be") + DIRECTIVE.encode("utf-32-be"),
        bytearray(DIRECTIVE.encode()),
        memoryview(DIRECTIVE.encode()),
        memoryview(DIRECTIVE.encode("utf-16-le")),
        memoryview(bytearray(DIRECTIVE.encode())).cast("c"),
        array.array("B", DIRECTIVE.encode()),
        type("BytesSub", (bytes,), {})(DIRECTIVE.encode()),
        type("StrSub", (str,), {})(DIRECTIVE),
        type("BASub", (bytearray,), {})(DIRECTIVE.encode()),
    ],
)
def test_accepted_inputs_decode(data):
    assert m.yaml_version(data) == "1.1"


def test_small_inputs():
    # b"", a single byte and two-byte UTF-16 inputs decode without error.
    for data in (b"", b"a", b"a\x00", b"\x00a", b"\xff\xfe\x00\x00", bytearray()):
        assert m.yaml_version(data) is None


def test_multidimensional_and_strided_buffers_are_copied_in_order():
    np = pytest.importorskip("numpy")
    text = np.frombuffer(b"%YAML 1.2\n#.", dtype=np.uint8).reshape(2, 6)
    assert m.yaml_version(text) == "1.2"
    strided = np.frombuffer(b"%xYxAxMxLx x1x.x2x", dtype=np.uint8)[::2]
    assert m.yaml_version(strided) == "1.2"


@pytest.mark.parametrize(
    "data, message",
    [
        (b"\xff", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"),
        (b"ab\x80cd", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2"),
        (b"a\xc0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 1"),
        (b"\xed\xa0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"),
        (b"\xf4\x90\x80\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"),
        (b"\xe2\x82(", "invalid UTF-8: invalid utf-8 sequence of 2 bytes from index 0"),
        (b"abc\xf0\x9f\x98x", "invalid UTF-8: invalid utf-8 sequence of 3 bytes from index 3"),
        (b"\xc3\xa9\xe2\x82", "invalid UTF-8: incomplete utf-8 byte sequence from index 2"),
        (b"\xf0", "invalid UTF-8: incomplete utf-8 byte sequence from index 0"),
        (b"\x00ab", "invalid UTF-16: byte count is not a multiple of 2"),
        (b"\xff\xfea", "invalid UTF-16: byte count is not a multiple of 2"),
        (b"\x00a\xdc\x00", "invalid UTF-16: unpaired surrogate"),
        (b"\xfe\xff\xd8\x00", "invalid UTF-16: unpaired surrogate"),
        (b"\xfe\xff\xd8\x00\x00a", "invalid UTF-16: unpaired surrogate"),
        ("a".encode("utf-16-le") + b"\x00\xdc", "invalid UTF-16: unpaired surrogate"),
        (b"\x00\x00\x00a\x00", "invalid UTF-32: byte count is not a multiple of 4"),
        (b"\xff\xfe\x00\x00a", "invalid UTF-32: byte count is not a multiple of 4"),
        (b"\x00\x00\xfe\xff\x00\x11\x00\x00", "invalid UTF-32: not a Unicode scalar value"),
        (b"\x00\x00\x00a\x00\x00\xd8\x00", "invalid UTF-32: not a Unicode scalar value"),
        (b"a\x00\x00\x00\x00\xdc\x00\x00", "invalid UTF-32: not a Unicode scalar value"),
    ],
)
def test_decode_errors(data, message):
    for form in (data, bytearray(data), memoryview(data)):
        with pytest.raises(QuillfernDecodeError) as info:
            m.yaml_version(form)
        assert str(info.value) == message
        assert info.value.args == (message,)
        assert not hasattr(info.value, "line")
        assert not getattr(info.value, "__notes__", None)


@pytest.mark.parametrize(
    "data",
    [
        1,
        1.5,
        None,
        [b"a"],
        {"a": 1},
        object(),
        array.array("b", b"abc"),  # signed bytes
        array.array("H", [1, 2]),  # 2-byte items
        array.array("w" if sys.version_info >= (3, 13) else "u", "ab"),  # wide characters ("u" is deprecated)
        memoryview(b"abcd").cast("b"),
        memoryview(b"abcd").cast("h"),
    ],
)
def test_refused_kinds_raise_type_error(data):
    with pytest.raises(TypeError) as info:
        m.yaml_version(data)
    assert str(info.value) == TYPE_ERROR
    assert info.value.__cause__ is None and info.value.__context__ is None


def test_type_error_names_loads_for_every_entry():
    for fn in (m.yaml_version, m.loads, m.loads_all):
        with pytest.raises(TypeError) as info:
            fn(3)
        assert str(info.value) == TYPE_ERROR
        # data is not a converted argument: no "while processing" note
        assert not getattr(info.value, "__notes__", None)
    with pytest.raises(QuillfernDecodeError) as info:
        m.loads_all(b"\xff", option=0)
    assert not getattr(info.value, "__notes__", None)


def test_str_with_lone_surrogate_raises_unicode_error():
    with pytest.raises(UnicodeEncodeError):
        m.yaml_version("%YAML 1.1\n\ud800")


def test_released_buffer_is_not_kept():
    ba = bytearray(DIRECTIVE.encode())
    assert m.yaml_version(ba) == "1.1"
    ba.extend(b"more")  # would raise BufferError if an export were still held
    mv = memoryview(ba)
    assert m.yaml_version(mv) == "1.1"
    mv.release()
