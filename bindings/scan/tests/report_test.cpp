// The records of the `vrn` command and the JSON escaping they use: byte for
// byte what the command wrote when it was Python (json.dumps by default).
#include "scan/report.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>

#include "veltrane_kernel/vrn.hpp"

namespace veltrane::scan {
namespace {

using namespace std::string_view_literals;
using veltrane_kernel::VrnView;

struct EscapeCase {
    std::string_view text;
    std::string_view json;
};

// What json.dumps(text) gives for each.
const EscapeCase kEscapes[] = {
    {""sv, R"("")"sv},
    {"vrn:vlt:iam:::a/b ~"sv, R"("vrn:vlt:iam:::a/b ~")"sv},
    {"say \"hi\""sv, R"("say \"hi\"")"sv},
    {"back\\slash"sv, R"("back\\slash")"sv},
    {"\b\f\n\r\t"sv, R"("\b\f\n\r\t")"sv},
    {"\x00\x01\x1f"sv, R"("\u0000\u0001\u001f")"sv},
    {"del\x7f"sv, R"("del\u007f")"sv},
    {"\xc2\x80\xc3\xa9t\xc3\xa9"sv, R"("\u0080\u00e9t\u00e9")"sv},
    {"\xe2\x80\xa8\xef\xbb\xbf\xef\xbf\xbf"sv, R"("\u2028\ufeff\uffff")"sv},
    {"\xf0\x90\x80\x80"sv, R"("\ud800\udc00")"sv},
    {"\xf0\x9f\x98\x80!"sv, R"("\ud83d\ude00!")"sv},
    {"\xf4\x8f\xbf\xbf"sv, R"("\udbff\udfff")"sv},
    {"a\"\\\x7f\xc3\xa9\xf0\x9f\x98\x80z"sv, R"("a\"\\\u007f\u00e9\ud83d\ude00z")"sv},
};

class JsonEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscapeTest, EscapesAsJsonDumps) {
    std::string out = "[";  // appended to what is there
    append_json_string(out, GetParam().text);
    EXPECT_EQ(out, "[" + std::string(GetParam().json));
}

INSTANTIATE_TEST_SUITE_P(Texts, JsonEscapeTest, ::testing::ValuesIn(kEscapes));

TEST(AppendDecimal, WritesEveryWidth) {
    for (const std::uint64_t value : {std::uint64_t{0}, std::uint64_t{7}, std::uint64_t{10}, std::uint64_t{513},
                                      std::numeric_limits<std::uint64_t>::max()}) {
        std::string out = "n=";
        append_decimal(out, value);
        EXPECT_EQ(out, "n=" + std::to_string(value));
    }
}

struct PrefixCase {
    std::string text;
    std::size_t shown;  // bytes of it shown
};

TEST(ShownPrefix, EndsAtTheStartOfTheCharacterAcrossByte64) {
    const std::string two = "\xc3\xa9";
    const std::string three = "\xe2\x82\xac";
    const std::string four = "\xf0\x9f\x98\x80";
    const PrefixCase cases[] = {
        {std::string(64, 'a'), 64},
        {std::string(65, 'a'), 64},
        {std::string(600, 'a'), 64},
        {std::string(63, 'a') + two + "b", 63},
        {std::string(62, 'a') + two + "b", 64},
        {std::string(61, 'a') + three + "b", 64},
        {std::string(62, 'a') + three + "b", 62},
        {std::string(63, 'a') + three + "b", 63},
        {std::string(60, 'a') + four + "b", 64},
        {std::string(61, 'a') + four + "b", 61},
        {std::string(63, 'a') + four + "b", 63},
        {two + std::string(70, 'b'), 64},
    };
    for (const PrefixCase& c : cases) {
        EXPECT_EQ(shown_prefix(c.text), std::string_view(c.text).substr(0, c.shown)) << c.text.size();
    }
}

const std::string kLong = "vrn:vlt:iam:::" + std::string(600, 'a');
const std::string kLongShown = "vrn:vlt:iam:::" + std::string(50, 'a');

struct InvalidCase {
    const char* label;
    Command command;
    bool json;
    Name name;
    Stream stream;
    std::string record;
};

const InvalidCase kInvalid[] = {
    {"check_text", Command::Check, false, {"x\ry"sv, 3}, Stream::Out, "F:7: wrong-field-count: x\ry\n"},
    {"canon_text", Command::Canon, false, {"x\ry"sv, 3}, Stream::Err, "vrn: F:7: wrong-field-count: x\ry\n"},
    {"cedar_text", Command::Cedar, false, {"x\ry"sv, 3}, Stream::Err, "vrn: F:7: wrong-field-count: x\ry\n"},
    {"check_json", Command::Check, true, {"x\ry"sv, 3}, Stream::Out,
     R"({"source": "F", "line": 7, "name": "x\ry", "error": "wrong-field-count"})" "\n"},
    {"fields_json", Command::Fields, true, {"\xc3\xa9"sv, 2}, Stream::Out,
     R"({"source": "F", "line": 7, "name": "\u00e9", "error": "wrong-field-count"})" "\n"},
    {"empty_text", Command::Check, false, {""sv, 0}, Stream::Out, "F:7: empty: \n"},
    {"null_text", Command::Check, false, {""sv, 0, true}, Stream::Out, "F:7: empty: \n"},
    {"null_canon", Command::Canon, false, {""sv, 0, true}, Stream::Err, "vrn: F:7: empty: \n"},
    {"null_json", Command::Check, true, {""sv, 0, true}, Stream::Out,
     R"({"source": "F", "line": 7, "name": null, "error": "empty"})" "\n"},
    {"empty_json", Command::Check, true, {""sv, 0}, Stream::Out,
     R"({"source": "F", "line": 7, "name": "", "error": "empty"})" "\n"},
    // An over-long name is shown by its prefix, whatever the scanner kept of it.
    {"too_long_text", Command::Check, false, {kLong, 5000000000}, Stream::Out,
     "F:7: too-long: " + kLongShown + "... (5000000000 bytes)\n"},
    {"too_long_canon", Command::Canon, false, {std::string_view(kLong).substr(0, 513), 514}, Stream::Err,
     "vrn: F:7: too-long: " + kLongShown + "... (514 bytes)\n"},
    {"too_long_json", Command::Check, true, {kLong, kLong.size()}, Stream::Out,
     R"({"source": "F", "line": 7, "name": ")" + kLongShown +
         R"(", "name_bytes": 614, "truncated": true, "error": "too-long"})" "\n"},
};

void PrintTo(const InvalidCase& c, std::ostream* out) { *out << c.label; }

class InvalidRecordTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidRecordTest, GoesToItsStreamAsTheCommandWritesIt) {
    const InvalidCase& c = GetParam();
    Reporter reporter(c.command, c.json);
    reporter.set_source("F", R"("F")");
    Output output(true);
    const std::string_view token = c.name.null || c.name.bytes == 0 ? "empty"sv
                                   : c.name.bytes > veltrane_kernel::MAX_VRN_LEN ? "too-long"sv
                                                                                 : "wrong-field-count"sv;
    reporter.invalid(output, c.name, 7, token);
    const Stream other = c.stream == Stream::Out ? Stream::Err : Stream::Out;
    EXPECT_EQ(output.pending(c.stream), c.record);
    EXPECT_EQ(output.pending(other), "");
}

INSTANTIATE_TEST_SUITE_P(Records, InvalidRecordTest, ::testing::ValuesIn(kInvalid),
                         [](const ::testing::TestParamInfo<InvalidCase>& info) { return info.param.label; });

TEST(Reporter, LabelsAreWrittenAsGiven) {
    // The Python side renders both labels; the JSON one arrives quoted and escaped.
    Reporter reporter(Command::Check, false);
    reporter.set_source("dir/n\xc3\xa9s.txt", R"("dir/n\u00e9s.txt")");
    Output text(true);
    reporter.invalid(text, {"x"sv, 1}, 12, "wrong-field-count");
    EXPECT_EQ(text.pending(Stream::Out), "dir/n\xc3\xa9s.txt:12: wrong-field-count: x\n");

    Reporter json(Command::Check, true);
    json.set_source("dir/n\xc3\xa9s.txt", R"("dir/n\u00e9s.txt")");
    Output records(true);
    json.invalid(records, {"x"sv, 1}, 12, "wrong-field-count");
    EXPECT_EQ(records.pending(Stream::Out),
              R"({"source": "dir/n\u00e9s.txt", "line": 12, "name": "x", "error": "wrong-field-count"})" "\n");
}

constexpr std::string_view kValid =
    "vrn:vlt:iam:us-east-1:6F1D2C3B-4A59-4E6F-8A7B-9C0D1E2F3A4B:project/0190C3A2-7B1E-7000-8000-00000000ABCD";
constexpr std::string_view kCanonical =
    "vrn:vlt:iam:us-east-1:6f1d2c3b-4a59-4e6f-8a7b-9c0d1e2f3a4b:project/0190c3a2-7b1e-7000-8000-00000000abcd";

struct ValidCase {
    const char* label;
    Command command;
    bool json;
    std::string record;
};

const ValidCase kValidRecords[] = {
    {"check_text", Command::Check, false, ""},
    {"check_json", Command::Check, true, ""},
    {"canon_text", Command::Canon, false, std::string(kCanonical) + "\n"},
    {"canon_json", Command::Canon, true,
     R"({"source": "F", "line": 2, "name": ")" + std::string(kValid) + R"(", "canonical": ")" +
         std::string(kCanonical) + "\"}\n"},
    {"fields_text", Command::Fields, false,
     "service=iam region=us-east-1 org=6f1d2c3b-4a59-4e6f-8a7b-9c0d1e2f3a4b resource_type=project "
     "resource_id=0190c3a2-7b1e-7000-8000-00000000abcd\n"},
    {"fields_json", Command::Fields, true,
     R"({"source": "F", "line": 2, "name": ")" + std::string(kValid) +
         R"(", "service": "iam", "region": "us-east-1", "org": "6f1d2c3b-4a59-4e6f-8a7b-9c0d1e2f3a4b", )"
         R"("resource_type": "project", "resource_id": "0190c3a2-7b1e-7000-8000-00000000abcd"})" "\n"},
    {"cedar_text", Command::Cedar, false, "Vlt::Iam::Project::\"0190c3a2-7b1e-7000-8000-00000000abcd\"\n"},
    {"cedar_json", Command::Cedar, true,
     R"({"source": "F", "line": 2, "name": ")" + std::string(kValid) +
         R"(", "entity_type": "Vlt::Iam::Project", "entity_id": "0190c3a2-7b1e-7000-8000-00000000abcd"})" "\n"},
};

void PrintTo(const ValidCase& c, std::ostream* out) { *out << c.label; }

class ValidRecordTest : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidRecordTest, WritesTheResultOnStandardOutput) {
    const ValidCase& c = GetParam();
    Reporter reporter(c.command, c.json);
    reporter.set_source("F", R"("F")");
    Output output(true);
    const auto parsed = VrnView::parse(kValid);
    ASSERT_TRUE(parsed);
    reporter.valid(output, {kValid, kValid.size()}, 2, *parsed);
    EXPECT_EQ(output.pending(Stream::Out), c.record);
    EXPECT_EQ(output.pending(Stream::Err), "");
}

INSTANTIATE_TEST_SUITE_P(Records, ValidRecordTest, ::testing::ValuesIn(kValidRecords),
                         [](const ::testing::TestParamInfo<ValidCase>& info) { return info.param.label; });

TEST(ValidRecord, FieldsOfANameWithoutRegionOrOrgAreEmpty) {
    constexpr std::string_view name = "vrn:vlt:s3:::bucket/0190c3a2-7b1e-7000-8000-0000000000cc";
    Reporter reporter(Command::Fields, false);
    reporter.set_source("F", R"("F")");
    Output output(true);
    const auto parsed = VrnView::parse(name);
    ASSERT_TRUE(parsed);
    reporter.valid(output, {name, name.size()}, 1, *parsed);
    EXPECT_EQ(output.pending(Stream::Out),
              "service=s3 region= org= resource_type=bucket resource_id=0190c3a2-7b1e-7000-8000-0000000000cc\n");
}

TEST(Output, StopsWhenBothStreamsHoldBytesOnlyIfOrderIsKept) {
    for (const bool keep_order : {true, false}) {
        Output output(keep_order);
        output.to(Stream::Err) += "e\n";
        EXPECT_FALSE(output.must_stop());
        EXPECT_EQ(output.first(), Stream::Err);
        output.to(Stream::Out) += "o\n";
        EXPECT_EQ(output.must_stop(), keep_order);
        EXPECT_EQ(output.first(), Stream::Err);  // the stream written to first stays first
        output.clear();
        EXPECT_TRUE(output.empty());
        output.to(Stream::Out) += std::string(Output::kFlushBytes - 1, 'o');
        EXPECT_FALSE(output.must_stop());
        EXPECT_EQ(output.first(), Stream::Out);
        output.to(Stream::Out) += "o";
        EXPECT_TRUE(output.must_stop());
    }
}

}  // namespace
}  // namespace veltrane::scan
