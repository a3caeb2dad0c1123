// The UTF-8 check: exactly what the interpreter's "utf-8" codec accepts, with
// the failing byte found wherever the text is cut into pieces.
#include "scan/utf8.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <string_view>

namespace veltrane::scan {
namespace {

using namespace std::string_view_literals;

constexpr std::size_t kNone = std::string_view::npos;

struct Utf8Case {
    const char* label;
    std::string_view bytes;
    std::size_t fails_at;  // the first byte that cannot continue valid UTF-8, or kNone
    bool complete;         // whether, failing nowhere, the text ends at the end of a character
};

// Adjacent literals keep a hex escape from running into the letter after it.
const Utf8Case kCases[] = {
    {"empty", ""sv, kNone, true},
    {"ascii", "vrn:vlt"sv, kNone, true},
    {"nul and del", "\x00\x7f"sv, kNone, true},
    {"U+0080", "\xc2\x80"sv, kNone, true},
    {"U+07FF", "\xdf\xbf"sv, kNone, true},
    {"U+0800", "\xe0\xa0\x80"sv, kNone, true},
    {"U+D7FF", "\xed\x9f\xbf"sv, kNone, true},
    {"U+E000", "\xee\x80\x80"sv, kNone, true},
    {"U+FFFF", "\xef\xbf\xbf"sv, kNone, true},
    {"U+10000", "\xf0\x90\x80\x80"sv, kNone, true},
    {"U+10FFFF", "\xf4\x8f\xbf\xbf"sv, kNone, true},
    {"mixed", "a\xc3\xa9" "b\xe2\x82\xac" "c\xf0\x9f\x98\x80"sv, kNone, true},
    // A continuation byte where a character must start.
    {"lone 80", "\x80"sv, 0, false},
    {"lone BF after ascii", "a\xbf"sv, 1, false},
    {"one continuation too many", "\xc3\xa9\xa9"sv, 2, false},
    // Overlong forms: C0 and C1 never start a character; E0 and F0 need a
    // first continuation byte high enough.
    {"overlong C0 80", "\xc0\x80"sv, 0, false},
    {"overlong C1 BF", "\xc1\xbf"sv, 0, false},
    {"overlong E0 80 80", "\xe0\x80\x80"sv, 1, false},
    {"overlong E0 9F BF", "\xe0\x9f\xbf"sv, 1, false},
    {"overlong F0 80 80 80", "\xf0\x80\x80\x80"sv, 1, false},
    {"overlong F0 8F BF BF", "\xf0\x8f\xbf\xbf"sv, 1, false},
    // Encoded surrogates, alone and as a pair.
    {"surrogate D800", "\xed\xa0\x80"sv, 1, false},
    {"surrogate DFFF", "\xed\xbf\xbf"sv, 1, false},
    {"surrogate pair", "\xed\xa0\xbd\xed\xb8\x80"sv, 1, false},
    // Past U+10FFFF, and bytes that never occur.
    {"U+110000", "\xf4\x90\x80\x80"sv, 1, false},
    {"lead F5", "\xf5\x80\x80\x80"sv, 0, false},
    {"lead F7", "\xf7\xbf\xbf\xbf"sv, 0, false},
    {"byte F8", "\xf8"sv, 0, false},
    {"byte FE", "\xfe"sv, 0, false},
    {"byte FF", "\xff"sv, 0, false},
    // Cut short: at the end of the text, or by a byte that is not a continuation.
    {"cut 2 of 2", "\xc3"sv, kNone, false},
    {"cut 3 of 3", "\xe2\x82"sv, kNone, false},
    {"cut 4 of 4", "\xf0\x9f\x98"sv, kNone, false},
    {"cut by ascii", "\xc3" "A"sv, 1, false},
    {"cut by ascii in 3", "\xe2\x82" "A"sv, 2, false},
    {"cut by a lead byte", "\xc3\xc3\xa9"sv, 1, false},
    {"cut 4 by 80 and ascii", "\xf0\x9f" "a"sv, 2, false},
};

void PrintTo(const Utf8Case& c, std::ostream* out) { *out << c.label; }

class Utf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, WholeTextVerdict) {
    const Utf8Case& c = GetParam();
    const bool valid = c.fails_at == kNone && c.complete;
    EXPECT_EQ(is_valid_utf8(c.bytes), valid);
    // After a run of ASCII long enough for the word-at-a-time paths.
    const std::string padded = std::string(40, 'x') + std::string(c.bytes);
    EXPECT_EQ(is_valid_utf8(padded), valid);
}

TEST_P(Utf8Test, FailsAtTheFirstBadByteFedOneAtATime) {
    const Utf8Case& c = GetParam();
    Utf8Validator validator;
    std::size_t failed = kNone;
    for (std::size_t i = 0; i < c.bytes.size(); ++i) {
        if (!validator.feed(c.bytes.data() + i, 1)) {
            failed = i;
            break;
        }
    }
    EXPECT_EQ(failed, c.fails_at);
    if (failed == kNone) {
        EXPECT_EQ(validator.complete(), c.complete);
    }
}

TEST_P(Utf8Test, AnyCutIntoTwoPiecesGivesTheSameVerdict) {
    const Utf8Case& c = GetParam();
    const std::string text = std::string(20, 'y') + std::string(c.bytes) + (c.complete ? "z" : "");
    const std::size_t fails_at = c.fails_at == kNone ? kNone : c.fails_at + 20;
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        Utf8Validator validator;
        const bool first = validator.feed(text.data(), cut);
        EXPECT_EQ(first, fails_at == kNone || fails_at >= cut) << "cut at " << cut;
        if (!first) {
            continue;
        }
        const bool second = validator.feed(text.data() + cut, text.size() - cut);
        EXPECT_EQ(second, fails_at == kNone) << "cut at " << cut;
        if (second) {
            EXPECT_EQ(validator.complete(), c.complete) << "cut at " << cut;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, Utf8Test, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Utf8Case>& info) {
                             std::string name;
                             for (const char* at = info.param.label; *at != '\0'; ++at) {
                                 name.push_back(std::isalnum(static_cast<unsigned char>(*at)) ? *at : '_');
                             }
                             return name;
                         });

TEST(Utf8Validator, IsLeftAsBeforeTheByteItRefused) {
    Utf8Validator validator;
    ASSERT_TRUE(validator.feed("\xe2", 1));
    EXPECT_FALSE(validator.feed("A", 1));
    EXPECT_FALSE(validator.complete());
    EXPECT_TRUE(validator.feed("\x82\xac", 2));  // the character goes on as if "A" never came
    EXPECT_TRUE(validator.complete());
    validator.reset();
    EXPECT_TRUE(validator.complete());
    EXPECT_FALSE(validator.feed("\x82", 1));  // after a reset a character must start
}

TEST(Utf8Ascii, FindsTheFirstHighByteAtEveryPlace) {
    for (std::size_t size = 0; size <= 80; ++size) {
        const std::string plain(size, 'q');
        EXPECT_TRUE(is_ascii(plain)) << size;
        EXPECT_EQ(first_non_ascii(plain.data(), plain.data() + size), plain.data() + size) << size;
        for (std::size_t at = 0; at < size; ++at) {
            for (const char high : {'\x80', '\xff'}) {
                std::string text = plain;
                text[at] = high;
                EXPECT_FALSE(is_ascii(text)) << size << " at " << at;
                EXPECT_EQ(first_non_ascii(text.data(), text.data() + size), text.data() + at) << size << " at " << at;
            }
        }
    }
}

}  // namespace
}  // namespace veltrane::scan
