#include "scan/name_scanner.hpp"

#include <algorithm>
#include <cstring>

namespace veltrane::scan {
namespace {

using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::VrnError;
using veltrane_kernel::VrnView;

const char* find_line_feed(const char* from, std::size_t size) noexcept {
    return static_cast<const char*>(std::memchr(from, '\n', size));
}

// How far past a line the scan for ASCII looks ahead, so that most lines are
// known to be ASCII (and so UTF-8) without a look of their own, while a call
// that stops early has looked at little more than it used.
constexpr std::size_t kAsciiLookahead = 8 << 10;

// Whether the line [start, end) holds nothing but ASCII, where `*known` is
// the end of the bytes found to be ASCII so far; moves `*known` on.
bool known_ascii(const char* start, const char* end, const char* block_end, const char** known) noexcept {
    if (end <= *known) {
        return true;
    }
    const char* const from = std::max(*known, start);
    const char* const limit = std::max(end, from + std::min<std::size_t>(kAsciiLookahead, block_end - from));
    *known = first_non_ascii(from, limit);
    return end <= *known;
}

}  // namespace

void NameScanner::start_source(std::string_view text_label, std::string_view json_label) {
    reporter_.set_source(text_label, json_label);
    partial_.bytes = 0;
    partial_.held_size = 0;
    partial_.ends_with_cr = false;
    partial_.utf8.reset();
    line_ = 1;
    undecodable_ = 0;
}

void NameScanner::lend_source(NameScanner& helper) const {
    helper.start_source(reporter_.text_label(), reporter_.json_label());
    helper.counts_ = {};
    helper.output_.clear();
}

void NameScanner::absorb(NameScanner& helper) {
    output_.append(helper.output_);
    for (std::size_t i = 0; i < kCounts; ++i) {
        counts_[i] += helper.counts_[i];
    }
    partial_ = helper.partial_;
    line_ = helper.line_;
    undecodable_ = helper.undecodable_;
    helper.counts_ = {};
}

std::size_t NameScanner::feed(std::string_view block, std::size_t at) {
    const char* const base = block.data();
    const std::size_t end = block.size();
    if (undecodable_ != 0 || at >= end) {
        return std::min(at, end);
    }
    if (partial_.bytes != 0) {
        const char* line_feed = find_line_feed(base + at, end - at);
        const std::size_t piece_end = line_feed != nullptr ? static_cast<std::size_t>(line_feed - base) : end;
        if (!extend_partial(block.substr(at, piece_end - at))) {
            return at;
        }
        if (line_feed == nullptr) {
            return end;
        }
        if (!finish_partial(true)) {
            return at;
        }
        at = piece_end + 1;
        if (output_.must_stop()) {
            return at;
        }
    }
    const char* ascii_until = base + at;  // the bytes before it are ASCII
    while (at < end) {
        const char* const start = base + at;
        const char* const line_feed = find_line_feed(start, end - at);
        if (line_feed == nullptr) {
            return extend_partial(block.substr(at)) ? end : at;
        }
        std::string_view text(start, static_cast<std::size_t>(line_feed - start));
        if (!known_ascii(start, line_feed, base + end, &ascii_until) && !is_valid_utf8(text)) {
            undecodable_ = line_;
            return at;
        }
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        report(Name{text, text.size(), false});
        at = static_cast<std::size_t>(line_feed - base) + 1;
        if (output_.must_stop()) {
            return at;
        }
    }
    return end;
}

void NameScanner::end_source() {
    if (undecodable_ == 0 && partial_.bytes != 0) {
        finish_partial(false);
    }
}

void NameScanner::name(std::string_view text) {
    if (undecodable_ != 0) {
        return;
    }
    if (!is_valid_utf8(text)) {
        undecodable_ = line_;
        return;
    }
    report(Name{text, text.size(), false});
}

void NameScanner::null_name() {
    if (undecodable_ == 0) {
        report(Name{{}, 0, true});
    }
}

bool NameScanner::extend_partial(std::string_view piece) {
    if (!partial_.utf8.feed(piece.data(), piece.size())) {
        undecodable_ = line_;
        return false;
    }
    const std::size_t room = partial_.held.size() - partial_.held_size;
    const std::size_t kept = std::min(room, piece.size());
    std::memcpy(partial_.held.data() + partial_.held_size, piece.data(), kept);
    partial_.held_size += kept;
    partial_.bytes += piece.size();
    if (!piece.empty()) {
        partial_.ends_with_cr = piece.back() == '\r';
    }
    return true;
}

bool NameScanner::finish_partial(bool line_feed_follows) {
    if (!partial_.utf8.complete()) {  // the line ends inside a character
        undecodable_ = line_;
        return false;
    }
    // A "\r" is part of the line ending only right before a line feed; at the
    // end of the input it belongs to the name, as it does anywhere else.
    const bool drop_cr = line_feed_follows && partial_.ends_with_cr;
    const std::uint64_t bytes = partial_.bytes - (drop_cr ? 1 : 0);
    const std::size_t shown = static_cast<std::size_t>(std::min<std::uint64_t>(partial_.held_size, bytes));
    report(Name{std::string_view(partial_.held.data(), shown), bytes, false});
    partial_.bytes = 0;
    partial_.held_size = 0;
    partial_.ends_with_cr = false;
    partial_.utf8.reset();
    return true;
}

void NameScanner::report(const Name& name) {
    const std::uint64_t number = line_++;
    VrnError::Kind kind = VrnError::Empty;
    if (!name.null) {
        if (name.bytes > MAX_VRN_LEN) {
            kind = VrnError::TooLong;  // the first check after "empty", made on the length alone
        } else {
            if (reporter_.command() == Command::Check) {
                // A valid name's record is empty: the verdict is all `check` needs.
                const auto verdict = VrnView::validate(name.text);
                if (verdict) {
                    ++counts_[0];
                    return;
                }
                kind = verdict.error().value();
            } else {
                const auto parsed = VrnView::parse(name.text);
                if (parsed) {
                    ++counts_[0];
                    reporter_.valid(output_, name, number, *parsed);
                    return;
                }
                kind = parsed.error().value();
            }
        }
    }
    ++counts_[1 + static_cast<std::size_t>(kind)];
    reporter_.invalid(output_, name, number, VrnError(kind).kind());
}

}  // namespace veltrane::scan
