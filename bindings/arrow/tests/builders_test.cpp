// The builders of result columns: utf8 until the byte limit, large_utf8 past
// it; validity made on the first null; chunks joined.
#include <gtest/gtest.h>

#include "arrow/column_data.hpp"
#include "arrow/string_builder.hpp"

namespace veltrane::arrow {
namespace {

// Sets the utf8 limit for one test, and puts the old one back.
class Utf8Limit {
public:
    explicit Utf8Limit(std::int64_t limit) : old_(set_utf8_byte_limit(limit)) {}
    ~Utf8Limit() { set_utf8_byte_limit(old_); }
    Utf8Limit(const Utf8Limit&) = delete;
    Utf8Limit& operator=(const Utf8Limit&) = delete;

private:
    std::int64_t old_;
};

std::vector<std::string_view> texts(const ArrayData& chunk) {
    std::vector<std::string_view> out;
    for (std::int64_t row = 0; row < chunk.length; ++row) {
        out.push_back(chunk.is_null(row) ? std::string_view("<null>") : chunk.text(row));
    }
    return out;
}

TEST(StringBuilder, KeepsUtf8UpToTheLimitAndSwitchesToLargeUtf8PastIt) {
    const Utf8Limit limit(10);
    StringBuilder builder;
    builder.append("abcdef");
    builder.append_null();
    builder.append("ghij");  // 10 bytes: still utf8
    std::shared_ptr<ArrayData> under = builder.finish();
    EXPECT_EQ(under->kind, Kind::Utf8);
    EXPECT_EQ(under->offsets32, (std::vector<std::int32_t>{0, 6, 6, 10}));
    EXPECT_EQ(under->null_count, 1);
    EXPECT_EQ(texts(*under), (std::vector<std::string_view>{"abcdef", "<null>", "ghij"}));

    builder.append("abcdef");
    builder.append("ghijk");  // 11 bytes: the offsets widen
    builder.append("");
    std::shared_ptr<ArrayData> past = builder.finish();
    EXPECT_EQ(past->kind, Kind::LargeUtf8);
    EXPECT_TRUE(past->offsets32.empty());
    EXPECT_EQ(past->offsets64, (std::vector<std::int64_t>{0, 6, 11, 11}));
    EXPECT_TRUE(past->validity.empty());
    EXPECT_EQ(texts(*past), (std::vector<std::string_view>{"abcdef", "ghijk", ""}));

    // finish() starts the next chunk as utf8 again.
    builder.append("x");
    EXPECT_EQ(builder.finish()->kind, Kind::Utf8);
}

TEST(StringBuilder, AFirstNullAfterManyRowsMarksThemValid) {
    StringBuilder builder;
    for (int i = 0; i < 20; ++i) {
        builder.append("r");
    }
    builder.append_null();
    builder.append("s");
    std::shared_ptr<ArrayData> chunk = builder.finish();
    ASSERT_EQ(chunk->length, 22);
    EXPECT_EQ(chunk->null_count, 1);
    for (std::int64_t row = 0; row < 22; ++row) {
        EXPECT_EQ(chunk->is_null(row), row == 20) << row;
    }
}

TEST(ColumnData, JoinedChunksKeepRowsNullsAndOffsets) {
    StringBuilder builder;
    builder.append("ab");
    builder.append_null();
    std::shared_ptr<const ArrayData> first = builder.finish();
    builder.append("cde");
    std::shared_ptr<ArrayData> second = builder.finish();
    widen_to_large(*second);
    auto widened_first = std::make_shared<ArrayData>(*first);
    widen_to_large(*widened_first);
    const ChunkPtr joined = join_chunks({widened_first, second});
    EXPECT_EQ(joined->kind, Kind::LargeUtf8);
    EXPECT_EQ(joined->length, 3);
    EXPECT_EQ(joined->null_count, 1);
    EXPECT_EQ(joined->offsets64, (std::vector<std::int64_t>{0, 2, 2, 5}));
    EXPECT_EQ(texts(*joined), (std::vector<std::string_view>{"ab", "<null>", "cde"}));
}

TEST(NumberBuilder, NullsHoldZeroAndAClearedBit) {
    NumberBuilder builder;
    builder.append(1.5);
    builder.append_null();
    std::shared_ptr<ArrayData> chunk = builder.finish();
    EXPECT_EQ(chunk->kind, Kind::Float64);
    EXPECT_EQ(chunk->numbers, (std::vector<double>{1.5, 0.0}));
    EXPECT_FALSE(chunk->is_null(0));
    EXPECT_TRUE(chunk->is_null(1));
    EXPECT_STREQ(format_of(chunk->kind), "g");
}

}  // namespace
}  // namespace veltrane::arrow
