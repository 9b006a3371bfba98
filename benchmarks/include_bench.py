#!/usr/bin/env python3
"""Includes: a tree of 200 included files (10 directories x 20 files, about
500 KB) against the same content as one file, and against PyYAML's C loader
with a hand-written !include constructor (relative to the including file,
confined by realpath). Ratios are measured in one run.

    python benchmarks/include_bench.py
"""
from __future__ import annotations

import os
import pathlib
import subprocess
import sys
import tempfile

import quillfern

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from bench import _STATUS, best_time, pyyaml  # noqa: E402

DIRS, FILES = 10, 20


def file_text(d: int, f: int) -> str:
    """About 2.5 KB of service settings."""
    lines = [f"name: service-{d}-{f}", "settings:"]
    for i in range(40):
        lines.append(f"  key_{i}: {{port: {8000 + i}, host: 'h{i}.example.org', enabled: {str(i % 2 == 0).lower()}}}")
    lines.append("tags: [alpha, beta, gamma, delta]")
    return "\n".join(lines) + "\n"


def indent(text: str, by: str) -> str:
    return "".join(by + line + "\n" for line in text.splitlines())


def build(base: pathlib.Path) -> tuple[str, str]:
    """Writes the tree; returns (tree root text, flat text)."""
    tree_root, flat = [], []
    for d in range(DIRS):
        tree_root.append(f"group_{d}:")
        flat.append(f"group_{d}:")
        for f in range(FILES):
            rel = f"g{d}/f{f}.yaml"
            (base / f"g{d}").mkdir(exist_ok=True)
            (base / rel).write_text(file_text(d, f))
            tree_root.append(f"  f{f}: !include {rel}")
            flat.append(f"  f{f}:")
            flat.append(indent(file_text(d, f), "    ").rstrip("\n"))
    return "\n".join(tree_root) + "\n", "\n".join(flat) + "\n"


def pyyaml_loader(root: str):
    """A CSafeLoader subclass whose !include reads relative to the including
    file and refuses anything that resolves outside `root`."""
    real_root = os.path.realpath(root)

    class Loader(pyyaml.CSafeLoader):
        pass

    def include(loader, node):
        base = getattr(loader, "_base", real_root)
        path = os.path.realpath(os.path.join(base, loader.construct_scalar(node)))
        if os.path.commonpath([path, real_root]) != real_root:
            raise ValueError(f"{path} is outside {real_root}")
        with open(path, "rb") as f:
            inner = Loader(f)
            inner._base = os.path.dirname(path)
            try:
                return inner.get_single_data()
            finally:
                inner.dispose()

    Loader.add_constructor("!include", include)
    return Loader


def peak(code: str, base: str) -> float:
    out = subprocess.run([sys.executable, "-c", _STATUS + code, base], capture_output=True, text=True, check=True)
    start, high = map(int, out.stdout.split())
    return (high - start) / 1024


def main() -> None:
    with tempfile.TemporaryDirectory() as tmp:
        base = pathlib.Path(tmp)
        tree, flat = build(base)
        (base / "tree.yaml").write_text(tree)
        (base / "flat.yaml").write_text(flat)
        size = sum(p.stat().st_size for p in base.glob("g*/*.yaml"))
        print(f"{DIRS * FILES} included files, {size / 1e3:.0f} KB; flat text {len(flat) / 1e3:.0f} KB")
        inc = quillfern.OPT_INCLUDES
        expected = quillfern.loads(flat)
        assert quillfern.loads(tree, option=inc, include_dir=tmp) == expected

        t_tree = best_time(lambda: quillfern.loads(tree, option=inc, include_dir=tmp), 5)
        t_flat_inc = best_time(lambda: quillfern.loads(flat, option=inc, include_dir=tmp), 5)
        t_flat = best_time(lambda: quillfern.loads(flat), 5)
        t_rt = best_time(lambda: quillfern.loads(tree, option=inc | quillfern.OPT_ROUND_TRIP, include_dir=tmp), 5)
        print(f"loads(tree, OPT_INCLUDES)                 {t_tree * 1e3:8.2f} ms")
        print(f"loads(flat, OPT_INCLUDES)                 {t_flat_inc * 1e3:8.2f} ms")
        print(f"loads(flat)                               {t_flat * 1e3:8.2f} ms")
        print(f"loads(tree, OPT_ROUND_TRIP|OPT_INCLUDES)  {t_rt * 1e3:8.2f} ms")
        print(f"tree over flat (OPT_INCLUDES): {t_tree / t_flat_inc:.2f}x (target <= 1.25x)")
        if pyyaml is not None:
            loader = pyyaml_loader(tmp)
            assert pyyaml.load(tree, Loader=loader) == expected
            t_py = best_time(lambda: pyyaml.load(tree, Loader=loader), 3)
            print(f"PyYAML-C with !include                    {t_py * 1e3:8.2f} ms")
            print(f"PyYAML-C over loads(tree, OPT_INCLUDES): {t_py / t_tree:.2f}x (target >= 4x)")
        if os.path.exists("/proc/self/clear_refs"):
            for label, opt in (("OPT_INCLUDES", "quillfern.OPT_INCLUDES"),
                               ("OPT_ROUND_TRIP|OPT_INCLUDES", "quillfern.OPT_INCLUDES | quillfern.OPT_ROUND_TRIP")):
                code = ("import quillfern\nt = open(sys.argv[1] + '/tree.yaml').read()\nreset()\n"
                        "base = status('VmRSS')\n"
                        f"x = quillfern.loads(t, option={opt}, include_dir=sys.argv[1])\n"
                        "print(base, status('VmHWM'))\n")
                print(f"peak memory of loads(tree, {label}): +{peak(code, tmp):.1f} MiB")


if __name__ == "__main__":
    main()
