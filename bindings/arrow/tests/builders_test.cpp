// The builders of result columns: utf8 until the byte limit, large_utf8 past
// it; validity made on the first null; chunks joined.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

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
    EXPECT_EQ(under->offsets32, (Offsets32{0, 6, 6, 10}));
    EXPECT_EQ(under->null_count, 1);
    EXPECT_EQ(texts(*under), (std::vector<std::string_view>{"abcdef", "<null>", "ghij"}));

    builder.append("abcdef");
    builder.append("ghijk");  // 11 bytes: the offsets widen
    builder.append("");
    std::shared_ptr<ArrayData> past = builder.finish();
    EXPECT_EQ(past->kind, Kind::LargeUtf8);
    EXPECT_TRUE(past->offsets32.empty());
    EXPECT_EQ(past->offsets64, (Offsets64{0, 6, 11, 11}));
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
    EXPECT_EQ(joined->offsets64, (Offsets64{0, 2, 2, 5}));
    EXPECT_EQ(texts(*joined), (std::vector<std::string_view>{"ab", "<null>", "cde"}));
}

// ---- runs --------------------------------------------------------------------

// The same rows appended row by row and as a run (after `before` rows appended
// row by row) give the same chunk: offsets, text, validity, null count.
struct RunCase {
    const char* name;
    std::vector<std::optional<std::string>> before;
    std::vector<std::optional<std::string>> run;
};

const RunCase kRunCases[] = {
    {"no_null", {}, {"abc", "", "defg"}},
    {"nulls_in_the_run", {}, {"abc", std::nullopt, "d", std::nullopt}},
    {"a_null_before_a_run_without_one", {"x", std::nullopt}, {"abc", "de"}},
    {"nulls_across_a_byte_boundary", {"1", "2", "3", "4", "5", "6", "7"}, {"8", std::nullopt, "10", std::nullopt}},
    {"seventy_rows", {}, [] {
         std::vector<std::optional<std::string>> rows;
         for (int i = 0; i < 70; ++i) {
             rows.push_back(i % 9 == 4 ? std::nullopt : std::optional<std::string>(std::string(static_cast<std::size_t>(i % 5), 'a')));
         }
         return rows;
     }()},
};

class Runs : public ::testing::TestWithParam<RunCase> {};

TEST_P(Runs, AppendAsRowByRowDoes) {
    StringBuilder by_row;
    StringBuilder by_run;
    std::size_t bound = 0;
    for (const auto& row : GetParam().before) {
        row ? by_row.append(*row) : by_row.append_null();
        row ? by_run.append(*row) : by_run.append_null();
    }
    for (const auto& row : GetParam().run) {
        row ? by_row.append(*row) : by_row.append_null();
        bound += row ? row->size() : 0;
    }
    std::optional<StringRun> run = by_run.run(static_cast<std::int64_t>(GetParam().run.size()), bound + 5);
    ASSERT_TRUE(run.has_value());
    for (const auto& row : GetParam().run) {
        row ? run->append(*row) : run->append_null();
    }
    EXPECT_EQ(run->rows(), static_cast<std::int64_t>(GetParam().run.size()));
    run->end();
    const std::shared_ptr<ArrayData> expected = by_row.finish();
    const std::shared_ptr<ArrayData> got = by_run.finish();
    EXPECT_EQ(got->length, expected->length);
    EXPECT_EQ(got->null_count, expected->null_count);
    EXPECT_EQ(got->offsets32, expected->offsets32);
    EXPECT_EQ(std::string_view(got->data.data(), got->data.size()),
              std::string_view(expected->data.data(), expected->data.size()));  // the room left given back
    EXPECT_EQ(got->validity, expected->validity);
    EXPECT_EQ(texts(*got), texts(*expected));
}

INSTANTIATE_TEST_SUITE_P(StringRun, Runs, ::testing::ValuesIn(kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CopyText, EveryLengthUpToPastTheInlinePiecesCopiesExactlyItsBytes) {
    std::string from(80, '\0');
    for (std::size_t i = 0; i < from.size(); ++i) {
        from[i] = static_cast<char>('A' + i % 53);
    }
    for (std::size_t n = 0; n <= 40; ++n) {
        for (std::size_t shift : {0U, 1U, 7U}) {
            std::string to(64 + 16, '#');  // guards either side of [8, 8 + n)
            copy_text(to.data() + 8, from.data() + shift, n);
            ASSERT_EQ(to.substr(8, n), from.substr(shift, n)) << n << " bytes from +" << shift;
            ASSERT_EQ(to.substr(0, 8), std::string(8, '#')) << n;
            ASSERT_EQ(to.substr(8 + n), std::string(to.size() - 8 - n, '#')) << n;
        }
    }
}

TEST(StringRun, AnswersWrittenInTheRoomAndCopiedOnesMakeTheSameChunk) {
    // Texts of every length, each either rendered at room() or copied in.
    StringBuilder by_row;
    StringBuilder by_run;
    std::size_t bound = 0;
    std::vector<std::string> rows;
    for (std::size_t n = 0; n <= 40; ++n) {
        rows.push_back(std::string(n, static_cast<char>('a' + n % 26)));
        bound += n;
    }
    std::optional<StringRun> run = by_run.run(static_cast<std::int64_t>(rows.size()), bound);
    ASSERT_TRUE(run.has_value());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        by_row.append(rows[i]);
        if (i % 2 == 0) {
            std::memcpy(run->room(), rows[i].data(), rows[i].size());
            run->append(std::string_view(run->room(), rows[i].size()));
        } else {
            run->append(rows[i]);
        }
    }
    run->end();
    const std::shared_ptr<ArrayData> expected = by_row.finish();
    const std::shared_ptr<ArrayData> got = by_run.finish();
    EXPECT_EQ(got->offsets32, expected->offsets32);
    EXPECT_EQ(std::string_view(got->data.data(), got->data.size()),
              std::string_view(expected->data.data(), expected->data.size()));
}

TEST(StringRun, StoppedEarlyKeepsTheRowsAppendedAndTheBuilderGoesOn) {
    StringBuilder builder;
    std::optional<StringRun> run = builder.run(100, 1000);
    ASSERT_TRUE(run.has_value());
    run->append("ab");
    run->append_null();
    run->end();  // 98 rows never appended
    builder.append("cd");
    const std::shared_ptr<ArrayData> chunk = builder.finish();
    EXPECT_EQ(chunk->length, 3);
    EXPECT_EQ(chunk->null_count, 1);
    EXPECT_EQ(chunk->offsets32, (Offsets32{0, 2, 2, 4}));
    EXPECT_EQ(chunk->validity.size(), 1U);
    EXPECT_EQ(texts(*chunk), (std::vector<std::string_view>{"ab", "<null>", "cd"}));
}

TEST(StringRun, RefusedWhereTheTextCouldPassTheUtf8LimitOrTheOffsetsAreWide) {
    const Utf8Limit limit(10);
    StringBuilder builder;
    std::optional<StringRun> whole = builder.run(3, 10);  // 10 bytes: within the limit
    ASSERT_TRUE(whole.has_value());
    whole->end();  // nothing appended
    builder.append("abcd");
    EXPECT_FALSE(builder.run(1, 7).has_value());  // 4 + 7 bytes could pass 10
    std::optional<StringRun> fits = builder.run(1, 6);
    ASSERT_TRUE(fits.has_value());
    fits->append("efghij");
    fits->end();
    builder.append("k");  // past the limit: the chunk widens
    EXPECT_FALSE(builder.run(1, 0).has_value());
    EXPECT_EQ(texts(*builder.finish()), (std::vector<std::string_view>{"abcd", "efghij", "k"}));
}

TEST(ResultBuffers, ALargeBlockHoldsWhatIsWrittenToIt) {
    // Past the size where a block asks for huge pages: the same vector
    // semantics (grown, shrunk, copied) as any other.
    TextBuffer text;
    text.resize(std::size_t{20} << 20);
    std::fill(text.begin(), text.end(), 'q');
    for (std::size_t i = 0; i < text.size(); i += 4096) {
        text[i] = static_cast<char>('a' + i / 4096 % 26);
    }
    text.resize(8192 + 1);
    text.push_back('z');
    const TextBuffer copy = text;
    EXPECT_EQ(copy.size(), 8194U);
    EXPECT_EQ(copy[4096], 'b');
    EXPECT_EQ(copy.back(), 'z');
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
