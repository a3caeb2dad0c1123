"""The call frame and fault translation, driven through the test-only module."""

import os
import re
import subprocess
import sys
import textwrap
import threading

import pytest

PANIC_DOC = (
    "\nThe exception raised when native code of veltrane_py_bindings, called from Python, panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n"
)


def panic_of(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


def test_fault_becomes_panic_exception_after_a_report(t, capfd):
    error = panic_of(lambda: t.fault_with_message("boom: \u00e9t\u00e9"))
    kind = type(error)
    assert error.args == ("boom: \u00e9t\u00e9",) and str(error) == "boom: \u00e9t\u00e9"
    assert isinstance(error, BaseException) and not isinstance(error, Exception)
    assert (kind.__module__, kind.__name__, kind.__qualname__) == ("veltrane_runtime", "PanicException", "PanicException")
    assert kind.__doc__ == PANIC_DOC
    assert kind.__bases__ == (BaseException,)
    assert not hasattr(error, "__notes__")
    report = capfd.readouterr().err.splitlines()
    assert "internal fault in thread" in report[0] and "test_module.cpp:" in report[0]
    with open(f"/proc/self/task/{threading.get_native_id()}/comm") as comm:
        assert f"in thread '{comm.read().strip()}' at " in report[0]  # the OS thread name
    assert report[1] == "boom: \u00e9t\u00e9"
    assert "backtrace" in report[2]


def test_every_fault_raises_the_same_type(t):
    first = panic_of(lambda: t.fault_with_message("a"))
    second = panic_of(lambda: t.fault_without_text())
    assert type(first) is type(second)
    assert second.args == ("native code of veltrane_py_bindings panicked without a message",)


def test_null_result_from_the_interpreter(t, capfd, monkeypatch):
    unraisable = []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)
    error = panic_of(t.null_result)
    assert type(error).__name__ == "PanicException"
    assert error.args == ("PyObject pointer is null",)
    # The interpreter's own error is reported as unraisable before the fault.
    assert [type(u.exc_value) for u in unraisable] == [UnicodeDecodeError]
    assert "PyObject pointer is null" in capfd.readouterr().err


def test_failed_call_without_exception_is_system_error(t):
    error = panic_of(t.fetch_nothing)
    assert type(error) is SystemError
    assert error.args == ("attempted to fetch exception but none was set",)
    assert error.__notes__ == ["while processing 'obj'"]


@pytest.mark.parametrize("how", ["call", "conversion"])
def test_panic_raised_by_python_code_is_resumed(t, capfd, how):
    panic_type = type(panic_of(lambda: t.fault_with_message("x")))
    capfd.readouterr()

    class Index:
        def __index__(self):
            raise panic_type("from python")

    if how == "call":
        error = panic_of(lambda: t.call_in_frame(Index().__index__))
    else:  # taken while converting an argument: no note is added
        error = panic_of(lambda: t.int_of(Index()))
    assert type(error) is panic_type and error is not None
    assert error.args == ("from python",)
    assert not hasattr(error, "__notes__")
    err = capfd.readouterr().err
    assert "--- veltrane_py_bindings is resuming a panic after fetching a PanicException from Python. ---\n" in err
    assert "Python stack trace below:\n" in err
    assert "Traceback" in err and "from python" in err
    assert "internal fault in thread" not in err  # a resumed fault writes no report


def test_lookalike_panic_type_is_an_ordinary_exception(m, t):
    # Only the runtime's own type (by identity) resumes a fault.
    impostor = type("PanicException", (BaseException,), {"__module__": "veltrane_runtime"})

    class Index:
        def __index__(self):
            raise impostor("not ours")

    for call, parameter in [(lambda: m.sum_as_string(Index(), 0), "a"), (lambda: t.int_of(Index()), "x")]:
        with pytest.raises(impostor) as info:
            call()
        assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_int_conversion_through_the_runtime(t):
    assert t.int_of(-1) == "-1"
    with pytest.raises(OverflowError) as info:
        t.int_of(2**64)
    assert info.value.__notes__ == ["while processing 'x'"]


def test_attach_count_is_restored_after_every_call(t):
    assert t.attach_count() == "1"
    assert t.call_in_frame(t.attach_count) == "2"
    with pytest.raises(BaseException):
        t.call_in_frame(lambda: t.fault_with_message("nested"))
    assert t.attach_count() == "1"


def test_release_while_detached_is_applied_at_the_next_frame(t):
    obj = object()
    before = sys.getrefcount(obj)
    assert t.release_detached(obj) == "queued"
    assert sys.getrefcount(obj) == before + 1  # queued, not yet released
    t.attach_count()  # any frame entry applies the queue
    assert sys.getrefcount(obj) == before


# qemu-user adds a line of its own to standard error when the emulated process
# dies of a signal that dumps core: not the process's output.
EMULATOR_REPORT = re.compile(r"^qemu: uncaught target signal .*\n", flags=re.M)


def run_python(code):
    env = dict(os.environ)
    path = os.environ.get("VELTRANE_TEST_MODULE_DIR", "")
    env["PYTHONPATH"] = os.pathsep.join(p for p in [path, env.get("PYTHONPATH", "")] if p)
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, errors="replace", env=env, timeout=60
    )
    if os.environ.get("VELTRANE_EMULATED"):
        result.stderr = EMULATOR_REPORT.sub("", result.stderr)
    return result


def test_fault_while_raising_aborts_the_process():
    result = run_python("""
        import veltrane_test_module as t
        t.fault_while_raising()
        print("returned")
    """)
    assert result.returncode < 0  # killed by SIGABRT
    assert "returned" not in result.stdout
    assert result.stderr.rstrip().splitlines()[-2:] == [
        "uncaught panic at ffi boundary",
        "hint: for a backtrace, run under gdb with `catch throw` and type `bt` when it stops",
    ]


def test_exhausted_memory_aborts_with_a_message():
    result = run_python("""
        import veltrane_test_module as t
        t.allocate(2**62)
    """)
    assert result.returncode < 0
    assert result.stderr.endswith("memory allocation of 4611686018427387904 bytes failed\n")
