"""Soak test: every function, on its success path and on each error path, many times.

    python leak_check.py [--calls N] [--only SUBSTRING]

For each path it makes N calls (after a warm-up) and checks:
- every call has the expected outcome: the result, or an exception of the
  expected type and arguments with no other exception chained to it. The
  interpreter turns a null return without an exception, or a result with an
  exception still set, into SystemError, so an exact outcome also proves that
  exactly one exception is set after a failure and none after a success;
- the reference counts of the argument objects are what they were, a result
  or a raised exception has the reference count that it had after the first
  call (nothing inside the module holds on to it);
- tracemalloc's traced memory is flat (less than --max-traced bytes of growth
  over the second half of the calls) and the process's RSS grows by less than
  --max-rss-kib KiB over all N calls.

Exits 1 when any path fails a check. Run by scripts/harden (20k calls per path
in CI, 1M in the long run). The test-only module's fault paths are included
when it can be imported (VELTRANE_TEST_MODULE_DIR).
"""

import argparse
import contextlib
import gc
import os
import sys
import time
import tracemalloc

from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python" / "tests" / "support"))
if os.environ.get("VELTRANE_TEST_MODULE_DIR"):
    sys.path.insert(0, os.environ["VELTRANE_TEST_MODULE_DIR"])

import veltrane_py_bindings as m  # noqa: E402
from vrn_testing.samples import CANONICAL_ID as UUID  # noqa: E402
from vrn_testing.samples import CANONICAL_ORG as ORG  # noqa: E402
from vrn_testing.samples import HEX, VALID  # noqa: E402


class Text(str):
    pass


class IndexRaises:
    def __index__(self):
        raise LookupError("index refused")


class FloatRaises:
    def __float__(self):
        raise ArithmeticError("float refused")


class PanicHook:
    """Raises the module's own PanicException from a conversion: the panic is resumed."""

    def __init__(self, panic_type):
        self.panic_type = panic_type

    def __index__(self):
        raise self.panic_type("resumed")

    __float__ = __index__


def module_panic_type():
    """The module's PanicException type, made on the first taken exception."""
    with contextlib.suppress(TypeError):
        m.sum_as_string("x", 0)
    for kind in BaseException.__subclasses__():
        if (kind.__module__, kind.__name__) != ("veltrane_runtime", "PanicException"):
            continue
        with contextlib.suppress(BaseException), quiet_stderr():
            m.sum_as_string(PanicHook(kind), 0)
        try:
            with quiet_stderr():
                m.sum_as_string(PanicHook(kind), 0)
        except BaseException as error:
            if type(error) is kind and not hasattr(error, "__notes__"):
                return kind
    raise RuntimeError("the module's PanicException type was not found")


@contextlib.contextmanager
def quiet_stderr():
    """Standard error to /dev/null at the descriptor level (fault reports, tracebacks)."""
    sys.stderr.flush()
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(devnull)


def raises(kind, *args, note=None):
    return ("raise", kind, args, None if note is None else [f"while processing '{note}'"])


def returns(value):
    return ("return", value)


def paths(panic_type):
    """(label, function, args, kwargs, expected outcome or None for type-only)."""
    not_str = "'int' object is not an instance of 'str'"
    table = [
        ("sum ok", m.sum_as_string, (2**62, 2**62), {}, returns(str(-(2**63)))),
        ("sum keywords", m.sum_as_string, (), {"b": 2, "a": 1}, returns("3")),
        ("sum missing", m.sum_as_string, (1,), {},
         raises(TypeError, "sum_as_string() missing 1 required positional argument: 'b'")),
        ("sum too many", m.sum_as_string, (1, 2, 3), {},
         raises(TypeError, "sum_as_string() takes 2 positional arguments but 3 were given")),
        ("sum unexpected keyword", m.sum_as_string, (1,), {"c": 2},
         raises(TypeError, "sum_as_string() got an unexpected keyword argument 'c'")),
        ("sum multiple values", m.sum_as_string, (1, 2), {"a": 2},
         raises(TypeError, "sum_as_string() got multiple values for argument 'a'")),
        ("sum type error", m.sum_as_string, (1.5, 2), {}, None),
        ("sum overflow", m.sum_as_string, (0, 2**64), {},
         raises(OverflowError, "Python int too large to convert to C long", note="b")),
        ("sum __index__ raises", m.sum_as_string, (IndexRaises(), 0), {},
         raises(LookupError, "index refused", note="a")),
        ("sum resumed panic", m.sum_as_string, (PanicHook(panic_type), 0), {}, raises(panic_type, "resumed")),
        ("mint ok", m.mint_uuid7, (1700000000000.0, "ffffffffffffffffffff"), {},
         returns("018bcfe5-6800-7fff-bfff-ffffffffffff")),
        ("mint bad-rand-hex", m.mint_uuid7, (0, HEX.upper()), {}, raises(ValueError, "bad-rand-hex")),
        ("mint bad-unix-ms", m.mint_uuid7, (1.5, HEX), {}, raises(ValueError, "bad-unix-ms")),
        ("mint unix_ms type error", m.mint_uuid7, ("0", HEX), {},
         raises(TypeError, "must be real number, not str", note="unix_ms")),
        ("mint unix_ms overflow", m.mint_uuid7, (10**400, HEX), {},
         raises(OverflowError, "int too large to convert to float", note="unix_ms")),
        ("mint __float__ raises", m.mint_uuid7, (FloatRaises(), HEX), {},
         raises(ArithmeticError, "float refused", note="unix_ms")),
        ("mint resumed panic", m.mint_uuid7, (PanicHook(panic_type), HEX), {}, raises(panic_type, "resumed")),
        ("mint rand_hex not str", m.mint_uuid7, (0, 5), {}, raises(TypeError, not_str, note="rand_hex")),
        ("mint rand_hex surrogate", m.mint_uuid7, (0, "\udc80" * 20), {}, None),
        ("build ok", m.vrn_build, ("iam", "", ORG.upper(), "project", UUID), {},
         returns(f"vrn:vlt:iam::{ORG}:project/{UUID}")),
        ("build keywords", m.vrn_build, (),
         {"resource_id": UUID, "resource_type": "p", "org": "", "region": "", "service": "s3"},
         returns(f"vrn:vlt:s3:::p/{UUID}")),
        ("build too-long", m.vrn_build, ("a", "", "", "a" * 464, UUID), {}, raises(ValueError, "too-long")),
        ("build missing four", m.vrn_build, ("x",), {},
         raises(TypeError, "vrn_build() missing 4 required positional arguments: "
                "'region', 'org', 'resource_type', and 'resource_id'")),
        ("build None org", m.vrn_build, ("iam", "", None, "p", UUID), {},
         raises(TypeError, "'None' is not an instance of 'str'", note="org")),
        ("build str subclass", m.vrn_build, (Text("iam"), Text(""), Text(""), Text("p"), Text(UUID)), {},
         returns(f"vrn:vlt:iam:::p/{UUID}")),
    ]
    for name in ("vrn_canonicalize", "vrn_error_kind", "vrn_service", "vrn_region", "vrn_org",
                 "vrn_resource_type", "vrn_resource_id", "vrn_cedar_entity_type", "vrn_cedar_entity_id"):
        function = getattr(m, name)
        table += [
            (f"{name} ok", function, (VALID,), {}, None),
            (f"{name} keyword", function, (), {"s": VALID}, None),
            (f"{name} not str", function, (7,), {}, raises(TypeError, not_str, note="s")),
            (f"{name} surrogate", function, ("vrn:\udc80",), {}, None),
            (f"{name} unexpected keyword", function, (), {"t": VALID},
             raises(TypeError, f"{name}() got an unexpected keyword argument 't'")),
            (f"{name} too many", function, (VALID, VALID), {},
             raises(TypeError, f"{name}() takes 1 positional arguments but 2 were given")),
        ]
        invalid = [("", "empty"), ("x" * 513, "too-long"), ("vrn:vlt:iam:US::p/" + UUID, "bad-region"),
                   (VALID + ":", "wrong-field-count"), (VALID[:-1], "bad-resource-id")]
        for text, token in invalid:
            expected = returns(token) if name == "vrn_error_kind" else raises(ValueError, token)
            table.append((f"{name} {token}", function, (text,), {}, expected))
    return table


def test_module_paths():
    """The runtime's fault paths, through the test-only module, when it is there."""
    try:
        import veltrane_test_module as t
    except ImportError:
        return []
    return [
        ("test module: fault with message", t.fault_with_message, ("boom",), {}, None),
        ("test module: fault without text", t.fault_without_text, (), {}, None),
        ("test module: null result", t.null_result, (), {}, None),
        ("test module: fetch nothing", t.fetch_nothing, (), {},
         raises(SystemError, "attempted to fetch exception but none was set", note="obj")),
    ]


def rss_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * (os.sysconf("SC_PAGE_SIZE") // 1024)


def outcome(function, args, kwargs):
    try:
        result = function(*args, **kwargs)
    except BaseException as error:
        if error.__context__ is not None or error.__cause__ is not None:
            return ("chained", type(error), error.__context__ or error.__cause__), None
        return ("raise", type(error), error.args, getattr(error, "__notes__", None)), error
    if sys.exc_info() != (None, None, None):
        return ("exception left set", sys.exc_info()), None
    return ("return", result), result


def soak(label, function, args, kwargs, expected, calls, limits):
    problems = []
    first, sample = outcome(function, args, kwargs)
    if expected is not None and first != expected:
        problems.append(f"outcome {first!r}, expected {expected!r}")
    if first[0] not in ("raise", "return"):
        problems.append(f"outcome {first!r}")
    baseline_refs = sys.getrefcount(sample)
    del sample
    for _ in range(limits.warmup):  # caches of the interpreter reach their size
        outcome(function, args, kwargs)
    arg_objects = list(args) + list(kwargs.values())
    gc.collect()
    arg_refs = [sys.getrefcount(obj) for obj in arg_objects]
    tracemalloc.start()
    traced_before = tracemalloc.get_traced_memory()[0]
    rss_before = rss_kib()
    mismatches = 0
    traced_marks = []
    for half in (calls // 2, calls - calls // 2):
        for _ in range(half):
            got, _ = outcome(function, args, kwargs)
            if got != first:
                mismatches += 1
                if mismatches == 1:
                    problems.append(f"outcome changed to {got!r}")
        del got, _  # the last outcome holds the arguments (a traceback's frame, an error's args)
        gc.collect()
        traced_marks.append(tracemalloc.get_traced_memory()[0])
    # Flat means no growth over the second half: a cache of the interpreter
    # that fills once shows in the first half only, a leak in both.
    traced = traced_marks[1] - traced_marks[0]
    traced_total = traced_marks[1] - traced_before
    tracemalloc.stop()
    rss = rss_kib() - rss_before
    if mismatches:
        problems.append(f"{mismatches} calls with another outcome")
    refs_after = [sys.getrefcount(obj) for obj in arg_objects]
    if refs_after != arg_refs:
        problems.append(f"argument reference counts {arg_refs} -> {refs_after}")
    _, last = outcome(function, args, kwargs)
    if sys.getrefcount(last) != baseline_refs:
        problems.append(f"result or exception reference count {sys.getrefcount(last)}, "
                        f"first call {baseline_refs}")
    if traced > limits.max_traced:
        problems.append(f"tracemalloc grew by {traced} bytes over the second half")
    # Under a memory tool (VELTRANE_MEMORY_TOOL set) freed memory is held in a
    # quarantine, so RSS is no measure there; tracemalloc still is.
    if rss > limits.max_rss_kib and not os.environ.get("VELTRANE_MEMORY_TOOL"):
        problems.append(f"RSS grew by {rss} KiB")
    return traced, traced_total, rss, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--calls", type=int, default=20_000, help="calls per path (default 20000)")
    parser.add_argument("--warmup", type=int, default=1000, help="calls before measuring (default 1000)")
    parser.add_argument("--only", default="", help="run the paths whose label contains this text")
    parser.add_argument("--max-traced", type=int, default=16 * 1024, help="bytes (default 16 KiB)")
    parser.add_argument("--max-rss-kib", type=int, default=1024, help="KiB (default 1024)")
    limits = parser.parse_args()
    sys.unraisablehook = lambda unraisable: None  # null_result reports one per call
    with quiet_stderr():
        table = paths(module_panic_type()) + test_module_paths()
    table = [row for row in table if limits.only in row[0]]
    print(f"{len(table)} paths x {limits.calls} calls, Python {sys.version.split()[0]}")
    print(f"{'path':45} {'traced B':>9} {'2nd half':>9} {'RSS KiB':>8} {'s':>6}")
    failed = 0
    total_traced = total_rss = 0
    for label, function, args, kwargs, expected in table:
        start = time.perf_counter()
        with quiet_stderr():
            traced, traced_total, rss, problems = soak(label, function, args, kwargs, expected,
                                                       limits.calls, limits)
        total_traced = max(total_traced, traced)
        total_rss = max(total_rss, rss)
        print(f"{label:45} {traced_total:9d} {traced:9d} {rss:8d} {time.perf_counter() - start:6.1f}"
              + ("" if not problems else "  FAILED: " + "; ".join(problems)), flush=True)
        failed += bool(problems)
    print(f"largest growth: traced {total_traced} B over the second half of {limits.calls} calls, "
          f"RSS {total_rss} KiB over all of them")
    print(f"leak check: {len(table) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
