#include <gtest/gtest.h>

#include <string>

#include "test_names.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {
namespace {

using testing::kId;
using testing::kIdUpper;
using testing::kOrg;
using testing::kOrgUpper;
using testing::path;
using testing::vrn;
using K = VrnError::Kind;

struct CanonicalCase {
    const char* name;
    std::string text;
    std::string canonical;
};

class CanonicalTable : public ::testing::TestWithParam<CanonicalCase> {};

TEST_P(CanonicalTable, RendersAndReparses) {
    const CanonicalCase& c = GetParam();
    const Result<Vrn, VrnError> parsed = Vrn::parse(c.text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().kind();
    const std::string canonical = parsed->canonical();
    EXPECT_EQ(canonical, c.canonical);
    // Written into a buffer from a view of the text: the same bytes, as long
    // as the text.
    const Result<VrnView, VrnError> viewed = VrnView::parse(c.text);
    ASSERT_TRUE(viewed.has_value());
    std::string buffer(MAX_VRN_LEN, '#');
    ASSERT_EQ(viewed->canonical_size(), c.text.size());
    ASSERT_EQ(viewed->write_canonical(buffer.data()), c.text.size());
    EXPECT_EQ(buffer.substr(0, c.text.size()), c.canonical);
    EXPECT_EQ(viewed->canonical(), c.canonical);
    const Result<Vrn, VrnError> reparsed = Vrn::parse(canonical);
    ASSERT_TRUE(reparsed.has_value());
    EXPECT_EQ(*reparsed, *parsed);
    EXPECT_EQ(reparsed->canonical(), canonical);
}

INSTANTIATE_TEST_SUITE_P(Texts, CanonicalTable, ::testing::Values(
    CanonicalCase{"AlreadyCanonical", vrn("iam", "us-east-1", kOrg, path("project")),
                  vrn("iam", "us-east-1", kOrg, path("project"))},
    CanonicalCase{"UpperUuidsLowered", vrn("iam", "us-east-1", kOrgUpper, path("project", kIdUpper)),
                  vrn("iam", "us-east-1", kOrg, path("project", kId))},
    CanonicalCase{"NoRegionNoOrg", vrn("object-store", "", "", path("bucket")),
                  "vrn:vlt:object-store:::bucket/" + std::string(kId)},
    CanonicalCase{"OrgWithoutRegion", vrn("s3", "", kOrgUpper, path("k8s-cluster")),
                  vrn("s3", "", kOrg, path("k8s-cluster"))}),
    [](const auto& info) { return info.param.name; });

struct BuildCase {
    const char* name;
    std::string service, region, org, type, id;
    std::string expected;  // the canonical text, or the error token
};

class BuildTable : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildTable, BuildsOrReportsParserError) {
    const BuildCase& c = GetParam();
    const Result<std::string, VrnError> built = Vrn::build(c.service, c.region, c.org, c.type, c.id);
    const std::string outcome = built ? *built : std::string(built.error().kind());
    EXPECT_EQ(outcome, c.expected);
    // Into a buffer: the same outcome, and nothing written past the text.
    std::string buffer(MAX_VRN_LEN + 1, '#');
    const Result<std::size_t, VrnError> into =
        Vrn::build_into(c.service, c.region, c.org, c.type, c.id, buffer.data());
    const std::string into_outcome = into ? buffer.substr(0, *into) : std::string(into.error().kind());
    EXPECT_EQ(into_outcome, c.expected);
    if (into) {
        EXPECT_EQ(buffer.substr(*into), std::string(MAX_VRN_LEN + 1 - *into, '#'));
    }
    // Whatever the fields, the template supplies the scheme and partition.
    if (!built) {
        EXPECT_NE(built.error(), VrnError(K::Empty));
        EXPECT_NE(built.error(), VrnError(K::BadScheme));
        EXPECT_NE(built.error(), VrnError(K::BadPartition));
    }
}

const std::string kIdS(kId);
const std::string kOrgS(kOrg);
// Five lengths adding up to exactly 500: 1 + 1 + 36 + 426 + 36.
const std::string kType426(426, 'b');

INSTANTIATE_TEST_SUITE_P(Fields, BuildTable, ::testing::Values(
    BuildCase{"RegionNoOrg", "iam", "us-east-1", "", "project", kIdS,
              "vrn:vlt:iam:us-east-1::project/" + kIdS},
    BuildCase{"UpperUuidsLowered", "iam", "", std::string(kOrgUpper), "project", std::string(kIdUpper),
              vrn("iam", "", kOrg, path("project"))},
    BuildCase{"Fields500Bytes", "a", "1", kOrgS, kType426, kIdS,
              vrn("a", "1", kOrg, path(kType426))},
    BuildCase{"Fields501Bytes", "a", "12", kOrgS, kType426, kIdS, "too-long"},
    // Too long even though the service is bad: the length decides first.
    BuildCase{"Fields501BadService", "A", "12", kOrgS, kType426, kIdS, "too-long"},
    BuildCase{"OneHugeField", std::string(100000, 'a'), "", "", "x", kIdS, "too-long"},
    BuildCase{"AllEmpty", "", "", "", "", "", "bad-service"},
    BuildCase{"ColonInService", "iam:x", "", "", "project", kIdS, "wrong-field-count"},
    BuildCase{"ColonInId", "iam", "", "", "project", kIdS + ":", "wrong-field-count"},
    BuildCase{"SchemeLikeService", "vrn:vlt", "", "", "project", kIdS, "wrong-field-count"},
    BuildCase{"UpperService", "Iam", "", "", "project", kIdS, "bad-service"},
    BuildCase{"SlashInService", "a/b", "", "", "project", kIdS, "bad-service"},
    BuildCase{"SlashInRegion", "iam", "a/b", "", "project", kIdS, "bad-region"},
    BuildCase{"SlashInOrg", "iam", "", "0123/567-89ab-cdef-0123-456789abcdef", "project", kIdS, "bad-org"},
    BuildCase{"SlashInType", "iam", "", "", "a/b", kIdS, "bad-resource-path"},
    BuildCase{"SlashInId", "iam", "", "", "project", "a/" + kIdS, "bad-resource-path"},
    BuildCase{"EmptyType", "iam", "", "", "", kIdS, "bad-resource-type"},
    BuildCase{"EmptyId", "iam", "", "", "project", "", "bad-resource-id"}),
    [](const auto& info) { return info.param.name; });

TEST(PascalCaseTest, CapitalisesSegmentsAndDropsHyphens) {
    const std::pair<const char*, const char*> cases[] = {
        {"iam", "Iam"}, {"project", "Project"}, {"object-store", "ObjectStore"},
        {"k8s-cluster", "K8sCluster"}, {"s3", "S3"}, {"a-b-c", "ABC"},
        // Not identifiers, but the rule still holds: empty segments vanish and
        // only 'a'-'z' change.
        {"", ""}, {"--x--y-", "XY"}, {"3d-Zz", "3dZz"},
    };
    for (const auto& [token, pascal] : cases) EXPECT_EQ(to_pascal_case(token), pascal) << token;
}

struct CedarCase {
    const char* name;
    std::string text;
    const char* entity_type;
};

class CedarTable : public ::testing::TestWithParam<CedarCase> {};

TEST_P(CedarTable, TypeFromServiceAndResourceTypeIdFromResourceId) {
    const Result<Vrn, VrnError> parsed = Vrn::parse(GetParam().text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().kind();
    const CedarEntity entity = parsed->cedar_entity();
    EXPECT_EQ(entity.entity_type, GetParam().entity_type);
    EXPECT_EQ(entity.entity_id, kId);
    // Both texts written into one buffer, the id right after the type.
    std::string buffer(MAX_VRN_LEN, '#');
    const CedarEntityLayout layout = parsed->view().write_cedar_entity(buffer.data());
    EXPECT_EQ(buffer.substr(0, layout.type_size), GetParam().entity_type);
    EXPECT_EQ(buffer.substr(layout.type_size, layout.id_size), kId);
}

INSTANTIATE_TEST_SUITE_P(Names, CedarTable, ::testing::Values(
    CedarCase{"IamProject", vrn("iam", "us-east-1", kOrg, path("project")), "Vlt::Iam::Project"},
    // Region and org take no part: these three share one entity.
    CedarCase{"NoRegionNoOrg", vrn("iam", "", "", path("project")), "Vlt::Iam::Project"},
    CedarCase{"OtherRegionAndOrg", vrn("iam", "eu-west-2", std::string(testing::kZero), path("project")),
              "Vlt::Iam::Project"},
    CedarCase{"Hyphenated", vrn("object-store", "", "", path("bucket")), "Vlt::ObjectStore::Bucket"},
    CedarCase{"UpperIdLowered", vrn("k8s-cluster", "", "", path("node-pool", kIdUpper)),
              "Vlt::K8sCluster::NodePool"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace veltrane_kernel
