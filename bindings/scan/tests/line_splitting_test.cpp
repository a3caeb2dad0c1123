// The scanner's lines: wherever the input is cut into blocks, the same lines
// with the same numbers, "\n" and "\r\n" as endings, a lone "\r" (at the end of
// the input too) part of the name, over-long lines shown by their start and
// length, and a line that is not UTF-8 stopping the source.
#include "scan/name_scanner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::scan {
namespace {

using namespace std::string_view_literals;
using veltrane_kernel::VrnError;

const std::string kValid = "vrn:vlt:s3:::bucket/0190C3A2-7B1E-7000-8000-0000000000CC";
const std::string kCanonical = "vrn:vlt:s3:::bucket/0190c3a2-7b1e-7000-8000-0000000000cc";
const std::string k512 = "vrn:vlt:iam:::" + std::string(498, 'a');  // bad-resource-path
const std::string kA600(600, 'a');

std::string repeat(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

std::string error(std::uint64_t line, std::string_view token, std::string_view shown) {
    return "vrn: F:" + std::to_string(line) + ": " + std::string(token) + ": " + std::string(shown) + "\n";
}

struct Scanned {
    std::string report;  // both streams, in the order they are written
    std::uint64_t undecodable = 0;
    std::uint64_t next_line = 0;
    NameScanner::Counts counts{};
    bool operator==(const Scanned&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Scanned& scanned) {
    return out << "undecodable " << scanned.undecodable << ", next line " << scanned.next_line << ", report:\n"
               << scanned.report;
}

void take(Output& output, std::string& into) {
    const Stream first = output.first();
    into += output.pending(first);
    into += output.pending(first == Stream::Out ? Stream::Err : Stream::Out);
    output.clear();
}

// Scans `input` cut at `cuts` (ascending) as the command does: each block
// from where the last call stopped until its end, the output taken after
// every call; each block is a copy of its own that is gone once scanned.
Scanned scan(std::string_view input, const std::vector<std::size_t>& cuts, Command command = Command::Canon) {
    NameScanner scanner(command, false, true);
    scanner.start_source("F", R"("F")");
    Scanned result;
    std::vector<std::size_t> bounds = {0};
    bounds.insert(bounds.end(), cuts.begin(), cuts.end());
    bounds.push_back(input.size());
    for (std::size_t i = 0; i + 1 < bounds.size() && scanner.undecodable_line() == 0; ++i) {
        const std::string block(input.substr(bounds[i], bounds[i + 1] - bounds[i]));
        std::size_t at = 0;
        while (at < block.size() && scanner.undecodable_line() == 0) {
            const std::size_t reached = scanner.feed(block, at);
            EXPECT_LE(reached, block.size());
            EXPECT_TRUE(reached > at || scanner.undecodable_line() != 0) << "no progress at " << at;
            at = reached;
            take(scanner.output(), result.report);
        }
    }
    if (scanner.undecodable_line() == 0) {
        scanner.end_source();
        take(scanner.output(), result.report);
    }
    result.undecodable = scanner.undecodable_line();
    result.next_line = scanner.line();
    result.counts = scanner.counts();
    return result;
}

struct LineCase {
    const char* label;
    std::string input;
    std::string report;
    std::uint64_t undecodable = 0;
};

const LineCase kLines[] = {
    {"empty_input", "", ""},
    {"one_empty_line", "\n", error(1, "empty", "")},
    {"line_feed", kValid + "\n", kCanonical + "\n"},
    {"crlf", kValid + "\r\n", kCanonical + "\n"},
    {"last_line_without_line_feed", kValid, kCanonical + "\n"},
    {"cr_at_the_end_of_the_input", kValid + "\r", error(1, "bad-resource-id", kValid + "\r")},
    {"cr_cr_lf", kValid + "\r\r\n", error(1, "bad-resource-id", kValid + "\r")},
    {"lone_cr", "\r", error(1, "wrong-field-count", "\r")},
    {"cr_inside", "a\rb\n", error(1, "wrong-field-count", "a\rb")},
    {"cr_after_the_last_line_feed", kValid + "\n\r", kCanonical + "\n" + error(2, "wrong-field-count", "\r")},
    {"empty_lines", "\n\r\n\n", error(1, "empty", "") + error(2, "empty", "") + error(3, "empty", "")},
    {"mixed", kValid + "\n\nx", kCanonical + "\n" + error(2, "empty", "") + error(3, "wrong-field-count", "x")},
    {"two_byte_characters", "\xc3\xa9t\xc3\xa9\r\n" + kValid + "\n",
     error(1, "wrong-field-count", "\xc3\xa9t\xc3\xa9") + kCanonical + "\n"},
    {"over_long_lf", kA600 + "\n", error(1, "too-long", std::string(64, 'a') + "... (600 bytes)")},
    {"over_long_crlf", kA600 + "\r\n", error(1, "too-long", std::string(64, 'a') + "... (600 bytes)")},
    {"over_long_cr_at_the_end", kA600 + "\r", error(1, "too-long", std::string(64, 'a') + "... (601 bytes)")},
    {"max_length_crlf", k512 + "\r\n" + kValid, error(1, "bad-resource-path", k512) + kCanonical + "\n"},
    {"max_length_cr_at_the_end", kValid + "\n" + k512 + "\r",
     kCanonical + "\n" + error(2, "too-long", "vrn:vlt:iam:::" + std::string(50, 'a') + "... (513 bytes)")},
    {"one_under_max_length_cr_at_the_end", k512.substr(0, 511) + "\r",
     error(1, "bad-resource-path", k512.substr(0, 511) + "\r")},
    {"over_long_character_across_the_prefix", std::string(63, 'a') + repeat("\xc3\xa9", 300) + "\n",
     error(1, "too-long", std::string(63, 'a') + "... (663 bytes)")},
    {"not_utf8", "x\n\xff\ny\n", error(1, "wrong-field-count", "x"), 2},
    {"character_cut_by_the_end_of_the_input", "x\n\xc3", error(1, "wrong-field-count", "x"), 2},
    {"character_cut_by_a_line_feed", "x\n\xc3\ny\n", error(1, "wrong-field-count", "x"), 2},
    {"character_cut_by_a_cr_at_the_end", "\xc3\r", "", 1},
    {"surrogate", "x\r\n\xed\xa0\x80\r\n", error(1, "wrong-field-count", "x"), 2},
    {"overlong_form", "\n\xc0\xaf\n", error(1, "empty", ""), 2},
    {"not_utf8_past_the_held_start_of_a_long_line", kA600 + "\xff\n", "", 1},
    {"character_cut_at_the_end_of_a_long_line", kA600 + "\xe2\x82", "", 1},
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.label; }

class LineSplittingTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineSplittingTest, OneBlock) {
    const LineCase& c = GetParam();
    const Scanned whole = scan(c.input, {});
    EXPECT_EQ(whole.report, c.report);
    EXPECT_EQ(whole.undecodable, c.undecodable);
}

TEST_P(LineSplittingTest, AnyCutGivesTheSameLines) {
    const LineCase& c = GetParam();
    const Scanned whole = scan(c.input, {});
    for (std::size_t cut = 0; cut <= c.input.size(); ++cut) {
        EXPECT_EQ(scan(c.input, {cut}), whole) << "cut at " << cut;
    }
    if (c.input.size() <= 64) {
        for (std::size_t first = 0; first <= c.input.size(); ++first) {
            for (std::size_t second = first; second <= c.input.size(); ++second) {
                EXPECT_EQ(scan(c.input, {first, second}), whole) << "cuts at " << first << ", " << second;
            }
        }
    }
    std::vector<std::size_t> every_byte;
    for (std::size_t cut = 1; cut < c.input.size(); ++cut) {
        every_byte.push_back(cut);
    }
    EXPECT_EQ(scan(c.input, every_byte), whole) << "one byte at a time";
}

INSTANTIATE_TEST_SUITE_P(Inputs, LineSplittingTest, ::testing::ValuesIn(kLines),
                         [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.label; });

TEST(NameScanner, CountsAndLineNumbersFollowTheLines) {
    const Scanned scanned = scan(kValid + "\r\n\n" + kA600 + "\nx\r" + "\n" + kValid + "\r", {7, 100});
    NameScanner::Counts counts{};
    counts[0] = 1;
    counts[1 + VrnError::Empty] = 1;
    counts[1 + VrnError::TooLong] = 1;
    counts[1 + VrnError::WrongFieldCount] = 1;
    counts[1 + VrnError::BadResourceId] = 1;
    EXPECT_EQ(scanned.counts, counts);
    EXPECT_EQ(scanned.next_line, 6u);
}

TEST(NameScanner, StopsAtTheStartOfALineThatIsNotUtf8) {
    NameScanner scanner(Command::Check, false, true);
    scanner.start_source("F", R"("F")");
    const std::string block = "ok\nbad\xff\nlater\n";
    EXPECT_EQ(scanner.feed(block, 0), 3u);
    EXPECT_EQ(scanner.undecodable_line(), 2u);
    EXPECT_EQ(scanner.feed(block, 3), 3u);  // the source is done
    scanner.end_source();
    EXPECT_EQ(scanner.output().pending(Stream::Out), "F:1: wrong-field-count: ok\n");

    // A line begun in an earlier block: the block it fails in is not entered.
    NameScanner split(Command::Check, false, true);
    split.start_source("F", R"("F")");
    EXPECT_EQ(split.feed("ok\nba", 0), 5u);
    EXPECT_EQ(split.feed("d\xff\nlater\n", 0), 0u);
    EXPECT_EQ(split.undecodable_line(), 2u);
    EXPECT_EQ(split.counts()[1 + VrnError::WrongFieldCount], 1u);
}

TEST(NameScanner, StopsAfterARecordForTheOtherStreamWhenOrderIsKept) {
    const std::string block = kValid + "\nbad\n" + kValid + "\n";
    NameScanner kept(Command::Canon, false, true);
    kept.start_source("F", R"("F")");
    EXPECT_EQ(kept.feed(block, 0), kValid.size() + 5);
    EXPECT_EQ(kept.output().first(), Stream::Out);
    EXPECT_EQ(kept.output().pending(Stream::Out), kCanonical + "\n");
    EXPECT_EQ(kept.output().pending(Stream::Err), error(2, "wrong-field-count", "bad"));

    NameScanner apart(Command::Canon, false, false);
    apart.start_source("F", R"("F")");
    EXPECT_EQ(apart.feed(block, 0), block.size());
}

TEST(NameScanner, PendingOutputStaysBounded) {
    const std::string label(4000, 'L');
    NameScanner scanner(Command::Check, false, true);
    scanner.start_source(label, R"("L")");
    const std::string block(300, '\n');
    std::size_t at = 0;
    std::size_t calls = 0;
    std::uint64_t records = 0;
    while (at < block.size()) {
        at = scanner.feed(block, at);
        const std::string& out = scanner.output().pending(Stream::Out);
        EXPECT_LT(out.size(), Output::kFlushBytes + label.size() + 64);
        records += static_cast<std::uint64_t>(std::count(out.begin(), out.end(), '\n'));
        scanner.output().clear();
        ++calls;
    }
    EXPECT_EQ(records, 300u);
    EXPECT_GE(calls, 4u);
}

TEST(NameScanner, EachSourceNumbersItsLinesFromOne) {
    NameScanner scanner(Command::Check, false, true);
    scanner.start_source("A", R"("A")");
    scanner.feed("x\ny", 0);
    scanner.end_source();
    scanner.start_source("B", R"("B")");
    scanner.feed("z\r", 0);
    scanner.end_source();
    EXPECT_EQ(scanner.output().pending(Stream::Out),
              "A:1: wrong-field-count: x\nA:2: wrong-field-count: y\nB:1: wrong-field-count: z\r\n");
    EXPECT_EQ(scanner.line(), 2u);
}

TEST(NameScanner, AWholeNameIsCheckedAsItIs) {
    NameScanner scanner(Command::Check, false, true);
    scanner.start_source("<args>", R"("<args>")");
    scanner.name(kValid);
    scanner.name(kValid + "\r");  // as at the end of a file
    scanner.name(kValid + "\n" + kValid);
    scanner.null_name();
    scanner.name(kA600);
    EXPECT_EQ(scanner.output().pending(Stream::Out),
              "<args>:2: bad-resource-id: " + kValid + "\r\n" +
              "<args>:3: wrong-field-count: " + kValid + "\n" + kValid + "\n" +
              "<args>:4: empty: \n"
              "<args>:5: too-long: " + std::string(64, 'a') + "... (600 bytes)\n");
    scanner.name("vrn:\xff");
    EXPECT_EQ(scanner.undecodable_line(), 6u);
    scanner.name("later");
    scanner.null_name();
    EXPECT_EQ(scanner.line(), 6u);  // nothing after the refused name
}

}  // namespace
}  // namespace veltrane::scan
