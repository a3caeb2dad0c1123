#include "answers/answers.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrane::answers {
namespace {

constexpr std::string_view kOrgUpper = "6F1D2C3B-4A59-4E6F-8A7B-9C0D1E2F3A4B";
constexpr std::string_view kOrg = "6f1d2c3b-4a59-4e6f-8a7b-9c0d1e2f3a4b";
constexpr std::string_view kIdUpper = "0190C3A2-7B1E-7000-8000-00000000ABCD";
constexpr std::string_view kId = "0190c3a2-7b1e-7000-8000-00000000abcd";

std::string name(std::string_view service, std::string_view region, std::string_view org, std::string_view type,
                 std::string_view id) {
    return "vrn:vlt:" + std::string(service) + ":" + std::string(region) + ":" + std::string(org) + ":" +
           std::string(type) + "/" + std::string(id);
}

struct Expected {
    std::string text;
    std::vector<std::string> fields;  // service, region, org, resource_type, resource_id
    std::string canonical, cedar_type, cedar_uid;
};

class EveryAnswer : public ::testing::TestWithParam<Expected> {};

TEST_P(EveryAnswer, OfAParsedName) {
    const Expected& e = GetParam();
    ASSERT_EQ(error_kind(e.text), "");
    const auto parsed = VrnView::parse(e.text);
    ASSERT_TRUE(parsed.has_value());
    Scratch scratch;
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        EXPECT_EQ(kFields[i].answer(*parsed, scratch), e.fields[i]) << kFields[i].key;
    }
    EXPECT_EQ(canonical(*parsed, scratch), e.canonical);
    EXPECT_EQ(cedar_entity_type(*parsed, scratch), e.cedar_type);
    EXPECT_EQ(cedar_entity_id(*parsed, scratch), e.fields[4]);
    EXPECT_EQ(cedar_uid(*parsed, scratch), e.cedar_uid);

    // The fields written as given are the parsed text itself, never copied.
    const auto inside = [&e](std::string_view answer) {
        return answer.empty() ||
               (answer.data() >= e.text.data() && answer.data() + answer.size() <= e.text.data() + e.text.size());
    };
    EXPECT_TRUE(inside(service(*parsed, scratch)));
    EXPECT_TRUE(inside(region(*parsed, scratch)));
    EXPECT_TRUE(inside(resource_type(*parsed, scratch)));

    // Building from the fields gives the canonical text back.
    const BuildFields fields = {e.fields[0], e.fields[1], e.fields[2], e.fields[3], e.fields[4]};
    Scratch built_scratch;
    const auto built = build(fields, built_scratch);
    ASSERT_TRUE(built.has_value()) << built.error();
    EXPECT_EQ(*built, e.canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Names, EveryAnswer,
    ::testing::Values(
        Expected{name("iam", "us-east-1", kOrgUpper, "project", kIdUpper),
                 {"iam", "us-east-1", std::string(kOrg), "project", std::string(kId)},
                 name("iam", "us-east-1", kOrg, "project", kId),
                 "Vlt::Iam::Project",
                 "Vlt::Iam::Project::\"" + std::string(kId) + "\""},
        Expected{name("k8s-cluster", "", "", "node-pool", kId),
                 {"k8s-cluster", "", "", "node-pool", std::string(kId)},
                 name("k8s-cluster", "", "", "node-pool", kId),
                 "Vlt::K8sCluster::NodePool",
                 "Vlt::K8sCluster::NodePool::\"" + std::string(kId) + "\""}));

TEST(ErrorKind, IsTheFirstFailedCheck) {
    EXPECT_EQ(error_kind(""), "empty");
    EXPECT_EQ(error_kind(std::string(513, 'x')), "too-long");
    EXPECT_EQ(error_kind(name("Iam", "us_east", "", "p", kId)), "bad-service");
    EXPECT_EQ(error_kind(name("iam", "", "", "p", "nope")), "bad-resource-id");
}

TEST(Build, RefusesWithTheJoinedTextsToken) {
    Scratch scratch;
    // A ':' inside a field shifts the separators of the joined text.
    const auto built = build({"iam:x", "", "", "project", kId}, scratch);
    ASSERT_FALSE(built.has_value());
    EXPECT_EQ(built.error(), "wrong-field-count");
    const std::string long_service(600, 'a');
    const auto too_long = build({long_service, "", "", "project", kId}, scratch);
    ASSERT_FALSE(too_long.has_value());
    EXPECT_EQ(too_long.error(), "too-long");
}

TEST(MintUuid7, GivesTheTextOrTheToken) {
    Scratch scratch;
    const auto minted = mint_uuid7(1700000000000.0, "0123456789abcdef0123", scratch);
    ASSERT_TRUE(minted.has_value());
    EXPECT_EQ(*minted, "018bcfe5-6800-7123-8567-89abcdef0123");
    const auto bad_hex = mint_uuid7(0.0, "0123456789ABCDEF0123", scratch);
    ASSERT_FALSE(bad_hex.has_value());
    EXPECT_EQ(bad_hex.error(), "bad-rand-hex");
    const auto bad_ms = mint_uuid7(1.5, "0123456789abcdef0123", scratch);
    ASSERT_FALSE(bad_ms.has_value());
    EXPECT_EQ(bad_ms.error(), "bad-unix-ms");
}

}  // namespace
}  // namespace veltrane::answers
