"""pytest plugin for the sanitizer suite (scripts/test.sh --sanitize): fails
the session at once unless quillfern is the sanitized build staged in
QUILLFERN_EXPECT_MODULE_DIR, so a stray release install can never stand in
for it."""

import os


def pytest_sessionstart(session):
    import quillfern
    from quillfern import _quillfern

    expected = os.path.realpath(os.environ["QUILLFERN_EXPECT_MODULE_DIR"])
    for mod in (quillfern, _quillfern):
        got = os.path.dirname(os.path.realpath(mod.__file__))
        if got != expected:
            raise RuntimeError(f"{mod.__name__} imported from {got}, expected the sanitized build in {expected}")


def pytest_report_header(config):
    from quillfern import _quillfern

    return f"sanitized module: {_quillfern.__file__}"
