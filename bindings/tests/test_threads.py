"""Interpreter threads: concurrent calls, and racing first uses of the process-wide cells.

The process-wide cells (the PanicException type, the interned names
"__name__", "__all__" and "add_note") are filled by the first thread that
needs them; a thread detaches from the interpreter before it waits for the
cell's guard, so the thread that fills it can always take the interpreter
lock. The races run in fresh processes, where the cells are still empty, with
a timeout: a deadlock fails the test instead of hanging it.
VELTRANE_THREAD_RACES sets how many fresh processes race (default 20).
"""

import os
import random
import subprocess
import sys
import textwrap
import threading

import pytest

from vrn_testing.samples import CANONICAL
from vrn_testing.session import module_path

RACES = int(os.environ.get("VELTRANE_THREAD_RACES", "20"))
THREADS = 8
UUID = CANONICAL[-36:]


class IndexRaises:
    def __index__(self):
        raise LookupError("no index")


def calls():
    """A mix of valid and invalid calls of all twelve functions."""
    table = [
        ("sum_as_string", (2**63 - 1, 1), {}), ("sum_as_string", ("x", 1), {}),
        ("sum_as_string", (IndexRaises(), 1), {}), ("sum_as_string", (1,), {}),
        ("mint_uuid7", (1700000000000.0, "ffffffffffffffffffff"), {}), ("mint_uuid7", (0, "F" * 20), {}),
        ("mint_uuid7", (float("nan"), "0" * 20), {}), ("mint_uuid7", ("0", "0" * 20), {}),
        ("vrn_build", ("iam", "us-east-1", "", "project", UUID), {}),
        ("vrn_build", ("iam:x", "", "", "p", UUID), {}), ("vrn_build", ("iam", None, "", "p", UUID), {}),
        ("vrn_build", (), {"service": "s3", "region": "", "org": UUID.upper(), "resource_type": "b",
                           "resource_id": UUID}),
    ]
    texts = [CANONICAL, CANONICAL.upper(), "", "x" * 513, CANONICAL + ":", "vrn:vlt:Iam:::p/" + UUID,
             "vrn:vlt:iam:::p/" + UUID, "\udc80", None, b"vrn", 7]
    for name in ("vrn_canonicalize", "vrn_error_kind", "vrn_service", "vrn_region", "vrn_org",
                 "vrn_resource_type", "vrn_resource_id", "vrn_cedar_entity_type", "vrn_cedar_entity_id"):
        table += [(name, (text,), {}) for text in texts]
        table += [(name, (), {"s": CANONICAL}), (name, (CANONICAL,), {"s": CANONICAL}), (name, (), {"t": CANONICAL})]
    return table


def outcome(m, name, args, kwargs):
    try:
        return ("return", getattr(m, name)(*args, **kwargs))
    except Exception as error:  # noqa: BLE001 - the outcome is what is compared
        return ("raise", type(error), error.args, getattr(error, "__notes__", None))


@pytest.fixture
def fast_switching():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # hand the interpreter lock over as often as possible
    yield
    sys.setswitchinterval(interval)


def test_eight_threads_get_the_single_threaded_results(m, fast_switching):
    table = calls()
    expected = [outcome(m, *call) for call in table]
    assert {e[0] for e in expected} == {"return", "raise"}
    failures = []
    start = threading.Barrier(THREADS)

    def worker(seed):
        order = list(range(len(table)))
        random.Random(seed).shuffle(order)
        start.wait()
        for _ in range(30):
            for i in order:
                got = outcome(m, *table[i])
                if got != expected[i]:
                    failures.append((table[i], got, expected[i]))
                    return

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=120)
    assert not any(thread.is_alive() for thread in threads)
    assert failures == []


# Many threads, released together, each making the first use of every cell:
# executing a fresh module object fills "__name__" and "__all__"; a failed
# conversion creates the PanicException type (taking the pending exception)
# and "add_note" (noting the parameter). The test module has cells of its own:
# a fault creates its PanicException type, and it counts the lost races.
RACE = """
import importlib.util, sys, threading
sys.setswitchinterval(1e-6)
THREADS = 32
found = importlib.util.find_spec("veltrane_py_bindings")
test_found = importlib.util.find_spec("veltrane_test_module")
barrier = threading.Barrier(THREADS)
results, errors = [None] * THREADS, []

def race(i):
    try:
        module = importlib.util.module_from_spec(found)
        barrier.wait()
        found.loader.exec_module(module)  # first uses of "__name__" and "__all__"
        barrier.wait()
        try:
            module.sum_as_string(1, "x")  # first uses of PanicException and "add_note"
        except TypeError as error:
            notes = error.__notes__
        barrier.wait()
        try:
            t.fault_with_message(f"thread {i}")
        except BaseException as error:
            panic = type(error)
        results[i] = (module.__all__, notes, panic, module.vrn_service("vrn:vlt:iam:::p/00000000-0000-0000-0000-000000000000"))
    except BaseException as error:
        errors.append(repr(error))
        barrier.abort()

t = importlib.util.module_from_spec(test_found)
test_found.loader.exec_module(t)
threads = [threading.Thread(target=race, args=(i,)) for i in range(THREADS)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
assert not errors, errors
names, notes, panic, service = results[0]
assert len(names) == 12 and names[0] == "sum_as_string", names
assert all(r[0] == names and r[1] == ["while processing 'b'"] and r[2] is panic for r in results)
print(t.once_cell_lost_races())
"""


def test_first_uses_of_the_cells_race_without_deadlock():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(module_path())
    lost = []
    for _ in range(RACES):
        result = subprocess.run([sys.executable, "-c", textwrap.dedent(RACE)], capture_output=True, text=True,
                                errors="replace", env=env, timeout=60)
        assert result.returncode == 0, result.stderr[-3000:]
        lost.append(int(result.stdout.split()[-1]))
    # Threads did wait for a cell that another thread was filling.
    assert sum(lost) > 0, lost
