#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "veltrane_kernel/uuid.hpp"

namespace veltrane_kernel {
namespace {

struct UuidTextCase {
    const char* name;
    std::string text;
    bool accepted;
};

class UuidTextTable : public ::testing::TestWithParam<UuidTextCase> {};

TEST_P(UuidTextTable, ParseHyphenated) {
    EXPECT_EQ(Uuid::parse_hyphenated(GetParam().text).has_value(), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(Spellings, UuidTextTable, ::testing::Values(
    UuidTextCase{"Lower", "01234567-89ab-cdef-0123-456789abcdef", true},
    UuidTextCase{"Upper", "01234567-89AB-CDEF-0123-456789ABCDEF", true},
    UuidTextCase{"Mixed", "01234567-89aB-CdEf-0123-456789AbCdEf", true},
    UuidTextCase{"AllZero", "00000000-0000-0000-0000-000000000000", true},
    UuidTextCase{"AllF", "ffffffff-ffff-ffff-ffff-ffffffffffff", true},
    UuidTextCase{"Empty", "", false},
    UuidTextCase{"Short", "01234567-89ab-cdef-0123-456789abcde", false},
    UuidTextCase{"Long", "01234567-89ab-cdef-0123-456789abcdef0", false},
    UuidTextCase{"BareDigits", "0123456789abcdef0123456789abcdef", false},
    UuidTextCase{"Braces", "{01234567-89ab-cdef-0123-456789abcdef}", false},
    // Each hyphen in turn replaced by a digit, with a hyphen elsewhere so the
    // length stays 36.
    UuidTextCase{"NoHyphen8", "012345670-89ab-cdef-0123-456789abcde", false},
    UuidTextCase{"NoHyphen13", "01234567-89ab0-cdef-0123-456789abcde", false},
    UuidTextCase{"NoHyphen18", "01234567-89ab-cdef0-0123-456789abcde", false},
    UuidTextCase{"NoHyphen23", "01234567-89ab-cdef-01230-456789abcde", false},
    // Letters just past 'f'/'F' and bytes just around the digit ranges.
    UuidTextCase{"LetterG", "g1234567-89ab-cdef-0123-456789abcdef", false},
    UuidTextCase{"LetterUpperG", "01234567-89ab-cdef-0123-456789abcdeG", false},
    UuidTextCase{"Colon", "01234567-89ab-cdef-0123-456789abcde:", false},
    UuidTextCase{"Slash", "/1234567-89ab-cdef-0123-456789abcdef", false},
    UuidTextCase{"At", "01234567-89ab-@def-0123-456789abcdef", false},
    UuidTextCase{"Backtick", "01234567-89ab-cdef-`123-456789abcdef", false},
    UuidTextCase{"Space", "01234567-89ab-cdef-0123-456789abcd f", false},
    UuidTextCase{"Nul", std::string("01234567-89ab-cdef-0123-456789abcde\0", 36), false},
    UuidTextCase{"HighByte", "01234567-89ab-cdef-0123-456789abcd\xC3\xA9", false}),
    [](const auto& info) { return info.param.name; });

TEST(UuidTest, BytesAreInTextOrder) {
    const std::optional<Uuid> uuid = Uuid::parse_hyphenated("01234567-89ab-cdef-0123-456789abcdeF");
    ASSERT_TRUE(uuid.has_value());
    const Uuid::Bytes expected = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                  0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    EXPECT_EQ(uuid->bytes(), expected);
}

TEST(UuidTest, RendersLowercaseHyphenated) {
    const Uuid uuid(Uuid::Bytes{0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10,
                                0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78});
    const Uuid::HyphenatedText text = uuid.to_hyphenated();
    EXPECT_EQ(std::string(text.data(), text.size()), "fedcba98-7654-3210-0f1e-2d3c4b5a6978");
    EXPECT_EQ(uuid.to_string(), "fedcba98-7654-3210-0f1e-2d3c4b5a6978");
    EXPECT_EQ(Uuid().to_string(), "00000000-0000-0000-0000-000000000000");
}

TEST(UuidTest, UpperCaseTextRoundTripsToLowerCase) {
    const std::optional<Uuid> uuid = Uuid::parse_hyphenated("ABCDEF01-2345-6789-ABCD-EF0123456789");
    ASSERT_TRUE(uuid.has_value());
    EXPECT_EQ(uuid->to_string(), "abcdef01-2345-6789-abcd-ef0123456789");
    EXPECT_EQ(Uuid::parse_hyphenated(uuid->to_string()), uuid);
}

}  // namespace
}  // namespace veltrane_kernel
