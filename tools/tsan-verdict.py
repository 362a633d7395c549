#!/usr/bin/env python3
"""Judges the ThreadSanitizer reports of a test run.

Usage: tsan-verdict.py SOURCE_ROOT LOG_FILE...

The test run writes its reports with TSAN_OPTIONS=log_path, unsuppressed:
GLib, fontconfig and Pango are not instrumented, so their internals report
races that are not ours, and suppressing whole libraries would hide our races
under their callbacks too. Instead a report fails the run when it is ours:

- a report whose first frame below the sanitizer's own, in either access
  stack (or, for reports without accesses, in its first stack), is in our
  source, that is under SOURCE_ROOT; the C++ standard library counts as the
  code that called it;
- a lock-order report in which any mutex is created or taken in our source.

Every other report is counted by the library of that first frame. Prints one
line per report of ours with its stack, then the counts, and exits 1 if any
report was ours.
"""
import collections
import os
import re
import sys

FRAME = re.compile(r"^\s+#\d+ (?P<function>.*?) (?P<location>\S+) \((?P<module>[^)\s]+?)(?:\+0x[0-9a-f]+)?\)")
REPORT_START = re.compile(r"^WARNING: ThreadSanitizer: (?P<kind>.+?)(?: \(pid=\d+\))?$")
# Headings of the stacks of the accesses themselves (data races).
ACCESS_HEADING = re.compile(
    r"^\s+(Previous )?(Write|Read|Atomic write|Atomic read|atomic write|atomic read|write|read)"
    r".* of size \d+ at ")
MUTEX_HEADING = re.compile(r"^\s+Mutex M\d+ (acquired here|previously acquired|.*created at)")
SANITIZER_MODULES = ("libtsan.so", "libclang_rt.tsan")
STANDARD_HEADERS = ("/usr/include/c++/", "/usr/include/x86_64-linux-gnu/c++/")
STANDARD_MODULES = ("libstdc++.so",)


class Frame:
    def __init__(self, function, location, module):
        self.function = function
        self.file = location.split(":")[0]
        self.module = os.path.basename(module)

    def is_sanitizer(self):
        return self.module.startswith(SANITIZER_MODULES) or "libsanitizer/" in self.file

    def is_standard_library(self):
        return self.file.startswith(STANDARD_HEADERS) or self.module.startswith(STANDARD_MODULES)


def parse_reports(lines):
    """Each report as (kind, [(heading, [Frame...])...], text)."""
    reports = []
    report = None
    for line in lines:
        line = line.rstrip("\n")
        start = REPORT_START.match(line)
        if start:
            report = (start.group("kind"), [], [line])
            reports.append(report)
            continue
        if report is None:
            continue
        if line.startswith("SUMMARY: ThreadSanitizer") or line.startswith("=================="):
            report[2].append(line)
            report = None
            continue
        report[2].append(line)
        frame = FRAME.match(line)
        if frame:
            if not report[1]:
                report[1].append(("", []))
            report[1][-1][1].append(Frame(frame.group("function"), frame.group("location"),
                                          frame.group("module")))
        elif line.strip():
            report[1].append((line, []))
    return reports


def first_own_frame(stack, root):
    """The first frame below the sanitizer's; None for an empty stack."""
    frames = [frame for frame in stack if not frame.is_sanitizer()]
    # The standard library (its templates compiled into our programs, or its
    # shared library) belongs to the code that called it.
    for frame in frames:
        if not frame.is_standard_library():
            return frame
    return frames[0] if frames else None


def is_ours(frame, root):
    return frame is not None and frame.file.startswith(root)


def judge(report, root):
    """(ours, library) for one report."""
    kind, stacks, _ = report
    stacks = [(heading, frames) for heading, frames in stacks if frames]
    if kind.startswith("lock-order-inversion"):
        chosen = [frames for heading, frames in stacks if MUTEX_HEADING.match(heading)]
    else:
        chosen = [frames for heading, frames in stacks if ACCESS_HEADING.match(heading)]
        chosen = chosen or [frames for heading, frames in stacks[:1]]
    firsts = [first_own_frame(frames, root) for frames in chosen]
    firsts = [frame for frame in firsts if frame is not None]
    if any(is_ours(frame, root) for frame in firsts):
        return True, None
    return False, firsts[0].module if firsts else "(no stack)"


def main(arguments):
    if len(arguments) < 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    root = os.path.realpath(arguments[0]).rstrip("/") + "/"
    ours = []
    others = collections.Counter()
    kinds = collections.Counter()
    # A pattern that matched no log stands for a run without reports.
    logs = [path for path in arguments[1:] if os.path.isfile(path)]
    for path in logs:
        with open(path, errors="replace") as log:
            for report in parse_reports(log):
                own, library = judge(report, root)
                if own:
                    ours.append((path, report))
                else:
                    others[library] += 1
                    kinds[report[0]] += 1
    for path, (kind, _, text) in ours:
        print(f"ThreadSanitizer report of ours ({os.path.basename(path)}): {kind}")
        print("\n".join(text))
    counted = ", ".join(f"{library} {count}" for library, count in others.most_common())
    print(f"ThreadSanitizer: {len(logs)} logs, {len(ours)} reports of ours, "
          f"{sum(others.values())} not ours" + (f" ({counted})" if counted else ""))
    if kinds:
        print("  not ours by kind: " +
              ", ".join(f"{kind} {count}" for kind, count in kinds.most_common()))
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
