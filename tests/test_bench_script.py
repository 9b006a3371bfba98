"""The benchmark script's peak-memory step: a file of its own per run, and a
figure that is what loads adds (not the start-up or the parent's size)."""

import importlib.util
import os
import pathlib

import pytest

BENCH = pathlib.Path(__file__).resolve().parent.parent / "benchmarks" / "bench.py"


@pytest.fixture(scope="module")
def bench():
    spec = importlib.util.spec_from_file_location("quillfern_bench", BENCH)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.mark.skipif(not os.path.exists("/proc/self/clear_refs"), reason="needs Linux /proc")
def test_peak_memory_counts_what_loads_adds(bench, tmp_path, capsys):
    path = tmp_path / "doc.yaml"
    path.write_text(bench.generated_document(0.3), encoding="utf-8")
    # A large parent: a child must not report the parent's peak as its own.
    ballast = b"x" * (96 << 20)
    bench.peak_memory(str(path))
    del ballast
    out = capsys.readouterr().out
    assert out.startswith("peak memory of loads on 0.3 MB: +"), out
    added = float(out.split("+", 1)[1].split(" MiB", 1)[0])
    assert added > 0.5, out


def test_main_writes_no_shared_file(bench, monkeypatch, tmp_path):
    seen, dirs = [], []
    monkeypatch.setattr(bench, "bench_set", lambda *a, **k: None)
    monkeypatch.setattr(bench, "peak_memory", seen.append)
    monkeypatch.setattr(bench, "annotated_peak_memory", dirs.append)
    monkeypatch.setattr(bench, "peak_dump_memory", seen.append)
    monkeypatch.setattr(bench, "bench_save", lambda *a, **k: None)
    monkeypatch.setattr("sys.argv", ["bench.py", "--size-mb", "0.01"])
    bench.main()
    path, again = seen
    assert path == again
    assert not pathlib.Path(path).exists()  # removed after the step
    assert pathlib.Path(path).parent != BENCH.parent.parent / "build"
    assert dirs == [str(pathlib.Path(path).parent)]


@pytest.mark.skipif(not os.path.exists("/proc/self/clear_refs"), reason="needs Linux /proc")
def test_peak_dump_memory_reports_both_figures(bench, tmp_path, capsys):
    pytest.importorskip("yaml")
    path = tmp_path / "doc.yaml"
    path.write_text(bench.generated_document(0.3), encoding="utf-8")
    bench.peak_dump_memory(str(path))
    out = capsys.readouterr().out
    assert out.startswith("peak memory of dumps(represent=None-callback): +"), out
    assert "PyYAML-C dump: +" in out
