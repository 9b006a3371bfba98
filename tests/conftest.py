import sys


def pytest_terminal_summary(terminalreporter):
    # Time and peak memory of each hostile-input case (test_hostile_input.py).
    records = getattr(sys.modules.get("test_hostile_input"), "_RECORDS", None)
    if records:
        terminalreporter.section("hostile input: time and peak memory per case")
        for line in records:
            terminalreporter.write_line(line)
