// The scan of a file on two threads against the serial scan of the same
// bytes: the same report on each stream (in the order of the names where
// that is kept), counts, line numbers and undecodable line, whatever the
// piece size, with reads that come back short, and with output that passes
// the flush limit; held output bounded; a read that fails reported.
#include "scan/file_scan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::scan {
namespace {

using veltrane_kernel::MAX_VRN_LEN;

const std::string kValid = "vrn:vlt:s3:::bucket/0190C3A2-7B1E-7000-8000-0000000000CC";
const std::string kInvalid = "vrn:vlt:Iam:us-east-1::project/0190c3a2-7b1e-7000-8000-00000000abcd";

// Memory read as a file: at most `largest_read` bytes per read, and the
// error `error` for a read that reaches `fail_at`.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes, std::size_t largest_read = SIZE_MAX,
                          std::uint64_t fail_at = UINT64_MAX, int error = EIO)
        : bytes_(bytes), largest_read_(largest_read), fail_at_(fail_at), error_(error) {}

    std::int64_t read_at(char* into, std::size_t size, std::uint64_t offset) noexcept override {
        if (offset + size > fail_at_) {
            return -error_;
        }
        if (offset >= bytes_.size()) {
            return 0;
        }
        const std::size_t got = std::min({size, largest_read_, bytes_.size() - static_cast<std::size_t>(offset)});
        std::memcpy(into, bytes_.data() + offset, got);
        return static_cast<std::int64_t>(got);
    }

private:
    std::string_view bytes_;
    std::size_t largest_read_;
    std::uint64_t fail_at_;
    int error_;
};

struct Mode {
    Command command;
    bool json;
    bool keep_order;
};

struct Scanned {
    std::string streams[2];  // standard output, standard error
    std::string in_order;    // both, as written
    std::uint64_t undecodable = 0;
    std::uint64_t next_line = 0;
    NameScanner::Counts counts{};
    int error = 0;
    std::uint64_t taken_over = 0;
};

void take(Output& output, Scanned& into) {
    const Stream first = output.first();
    for (const Stream stream : {first, first == Stream::Out ? Stream::Err : Stream::Out}) {
        const std::string& bytes = output.pending(stream);
        into.streams[stream == Stream::Out ? 0 : 1] += bytes;
        into.in_order += bytes;
    }
    output.clear();
}

NameScanner started(const Mode& setup, std::string_view label) {
    NameScanner scanner(setup.command, setup.json, setup.keep_order);
    scanner.start_source(label, "\"" + std::string(label) + "\"");
    return scanner;
}

void finish(NameScanner& scanner, Scanned& result) {
    if (scanner.undecodable_line() == 0) {
        scanner.end_source();
        take(scanner.output(), result);
    }
    result.undecodable = scanner.undecodable_line();
    result.next_line = scanner.line();
    result.counts = scanner.counts();
}

// The serial scan, a block of 128 KiB at a time as the command reads a pipe.
Scanned serial(std::string_view input, const Mode& setup, std::string_view label = "F") {
    NameScanner scanner = started(setup, label);
    Scanned result;
    for (std::size_t start = 0; start < input.size() && scanner.undecodable_line() == 0; start += 128 << 10) {
        const std::string_view block = input.substr(start, 128 << 10);
        std::size_t at = 0;
        while (at < block.size() && scanner.undecodable_line() == 0) {
            at = scanner.feed(block, at);
            take(scanner.output(), result);
        }
    }
    finish(scanner, result);
    return result;
}

Scanned in_pieces(std::string_view input, const Mode& setup, std::size_t piece, ByteSource& source,
                  std::string_view label = "F", FileScan::Helper helper = FileScan::Helper::TakenBack) {
    NameScanner scanner = started(setup, label);
    Scanned result;
    const std::size_t bound = 2 * (Output::kFlushBytes + 6 * MAX_VRN_LEN + 2 * label.size() + 512);
    FileScan scan(scanner, source, 0, piece, helper);
    while (true) {
        const FileScan::Step step = scan.step();
        const std::size_t pending =
            scanner.output().pending(Stream::Out).size() + scanner.output().pending(Stream::Err).size();
        EXPECT_LT(pending, bound) << "held output";
        take(scanner.output(), result);
        if (step == FileScan::Step::Failed) {
            result.error = scan.error();
            break;
        }
        if (step == FileScan::Step::Done || scanner.undecodable_line() != 0) {
            break;
        }
    }
    EXPECT_LE(scan.bytes_read(), input.size());
    result.taken_over = scan.lanes_taken_over();
    if (result.error == 0) {
        finish(scanner, result);
    }
    return result;
}

// Read from memory; the helper takes every second piece, so that lane 2
// runs whatever the machine's load.
Scanned in_pieces(std::string_view input, const Mode& setup, std::size_t piece, std::string_view label = "F",
                  FileScan::Helper helper = FileScan::Helper::Always) {
    MemorySource source(input);
    return in_pieces(input, setup, piece, source, label, helper);
}

void expect_same(const Scanned& got, const Scanned& expected, const Mode& setup) {
    EXPECT_EQ(got.streams[0], expected.streams[0]);
    EXPECT_EQ(got.streams[1], expected.streams[1]);
    if (setup.keep_order) {
        EXPECT_EQ(got.in_order, expected.in_order);
    }
    EXPECT_EQ(got.undecodable, expected.undecodable);
    EXPECT_EQ(got.next_line, expected.next_line);
    EXPECT_EQ(got.counts, expected.counts);
    EXPECT_EQ(got.error, 0);
}

// Lines of every kind: valid and invalid names, CRLF, empty lines, a lone
// "\r", two-byte characters, names over MAX_VRN_LEN and lines of thousands
// of bytes, so that pieces cut through lines, "\r\n" and characters.
std::string mixed_lines(std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        switch (i % 11) {
            case 0: out += kValid + "\n"; break;
            case 1: out += kInvalid + "\r\n"; break;
            case 2: out += "\n"; break;
            case 3: out += "n\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\r\n"; break;
            case 4: out += std::string(600 + i % 7, 'a') + "\n"; break;
            case 5: out += kValid + "\r\r\n"; break;
            case 6: out += "vrn:vlt:iam:::" + std::string(498, 'b') + "\r\n"; break;
            case 7:
                for (std::size_t j = 0; j < 1500; ++j) out += "\xc3\xa9";
                out += "\n";
                break;
            case 8: out += "\xc3\xa9" + std::string(5000 + i % 13, 'x') + "\r\n"; break;
            case 9: out += "\r\n"; break;
            default: out += kValid + "\n" + kValid + "\n"; break;
        }
    }
    return out;
}

const Mode kModes[] = {
    {Command::Check, false, true},  {Command::Check, true, true},   {Command::Canon, false, true},
    {Command::Canon, false, false}, {Command::Fields, true, true},  {Command::Cedar, false, false},
    {Command::Cedar, true, false},
};

void PrintTo(const Mode& s, std::ostream* out) {
    *out << static_cast<int>(s.command) << (s.json ? " json" : "") << (s.keep_order ? " kept" : "");
}

class FileScanTest : public ::testing::TestWithParam<Mode> {};

TEST_P(FileScanTest, AnyPieceSizeGivesTheSerialReport) {
    const Mode setup = GetParam();
    const std::string input = mixed_lines(150);
    const Scanned expected = serial(input, setup);
    for (const std::size_t piece : {7, 64, 513, 1000, 4096, 65536, 1 << 20}) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        expect_same(in_pieces(input, setup, piece, "F", FileScan::Helper::TakenBack), expected, setup);
        const Scanned got = in_pieces(input, setup, piece);
        expect_same(got, expected, setup);
        const bool apart = setup.command == Command::Check || setup.json || !setup.keep_order;
        if (piece < input.size() / 4) {
            EXPECT_EQ(got.taken_over > 0, apart) << "the second lane ran apart where it may, only there";
        }
    }
}

TEST_P(FileScanTest, WithoutAHelperThreadLaneOneTakesEveryPiece) {
    const Mode setup = GetParam();
    const std::string input = mixed_lines(150);
    const Scanned expected = serial(input, setup);
    for (const std::size_t piece : {7, 1000, 65536}) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        MemorySource source(input);
        const Scanned got = in_pieces(input, setup, piece, source, "F", FileScan::Helper::None);
        expect_same(got, expected, setup);
        EXPECT_EQ(got.taken_over, 0u);
    }
}

TEST_P(FileScanTest, EveryPieceSizeAroundTheLines) {
    const Mode setup = GetParam();
    // Short, so that every size cuts through every place once.
    const std::string input = kValid + "\r\n\n\xc3\xa9x\r\n" + kInvalid + "\n" + std::string(520, 'z') + "\r\n" +
                              kValid + "\r";
    const Scanned expected = serial(input, setup);
    for (std::size_t piece = 1; piece <= input.size() + 1; ++piece) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        expect_same(in_pieces(input, setup, piece), expected, setup);
    }
}

TEST_P(FileScanTest, ShortReads) {
    const Mode setup = GetParam();
    const std::string input = mixed_lines(200);
    const Scanned expected = serial(input, setup);
    for (const std::size_t largest : {1, 3, 100, 4095}) {
        SCOPED_TRACE("reads of at most " + std::to_string(largest));
        MemorySource source(input, largest);
        expect_same(in_pieces(input, setup, 4096, source, "F", FileScan::Helper::Always), expected, setup);
    }
}

TEST_P(FileScanTest, OutputPastTheFlushLimit) {
    const Mode setup = GetParam();
    // Records of a long label: each lane stops at the flush limit many times.
    const std::string label(300, 'L');
    std::string input;
    for (std::size_t i = 0; i < 6000; ++i) {
        input += (i % 3 == 0 ? kValid : kInvalid) + "\n";
    }
    const Scanned expected = serial(input, setup, label);
    ASSERT_GT(expected.in_order.size(), 4 * Output::kFlushBytes);
    for (const std::size_t piece : {4096, 65536, 400000}) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        expect_same(in_pieces(input, setup, piece, label), expected, setup);
    }
}

TEST_P(FileScanTest, ALineThatIsNotUtf8EndsTheSourceInEitherLane) {
    const Mode setup = GetParam();
    const std::string lines = mixed_lines(300);
    for (const std::size_t place : {std::size_t{0}, lines.size() / 5, lines.size() / 2, lines.size() - 1}) {
        // The bad line goes in at the start of the line that `place` is in.
        const std::size_t line_start = place == 0 ? 0 : lines.rfind('\n', place) + 1;
        const std::string input = lines.substr(0, line_start) + "bad\xff\r\n" + lines.substr(line_start);
        const Scanned expected = serial(input, setup);
        ASSERT_NE(expected.undecodable, 0u);
        for (const std::size_t piece : {64, 4096, 20000}) {
            SCOPED_TRACE("bad line at " + std::to_string(line_start) + ", piece " + std::to_string(piece));
            expect_same(in_pieces(input, setup, piece), expected, setup);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, FileScanTest, ::testing::ValuesIn(kModes));

TEST(FileScan, AFailedReadIsReportedAfterTheLinesBeforeIt) {
    const Mode setup{Command::Check, false, true};
    std::string input;
    for (std::size_t i = 0; i < 2000; ++i) {
        input += kInvalid + "\n";
    }
    const Scanned whole = serial(input, setup);
    for (const std::uint64_t fail_at : {std::uint64_t{10}, std::uint64_t{5000}, std::uint64_t{70000}}) {
        SCOPED_TRACE("failing at " + std::to_string(fail_at));
        MemorySource source(input, SIZE_MAX, fail_at, EIO);
        const Scanned got = in_pieces(input, setup, 4096, source);
        EXPECT_EQ(got.error, EIO);
        // What was reported is the start of the whole report, in whole records.
        EXPECT_EQ(whole.streams[0].substr(0, got.streams[0].size()), got.streams[0]);
        EXPECT_TRUE(got.streams[0].empty() || got.streams[0].back() == '\n');
        EXPECT_LE(got.streams[0].size(), whole.streams[0].size());
    }
}

TEST(FileScan, GoesOnFromAHeldLineAndLeavesTheLastOneHeld) {
    // The scanner already holds the start of a line when the file scan
    // begins, and the file ends without a line feed.
    const Mode setup{Command::Check, false, true};
    const std::string input = "vrn:vlt:iam:::project/x\r\n" + mixed_lines(100) + kInvalid;
    const Scanned expected = serial("head" + input, setup);
    NameScanner scanner = started(setup, "F");
    Scanned got;
    EXPECT_EQ(scanner.feed("head", 0), 4u);
    MemorySource source(input);
    FileScan scan(scanner, source, 0, 512, FileScan::Helper::Always);
    while (scan.step() == FileScan::Step::More) {
        take(scanner.output(), got);
    }
    take(scanner.output(), got);
    EXPECT_GT(scan.lanes_taken_over(), 0u);
    finish(scanner, got);
    expect_same(got, expected, setup);
}

TEST(FileScan, CountsLineFeeds) {
    std::string text;
    std::size_t expected = 0;
    for (std::size_t i = 0; i < 5000; ++i) {
        const bool line_feed = (i * 7919) % 13 < 3;
        text.push_back(line_feed ? '\n' : static_cast<char>(i % 256 == '\n' ? 'x' : i % 256));
        expected += line_feed ? 1 : 0;
    }
    text += std::string(4096, '\n');  // a run long enough to fill every lane counter
    expected += 4096;
    for (const std::size_t offset : {0, 1, 15, 17}) {
        EXPECT_EQ(count_line_feeds(text.data() + offset, text.size() - offset),
                  static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(offset), text.end(), '\n')));
    }
    EXPECT_EQ(count_line_feeds(text.data(), text.size()), expected);
    EXPECT_EQ(count_line_feeds(text.data(), 0), 0u);
}

}  // namespace
}  // namespace veltrane::scan
