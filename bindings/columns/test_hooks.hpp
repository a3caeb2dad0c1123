// Test hooks of the column module, reached through its private functions
// (`_arm_rendezvous`, `_rendezvous_met`, `_set_utf8_limit`); they change
// nothing unless a test arms them.
#pragma once

#include <cstdint>

namespace veltrane::columns {

// The next `parties` runs of the kernel over a chunk (each on its own thread,
// without the interpreter lock) wait for each other, up to `timeout_ms`: if
// the lock were held while the kernel runs, a second thread could never get
// there and the wait would time out. Deterministic evidence of parallelism.
void arm_rendezvous(int parties, std::int64_t timeout_ms);

// Called at the start of every kernel run over a chunk, without the lock.
void rendezvous_point() noexcept;

// How many of the armed parties met all the others in time.
[[nodiscard]] int rendezvous_met() noexcept;

}  // namespace veltrane::columns
