// What the `vrn` command writes for each name, as text and as JSON Lines.
//
//     check, text:      SOURCE:LINE: TOKEN: NAME                  (standard output)
//     canon etc., text: the result; an invalid name as
//                       vrn: SOURCE:LINE: TOKEN: NAME             (standard error)
//     --json:           {"source": SOURCE, "line": LINE, "name": NAME, "error": TOKEN}
//                       {"source": ..., "line": ..., "name": ..., <the result's fields>}
//
// The JSON is what Python's json.dumps writes by default (", " and ": "
// between items, every character outside printable ASCII escaped), so the
// records are byte for byte those the command wrote when it was Python.
//
// A name over MAX_VRN_LEN bytes is shown by its first kShownBytes bytes (cut
// back to a whole character) and its length: "PREFIX... (N bytes)" as text,
// and in JSON "name" holds the prefix, followed by "name_bytes": N and
// "truncated": true. An Arrow null row is checked as an empty name and shows
// as "" in text and null in JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scan/output.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::scan {

enum class Command : std::uint8_t { Check, Canon, Fields, Cedar };

// The bytes of an over-long name that a report shows.
inline constexpr std::size_t kShownBytes = 64;

// A name as it is reported: its text, or the start of it when it is longer
// than the scanner keeps.
struct Name {
    std::string_view text;   // all of the name, or at least its first MAX_VRN_LEN + 1 bytes
    std::uint64_t bytes = 0;  // the whole name's length
    bool null = false;        // an Arrow null row (text empty)
};

class Reporter {
public:
    Reporter(Command command, bool json) noexcept : command_(command), json_(json) {}

    // The source the next records come from, as text output shows it and as
    // a JSON string (quotes included): the Python side renders both.
    void set_source(std::string_view text_label, std::string_view json_label);
    [[nodiscard]] std::string_view text_label() const noexcept { return text_label_; }
    [[nodiscard]] std::string_view json_label() const noexcept { return json_label_; }
    [[nodiscard]] Command command() const noexcept { return command_; }
    [[nodiscard]] bool json() const noexcept { return json_; }

    // The record of an invalid name.
    void invalid(Output& output, const Name& name, std::uint64_t line, std::string_view token);

    // The record of a valid name (nothing for `check`).
    void valid(Output& output, const Name& name, std::uint64_t line, const veltrane_kernel::VrnView& vrn);

private:
    void open_json_record(std::string& out, const Name& name, std::uint64_t line) const;
    void append_shown_name(std::string& out, const Name& name) const;

    Command command_;
    bool json_;
    std::string text_label_;
    std::string json_label_;
};

// Appends `text` (valid UTF-8) as a JSON string, quotes included, escaped as
// json.dumps escapes it: \" \\ \b \f \n \r \t, every other character below a
// space or above '~' as \uXXXX (lowercase hex; a surrogate pair past U+FFFF).
void append_json_string(std::string& out, std::string_view text);

// Appends `value` in decimal.
void append_decimal(std::string& out, std::uint64_t value);

// The first bytes of `text` (valid UTF-8) that an over-long name shows: at
// most kShownBytes, ending at the end of a character.
[[nodiscard]] std::string_view shown_prefix(std::string_view text) noexcept;

}  // namespace veltrane::scan
