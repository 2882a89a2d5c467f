"""Says loudly, at the end of a run, when the YAML test suite was missing and
its cases were skipped."""

from __future__ import annotations

from suite_util import suite_missing_reason


def pytest_terminal_summary(terminalreporter, exitstatus, config):  # noqa: ARG001
    reason = suite_missing_reason()
    if reason is None:
        return
    skipped = [
        report
        for report in terminalreporter.stats.get("skipped", [])
        if "suite" in report.nodeid or "YAML test suite" in str(report.longrepr)
    ]
    terminalreporter.write_sep("!", "YAML TEST SUITE MISSING", red=True, bold=True)
    terminalreporter.write_line(
        f"{len(skipped)} tests over the YAML test suite were skipped: {reason}."
    )
