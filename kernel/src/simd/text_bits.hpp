// `TextBits<kWords>`: a bit per byte of a text of up to 64 * kWords bytes,
// byte i in bit i; the mask type of the vectorised parser (block_scan.hpp,
// which includes this with VELTRANE_SIMD_TARGET defined).
//
// Besides the bitwise operators it has the arithmetic that turns separators
// into fields without any shift by a variable amount: with `a` and `b` the
// isolated bits of two separators (a below b), `b - a.up_one()` is every byte
// strictly between them.
//
// Most names are at most 128 bytes long: one or two words, held in a 64- or
// 128-bit integer, so that every operation is a few instructions on
// registers. Longer texts use an array of words.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace veltrane_kernel::detail {
namespace {  // NOLINT(cert-dcl59-cpp): one copy per instruction set, on purpose

__extension__ using Uint128 = unsigned __int128;

// One and two words: an unsigned integer of 64 or 128 bits.
template <class Word>
class IntegerBits {
public:
    constexpr IntegerBits() noexcept = default;
    VELTRANE_SIMD_TARGET static IntegerBits of_words(const std::uint64_t* words) noexcept {
        if constexpr (sizeof(Word) == 8) {
            return IntegerBits(words[0]);
        } else {
            return IntegerBits(Word{words[0]} | Word{words[1]} << 64);
        }
    }
    // The bit of byte `at`.
    VELTRANE_SIMD_TARGET static IntegerBits bit(std::size_t at) noexcept { return IntegerBits(Word{1} << at); }

    VELTRANE_SIMD_TARGET friend IntegerBits operator|(IntegerBits a, IntegerBits b) noexcept { return IntegerBits(a.v_ | b.v_); }
    VELTRANE_SIMD_TARGET friend IntegerBits operator&(IntegerBits a, IntegerBits b) noexcept { return IntegerBits(a.v_ & b.v_); }
    VELTRANE_SIMD_TARGET friend IntegerBits operator^(IntegerBits a, IntegerBits b) noexcept { return IntegerBits(a.v_ ^ b.v_); }
    VELTRANE_SIMD_TARGET friend IntegerBits operator-(IntegerBits a, IntegerBits b) noexcept { return IntegerBits(a.v_ - b.v_); }
    VELTRANE_SIMD_TARGET friend bool operator==(IntegerBits a, IntegerBits b) noexcept { return a.v_ == b.v_; }
    VELTRANE_SIMD_TARGET IntegerBits operator~() const noexcept { return IntegerBits(~v_); }
    // Each bit moved to the next byte up, or down.
    [[nodiscard]] VELTRANE_SIMD_TARGET IntegerBits up_one() const noexcept { return IntegerBits(v_ << 1); }
    [[nodiscard]] VELTRANE_SIMD_TARGET IntegerBits down_one() const noexcept { return IntegerBits(v_ >> 1); }

    [[nodiscard]] VELTRANE_SIMD_TARGET bool any() const noexcept { return v_ != 0; }
    [[nodiscard]] VELTRANE_SIMD_TARGET unsigned count() const noexcept {
        if constexpr (sizeof(Word) == 8) {
            return static_cast<unsigned>(std::popcount(v_));
        } else {
            return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(v_)) +
                                         std::popcount(static_cast<std::uint64_t>(v_ >> 64)));
        }
    }
    // The lowest set bit alone.
    [[nodiscard]] VELTRANE_SIMD_TARGET IntegerBits lowest_bit() const noexcept { return IntegerBits(v_ & (0 - v_)); }
    // The position of the lowest set bit; any() holds.
    [[nodiscard]] VELTRANE_SIMD_TARGET std::size_t lowest() const noexcept {
        if constexpr (sizeof(Word) == 8) {
            return static_cast<std::size_t>(std::countr_zero(v_));
        } else {
            const auto low = static_cast<std::uint64_t>(v_);
            const auto high = static_cast<std::uint64_t>(v_ >> 64);
            return low != 0 ? static_cast<std::size_t>(std::countr_zero(low))
                            : 64 + static_cast<std::size_t>(std::countr_zero(high));
        }
    }
    // The 36 bits from byte `at` on, at + 36 within the text.
    [[nodiscard]] VELTRANE_SIMD_TARGET std::uint64_t window36(std::size_t at) const noexcept {
        return static_cast<std::uint64_t>(v_ >> at) & ((std::uint64_t{1} << 36) - 1);
    }
    // Whether there is a byte strictly between the separators whose isolated
    // bits are `before` and `after` (before below after), and none of those
    // bytes has its bit set here.
    [[nodiscard]] VELTRANE_SIMD_TARGET bool clear_between(IntegerBits before, IntegerBits after) const noexcept {
        const Word field = after.v_ - (before.v_ << 1);
        return field != 0 && (v_ & field) == 0;
    }

private:
    VELTRANE_SIMD_TARGET explicit IntegerBits(Word v) noexcept : v_(v) {}
    Word v_ = 0;
};

// Two words as a pair of 64-bit integers: GCC keeps these in registers
// better than a 128-bit integer, whose halves it moves around in pairs.
class PairBits {
public:
    constexpr PairBits() noexcept = default;
    VELTRANE_SIMD_TARGET static PairBits of_words(const std::uint64_t* words) noexcept {
        return PairBits(words[0], words[1]);
    }
    VELTRANE_SIMD_TARGET static PairBits bit(std::size_t at) noexcept {
        return at < 64 ? PairBits(std::uint64_t{1} << at, 0) : PairBits(0, std::uint64_t{1} << (at - 64));
    }

    VELTRANE_SIMD_TARGET friend PairBits operator|(PairBits a, PairBits b) noexcept { return PairBits(a.lo_ | b.lo_, a.hi_ | b.hi_); }
    VELTRANE_SIMD_TARGET friend PairBits operator&(PairBits a, PairBits b) noexcept { return PairBits(a.lo_ & b.lo_, a.hi_ & b.hi_); }
    VELTRANE_SIMD_TARGET friend PairBits operator^(PairBits a, PairBits b) noexcept { return PairBits(a.lo_ ^ b.lo_, a.hi_ ^ b.hi_); }
    VELTRANE_SIMD_TARGET friend PairBits operator-(PairBits a, PairBits b) noexcept {
        return PairBits(a.lo_ - b.lo_, a.hi_ - b.hi_ - (a.lo_ < b.lo_ ? 1 : 0));
    }
    VELTRANE_SIMD_TARGET friend bool operator==(PairBits a, PairBits b) noexcept { return ((a.lo_ ^ b.lo_) | (a.hi_ ^ b.hi_)) == 0; }
    VELTRANE_SIMD_TARGET PairBits operator~() const noexcept { return PairBits(~lo_, ~hi_); }
    [[nodiscard]] VELTRANE_SIMD_TARGET PairBits up_one() const noexcept { return PairBits(lo_ << 1, hi_ << 1 | lo_ >> 63); }
    [[nodiscard]] VELTRANE_SIMD_TARGET PairBits down_one() const noexcept { return PairBits(lo_ >> 1 | hi_ << 63, hi_ >> 1); }

    [[nodiscard]] VELTRANE_SIMD_TARGET bool any() const noexcept { return (lo_ | hi_) != 0; }
    [[nodiscard]] VELTRANE_SIMD_TARGET unsigned count() const noexcept {
        return static_cast<unsigned>(std::popcount(lo_) + std::popcount(hi_));
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET PairBits lowest_bit() const noexcept {
        return lo_ != 0 ? PairBits(lo_ & (0 - lo_), 0) : PairBits(0, hi_ & (0 - hi_));
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET std::size_t lowest() const noexcept {
        return lo_ != 0 ? static_cast<std::size_t>(std::countr_zero(lo_))
                        : 64 + static_cast<std::size_t>(std::countr_zero(hi_));
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET std::uint64_t window36(std::size_t at) const noexcept {
        const std::uint64_t bits = at >= 64 ? hi_ >> (at - 64) : lo_ >> at | (hi_ << 1) << (63 - at);
        return bits & ((std::uint64_t{1} << 36) - 1);
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET bool clear_between(PairBits before, PairBits after) const noexcept {
        const PairBits field = after - before.up_one();
        return field.any() && !(*this & field).any();
    }

private:
    VELTRANE_SIMD_TARGET PairBits(std::uint64_t lo, std::uint64_t hi) noexcept : lo_(lo), hi_(hi) {}
    std::uint64_t lo_ = 0;
    std::uint64_t hi_ = 0;
};

// Three words and more: an array, carries and borrows passed on by hand.
template <std::size_t kWords>
class ArrayBits {
public:
    constexpr ArrayBits() noexcept = default;
    VELTRANE_SIMD_TARGET static ArrayBits of_words(const std::uint64_t* words) noexcept {
        ArrayBits bits;
        for (std::size_t w = 0; w < kWords; ++w) bits.w_[w] = words[w];
        return bits;
    }
    VELTRANE_SIMD_TARGET static ArrayBits bit(std::size_t at) noexcept {
        ArrayBits bits;
        bits.w_[at / 64] = std::uint64_t{1} << (at % 64);
        return bits;
    }

    VELTRANE_SIMD_TARGET friend ArrayBits operator|(ArrayBits a, ArrayBits b) noexcept {
        for (std::size_t w = 0; w < kWords; ++w) a.w_[w] |= b.w_[w];
        return a;
    }
    VELTRANE_SIMD_TARGET friend ArrayBits operator&(ArrayBits a, ArrayBits b) noexcept {
        for (std::size_t w = 0; w < kWords; ++w) a.w_[w] &= b.w_[w];
        return a;
    }
    VELTRANE_SIMD_TARGET friend ArrayBits operator^(ArrayBits a, ArrayBits b) noexcept {
        for (std::size_t w = 0; w < kWords; ++w) a.w_[w] ^= b.w_[w];
        return a;
    }
    // Subtraction of the whole numbers, wrapping.
    VELTRANE_SIMD_TARGET friend ArrayBits operator-(ArrayBits a, ArrayBits b) noexcept {
        std::uint64_t borrow = 0;
        for (std::size_t w = 0; w < kWords; ++w) {
            const std::uint64_t difference = a.w_[w] - b.w_[w];
            const std::uint64_t next_borrow = (a.w_[w] < b.w_[w]) | (difference < borrow);
            a.w_[w] = difference - borrow;
            borrow = next_borrow;
        }
        return a;
    }
    VELTRANE_SIMD_TARGET friend bool operator==(const ArrayBits& a, const ArrayBits& b) noexcept {
        std::uint64_t differ = 0;
        for (std::size_t w = 0; w < kWords; ++w) differ |= a.w_[w] ^ b.w_[w];
        return differ == 0;
    }
    VELTRANE_SIMD_TARGET ArrayBits operator~() const noexcept {
        ArrayBits bits;
        for (std::size_t w = 0; w < kWords; ++w) bits.w_[w] = ~w_[w];
        return bits;
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET ArrayBits up_one() const noexcept {
        ArrayBits bits;
        for (std::size_t w = 0; w < kWords; ++w) bits.w_[w] = w_[w] << 1 | (w > 0 ? w_[w - 1] >> 63 : 0);
        return bits;
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET ArrayBits down_one() const noexcept {
        ArrayBits bits;
        for (std::size_t w = 0; w < kWords; ++w) bits.w_[w] = w_[w] >> 1 | (w + 1 < kWords ? w_[w + 1] << 63 : 0);
        return bits;
    }

    [[nodiscard]] VELTRANE_SIMD_TARGET bool any() const noexcept {
        std::uint64_t all = 0;
        for (std::uint64_t word : w_) all |= word;
        return all != 0;
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET unsigned count() const noexcept {
        unsigned n = 0;
        for (std::uint64_t word : w_) n += static_cast<unsigned>(std::popcount(word));
        return n;
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET ArrayBits lowest_bit() const noexcept {
        ArrayBits bits;
        const std::size_t at = lowest();
        if (at < 64 * kWords) bits.w_[at / 64] = std::uint64_t{1} << (at % 64);
        return bits;
    }
    // The position of the lowest set bit (64 * kWords when there is none).
    [[nodiscard]] VELTRANE_SIMD_TARGET std::size_t lowest() const noexcept {
        for (std::size_t w = 0; w < kWords; ++w) {
            if (w_[w] != 0) return 64 * w + static_cast<std::size_t>(std::countr_zero(w_[w]));
        }
        return 64 * kWords;
    }
    // By positions: the words between hold the field's middle whole, so
    // only the first and the last need a mask.
    [[nodiscard]] VELTRANE_SIMD_TARGET bool clear_between(const ArrayBits& before, const ArrayBits& after) const noexcept {
        const std::size_t begin = before.lowest() + 1;
        const std::size_t end = after.lowest();
        if (begin >= end) return false;
        const std::size_t first = begin / 64;
        const std::size_t last = (end - 1) / 64;
        const std::uint64_t from = ~std::uint64_t{0} << (begin % 64);
        const std::uint64_t below = ~std::uint64_t{0} >> (63 - (end - 1) % 64);
        if (first == last) return (w_[first] & from & below) == 0;
        std::uint64_t found = (w_[first] & from) | (w_[last] & below);
        for (std::size_t w = first + 1; w < last; ++w) found |= w_[w];
        return found == 0;
    }
    [[nodiscard]] VELTRANE_SIMD_TARGET std::uint64_t window36(std::size_t at) const noexcept {
        const std::size_t word = at / 64;
        const unsigned shift = static_cast<unsigned>(at % 64);
        std::uint64_t bits = w_[word] >> shift;
        if (shift > 64 - 36) bits |= w_[word + 1] << (64 - shift);
        return bits & ((std::uint64_t{1} << 36) - 1);
    }

private:
    std::uint64_t w_[kWords] = {};
};

template <std::size_t kWords>
using TextBits = std::conditional_t<kWords == 1, IntegerBits<std::uint64_t>,
                                    std::conditional_t<kWords == 2, PairBits, ArrayBits<kWords>>>;

}  // namespace
}  // namespace veltrane_kernel::detail
