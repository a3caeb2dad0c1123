// The `vrn` command's scanner: bytes of names in, the report out, and no
// Python object per name. It needs no interpreter and runs without its lock.
//
//     class NameScanner:
//         def feed(block, at):          # the next bytes of the current source
//             for each whole line of block[at:]:  # ends at "\n"; a "\r" right before it is part of the ending
//                 if not UTF-8: undecodable_line = its number; stop
//                 report(line)
//                 if output.must_stop(): return where it stopped
//             hold the unfinished last line for the next block
//         def end_source():             # an unfinished last line is a line, a "\r" last in it part of the name
//         def name(text):               # one whole name: an argument, an Arrow row
//
//         def report(name):
//             token = "too-long" if len(name) > MAX_VRN_LEN else parse(name).error
//             counts[token or "valid"] += 1; write its record
//
// An unfinished line is held up to MAX_VRN_LEN + 1 bytes: enough to parse any
// name that can be valid, and past it the name is too long whatever follows.
// Of a longer line only its length, whether its last byte was "\r" and where
// its UTF-8 stands are kept, so a line of any length costs the same memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scan/output.hpp"
#include "scan/report.hpp"
#include "scan/utf8.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::scan {

class NameScanner {
public:
    // counts()[0] is the valid names, counts()[1 + k] those of VrnError kind k.
    static constexpr std::size_t kCounts = 1 + veltrane_kernel::VrnError::kCount;
    using Counts = std::array<std::uint64_t, kCounts>;

    // `keep_order`: standard output and standard error may go to one place, so
    // their records must come out in the order of the names (see Output).
    NameScanner(Command command, bool json, bool keep_order) noexcept
        : reporter_(command, json), output_(keep_order) {}

    // The next source: its labels (see Reporter::set_source), lines from 1.
    void start_source(std::string_view text_label, std::string_view json_label);

    // Scans `block` from `at` on and returns where it stopped: at its end, or
    // after the line whose record must be written out first, or at the start
    // of a line that is not UTF-8 (undecodable_line() then gives its number,
    // and the source is done).
    std::size_t feed(std::string_view block, std::size_t at);

    // The end of the current source: an unfinished last line is a line, and
    // a "\r" at its end is part of its name (no line feed follows it).
    void end_source();

    // One whole name, whatever bytes it holds (a command-line argument, a
    // row of a column); one that is not UTF-8 is refused as a line is.
    void name(std::string_view text);
    // A null row of a column: checked as an empty name.
    void null_name();

    // Whether a later stretch of a source may be scanned apart (on another
    // thread, by a helper) and its output put behind this one's: true when
    // every record goes to one stream, or the two streams' order between
    // them does not matter.
    [[nodiscard]] bool can_scan_apart() const noexcept {
        return reporter_.command() == Command::Check || reporter_.json() || !output_.keep_order();
    }
    // A scanner of the same command and output form, for such a stretch.
    [[nodiscard]] NameScanner make_helper() const noexcept {
        return NameScanner(reporter_.command(), reporter_.json(), false);
    }
    // Gives `helper` this scanner's source, with nothing seen yet: it is to
    // scan a stretch that starts at a line start, whose number it is given
    // with number_from once it is known.
    void lend_source(NameScanner& helper) const;
    void number_from(std::uint64_t first_line) noexcept { line_ = first_line; }
    // Takes over what `helper` made after it was lent the source, when this
    // scanner has seen everything before the helper's stretch: its output,
    // counts, line number, unfinished line and undecodable line.
    void absorb(NameScanner& helper);

    // The number the next line or name gets.
    [[nodiscard]] std::uint64_t line() const noexcept { return line_; }
    // The number of the line refused as not UTF-8, or 0.
    [[nodiscard]] std::uint64_t undecodable_line() const noexcept { return undecodable_; }
    [[nodiscard]] const Counts& counts() const noexcept { return counts_; }
    [[nodiscard]] Output& output() noexcept { return output_; }

private:
    // The line that a block ended in the middle of.
    struct PartialLine {
        std::array<char, veltrane_kernel::MAX_VRN_LEN + 1> held;
        std::size_t held_size = 0;
        std::uint64_t bytes = 0;  // 0: there is none
        bool ends_with_cr = false;
        Utf8Validator utf8;
    };

    bool extend_partial(std::string_view piece);
    // Reports the held line; `line_feed_follows`: a line feed ended it (not
    // the end of the input), so a "\r" last in it is part of the ending.
    bool finish_partial(bool line_feed_follows);
    void report(const Name& name);

    Reporter reporter_;
    Output output_;
    PartialLine partial_;
    Counts counts_{};
    std::uint64_t line_ = 1;
    std::uint64_t undecodable_ = 0;
};

}  // namespace veltrane::scan
