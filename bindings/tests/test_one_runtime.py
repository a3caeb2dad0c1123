"""One runtime per process: every module of the wheel (and the test-only ones)
shares the per-call module's PanicException type, attach count and pending
releases, whichever of them is imported first."""

import pytest
from test_runtime import run_python

# Each order in a fresh process: the first import decides who makes what.
ORDERS = {
    "native module first": ["veltrane_native_testing", "veltrane_test_module", "veltrane_py_bindings"],
    "per-call module first": ["veltrane_py_bindings", "veltrane_native_testing", "veltrane_test_module"],
    "test module first": ["veltrane_test_module", "veltrane_native_testing", "veltrane_py_bindings"],
}

PROBE = """
    import importlib, sys
    for name in {order!r}:
        importlib.import_module(name)
    hooks, t, m = (sys.modules[n] for n in ("veltrane_native_testing", "veltrane_test_module", "veltrane_py_bindings"))

    def raised(call):
        try:
            call()
        except BaseException as error:
            return error
        raise AssertionError("no exception")

    in_native = type(raised(lambda: hooks._panic("in the native module")))
    in_test_module = type(raised(lambda: t.fault_with_message("in the test module")))

    # The per-call module resumes a fault only for its own type, by identity.
    class Raises:
        def __index__(self):
            raise in_native("from Python")
    resumed = raised(lambda: m.sum_as_string(Raises(), 0))

    print(in_native is in_test_module)
    print(type(resumed) is in_native and not hasattr(resumed, "__notes__"))
    print(in_native.__module__ + "." + in_native.__qualname__)
    # A frame of one module counts for every other.
    print(t.call_in_frame(hooks._attach_count))
"""


@pytest.mark.parametrize("order", ORDERS.values(), ids=ORDERS.keys())
def test_every_module_raises_the_one_panic_type(order):
    result = run_python(PROBE.format(order=order))
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["True", "True", "veltrane_runtime.PanicException", "2"]
    # Each fault wrote its report, naming the module's source.
    assert result.stderr.count("internal fault in thread") == 2


def test_a_release_queued_by_one_module_is_applied_by_another(t):
    hooks = pytest.importorskip("veltrane_native_testing")
    import sys

    obj = object()
    before = sys.getrefcount(obj)
    assert t.release_detached(obj) == "queued"
    assert sys.getrefcount(obj) == before + 1
    hooks._attach_count()  # a frame entry of the native module drains the one queue
    assert sys.getrefcount(obj) == before


def test_a_host_that_is_not_the_runtimes_is_refused():
    # A module of another origin under the per-call module's name holds no
    # runtime: the guests refuse to load rather than run on a state of their own.
    result = run_python("""
        import sys, types
        sys.modules["veltrane_py_bindings"] = types.ModuleType("veltrane_py_bindings")
        try:
            import veltrane_native_testing
        except ImportError as error:
            print(error)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == (
        "veltrane_native_testing needs the veltrane_py_bindings module of the same release, which holds the "
        "runtime it shares; the one imported is another\n")
