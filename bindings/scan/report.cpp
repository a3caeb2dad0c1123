#include "scan/report.hpp"

#include "answers/answers.hpp"

#include <array>
#include <charconv>

namespace veltrane::scan {
namespace {

using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::VrnView;

bool is_cut(const Name& name) noexcept { return name.bytes > MAX_VRN_LEN; }

constexpr char kHexDigits[] = "0123456789abcdef";

void append_unicode_escape(std::string& out, std::uint32_t unit) {
    const char escape[6] = {'\\', 'u', kHexDigits[(unit >> 12) & 0xF], kHexDigits[(unit >> 8) & 0xF],
                            kHexDigits[(unit >> 4) & 0xF], kHexDigits[unit & 0xF]};
    out.append(escape, sizeof escape);
}

// The code point of the character of `size` bytes at `at` (valid UTF-8).
std::uint32_t code_point(const unsigned char* at, std::size_t size) noexcept {
    std::uint32_t value = at[0] & (0x7Fu >> size);
    for (std::size_t i = 1; i < size; ++i) {
        value = (value << 6) | (at[i] & 0x3Fu);
    }
    return value;
}

std::size_t character_size(unsigned char lead) noexcept {
    return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// One item of a valid name's result in JSON. The texts of a valid name are
// ASCII letters, digits, '-', ':', '/' and, in the Cedar id, nothing else, so
// they need no escaping.
void append_plain_json(std::string& out, std::string_view key, std::string_view value) {
    out.append(", \"");
    out.append(key);
    out.append("\": \"");
    out.append(value);
    out.push_back('"');
}

}  // namespace

void append_decimal(std::string& out, std::uint64_t value) {
    std::array<char, 20> digits;
    const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    (void)error;  // 20 digits hold any 64-bit value
    out.append(digits.data(), static_cast<std::size_t>(end - digits.data()));
}

void append_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    const auto* at = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = at + text.size();
    while (at != end) {
        // The run of bytes that stand for themselves, appended at once.
        const unsigned char* plain = at;
        while (plain != end && *plain >= 0x20 && *plain <= 0x7E && *plain != '"' && *plain != '\\') {
            ++plain;
        }
        out.append(reinterpret_cast<const char*>(at), static_cast<std::size_t>(plain - at));
        at = plain;
        if (at == end) {
            break;
        }
        const unsigned char byte = *at;
        switch (byte) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\b': out.append("\\b"); break;
            case '\f': out.append("\\f"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '\t': out.append("\\t"); break;
            default:
                if (byte < 0x80) {  // another control character, or DEL
                    append_unicode_escape(out, byte);
                } else {
                    // The text is valid UTF-8, so the whole character is there.
                    const std::size_t size = std::min<std::size_t>(character_size(byte),
                                                                   static_cast<std::size_t>(end - at));
                    const std::uint32_t point = code_point(at, size);
                    if (point < 0x10000) {
                        append_unicode_escape(out, point);
                    } else {
                        const std::uint32_t offset = point - 0x10000;
                        append_unicode_escape(out, 0xD800 | (offset >> 10));
                        append_unicode_escape(out, 0xDC00 | (offset & 0x3FF));
                    }
                    at += size;
                    continue;
                }
        }
        ++at;
    }
    out.push_back('"');
}

std::string_view shown_prefix(std::string_view text) noexcept {
    if (text.size() <= kShownBytes) {
        return text;
    }
    std::size_t size = kShownBytes;
    // Back to the start of the character that byte kShownBytes belongs to:
    // the prefix ends where that character begins.
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
        --size;
    }
    return text.substr(0, size);
}

void Reporter::set_source(std::string_view text_label, std::string_view json_label) {
    text_label_.assign(text_label);
    json_label_.assign(json_label);
}

void Reporter::append_shown_name(std::string& out, const Name& name) const {
    if (!is_cut(name)) {
        out.append(name.text);
        return;
    }
    out.append(shown_prefix(name.text));
    out.append("... (");
    append_decimal(out, name.bytes);
    out.append(" bytes)");
}

void Reporter::open_json_record(std::string& out, const Name& name, std::uint64_t line) const {
    out.append("{\"source\": ");
    out.append(json_label_);
    out.append(", \"line\": ");
    append_decimal(out, line);
    out.append(", \"name\": ");
    if (name.null) {
        out.append("null");
    } else if (is_cut(name)) {
        append_json_string(out, shown_prefix(name.text));
        out.append(", \"name_bytes\": ");
        append_decimal(out, name.bytes);
        out.append(", \"truncated\": true");
    } else {
        append_json_string(out, name.text);
    }
}

void Reporter::invalid(Output& output, const Name& name, std::uint64_t line, std::string_view token) {
    if (json_) {
        std::string& out = output.to(Stream::Out);
        open_json_record(out, name, line);
        out.append(", \"error\": \"");
        out.append(token);
        out.append("\"}\n");
        return;
    }
    std::string& out = output.to(command_ == Command::Check ? Stream::Out : Stream::Err);
    if (command_ != Command::Check) {
        out.append("vrn: ");
    }
    out.append(text_label_);
    out.push_back(':');
    append_decimal(out, line);
    out.append(": ");
    out.append(token);
    out.append(": ");
    append_shown_name(out, name);
    out.push_back('\n');
}

void Reporter::valid(Output& output, const Name& name, std::uint64_t line, const VrnView& vrn) {
    if (command_ == Command::Check) {
        return;
    }
    std::string& out = output.to(Stream::Out);
    if (json_) {
        open_json_record(out, name, line);
    }
    answers::Scratch scratch;
    switch (command_) {
        case Command::Canon:
            if (json_) {
                append_plain_json(out, "canonical", answers::canonical(vrn, scratch));
            } else {
                out.append(answers::canonical(vrn, scratch));
            }
            break;
        case Command::Fields:
            for (const answers::NamedField& field : answers::kFields) {
                if (json_) {
                    append_plain_json(out, field.key, field.answer(vrn, scratch));
                } else {
                    if (field.key != answers::kFields[0].key) {
                        out.push_back(' ');
                    }
                    out.append(field.key);
                    out.push_back('=');
                    out.append(field.answer(vrn, scratch));
                }
            }
            break;
        case Command::Cedar:
            if (json_) {
                append_plain_json(out, "entity_type", answers::cedar_entity_type(vrn, scratch));
                append_plain_json(out, "entity_id", answers::cedar_entity_id(vrn, scratch));
            } else {
                out.append(answers::cedar_uid(vrn, scratch));
            }
            break;
        case Command::Check:
            break;
    }
    out.append(json_ ? "}\n" : "\n");
}

}  // namespace veltrane::scan
