"""Column functions run the kernel without the interpreter lock: two threads
over two halves of a column are inside the kernel at the same time, and many
threads get the single-threaded results."""

from __future__ import annotations

import os
import threading

from vrn_testing.engines import need
from vrn_testing.samples import SAMPLES, VALID

from veltrane_vrn import columns
from veltrane_vrn.columns import _arrow_source

pa = need("pyarrow")
# The rendezvous is a hook of the test-only build of the native module (the
# shipped module has none): the same sources, built with the hooks.
hooks = need("veltrane_native_testing")

# Generous: under valgrind a thread may take a long time to get there.
TIMEOUT_MS = 120_000 if os.environ.get("VELTRANE_MEMORY_TOOL") else 20_000


def test_two_threads_are_inside_the_kernel_at_once() -> None:
    # Armed, each of the next two kernel runs over a chunk waits (without the
    # interpreter lock) until the other has started too: only if the lock is
    # really released while the kernel runs can the second thread get there.
    # No timing is judged, only whether both met within the (long) timeout.
    names = pa.array([VALID, "bad"] * 5000)
    halves = [names.slice(0, 5000), names.slice(5000)]
    results: list[object] = [None, None]
    hooks._arm_rendezvous(2, TIMEOUT_MS)

    def work(i: int) -> None:
        results[i] = pa.array(hooks.vrn_error_kind(_arrow_source(halves[i], "s"))).to_pylist()

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert hooks._rendezvous_met() == 2
    assert results[0] == results[1] == ["", "wrong-field-count"] * 2500


def test_a_single_thread_meets_nobody_and_goes_on() -> None:
    # The evidence above can fail: alone, the wait times out and the call still completes.
    hooks._arm_rendezvous(2, 50)
    assert pa.array(hooks.vrn_error_kind(_arrow_source([VALID], "s"))).to_pylist() == [""]
    assert hooks._rendezvous_met() == 0


def test_eight_threads_get_the_single_threaded_results() -> None:
    column = pa.chunked_array([SAMPLES * 20, SAMPLES * 7])
    calls = [
        lambda: columns.vrn_canonicalize(column, errors="null").to_pylist(),
        lambda: columns.vrn_fields(column, errors="null").to_pylist(),
        lambda: columns.vrn_error_kind(column).to_pylist(),
    ]
    expected = [call() for call in calls]
    failures: list[int] = []
    start = threading.Barrier(8)

    def worker(seed: int) -> None:
        start.wait()
        for round_ in range(20):
            i = (seed + round_) % len(calls)
            if calls[i]() != expected[i]:
                failures.append(i)

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
