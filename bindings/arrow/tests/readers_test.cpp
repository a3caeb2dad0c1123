// The readers against the rows each layout holds, and the corrupt-row check
// against hand-broken buffers.
#include <gtest/gtest.h>

#include <cmath>

#include "walk.hpp"

namespace veltrane::arrow::testing {
namespace {

struct Made {
    ArrowSchema schema;
    ArrowArray array;
};

const std::string kLong = "vrn:vlt:iam::0190a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b:principal/x";
const Rows kRows = {"iam", std::nullopt, "", kLong, "twelve bytes", "thirteen byte"};
const Rows kValues = {"x", std::nullopt, kLong};
const Rows kPlainRows = {"iam", "", kLong, "twelve bytes"};
using I = std::optional<std::int64_t>;

template <class T>
std::vector<std::optional<T>> indices(std::vector<I> items) {
    std::vector<std::optional<T>> out;
    for (const I& item : items) {
        out.push_back(item ? std::optional<T>(static_cast<T>(*item)) : std::nullopt);
    }
    return out;
}

// What dictionary `kValues` gives for indices {2, null, 0, 1, 2}.
const Rows kDictionaryRows = {kLong, std::nullopt, "x", std::nullopt, kLong};
const std::vector<I> kIndices = {2, std::nullopt, 0, 1, 2};

struct LayoutCase {
    const char* name;
    Made (*build)(Producer&);
    Rows expected;
};

const LayoutCase kLayouts[] = {
    {"utf8", [](Producer& p) { return Made{p.schema("u"), p.strings(kRows)}; }, kRows},
    {"large_utf8", [](Producer& p) { return Made{p.schema("U"), p.strings(kRows, 'U')}; }, kRows},
    {"string_view", [](Producer& p) { return Made{p.schema("vu"), p.strings(kRows, 'v')}; }, kRows},
    {"utf8_sliced", [](Producer& p) { return Made{p.schema("u"), p.strings(kRows, 'u', 2)}; },
     Rows(kRows.begin() + 2, kRows.end())},
    {"string_view_sliced", [](Producer& p) { return Made{p.schema("vu"), p.strings(kRows, 'v', 3)}; },
     Rows(kRows.begin() + 3, kRows.end())},
    {"dictionary_int8_utf8",
     [](Producer& p) { return Made{p.schema("c", {}, p.schema("u")), p.dictionary_indices(indices<std::int8_t>(kIndices), p.strings(kValues))}; },
     kDictionaryRows},
    {"dictionary_uint16_large_utf8",
     [](Producer& p) { return Made{p.schema("S", {}, p.schema("U")), p.dictionary_indices(indices<std::uint16_t>(kIndices), p.strings(kValues, 'U'))}; },
     kDictionaryRows},
    {"dictionary_int32_string_view",
     [](Producer& p) { return Made{p.schema("i", {}, p.schema("vu")), p.dictionary_indices(indices<std::int32_t>(kIndices), p.strings(kValues, 'v'))}; },
     kDictionaryRows},
    {"dictionary_uint64",
     [](Producer& p) { return Made{p.schema("L", {}, p.schema("u")), p.dictionary_indices(indices<std::uint64_t>(kIndices), p.strings(kValues))}; },
     kDictionaryRows},
    {"dictionary_sliced_both",
     [](Producer& p) {
         ArrowArray values = p.strings({"skipped", "x", std::nullopt, kLong}, 'u', 1);
         return Made{p.schema("s", {}, p.schema("u")), p.dictionary_indices(indices<std::int16_t>({0, 0, 2, 1, 0}), values, 2)};
     },
     {kLong, std::nullopt, "x"}},
    {"table_of_utf8",
     [](Producer& p) { return Made{p.schema("+s", {p.schema("u")}), p.table(p.strings(kRows), {true, true, true, false, true, true})}; },
     {"iam", std::nullopt, "", std::nullopt, "twelve bytes", "thirteen byte"}},
    {"table_sliced_over_a_sliced_column",
     [](Producer& p) {
         // The table's row r is its column's row 1 + r, which is the strings' row 2 + r.
         return Made{p.schema("+s", {p.schema("vu")}), p.table(p.strings(kRows, 'v', 1), {true, false, true, true}, 1)};
     },
     {std::nullopt, kLong, "twelve bytes"}},
    {"table_of_dictionary",
     [](Producer& p) {
         return Made{p.schema("+s", {p.schema("I", {}, p.schema("u"))}),
                     p.table(p.dictionary_indices(indices<std::uint32_t>(kIndices), p.strings(kValues)), {false, true, true, true, true})};
     },
     {std::nullopt, std::nullopt, "x", std::nullopt, kLong}},
    {"empty", [](Producer& p) { return Made{p.schema("u"), p.strings({})}; }, {}},
    // Runs of offsets: no null anywhere, sliced or not, alone or in a table.
    {"utf8_without_nulls", [](Producer& p) { return Made{p.schema("u"), p.strings(kPlainRows)}; }, kPlainRows},
    {"large_utf8_without_nulls", [](Producer& p) { return Made{p.schema("U"), p.strings(kPlainRows, 'U', 1)}; },
     Rows(kPlainRows.begin() + 1, kPlainRows.end())},
    {"table_of_large_utf8_without_nulls",
     [](Producer& p) { return Made{p.schema("+s", {p.schema("U")}), p.table(p.strings(kPlainRows, 'U', 1), {true, true, true}, 1)}; },
     Rows(kPlainRows.begin() + 2, kPlainRows.end())},
    {"string_view_without_nulls", [](Producer& p) { return Made{p.schema("vu"), p.strings(kPlainRows, 'v')}; }, kPlainRows},
    {"table_with_nulls_over_plain_utf8",
     [](Producer& p) { return Made{p.schema("+s", {p.schema("u")}), p.table(p.strings(kPlainRows), {true, false, true, true})}; },
     {"iam", std::nullopt, kLong, "twelve bytes"}},
};

class Layouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layouts, ReadTheirRows) {
    Producer producer;
    const Made made = GetParam().build(producer);
    const Walked walked = walk_array(made.schema, made.array);
    ASSERT_FALSE(walked.problem.has_value()) << walked.problem->text;
    EXPECT_EQ(walked.rows, GetParam().expected);
    EXPECT_EQ(producer.released, producer.made);
}

// The word-at-a-time walk (valid_rows, then read_valid for the rows it
// sets) and, where the chunk is one, the run of offsets give the rows read()
// gives, from every starting row and in blocks of every size.
TEST_P(Layouts, ReadTheSameRowsAWordAtATimeAndAsARun) {
    Producer producer;
    Made made = GetParam().build(producer);
    const Rows& expected = GetParam().expected;
    auto opened = ColumnChunks::of_array(&made.schema, &made.array, ColumnKind::Strings, ChunkNames::Numbered);
    ASSERT_TRUE(std::holds_alternative<ColumnChunks>(opened));
    auto next = std::get<ColumnChunks>(opened).next();
    auto& chunk = std::get<std::optional<Chunk>>(next);
    if (expected.empty()) {
        EXPECT_FALSE(chunk.has_value() && offset_run(chunk->view()).has_value());  // an empty chunk is no run
        return;
    }
    ASSERT_TRUE(chunk.has_value());
    ASSERT_EQ(chunk->first_corrupt_row(), chunk->length());
    const StringChunkReader reader(chunk->view());
    const auto length = static_cast<std::int64_t>(expected.size());
    for (std::int64_t from = 0; from < length; ++from) {
        for (int count = 1; from + count <= length; ++count) {
            const std::uint64_t valid = reader.valid_rows(from, count);
            EXPECT_EQ(valid >> count, 0U) << from << "+" << count;  // no bit past the block
            for (int i = 0; i < count; ++i) {
                std::string_view text;
                const bool read = ((valid >> i) & 1U) != 0 && reader.read_valid(from + i, text) == Cell::Value;
                EXPECT_EQ(read ? std::optional<std::string>(text) : std::nullopt, expected[from + i])
                    << from << "+" << i;
            }
        }
    }
    const std::string name = GetParam().name;
    const bool plain = name == "utf8_sliced" || name == "utf8_without_nulls" || name == "large_utf8_without_nulls" ||
                       name == "table_of_large_utf8_without_nulls";
    const std::optional<OffsetRun> run = offset_run(chunk->view());
    ASSERT_EQ(run.has_value(), plain);
    if (run) {
        Rows rows;
        for (std::int64_t r = 0; r < run->length; ++r) {
            const std::int64_t start = run->large ? run->offset<std::int64_t>(r) : run->offset<std::int32_t>(r);
            const std::int64_t end = run->large ? run->offset<std::int64_t>(r + 1) : run->offset<std::int32_t>(r + 1);
            rows.emplace_back(std::string(run->data + start, static_cast<std::size_t>(end - start)));
        }
        EXPECT_EQ(rows, expected);
        std::int64_t after_the_first = 0;
        for (std::size_t i = 1; i < expected.size(); ++i) {
            after_the_first += static_cast<std::int64_t>(expected[i]->size());
        }
        EXPECT_EQ(run->bytes(1, run->length), after_the_first);
    }
}

INSTANTIATE_TEST_SUITE_P(Strings, Layouts, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Layouts, AStreamReadsItsChunksInOrder) {
    Producer producer;
    Producer::StreamPlan plan;
    plan.schema = producer.schema("+s", {producer.schema("u")});
    plan.chunks = {producer.table(producer.strings({"a", "b"}), {true, true}),
                   producer.table(producer.strings({}), {}),
                   producer.table(producer.strings({"c", "d", "e"}), {true, false, true}, 1)};
    const Walked walked = walk_stream(producer.stream(std::move(plan)));
    ASSERT_FALSE(walked.problem.has_value());
    EXPECT_EQ(walked.rows, (Rows{"a", "b", std::nullopt, "e"}));
    EXPECT_EQ(walked.corrupt, (std::vector<std::int64_t>{2, 0, 2}));
    EXPECT_EQ(producer.twice, 0);
    EXPECT_EQ(producer.released, producer.made);
}

// ---- validity a word at a time ---------------------------------------------------

TEST(BitsAt, GivesTheBitsOfEveryBlockAsBitIsSetDoes) {
    // 19 bytes: blocks of up to 64 bits from every bit offset, across 9 bytes
    // where the offset is not a multiple of 8, and never a byte past the last
    // one a block needs (the sanitizers see one).
    std::vector<std::uint8_t> bitmap;
    for (unsigned i = 0; i < 19; ++i) {
        bitmap.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    }
    for (std::int64_t first = 0; first < 19 * 8; ++first) {
        for (int count = 1; count <= 64 && first + count <= 19 * 8; ++count) {
            const auto needed = static_cast<std::size_t>((first + count + 7) / 8);
            const std::vector<std::uint8_t> exact(bitmap.begin(), bitmap.begin() + static_cast<std::ptrdiff_t>(needed));
            std::uint64_t expected = 0;
            for (int i = 0; i < count; ++i) {
                expected |= std::uint64_t{bit_is_set(exact.data(), first + i)} << i;
            }
            ASSERT_EQ(bits_at(exact.data(), first, count), expected) << first << "+" << count;
        }
    }
    EXPECT_EQ(bits_at(nullptr, 5, 64), ~std::uint64_t{0});
    EXPECT_EQ(bits_at(nullptr, 5, 3), 7U);
}

TEST(Numbers, ValidRowsAWordAtATimeMatchRead) {
    Producer p;
    ArrowArray column = p.numbers<std::int16_t>({1, std::nullopt, 3, 4, std::nullopt, 6, 7}, 1);
    Made made{p.schema("+s", {p.schema("s")}), p.table(column, {true, true, false, true, true}, 1)};
    auto opened = ColumnChunks::of_array(&made.schema, &made.array, ColumnKind::Numbers, ChunkNames::Numbered);
    ASSERT_TRUE(std::holds_alternative<ColumnChunks>(opened));
    auto next = std::get<ColumnChunks>(opened).next();
    auto& chunk = std::get<std::optional<Chunk>>(next);
    ASSERT_TRUE(chunk.has_value());
    const NumberChunkReader reader(chunk->view());
    ASSERT_EQ(reader.length(), 4);
    // Row r is item 2 + r (3, 4, null, 6), hidden where the table's bit
    // valid[1 + r] is 0 (row 1).
    EXPECT_EQ(reader.valid_rows(0, 4), 0b1001U);
    for (std::int64_t row = 0; row < 4; ++row) {
        double read = 0;
        double valid = 0;
        const bool value = reader.read(row, read) == Cell::Value;
        EXPECT_EQ(value, ((reader.valid_rows(row, 1)) & 1U) != 0) << row;
        if (value) {
            EXPECT_EQ(reader.read_valid(row, valid), Cell::Value);
            EXPECT_EQ(valid, read);
        }
    }
}

// ---- numbers ------------------------------------------------------------------

template <class T>
Made number_column(Producer& p, const char* format, std::vector<std::optional<T>> items) {
    return Made{p.schema(format), p.numbers(items)};
}

std::optional<std::string> number(double value) { return std::to_string(value); }

TEST(Numbers, EveryTypeReadsAsTheDoubleItConvertsTo) {
    Producer p;
    const std::pair<Made, Rows> cases[] = {
        {number_column<std::int8_t>(p, "c", {-128, std::nullopt, 127}), {number(-128), std::nullopt, number(127)}},
        {number_column<std::uint8_t>(p, "C", {255}), {number(255)}},
        {number_column<std::int16_t>(p, "s", {-32768}), {number(-32768)}},
        {number_column<std::uint16_t>(p, "S", {65535}), {number(65535)}},
        {number_column<std::int32_t>(p, "i", {INT32_MIN}), {number(INT32_MIN)}},
        {number_column<std::uint32_t>(p, "I", {UINT32_MAX}), {number(UINT32_MAX)}},
        {number_column<std::int64_t>(p, "l", {(std::int64_t{1} << 53) + 1}), {number(9007199254740992.0)}},
        {number_column<std::uint64_t>(p, "L", {UINT64_MAX}), {number(18446744073709551616.0)}},
        {number_column<std::uint16_t>(p, "e", {0x3C00, 0xC000, 0x0001, 0x7C00}),
         {number(1.0), number(-2.0), number(std::ldexp(1.0, -24)), number(INFINITY)}},
        {number_column<float>(p, "f", {0.5F}), {number(0.5)}},
        {number_column<double>(p, "g", {1e300, std::nullopt}), {number(1e300), std::nullopt}},
    };
    for (const auto& [made, expected] : cases) {
        const Walked walked = walk_array(made.schema, made.array, ColumnKind::Numbers);
        ASSERT_FALSE(walked.problem.has_value()) << made.schema.format;
        EXPECT_EQ(walked.rows, expected) << made.schema.format;
    }
    EXPECT_EQ(p.released, p.made);
}

TEST(Numbers, ATableAndSlicesMoveTheRows) {
    Producer p;
    ArrowArray column = p.numbers<std::int32_t>({1, 2, std::nullopt, 4, 5}, 1);
    const Walked walked = walk_array(p.schema("+s", {p.schema("i")}), p.table(column, {true, true, false, true}, 1),
                                     ColumnKind::Numbers);
    ASSERT_FALSE(walked.problem.has_value());
    EXPECT_EQ(walked.rows, (Rows{std::nullopt, std::nullopt, number(5)}));
    EXPECT_EQ(p.released, p.made);
}

// ---- corrupt rows ----------------------------------------------------------------

struct CorruptCase {
    const char* name;
    Made (*build)(Producer&);
    Rows before;            // the rows read before the corrupt one
    std::int64_t corrupt;   // the first corrupt row; the length when none
};

Made utf8_offsets(Producer& p, std::vector<std::int32_t> offsets, std::vector<bool> valid, const char* data = "abcdef") {
    const auto length = static_cast<std::int64_t>(offsets.size()) - 1;
    std::int64_t nulls = 0;
    for (bool v : valid) {
        nulls += v ? 0 : 1;
    }
    return Made{p.schema("u"), p.array(length, nulls, 0, {nulls > 0 ? p.bits(valid) : nullptr, p.values(offsets),
                                                         data == nullptr ? nullptr : p.text(data)})};
}

// One string_view row of `length` bytes in buffer `buffer` at `offset`, over
// one variadic buffer of 20 bytes.
Made one_view(Producer& p, std::int32_t length, std::int32_t buffer, std::int32_t offset, bool null = false) {
    std::vector<std::int32_t> view{length, 0x61616161, buffer, offset};
    const std::vector<std::int64_t> sizes{20};
    return Made{p.schema("vu"), p.array(1, null ? 1 : 0, 0, {null ? p.bits({false}) : nullptr, p.values(view),
                                                           p.text(std::string(20, 'a')), p.values(sizes)})};
}

Made dictionary_of(Producer& p, std::vector<I> items) {
    return Made{p.schema("l", {}, p.schema("u")), p.dictionary_indices(indices<std::int64_t>(items), p.strings({"x", "y"}))};
}

const CorruptCase kCorrupt[] = {
    {"offsets_going_backwards", [](Producer& p) { return utf8_offsets(p, {0, 4, 2, 6}, {true, true, true}); }, {"abcd"}, 1},
    {"backwards_under_a_null", [](Producer& p) { return utf8_offsets(p, {0, 4, 2, 6}, {true, false, true}); },
     {"abcd", std::nullopt, "cdef"}, 3},
    {"negative_first_offset", [](Producer& p) { return utf8_offsets(p, {-1, 2}, {true}); }, {}, 0},
    {"text_without_data", [](Producer& p) { return utf8_offsets(p, {0, 0, 3}, {true, true}, nullptr); }, {""}, 1},
    {"view_past_its_buffer", [](Producer& p) { return one_view(p, 15, 0, 6); }, {}, 0},
    {"view_in_the_last_bytes", [](Producer& p) { return one_view(p, 15, 0, 5); }, {std::string(15, 'a')}, 1},
    {"view_buffer_index_out_of_range", [](Producer& p) { return one_view(p, 13, 1, 0); }, {}, 0},
    {"view_negative_buffer_index", [](Producer& p) { return one_view(p, 13, -1, 0); }, {}, 0},
    {"view_negative_offset", [](Producer& p) { return one_view(p, 13, 0, -1); }, {}, 0},
    {"view_negative_length", [](Producer& p) { return one_view(p, -1, 0, 0); }, {}, 0},
    {"bad_view_under_a_null", [](Producer& p) { return one_view(p, 13, 9, 0, true); }, {std::nullopt}, 1},
    {"index_past_the_dictionary", [](Producer& p) { return dictionary_of(p, {1, 2}); }, {"y"}, 1},
    {"negative_index", [](Producer& p) { return dictionary_of(p, {-1}); }, {}, 0},
    {"bad_index_under_a_null", [](Producer& p) { return dictionary_of(p, {0, std::nullopt, 1}); }, {"x", std::nullopt, "y"}, 3},
    {"uint64_index_past_2_63",
     [](Producer& p) { return Made{p.schema("L", {}, p.schema("u")), p.dictionary_indices(indices<std::uint64_t>({0, -1}), p.strings({"x"}))}; },
     {"x"}, 1},
    {"index_to_a_corrupt_entry",
     [](Producer& p) {
         Made values = utf8_offsets(p, {0, 3, 1, 2}, {true, true, true});
         values.schema.release(&values.schema);
         return Made{p.schema("c", {}, p.schema("u")), p.dictionary_indices(indices<std::int8_t>({0, 2, 1}), values.array)};
     },
     {"abc", "b"}, 2},
    {"corrupt_row_hidden_by_the_table",
     [](Producer& p) {
         Made column = utf8_offsets(p, {0, 4, 2, 6}, {true, true, true});
         column.schema.release(&column.schema);
         return Made{p.schema("+s", {p.schema("u")}), p.table(column.array, {true, false, true})};
     },
     {"abcd", std::nullopt, "cdef"}, 3},
};

class Corrupt : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(Corrupt, RowsStopAtTheFirstCorruptRow) {
    Producer producer;
    const Made made = GetParam().build(producer);
    const Walked walked = walk_array(made.schema, made.array);
    ASSERT_FALSE(walked.problem.has_value()) << walked.problem->text;
    ASSERT_EQ(walked.corrupt.size(), 1U);
    EXPECT_EQ(walked.corrupt[0], GetParam().corrupt);
    EXPECT_EQ(walked.rows, GetParam().before);
    EXPECT_EQ(producer.twice, 0);
    EXPECT_EQ(producer.released, producer.made);
}

INSTANTIATE_TEST_SUITE_P(Buffers, Corrupt, ::testing::ValuesIn(kCorrupt),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Corrupt, TheCheckStartsWhereTheWalkDoes) {
    Producer producer;
    Made made = utf8_offsets(producer, {0, 4, 2, 6, 6}, {true, true, true, true});
    auto opened = ColumnChunks::of_array(&made.schema, &made.array, ColumnKind::Strings, ChunkNames::Numbered);
    ColumnChunks& column = std::get<ColumnChunks>(opened);
    auto next = column.next();
    const Chunk& chunk = *std::get<std::optional<Chunk>>(next);
    EXPECT_EQ(chunk.first_corrupt_row(0), 1);
    EXPECT_EQ(chunk.first_corrupt_row(1), 1);
    EXPECT_EQ(chunk.first_corrupt_row(2), 4);
    EXPECT_EQ(chunk.first_corrupt_row(9), 4);
    EXPECT_EQ(corrupt_row_text(12), " holds invalid Arrow data at row 12");
}

}  // namespace
}  // namespace veltrane::arrow::testing
