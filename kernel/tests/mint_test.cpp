#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "veltrane_kernel/mint.hpp"
#include "veltrane_kernel/uuid.hpp"

namespace veltrane_kernel {
namespace {

constexpr double kTwoTo64 = 18446744073709551616.0;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDenormMin = std::numeric_limits<double>::denorm_min();

struct MintCase {
    const char* name;
    double unix_ms;
    const char* rand_hex;
    const char* expected;  // the UUID text, or the error token
};

class MintTable : public ::testing::TestWithParam<MintCase> {};

TEST_P(MintTable, MintsOrRefuses) {
    const MintCase& c = GetParam();
    const Result<Uuid, MintError> minted = Uuid::mint_v7(c.unix_ms, c.rand_hex);
    const std::string outcome = minted ? minted->to_string() : std::string(minted.error().kind());
    EXPECT_EQ(outcome, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Vectors, MintTable, ::testing::Values(
    MintCase{"Zero", 0.0, "0123456789abcdef0123", "00000000-0000-7123-8567-89abcdef0123"},
    MintCase{"AllOnesEntropy", 1700000000000.0, "ffffffffffffffffffff", "018bcfe5-6800-7fff-bfff-ffffffffffff"},
    MintCase{"AllZeroEntropy", 1700000000000.0, "00000000000000000000", "018bcfe5-6800-7000-8000-000000000000"},
    MintCase{"NegativeZero", -0.0, "fedcba9876543210fedc", "00000000-0000-7edc-ba98-76543210fedc"},
    MintCase{"TwoTo48Minus1", 281474976710655.0, "0123456789abcdef0123", "ffffffff-ffff-7123-8567-89abcdef0123"},
    // The timestamp field wraps at 2^48 rather than failing.
    MintCase{"TwoTo48", 281474976710656.0, "0123456789abcdef0123", "00000000-0000-7123-8567-89abcdef0123"},
    MintCase{"TwoTo48Plus1", 281474976710657.0, "0123456789abcdef0123", "00000000-0001-7123-8567-89abcdef0123"},
    // The largest double below 2^64 is integral and accepted.
    MintCase{"BelowTwoTo64", 18446744073709549568.0, "0123456789abcdef0123", "ffffffff-f800-7123-8567-89abcdef0123"},
    // Digit 4 between 4 and 7: its two high bits are replaced by the variant.
    MintCase{"VariantDigit7", 1.0, "0123756789abcdef0123", "00000000-0001-7123-b567-89abcdef0123"}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(BadUnixMs, MintTable, ::testing::Values(
    MintCase{"TwoTo64", kTwoTo64, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"NaN", kNaN, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"NegativeNaN", -kNaN, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"PlusInf", kInf, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"MinusInf", -kInf, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"MinusOne", -1.0, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"MinusHalf", -0.5, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"NegativeSubnormal", -kDenormMin, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"PositiveSubnormal", kDenormMin, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"OneAndAHalf", 1.5, "0123456789abcdef0123", "bad-unix-ms"},
    MintCase{"Max", std::numeric_limits<double>::max(), "0123456789abcdef0123", "bad-unix-ms"}),
    [](const auto& info) { return info.param.name; });

// The entropy is judged before the timestamp.
INSTANTIATE_TEST_SUITE_P(BadRandHex, MintTable, ::testing::Values(
    MintCase{"Digits19", 0.0, "0123456789abcdef012", "bad-rand-hex"},
    MintCase{"Digits21", 0.0, "0123456789abcdef01234", "bad-rand-hex"},
    MintCase{"Empty", 0.0, "", "bad-rand-hex"},
    MintCase{"UpperCase", 0.0, "0123456789ABCDEF0123", "bad-rand-hex"},
    MintCase{"OneUpper", 0.0, "0123456789abcdeF0123", "bad-rand-hex"},
    MintCase{"Space", 0.0, "0123456789abcdef 123", "bad-rand-hex"},
    MintCase{"LetterG", 0.0, "g123456789abcdef0123", "bad-rand-hex"},
    MintCase{"Hyphen", 0.0, "0123456789-bcdef0123", "bad-rand-hex"},
    MintCase{"TwoByteChar", 0.0, "0123456789abcdef01\xC3\xA9", "bad-rand-hex"},
    MintCase{"BeforeNaN", kNaN, "0123456789ABCDEF0123", "bad-rand-hex"},
    MintCase{"BeforeNegative", -1.0, "012", "bad-rand-hex"}),
    [](const auto& info) { return info.param.name; });

TEST(MintTest, DiscardedEntropyBitsDoNotMatter) {
    // Digit 0 and the two high bits of digit 4 are overwritten by the version
    // and the variant.
    const Result<Uuid, MintError> base = Uuid::mint_v7(1.0, "0123456789abcdef0123");
    const Result<Uuid, MintError> digit0 = Uuid::mint_v7(1.0, "f123456789abcdef0123");
    const Result<Uuid, MintError> digit4 = Uuid::mint_v7(1.0, "0123c56789abcdef0123");
    ASSERT_TRUE(base && digit0 && digit4);
    EXPECT_EQ(*base, *digit0);
    EXPECT_EQ(*base, *digit4);
}

TEST(MintTest, VersionAndVariantForEveryVariantDigit) {
    const std::string variants = "89ab89ab89ab89ab";
    const std::string digits = "0123456789abcdef";
    for (std::size_t d = 0; d < digits.size(); ++d) {
        std::string rand_hex = "00000000000000000000";
        rand_hex[4] = digits[d];
        const Result<Uuid, MintError> minted = Uuid::mint_v7(123456789.0, rand_hex);
        ASSERT_TRUE(minted.has_value());
        const std::string text = minted->to_string();
        EXPECT_EQ(text[14], '7') << text;
        EXPECT_EQ(text[19], variants[d]) << text;
    }
}

}  // namespace
}  // namespace veltrane_kernel
