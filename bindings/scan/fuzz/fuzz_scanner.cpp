// Consistency fuzzer for the `vrn` command's scanner: the input cut into
// random blocks and scanned as the command scans it, against a plain model
// of the command's rules written here. Both must give the same lines, the
// same report bytes on each stream (in the order of the names when the two
// streams may meet), the same counts per token and the same undecodable line.
//
// The model: the input split at every "\n"; a "\r" right before one belongs
// to the ending; a last line without "\n" counts, whole (a "\r" at its end is
// part of the name); the first line that is not UTF-8 ends the source.
//
// The same input is then read as a file in pieces (FileScan: two pieces a
// round, the second scanned on another thread where the output allows, or
// taken back by the first, or no thread at all; the reads coming back short
// at random) and must give the same again.
//
// Input: byte 0 picks the command, --json, whether order is kept and the
// source label; byte 1 seeds the block cuts, the piece size and the reads;
// the rest is the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.hpp"
#include "reference_utf8.hpp"
#include "scan/file_scan.hpp"
#include "scan/name_scanner.hpp"
#include "veltrane_kernel/vrn.hpp"

using veltrane::scan::Command;
using veltrane::scan::NameScanner;
using veltrane::scan::Output;
using veltrane::scan::Stream;
using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::VrnError;
using veltrane_kernel::VrnView;

namespace {

// What reaches the two streams: the bytes of each, and the runs of one
// stream in the order they are written, by length.
struct Written {
    std::string bytes[2];  // standard output, standard error
    std::vector<std::pair<Stream, std::size_t>> runs;

    static std::size_t index(Stream stream) noexcept { return stream == Stream::Out ? 0 : 1; }

    void note_run(Stream stream, std::size_t size) {
        if (size == 0) return;
        if (!runs.empty() && runs.back().first == stream) {
            runs.back().second += size;
        } else {
            runs.emplace_back(stream, size);
        }
    }
};

struct Options {
    Command command;
    bool json;
    bool keep_order;
    std::string text_label;
    std::string json_label;
};

Options options_of(std::uint8_t byte) {
    static constexpr Command kCommands[] = {Command::Check, Command::Canon, Command::Fields, Command::Cedar};
    Options options{kCommands[byte & 3], (byte & 4) != 0, (byte & 8) == 0, "F", "\"F\""};
    switch (byte >> 4) {
        case 15:  // long enough that some thousand records pass the flush limit
            options.text_label.assign(100, 'L');
            options.json_label = "\"" + options.text_label + "\"";
            break;
        case 14:
            options.text_label = "dir/n\xc3\xa9s.txt";
            options.json_label = "\"dir/n\\u00e9s.txt\"";
            break;
        default: break;
    }
    return options;
}

// ---- the model -------------------------------------------------------------

std::string decimal(std::uint64_t value) { return std::to_string(value); }

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string pascal(std::string_view token) {
    std::string out;
    bool start = true;
    for (const char c : token) {
        if (c == '-') {
            start = true;
            continue;
        }
        out.push_back(start && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
        start = false;
    }
    return out;
}

std::vector<std::string_view> split(std::string_view text, char at) {
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == at) {
            pieces.push_back(text.substr(from, i - from));
            from = i + 1;
        }
    }
    return pieces;
}

// The result of a valid name, taken apart from its text: its UUIDs lowered.
std::vector<std::pair<std::string, std::string>> result_of(Command command, std::string_view name) {
    const std::vector<std::string_view> fields = split(name, ':');
    const std::vector<std::string_view> path = split(fields[5], '/');
    switch (command) {
        case Command::Canon: return {{"canonical", lower(name)}};
        case Command::Fields:
            return {{"service", std::string(fields[2])},
                    {"region", std::string(fields[3])},
                    {"org", lower(fields[4])},
                    {"resource_type", std::string(path[0])},
                    {"resource_id", lower(path[1])}};
        case Command::Cedar:
            return {{"entity_type", "Vlt::" + pascal(fields[2]) + "::" + pascal(path[0])},
                    {"entity_id", lower(path[1])}};
        case Command::Check: break;
    }
    return {};
}

struct Model {
    Written written;
    NameScanner::Counts counts{};
    std::uint64_t undecodable = 0;
    std::uint64_t next_line = 1;
    std::string record;  // reused for every record

    void write(Stream stream) {
        written.bytes[Written::index(stream)] += record;
        written.note_run(stream, record.size());
    }
};

void model_record(Model& model, const Options& options, std::uint64_t number, std::string_view name) {
    std::size_t kind = 0;  // 0: valid, else 1 + the error's kind
    if (name.empty()) {
        kind = 1 + VrnError::Empty;
    } else if (name.size() > MAX_VRN_LEN) {
        kind = 1 + VrnError::TooLong;
    } else if (const auto parsed = VrnView::parse(name); !parsed) {
        kind = 1 + static_cast<std::size_t>(parsed.error().value());
    }
    ++model.counts[kind];
    const bool cut = name.size() > MAX_VRN_LEN;
    const std::string_view shown = cut ? reference::whole_characters_within(name, 64) : name;
    std::string& record = model.record;
    record.clear();
    if (options.json) {
        record += "{\"source\": " + options.json_label + ", \"line\": " + decimal(number) +
                  ", \"name\": " + reference::json_string(shown);
        if (cut) record += ", \"name_bytes\": " + decimal(name.size()) + ", \"truncated\": true";
    }
    if (kind != 0) {
        const std::string_view token = VrnError(static_cast<VrnError::Kind>(kind - 1)).kind();
        if (options.json) {
            record += ", \"error\": \"" + std::string(token) + "\"}\n";
            model.write(Stream::Out);
            return;
        }
        if (options.command != Command::Check) record += "vrn: ";
        record += options.text_label + ":" + decimal(number) + ": " + std::string(token) + ": ";
        record += shown;
        if (cut) record += "... (" + decimal(name.size()) + " bytes)";
        record += "\n";
        model.write(options.command == Command::Check ? Stream::Out : Stream::Err);
        return;
    }
    if (options.command == Command::Check) return;
    const auto result = result_of(options.command, name);
    if (options.json) {
        for (const auto& [key, value] : result) record += ", \"" + key + "\": \"" + value + "\"";
        record += "}";
    } else if (options.command == Command::Canon) {
        record += result[0].second;
    } else if (options.command == Command::Fields) {
        for (const auto& [key, value] : result) record += (record.empty() ? "" : " ") + key + "=" + value;
    } else {
        record += result[0].second + "::\"" + result[1].second + "\"";
    }
    record += "\n";
    model.write(Stream::Out);
}

void run_model(std::string_view input, const Options& options, Model& model) {
    std::vector<std::string_view> lines = split(input, '\n');
    const std::string_view last = lines.back();  // what follows the last "\n", whole
    lines.pop_back();
    for (std::string_view& line : lines) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    }
    if (!last.empty()) lines.push_back(last);
    for (const std::string_view line : lines) {
        if (!reference::utf8(line).valid()) {
            model.undecodable = model.next_line;
            return;
        }
        model_record(model, options, model.next_line++, line);
    }
}

// ---- the scanner, driven as the command drives it -----------------------------

// Holds what the scanner writes to what the model wrote, as it comes.
class Comparer {
public:
    Comparer(const Written& expected, std::size_t largest_record) noexcept
        : expected_(expected), largest_record_(largest_record) {}

    void take(Output& output) {
        const std::size_t pending = output.pending(Stream::Out).size() + output.pending(Stream::Err).size();
        FUZZ_CHECK(pending < Output::kFlushBytes + largest_record_);  // held output stays bounded
        const Stream first = output.first();
        compare(first, output.pending(first));
        const Stream second = first == Stream::Out ? Stream::Err : Stream::Out;
        compare(second, output.pending(second));
        output.clear();
    }

    void finish() const {
        for (const std::size_t stream : {0, 1}) {
            FUZZ_CHECK(at_[stream] == expected_.bytes[stream].size());
        }
    }
    [[nodiscard]] const Written& runs() const noexcept { return written_; }

private:
    void compare(Stream stream, std::string_view bytes) {
        const std::size_t index = Written::index(stream);
        const std::string& expected = expected_.bytes[index];
        FUZZ_CHECK(bytes.size() <= expected.size() - at_[index]);
        FUZZ_CHECK(std::string_view(expected).substr(at_[index], bytes.size()) == bytes);
        at_[index] += bytes.size();
        written_.note_run(stream, bytes.size());
    }

    const Written& expected_;
    std::size_t largest_record_;
    std::size_t at_[2] = {0, 0};
    Written written_;  // its runs only
};

struct Scanned {
    NameScanner::Counts counts{};
    std::uint64_t undecodable = 0;
    std::uint64_t next_line = 0;
};

Scanned run_scanner(std::string_view input, const Options& options, std::uint8_t cut_seed, Comparer& comparer) {
    NameScanner scanner(options.command, options.json, options.keep_order);
    scanner.start_source(options.text_label, options.json_label);
    std::uint64_t state = cut_seed;
    std::size_t start = 0;
    while (start < input.size() && scanner.undecodable_line() == 0) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const auto draw = static_cast<std::size_t>(state >> 33);
        // Mostly short blocks, so that lines and characters are cut often.
        const std::size_t wanted = (draw & 3) == 0 ? draw % 1200 : (draw & 3) == 1 ? draw % 3 : 1 + draw % 24;
        const std::size_t size = std::min(wanted, input.size() - start);
        // A block of its own, exactly sized, gone once scanned: a read past
        // its end or a pointer kept into it is an error the sanitizer sees.
        const std::unique_ptr<char[]> block(new char[size]);
        std::copy_n(input.data() + start, size, block.get());
        const std::string_view view(block.get(), size);
        std::size_t at = 0;
        do {
            const std::size_t reached = scanner.feed(view, at);
            FUZZ_CHECK(reached <= size);
            FUZZ_CHECK(reached > at || scanner.undecodable_line() != 0 || size == 0);
            at = reached;
            comparer.take(scanner.output());
        } while (at < size && scanner.undecodable_line() == 0);
        start += size;
    }
    if (scanner.undecodable_line() == 0) {
        scanner.end_source();
        comparer.take(scanner.output());
    }
    return {scanner.counts(), scanner.undecodable_line(), scanner.line()};
}

// Memory read as a file, each read shorter than asked at random.
class ShortReads final : public veltrane::scan::ByteSource {
public:
    ShortReads(std::string_view bytes, std::uint64_t seed) noexcept : bytes_(bytes), seed_(seed) {}

    std::int64_t read_at(char* into, std::size_t size, std::uint64_t offset) noexcept override {
        if (offset >= bytes_.size()) {
            return 0;
        }
        // The two lanes read at once: the draw depends on the offset alone.
        const std::uint64_t draw = (offset + seed_) * 6364136223846793005ull >> 40;
        const std::size_t most = (draw & 1) != 0 ? size : 1 + draw % 9;
        const std::size_t got = std::min({size, most, bytes_.size() - static_cast<std::size_t>(offset)});
        std::copy_n(bytes_.data() + offset, got, into);
        return static_cast<std::int64_t>(got);
    }

private:
    std::string_view bytes_;
    std::uint64_t seed_;
};

Scanned run_file_scan(std::string_view input, const Options& options, std::uint8_t seed, Comparer& comparer) {
    NameScanner scanner(options.command, options.json, options.keep_order);
    scanner.start_source(options.text_label, options.json_label);
    ShortReads source(input, seed);
    static constexpr std::size_t kPieces[] = {1, 2, 3, 5, 8, 13, 31, 64, 200, 600, 1500, 5000};
    using Helper = veltrane::scan::FileScan::Helper;
    static constexpr Helper kHelpers[] = {Helper::TakenBack, Helper::Always, Helper::None};
    veltrane::scan::FileScan scan(scanner, source, 0, kPieces[seed % std::size(kPieces)],
                                  kHelpers[(seed / std::size(kPieces)) % std::size(kHelpers)]);
    while (true) {
        const veltrane::scan::FileScan::Step step = scan.step();
        FUZZ_CHECK(step != veltrane::scan::FileScan::Step::Failed);
        comparer.take(scanner.output());
        if (step == veltrane::scan::FileScan::Step::Done || scanner.undecodable_line() != 0) {
            break;
        }
    }
    FUZZ_CHECK(scan.bytes_read() <= input.size());
    if (scanner.undecodable_line() == 0) {
        FUZZ_CHECK(scan.bytes_read() == input.size());
        scanner.end_source();
        comparer.take(scanner.output());
    }
    return {scanner.counts(), scanner.undecodable_line(), scanner.line()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const Options options = options_of(data[0]);
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

    Model expected;
    run_model(input, options, expected);
    Comparer comparer(expected.written, 6 * MAX_VRN_LEN + 2 * options.json_label.size() + 512);
    const Scanned scanned = run_scanner(input, options, data[1], comparer);

    FUZZ_CHECK(scanned.undecodable == expected.undecodable);
    FUZZ_CHECK(scanned.counts == expected.counts);
    FUZZ_CHECK(scanned.next_line == expected.next_line);
    comparer.finish();  // the same bytes on each stream
    if (options.keep_order) {
        FUZZ_CHECK(comparer.runs().runs == expected.written.runs);  // in the order of the names
    }

    // After a round, the output of both lanes is pending at once.
    const std::size_t largest_record = 6 * MAX_VRN_LEN + 2 * options.json_label.size() + 512;
    Comparer in_pieces(expected.written, Output::kFlushBytes + 2 * largest_record);
    const Scanned pieces = run_file_scan(input, options, data[1], in_pieces);
    FUZZ_CHECK(pieces.undecodable == expected.undecodable);
    FUZZ_CHECK(pieces.counts == expected.counts);
    FUZZ_CHECK(pieces.next_line == expected.next_line);
    in_pieces.finish();
    if (options.keep_order) {
        FUZZ_CHECK(in_pieces.runs().runs == expected.written.runs);
    }
    return 0;
}
