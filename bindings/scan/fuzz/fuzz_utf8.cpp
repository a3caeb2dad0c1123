// Consistency fuzzer for the scanner's UTF-8 check: Utf8Validator fed whole,
// a byte at a time and in random pieces, is_valid_utf8, is_ascii and
// first_non_ascii, each against the plain reference of reference_utf8.hpp.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "reference_utf8.hpp"
#include "scan/utf8.hpp"

using veltrane::scan::Utf8Validator;

namespace {

// Piece sizes from a small generator seeded by the input, so that each input
// is cut the same way every time it runs.
struct Cutter {
    std::uint64_t state;
    std::size_t next() noexcept {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const auto draw = static_cast<std::size_t>(state >> 33);
        return (draw & 1) != 0 ? draw % 5 : draw % 40;
    }
};

std::uint64_t seed_of(std::string_view text) noexcept {
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return hash;
}

void check_ascii(std::string_view text) {
    std::size_t first_high = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            first_high = i;
            break;
        }
    }
    FUZZ_CHECK(veltrane::scan::is_ascii(text) == (first_high == text.size()));
    FUZZ_CHECK(veltrane::scan::first_non_ascii(text.data(), text.data() + text.size()) == text.data() + first_high);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const reference::Utf8Verdict expected = reference::utf8(text);

    FUZZ_CHECK(veltrane::scan::is_valid_utf8(text) == expected.valid());
    for (std::size_t from = 0; from < text.size() && from < 8; ++from) {  // every alignment of the word reads
        check_ascii(text.substr(from));
    }

    // One byte at a time: refused exactly at the reference's byte.
    Utf8Validator single;
    std::size_t failed = reference::kNowhere;
    for (std::size_t i = 0; i < size; ++i) {
        if (!single.feed(text.data() + i, 1)) {
            failed = i;
            break;
        }
    }
    FUZZ_CHECK(failed == expected.fails_at);
    if (failed == reference::kNowhere) {
        FUZZ_CHECK(single.complete() == expected.complete);
    }

    // In pieces: refused in the piece that holds that byte, and left as it was
    // before the byte, so it goes on as a validator that never saw it.
    Utf8Validator pieces;
    Cutter cutter{seed_of(text)};
    std::size_t at = 0;
    while (at < size) {
        const std::size_t piece = std::min(cutter.next(), size - at);
        const bool taken = pieces.feed(text.data() + at, piece);
        const bool holds_failure = expected.fails_at != reference::kNowhere && expected.fails_at < at + piece;
        FUZZ_CHECK(taken == !holds_failure);
        if (!taken) {
            Utf8Validator before;
            FUZZ_CHECK(before.feed(text.data(), expected.fails_at));
            const std::string_view rest = text.substr(expected.fails_at + 1);
            FUZZ_CHECK(pieces.feed(rest.data(), rest.size()) == before.feed(rest.data(), rest.size()));
            FUZZ_CHECK(pieces.complete() == before.complete());
            return 0;
        }
        at += piece;
    }
    FUZZ_CHECK(pieces.complete() == expected.complete);
    return 0;
}
