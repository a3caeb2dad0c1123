#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <type_traits>

#include "test_names.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {
namespace {

using testing::kId;
using testing::kOrg;
using testing::kOrgUpper;
using testing::path;
using testing::vrn;
using K = VrnError::Kind;

TEST(VrnErrorTest, TokensFollowTheNumbering) {
    // The values and tokens are seen by Python callers; a swapped table entry
    // would silently misreport every error of two kinds.
    const char* const tokens[VrnError::kCount] = {
        "empty",           "too-long",          "bad-scheme",        "bad-partition",
        "wrong-field-count", "bad-service",     "bad-region",        "bad-org",
        "bad-resource-path", "bad-resource-type", "bad-resource-id",
    };
    for (std::size_t i = 0; i < VrnError::kCount; ++i) {
        EXPECT_EQ(VrnError(static_cast<K>(i)).kind(), tokens[i]) << "value " << i;
    }
}

// A validation's result is two plain bytes, returned in a register.
static_assert(std::is_trivially_copyable_v<Result<void, VrnError>> && sizeof(Result<void, VrnError>) == 2);

struct ParseCase {
    const char* name;
    std::string text;
    std::optional<K> error;  // nullopt: the text parses
};

class ParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, ReportsFirstFailedCheck) {
    const ParseCase& c = GetParam();
    const Result<Vrn, VrnError> parsed = Vrn::parse(c.text);
    const Result<VrnView, VrnError> viewed = VrnView::parse(c.text);
    const Result<void, VrnError> validated = VrnView::validate(c.text);
    if (c.error) {
        ASSERT_FALSE(parsed.has_value()) << "parsed: " << c.text;
        EXPECT_EQ(parsed.error().kind(), VrnError(*c.error).kind());
        ASSERT_FALSE(viewed.has_value());
        EXPECT_EQ(viewed.error(), parsed.error());
        ASSERT_FALSE(validated.has_value()) << "validated: " << c.text;
        EXPECT_EQ(validated.error(), parsed.error());
    } else {
        ASSERT_TRUE(parsed.has_value()) << parsed.error().kind();
        ASSERT_TRUE(validated.has_value()) << validated.error().kind();
        // The view holds the same fields, as views into the text itself.
        ASSERT_TRUE(viewed.has_value());
        EXPECT_EQ(*viewed, parsed->view());
        const auto inside = [&](std::string_view field) {
            return field.data() >= c.text.data() && field.data() + field.size() <= c.text.data() + c.text.size();
        };
        EXPECT_TRUE(inside(viewed->service()) && inside(viewed->resource_type()));
        EXPECT_TRUE(viewed->region().empty() || inside(viewed->region()));
    }
}

std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out.append(piece);
    return out;
}

const std::string kValid = vrn("iam", "us-east-1", kOrg, path("project"));
// One-letter service, no region or org: 12 + 1 + 36 bytes around the type.
const std::string k512 = vrn("a", "", "", path(repeat("b", 463)));

// Length and field count are judged before any field.
INSTANTIATE_TEST_SUITE_P(Shape, ParseTable, ::testing::Values(
    ParseCase{"Empty", "", K::Empty},
    ParseCase{"Exactly512Parses", k512, std::nullopt},
    ParseCase{"Valid513", vrn("a", "", "", path(repeat("b", 464))), K::TooLong},
    ParseCase{"NoColon513", repeat("a", 513), K::TooLong},
    ParseCase{"AllColons513", repeat(":", 513), K::TooLong},
    // 300 characters, but 600 bytes: the limit counts bytes.
    ParseCase{"TwoByteChars600", repeat("\xC3\xA9", 300), K::TooLong},
    ParseCase{"NoColon", "vrn", K::WrongFieldCount},
    ParseCase{"FiveFields", "vrn:vlt:iam::" + path("project"), K::WrongFieldCount},
    ParseCase{"TrailingColon", kValid + ":", K::WrongFieldCount},
    ParseCase{"LeadingColon", ":" + kValid, K::WrongFieldCount},
    // A sixth ':' far after a bad scheme still makes the count decide.
    ParseCase{"BadSchemeAndSevenFields", "xyz:vlt:iam:::" + path("a:b"), K::WrongFieldCount}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(SchemeAndPartition, ParseTable, ::testing::Values(
    ParseCase{"Valid", kValid, std::nullopt},
    ParseCase{"EmptyScheme", ":vlt:iam:::" + path("project"), K::BadScheme},
    ParseCase{"UpperScheme", "VRN:vlt:iam:::" + path("project"), K::BadScheme},
    ParseCase{"MixedScheme", "Vrn:vlt:iam:::" + path("project"), K::BadScheme},
    ParseCase{"LongerScheme", "vrnx:vlt:iam:::" + path("project"), K::BadScheme},
    ParseCase{"SchemeBeforePartition", "urn:VLT:Iam:::" + path("project"), K::BadScheme},
    ParseCase{"UpperPartition", "vrn:VLT:iam:::" + path("project"), K::BadPartition},
    ParseCase{"EmptyPartition", "vrn::iam:::" + path("project"), K::BadPartition}),
    [](const auto& info) { return info.param.name; });

// The identifier rule, through the service.
INSTANTIATE_TEST_SUITE_P(Service, ParseTable, ::testing::Values(
    ParseCase{"S3", vrn("s3", "", "", path("x")), std::nullopt},
    ParseCase{"ObjectStore", vrn("object-store", "", "", path("x")), std::nullopt},
    ParseCase{"K8sCluster", vrn("k8s-cluster", "", "", path("x")), std::nullopt},
    ParseCase{"Empty", vrn("", "", "", path("x")), K::BadService},
    ParseCase{"Upper", vrn("Iam", "", "", path("x")), K::BadService},
    ParseCase{"TrailingHyphen", vrn("iam-", "", "", path("x")), K::BadService},
    ParseCase{"LeadingHyphen", vrn("-iam", "", "", path("x")), K::BadService},
    ParseCase{"DoubleHyphen", vrn("iam--x", "", "", path("x")), K::BadService},
    ParseCase{"LoneHyphen", vrn("-", "", "", path("x")), K::BadService},
    ParseCase{"DigitFirst", vrn("3d", "", "", path("x")), K::BadService},
    ParseCase{"SegmentDigitFirst", vrn("iam-3d", "", "", path("x")), K::BadService},
    ParseCase{"Underscore", vrn("object_store", "", "", path("x")), K::BadService},
    ParseCase{"Dot", vrn("a.b", "", "", path("x")), K::BadService},
    ParseCase{"Slash", vrn("a/b", "", "", path("x")), K::BadService},
    ParseCase{"IDiaeresis", vrn("\xC3\xAF" "am", "", "", path("x")), K::BadService},
    ParseCase{"Nul", vrn(std::string("ia\0m", 4), "", "", path("x")), K::BadService}),
    [](const auto& info) { return info.param.name; });

// The region rule: segments may open with a digit, unlike identifiers.
INSTANTIATE_TEST_SUITE_P(Region, ParseTable, ::testing::Values(
    ParseCase{"UsEast1", vrn("iam", "us-east-1", "", path("x")), std::nullopt},
    ParseCase{"Digit", vrn("iam", "1", "", path("x")), std::nullopt},
    ParseCase{"DigitFirstSegment", vrn("iam", "9a-b", "", path("x")), std::nullopt},
    ParseCase{"Upper", vrn("iam", "US-east", "", path("x")), K::BadRegion},
    ParseCase{"Underscore", vrn("iam", "us_east", "", path("x")), K::BadRegion},
    ParseCase{"TrailingHyphen", vrn("iam", "us-", "", path("x")), K::BadRegion},
    ParseCase{"LeadingHyphen", vrn("iam", "-us", "", path("x")), K::BadRegion},
    ParseCase{"DoubleHyphen", vrn("iam", "us--east", "", path("x")), K::BadRegion},
    ParseCase{"HighByte", vrn("iam", "us-\xC3\xA9", "", path("x")), K::BadRegion},
    ParseCase{"Nul", vrn("iam", std::string("us\0", 3), "", path("x")), K::BadRegion}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Org, ParseTable, ::testing::Values(
    ParseCase{"Upper", vrn("iam", "", kOrgUpper, path("x")), std::nullopt},
    ParseCase{"BareDigits", vrn("iam", "", "0123456789abcdef0123456789abcdef", path("x")), K::BadOrg},
    ParseCase{"Braces", vrn("iam", "", "{" + std::string(kOrg) + "}", path("x")), K::BadOrg},
    ParseCase{"Urn", vrn("iam", "", "urn-uuid-" + std::string(kOrg), path("x")), K::BadOrg},
    ParseCase{"HyphenMoved", vrn("iam", "", "0123456-789ab-cdef-0123-456789abcdef", path("x")), K::BadOrg},
    ParseCase{"Short", vrn("iam", "", kOrg.substr(1), path("x")), K::BadOrg},
    ParseCase{"Long", vrn("iam", "", std::string(kOrg) + "0", path("x")), K::BadOrg},
    ParseCase{"NonHex", vrn("iam", "", "g1234567-89ab-cdef-0123-456789abcdef", path("x")), K::BadOrg},
    ParseCase{"Nul", vrn("iam", "", std::string("0123456\0-89ab-cdef-0123-456789abcdef", 36), path("x")), K::BadOrg}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(ResourcePath, ParseTable, ::testing::Values(
    ParseCase{"ZeroUuids", vrn("iam", "", std::string(testing::kZero), path("x", testing::kZero)), std::nullopt},
    ParseCase{"NoSlash", vrn("iam", "", "", "project"), K::BadResourcePath},
    ParseCase{"TwoSlashes", vrn("iam", "", "", path("project") + "/"), K::BadResourcePath},
    ParseCase{"EmptyPath", vrn("iam", "", "", ""), K::BadResourcePath},
    ParseCase{"LeadingSlash", vrn("iam", "", "", path("")), K::BadResourceType},
    ParseCase{"UpperType", vrn("iam", "", "", path("Project")), K::BadResourceType},
    ParseCase{"NulInType", vrn("iam", "", "", path(std::string("pro\0ject", 8))), K::BadResourceType},
    ParseCase{"NothingAfterSlash", vrn("iam", "", "", "project/"), K::BadResourceId},
    ParseCase{"Id35", vrn("iam", "", "", path("project", kId.substr(1))), K::BadResourceId},
    ParseCase{"Id37", vrn("iam", "", "", path("project") + "0"), K::BadResourceId},
    ParseCase{"IdHyphenMissing", vrn("iam", "", "", path("project", "00000000x0000-7123-8567-89abcdef0123")), K::BadResourceId}),
    [](const auto& info) { return info.param.name; });

// With several bad fields, the earliest check in the order decides.
INSTANTIATE_TEST_SUITE_P(CheckOrder, ParseTable, ::testing::Values(
    ParseCase{"TooLongBeforeFieldCount", repeat("x", 600), K::TooLong},
    ParseCase{"PartitionBeforeService", "vrn:x:Iam:US:bad:nopath", K::BadPartition},
    ParseCase{"ServiceFirst", vrn("Iam", "US", "bad", "nopath"), K::BadService},
    ParseCase{"RegionBeforeOrg", vrn("iam", "US", "bad", "nopath"), K::BadRegion},
    ParseCase{"OrgBeforePath", vrn("iam", "us", "bad", "nopath"), K::BadOrg},
    ParseCase{"PathBeforeType", vrn("iam", "us", "", "Bad/x/y"), K::BadResourcePath},
    ParseCase{"TypeBeforeId", vrn("iam", "us", "", "Bad/x"), K::BadResourceType}),
    [](const auto& info) { return info.param.name; });

// The field rules, alone and inside a parse (which may judge a short field in
// one word read past its end). Cases put segment openers, doubled or trailing
// hyphens and bad bytes on either side of 8-byte word boundaries.
struct FieldRuleCase {
    std::string text;
    bool identifier;
    bool region;
};

class FieldRuleTable : public ::testing::TestWithParam<FieldRuleCase> {};

TEST_P(FieldRuleTable, IdentifierAndRegion) {
    const FieldRuleCase& c = GetParam();
    EXPECT_EQ(is_valid_identifier(c.text), c.identifier);
    EXPECT_EQ(is_valid_region(c.text), c.region);
    const auto as_service = Vrn::parse(vrn(c.text, "", "", path("x")));
    EXPECT_EQ(as_service.has_value(), c.identifier);
    if (!as_service) {
        EXPECT_EQ(as_service.error(), VrnError(K::BadService));
    }
    const auto as_region = Vrn::parse(vrn("x", c.text, "", path("x")));
    EXPECT_EQ(as_region.has_value(), c.region);
    if (!as_region) {
        EXPECT_EQ(as_region.error(), VrnError(K::BadRegion));
    }
    const auto as_type = Vrn::parse(vrn("x", "", "", path(c.text)));
    EXPECT_EQ(as_type.has_value(), c.identifier);
    if (!as_type) {
        EXPECT_EQ(as_type.error(), VrnError(K::BadResourceType));
    }
}

INSTANTIATE_TEST_SUITE_P(WordBoundaries, FieldRuleTable, ::testing::Values(
    FieldRuleCase{"a", true, true},
    FieldRuleCase{"1", false, true},
    FieldRuleCase{"a-1", false, true},
    FieldRuleCase{"ab-", false, false},
    FieldRuleCase{"a--b", false, false},
    FieldRuleCase{"abcdefgh", true, true},
    FieldRuleCase{"1bcdefgh", false, true},
    FieldRuleCase{"-bcdefgh", false, false},
    FieldRuleCase{"abcdefgh-", false, false},
    FieldRuleCase{"abcdefg-hijklmno", true, true},   // opener carried into word 2
    FieldRuleCase{"abcdefg-1ijklmno", false, true},
    FieldRuleCase{"abcdefg--ijklmno", false, false},
    FieldRuleCase{"abcdefg-1", false, true},         // '-' already seen by the tail read
    FieldRuleCase{"abcdefgh-1", false, true},
    FieldRuleCase{"abcdefgh-b", true, true},
    FieldRuleCase{"abcdefghijklmnoP", false, false},
    FieldRuleCase{"abcdefghijklmn\xC3\xA9", false, false},
    FieldRuleCase{"ab\xC3\xA9" "efghijk", false, false},
    FieldRuleCase{std::string("abcdefghij\0", 11), false, false},
    FieldRuleCase{"k8s-cluster-0-9a", false, true},  // segments opening with digits
    FieldRuleCase{"us-east-1-zone-b", false, true}));

TEST(ParseFieldsTest, RecordHoldsFieldsAsGiven) {
    const Result<Vrn, VrnError> parsed = Vrn::parse(kValid);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->service(), "iam");
    EXPECT_EQ(parsed->region(), "us-east-1");
    EXPECT_EQ(parsed->org(), Uuid::parse_hyphenated(kOrg));
    EXPECT_EQ(parsed->resource_type(), "project");
    EXPECT_EQ(parsed->resource_id(), Uuid::parse_hyphenated(kId));
}

TEST(ParseFieldsTest, MissingRegionIsEmptyAndMissingOrgIsAbsent) {
    const Result<Vrn, VrnError> parsed = Vrn::parse(vrn("iam", "", "", path("project")));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->region(), "");
    EXPECT_FALSE(parsed->org().has_value());
}

TEST(ParseFieldsTest, UuidCaseIsNotPartOfTheValue) {
    const Result<Vrn, VrnError> lower = Vrn::parse(vrn("iam", "", kOrg, path("x", kId)));
    const Result<Vrn, VrnError> upper =
        Vrn::parse(vrn("iam", "", kOrgUpper, path("x", testing::kIdUpper)));
    ASSERT_TRUE(lower.has_value());
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(*lower, *upper);
}

TEST(ParseFieldsTest, RecordOutlivesItsInput) {
    std::string text = vrn("object-store", "eu-west-2", "", path("bucket"));
    const Result<Vrn, VrnError> parsed = Vrn::parse(text);
    text.assign(text.size(), 'x');
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->service(), "object-store");
    EXPECT_EQ(parsed->region(), "eu-west-2");
    EXPECT_EQ(parsed->resource_type(), "bucket");
}

}  // namespace
}  // namespace veltrane_kernel
