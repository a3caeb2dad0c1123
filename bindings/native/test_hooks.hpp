// Test hooks. They exist only in the test-only build of this module
// (`veltrane_native_testing`, compiled with VELTRANE_TEST_HOOKS=1 and never
// shipped): the module in the wheel has no hook and no setting a caller can
// change. There, `rendezvous_point` is an empty inline function.
//
//     _arm_rendezvous(parties, timeout_ms)   # the next kernel runs wait for each other
//     _rendezvous_met() -> int               # how many of them met in time
//     _set_utf8_limit(limit) -> int          # bytes a result keeps as utf8 (the old limit)
//     _panic(message)                        # an internal fault of this module
//     _attach_count() -> int                 # open frames on this thread, process-wide
#pragma once

#include <cstdint>

namespace veltrane::native {

#if VELTRANE_TEST_HOOKS

// The next `parties` runs of the kernel over a chunk (each on its own thread,
// without the interpreter lock) wait for each other, up to `timeout_ms`: if
// the lock were held while the kernel runs, a second thread could never get
// there and the wait would time out. Deterministic evidence of parallelism.
void arm_rendezvous(int parties, std::int64_t timeout_ms);

// Called at the start of every kernel run over a chunk, without the lock.
void rendezvous_point() noexcept;

// How many of the armed parties met all the others in time.
[[nodiscard]] int rendezvous_met() noexcept;

#else

inline void rendezvous_point() noexcept {}

#endif

}  // namespace veltrane::native
