// Consistency fuzzer for the JSON strings of the `vrn` command's records:
// append_json_string against a plain escaper of decoded code points (what
// json.dumps writes), and the prefix an over-long name shows against the
// whole characters within its first bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "reference_utf8.hpp"
#include "scan/report.hpp"

namespace {

// Valid UTF-8 made of any input: a byte below 0x80 stands for itself, any
// other starts a code point taken from it and the next two bytes (all of
// Unicode but the surrogates, which move up into the private use area).
std::string text_of(std::string_view bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            text.push_back(static_cast<char>(byte));
            continue;
        }
        std::uint32_t point = byte & 0x1Fu;
        for (int k = 0; k < 2; ++k) {
            point = (point << 8) | (++i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u);
        }
        point %= 0x110000;
        if (point >= 0xD800 && point <= 0xDFFF) point += 0x800;
        reference::append_utf8(text, point);
    }
    return text;
}

void check(std::string_view text) {
    std::string out = "{\"name\": ";  // appended after what is there
    veltrane::scan::append_json_string(out, text);
    FUZZ_CHECK(out == "{\"name\": " + reference::json_string(text));

    const std::string_view shown = veltrane::scan::shown_prefix(text);
    const std::string_view expected = text.size() <= veltrane::scan::kShownBytes
                                          ? text
                                          : reference::whole_characters_within(text, veltrane::scan::kShownBytes);
    FUZZ_CHECK(shown.data() == text.data() && shown == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (reference::utf8(bytes).valid()) {
        check(bytes);  // the input itself, when it is text
    }
    check(text_of(bytes));
    return 0;
}
