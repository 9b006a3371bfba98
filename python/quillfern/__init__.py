from . import _quillfern  # noqa: F401
