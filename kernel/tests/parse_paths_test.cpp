// Every vectorised parse path against the scalar reference, where vector code
// goes wrong: texts of every length at every alignment (block edges, the
// overlapping last block, the padded short block), texts that end or begin
// at an inaccessible page (any read outside the text faults), and every kind
// of bad byte at every position of a name. Every path's validation, the
// scalar one's included, is held to the scalar parse's verdict on the same
// texts.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "test_names.hpp"
#include "veltrane_kernel/parse_path.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane_kernel {
namespace {

using testing::kId;
using testing::kIdUpper;
using testing::kOrg;
using testing::kOrgUpper;
using testing::path;
using testing::vrn;

std::vector<ParsePath> vector_paths() {
    std::vector<ParsePath> paths;
    for (ParsePath p : available_parse_paths()) {
        if (p != ParsePath::Scalar) paths.push_back(p);
    }
    return paths;
}

std::string describe(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

// The path's result is the reference's: the same error, or the same fields
// as views of the same bytes of `text`.
::testing::AssertionResult same_as_scalar(ParsePath path, std::string_view text) {
    const Result<VrnView, VrnError> want = parse_with(ParsePath::Scalar, text);
    const Result<VrnView, VrnError> got = parse_with(path, text);
    auto failure = [&]() {
        return ::testing::AssertionFailure() << parse_path_name(path) << " differs from scalar on "
                                             << text.size() << " bytes \"" << describe(text) << "\": ";
    };
    if (want.has_value() != got.has_value()) {
        return failure() << (want ? "scalar parses, path gives " + std::string(got.error().kind())
                                  : "path parses, scalar gives " + std::string(want.error().kind()));
    }
    if (!want) {
        if (want.error() == got.error()) return ::testing::AssertionSuccess();
        return failure() << "scalar " << want.error().kind() << ", path " << got.error().kind();
    }
    const bool same_places = got->service().data() == want->service().data() &&
                             got->region().data() == want->region().data() &&
                             got->resource_type().data() == want->resource_type().data();
    if (*got == *want && same_places) return ::testing::AssertionSuccess();
    return failure() << "the fields differ";
}

// The path's validation gives the reference parse's verdict: success where
// that parses, else the same error.
::testing::AssertionResult validates_as_scalar_parses(ParsePath path, std::string_view text) {
    const Result<VrnView, VrnError> want = parse_with(ParsePath::Scalar, text);
    const Result<void, VrnError> got = validate_with(path, text);
    if (want.has_value() == got.has_value() && (want || want.error() == got.error())) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << parse_path_name(path) << " validates " << text.size() << " bytes \""
                                         << describe(text) << "\" as "
                                         << (got ? std::string_view("valid") : got.error().kind())
                                         << ", the scalar parse gives "
                                         << (want ? std::string_view("valid") : want.error().kind());
}

// Checks every text's parse on every vector path and its validation on every
// path; stops reporting after a few.
class PathChecker {
public:
    void check(std::string_view text) {
        for (ParsePath path : vector_paths_) report(same_as_scalar(path, text));
        for (ParsePath path : available_parse_paths()) report(validates_as_scalar_parses(path, text));
        ++checked_;
    }
    [[nodiscard]] std::size_t checked() const { return checked_; }

private:
    void report(const ::testing::AssertionResult& result) {
        if (!result && failures_ < 5) {
            ++failures_;
            ADD_FAILURE() << result.message();
        }
    }

    std::vector<ParsePath> vector_paths_ = vector_paths();
    std::size_t failures_ = 0;
    std::size_t checked_ = 0;
};

TEST(ParsePathTest, ActivePathIsTheWidestOrTheOneAskedFor) {
    const std::span<const ParsePath> paths = available_parse_paths();
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), ParsePath::Scalar);
#if defined(__x86_64__)
    EXPECT_NE(std::find(paths.begin(), paths.end(), ParsePath::Sse2), paths.end());
#elif defined(__aarch64__)
    EXPECT_NE(std::find(paths.begin(), paths.end(), ParsePath::Neon), paths.end());
#endif
    // A run asked to test one path must test that path, or fail: a path this
    // processor lacks is not quietly replaced by another.
    if (const char* wanted = std::getenv("VELTRANE_PARSE_PATH")) {
        EXPECT_EQ(parse_path_name(active_parse_path()), wanted)
            << "VELTRANE_PARSE_PATH names a path this build or processor does not have";
    } else {
        EXPECT_EQ(active_parse_path(), paths.back());
    }
    std::cout << "parse paths here:";
    for (ParsePath p : paths) std::cout << ' ' << parse_path_name(p);
    std::cout << "; in use: " << parse_path_name(active_parse_path()) << '\n';
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

// `n` bytes that extend a field and keep it valid, with a segment opening at
// every other byte: "-b-b..." (or "x-b-b..." for an odd n).
std::string segments(std::size_t n, char opener) {
    std::string out = n % 2 == 1 ? "x" : "";
    for (std::size_t i = 0; i < n / 2; ++i) out.append({'-', opener});
    return out;
}

// Texts of exactly `length` bytes: valid names whose service, region or
// resource type takes up the length, prefixes of a long name, and seeded
// random texts over the bytes that matter.
std::vector<std::string> texts_of_length(std::size_t length, std::mt19937& random) {
    struct Shape {
        std::string region;
        std::string_view org, id;
    };
    std::vector<std::string> texts;
    for (const Shape& shape : {Shape{"r", kOrgUpper, kId}, Shape{"", "", kIdUpper}}) {
        const std::size_t base = vrn("s", shape.region, shape.org, path("t", shape.id)).size();
        if (length < base) continue;
        const std::size_t extra = length - base;
        texts.push_back(vrn("s" + segments(extra, 'b'), shape.region, shape.org, path("t", shape.id)));
        texts.push_back(vrn("s", shape.region + segments(extra, '1'), shape.org, path("t", shape.id)));
        texts.push_back(vrn("s", shape.region, shape.org, path("t" + repeat('k', extra), shape.id)));
    }
    const std::string long_name = vrn("object-store", "eu-west-2", kOrg, path("node-pool" + repeat('z', 600), kId));
    texts.push_back(long_name.substr(0, length));
    static constexpr char kBytes[] = ":/-azAF09g\0\x80\xC3_ ";
    for (int i = 0; i < 2; ++i) {
        std::string text(length, '\0');
        for (char& c : text) c = kBytes[random() % (sizeof kBytes - 1)];
        texts.push_back(text);
    }
    return texts;
}

TEST(ParsePathTest, EveryLengthAtEveryAlignment) {
    PathChecker checker;
    std::mt19937 random(20261209);
    alignas(64) char buffer[64 + 600];
    for (std::size_t length = 0; length <= MAX_VRN_LEN + 1; ++length) {
        for (const std::string& text : texts_of_length(length, random)) {
            ASSERT_EQ(text.size(), length);
            for (std::size_t align = 0; align < 64; ++align) {
                std::memcpy(buffer + align, text.data(), length);
                checker.check(std::string_view(buffer + align, length));
            }
        }
    }
    EXPECT_GT(checker.checked(), 514u * 64u);
}

// Two inaccessible pages around one readable page: a text placed at either
// edge of the readable one faults on any read outside it.
class GuardedPage {
public:
    GuardedPage() {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void* map = mmap(nullptr, 3 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) std::abort();
        base_ = static_cast<char*>(map);
        if (mprotect(base_, page_, PROT_NONE) != 0 || mprotect(base_ + 2 * page_, page_, PROT_NONE) != 0) {
            std::abort();
        }
    }
    ~GuardedPage() { munmap(base_, 3 * page_); }
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    // `text` copied to end at the last readable byte.
    std::string_view at_end(std::string_view text) {
        char* start = base_ + 2 * page_ - text.size();
        std::memcpy(start, text.data(), text.size());
        return {start, text.size()};
    }
    // `text` copied to begin at the first readable byte.
    std::string_view at_start(std::string_view text) {
        std::memcpy(base_ + page_, text.data(), text.size());
        return {base_ + page_, text.size()};
    }

private:
    std::size_t page_ = 0;
    char* base_ = nullptr;
};

TEST(ParsePathTest, NoReadOutsideTheText) {
    GuardedPage page;
    PathChecker checker;
    std::mt19937 random(7);
    for (std::size_t length = 0; length <= MAX_VRN_LEN + 1; ++length) {
        for (const std::string& text : texts_of_length(length, random)) {
            checker.check(page.at_end(text));
            checker.check(page.at_start(text));
        }
    }
    EXPECT_GT(checker.checked(), 514u * 2u);
}

// Replacing, inserting or deleting bytes at every position of names whose
// fields straddle the 64-byte block edges reaches every token from every
// field; each outcome must be the reference's.
TEST(ParsePathTest, EveryTokenAtEveryPosition) {
    const std::vector<std::string> names = {
        vrn("iam", "us-east-1", kOrg, path("project")),
        vrn("object-store", "", kOrgUpper, path("bucket", kIdUpper)),
        vrn("k8s-cluster", "eu-west-2", "", path("node-pool")),
        vrn(repeat('s', 50) + "-a1", "r" + repeat('9', 40), kOrg, path("t-" + repeat('y', 70))),
        vrn("a", "", "", path(repeat('b', 463))),  // 512 bytes
    };
    static constexpr char kBytes[] = ":/-aAF0g\0\x80\xC3_.z9";
    PathChecker checker;
    std::set<VrnError::Kind> tokens;
    auto check = [&](const std::string& text) {
        checker.check(text);
        const Result<VrnView, VrnError> parsed = parse_with(ParsePath::Scalar, text);
        if (!parsed) tokens.insert(parsed.error().value());
    };
    for (const std::string& name : names) {
        ASSERT_TRUE(parse_with(ParsePath::Scalar, name).has_value()) << name;
        for (std::size_t at = 0; at <= name.size(); ++at) {
            for (std::size_t b = 0; b + 1 < sizeof kBytes; ++b) {
                std::string inserted = name;
                inserted.insert(at, 1, kBytes[b]);
                check(inserted);
                if (at < name.size()) {
                    std::string replaced = name;
                    replaced[at] = kBytes[b];
                    check(replaced);
                }
            }
            if (at < name.size()) check(std::string(name).erase(at, 1));
        }
    }
    check("");
    // Every token is reached: `too-long` by inserting into the 512-byte name,
    // `empty` by the empty text.
    EXPECT_EQ(tokens.size(), VrnError::kCount);
}

}  // namespace
}  // namespace veltrane_kernel
