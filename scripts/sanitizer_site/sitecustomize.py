"""Start-up hook of every Python process in the sanitizer suite (scripts/test.sh
--sanitize puts this folder's copy on PYTHONPATH).

A few third-party extension modules leak objects while they initialise. The
interpreter and those modules are built without frame pointers, so the leak
stacks stop inside the interpreter's allocator and a suppression could not
tell them from a leak of ours. Instead, leak tracking is paused (per thread)
only while one of the modules listed here is created and executed; everything
else, including every allocation quillfern makes, stays tracked.
"""

import ctypes
import gc
import importlib.machinery
import sys

# Extension modules whose own initialisation leaks:
#   numpy's core module leaks ufunc promoter objects it builds at import.
_LEAKY_AT_INIT = frozenset({"numpy._core._multiarray_umath", "numpy.core._multiarray_umath"})

try:
    _rt = ctypes.CDLL(None)
    _pause, _resume = _rt.__lsan_disable, _rt.__lsan_enable
except (OSError, AttributeError):  # no leak checker loaded
    _pause = _resume = None


class _PausedLoader:
    def __init__(self, loader):
        self._loader = loader

    def create_module(self, spec):
        # A full collection also empties the interpreter's free lists (floats,
        # tuples, ...): an object the module takes from one would keep the
        # allocation record of its earlier, tracked life and be reported.
        gc.collect()
        _pause()
        try:
            return self._loader.create_module(spec)
        finally:
            _resume()

    def exec_module(self, module):
        _pause()
        try:
            self._loader.exec_module(module)
        finally:
            _resume()


class _LeakyInitFinder:
    @staticmethod
    def find_spec(name, path=None, target=None):
        if name not in _LEAKY_AT_INIT:
            return None
        spec = importlib.machinery.PathFinder.find_spec(name, path, target)
        if spec is not None and spec.loader is not None:
            spec.loader = _PausedLoader(spec.loader)
        return spec


if _pause is not None:
    sys.meta_path.insert(0, _LeakyInitFinder())
