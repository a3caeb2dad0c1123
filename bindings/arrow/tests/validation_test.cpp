// Malformed structures, one field broken at a time, and the refusal each
// gives; every struct taken over is released exactly once whatever happens.
#include <gtest/gtest.h>

#include <climits>

#include "walk.hpp"

namespace veltrane::arrow::testing {
namespace {

constexpr std::int64_t kMax = INT64_MAX;

struct Made {
    ArrowSchema schema;
    ArrowArray array;
};

struct MalformedCase {
    const char* name;
    Made (*build)(Producer&);
    ColumnKind kind;
    Refusal refusal;
    const char* text;
};

Made utf8(Producer& p) { return {p.schema("u"), p.strings({"ab", std::nullopt, "cde"})}; }

Made dictionary(Producer& p) {
    return {p.schema("c", {}, p.schema("u")),
            p.dictionary_indices<std::int8_t>({0, 1, std::nullopt}, p.strings({"x", "yz"}))};
}

Made table(Producer& p) { return {p.schema("+s", {p.schema("u")}), p.table(p.strings({"a", "b"}), {true, false})}; }

Made int64s(Producer& p) { return {p.schema("l"), p.numbers<std::int64_t>({1, std::nullopt, 3})}; }

Made views(Producer& p) { return {p.schema("vu"), p.strings({"short", "a string past twelve bytes"}, 'v')}; }

const MalformedCase kMalformed[] = {
    // offset + length past 2**63, at every level a column has
    {"top_level_offset_plus_length", [](Producer& p) { Made m = utf8(p); m.array.offset = kMax - 1; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array whose offset plus length passes 64 bits"},
    {"offsets_bytes_past_64_bits", [](Producer& p) { Made m = utf8(p); m.array.offset = kMax / 4 - 2; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array whose offset plus length passes 64 bits"},
    {"dictionary_indices_offset", [](Producer& p) { Made m = dictionary(p); m.array.offset = kMax - 2; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array whose offset plus length passes 64 bits"},
    {"dictionary_values_offset", [](Producer& p) { Made m = dictionary(p); m.array.dictionary->offset = kMax; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array whose offset plus length passes 64 bits"},
    {"table_offset", [](Producer& p) { Made m = table(p); m.array.offset = kMax - 1; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array whose offset plus length passes 64 bits"},
    {"table_column_offset", [](Producer& p) { Made m = table(p); m.array.children[0]->offset = kMax - 1; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array whose offset plus length passes 64 bits"},
    {"number_offset", [](Producer& p) { Made m = int64s(p); m.array.offset = kMax - 1; return m; },
     ColumnKind::Numbers, Refusal::Malformed, ": chunk 0 of the Arrow data is an array whose offset plus length passes 64 bits"},
    {"number_bytes_past_64_bits", [](Producer& p) { Made m = int64s(p); m.array.offset = kMax / 8; return m; },
     ColumnKind::Numbers, Refusal::Malformed, ": chunk 0 of the Arrow data is an array whose offset plus length passes 64 bits"},
    // negative lengths, offsets, counts
    {"negative_length", [](Producer& p) { Made m = utf8(p); m.array.length = -1; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a negative length or offset"},
    {"negative_offset", [](Producer& p) { Made m = int64s(p); m.array.offset = -1; return m; },
     ColumnKind::Numbers, Refusal::Malformed, ": chunk 0 of the Arrow data is a negative length or offset"},
    {"dictionary_negative_length", [](Producer& p) { Made m = dictionary(p); m.array.length = -5; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a negative length or offset"},
    {"dictionary_values_negative_length", [](Producer& p) { Made m = dictionary(p); m.array.dictionary->length = -1; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a negative length or offset"},
    {"null_count_below_minus_one", [](Producer& p) { Made m = utf8(p); m.array.null_count = -2; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array with a negative null count"},
    {"more_nulls_than_rows", [](Producer& p) { Made m = utf8(p); m.array.null_count = 4; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array with more nulls than rows"},
    {"nulls_without_validity", [](Producer& p) { Made m = utf8(p); m.array.buffers[0] = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array with nulls but no validity bitmap"},
    {"negative_children", [](Producer& p) { Made m = table(p); m.array.n_children = -1; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a table chunk without its one column"},
    // buffers
    {"string_buffer_count", [](Producer& p) { Made m = utf8(p); m.array.n_buffers = 2; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a string array whose buffer count is not 3"},
    {"no_buffers_array", [](Producer& p) { Made m = utf8(p); m.array.buffers = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array without its buffers"},
    {"no_offsets", [](Producer& p) { Made m = utf8(p); m.array.buffers[1] = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a string array without offsets"},
    {"view_buffer_count", [](Producer& p) { Made m = views(p); m.array.n_buffers = 2; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a string_view array with fewer than 3 buffers"},
    {"view_without_sizes", [](Producer& p) { Made m = views(p); m.array.buffers[3] = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a string_view array without its views or buffer sizes"},
    {"number_without_values", [](Producer& p) { Made m = int64s(p); m.array.buffers[1] = nullptr; return m; },
     ColumnKind::Numbers, Refusal::Malformed, ": chunk 0 of the Arrow data is a numeric array without its values"},
    {"number_buffer_count", [](Producer& p) { Made m = int64s(p); m.array.n_buffers = 3; return m; },
     ColumnKind::Numbers, Refusal::Malformed, ": chunk 0 of the Arrow data is a numeric array without its values"},
    {"table_without_buffers_array", [](Producer& p) { Made m = table(p); m.array.buffers = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array without its buffers"},
    {"table_buffer_count", [](Producer& p) { Made m = table(p); m.array.n_buffers = 0; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a table chunk whose buffer count is not 1"},
    // children and dictionaries
    {"table_children_array_missing", [](Producer& p) { Made m = table(p); m.array.children = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a table chunk without its one column"},
    {"table_child_missing", [](Producer& p) { Made m = table(p); m.array.children[0] = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a table chunk without its one column"},
    {"table_column_shorter", [](Producer& p) { Made m = table(p); m.array.children[0]->length = 1; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a table chunk whose column is shorter than the table"},
    {"children_its_type_lacks", [](Producer& p) { Made m = utf8(p); m.array.n_children = 1; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array with children its type does not have"},
    {"dictionary_missing", [](Producer& p) { Made m = dictionary(p); m.array.dictionary = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a dictionary-encoded array without its indices or dictionary"},
    {"dictionary_indices_missing", [](Producer& p) { Made m = dictionary(p); m.array.buffers[1] = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is a dictionary-encoded array without its indices or dictionary"},
    {"dictionary_its_type_lacks", [](Producer& p) {
         return Made{p.schema("u"), p.array(1, 0, 0, {nullptr, p.values(std::vector<std::int32_t>{0, 1}), p.text("a")},
                                            {}, p.strings({"x"}))};
     },
     ColumnKind::Strings, Refusal::Malformed, ": chunk 0 of the Arrow data is an array with a dictionary its type does not have"},
    // schemas
    {"schema_format_null", [](Producer& p) { Made m = utf8(p); m.schema.format = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": the Arrow data is a schema with no format string"},
    {"dictionary_schema_format_null", [](Producer& p) { Made m = dictionary(p); m.schema.dictionary->format = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": the Arrow data is a schema with no format string"},
    {"table_schema_child_format_null", [](Producer& p) { Made m = table(p); m.schema.children[0]->format = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": the Arrow data is a schema with no format string"},
    {"schema_negative_children", [](Producer& p) { Made m = utf8(p); m.schema.n_children = -3; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": the Arrow data is a schema with a negative child count"},
    {"schema_children_array_missing", [](Producer& p) { Made m = table(p); m.schema.children = nullptr; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": the Arrow data is a schema with a child missing"},
    {"schema_points_at_itself", [](Producer& p) { Made m = dictionary(p); m.schema.dictionary->dictionary = m.schema.dictionary; return m; },
     ColumnKind::Strings, Refusal::Malformed, ": the Arrow data is a schema nested deeper or wider than any type this module reads"},
    // well formed, of another type
    {"int64_for_strings", int64s, ColumnKind::Strings, Refusal::WrongType,
     " must be a column of strings (utf8, large_utf8 or string_view), found Arrow format 'l' (int64)"},
    {"utf8_for_numbers", utf8, ColumnKind::Numbers, Refusal::WrongType,
     " must be a column of integers or floats, found Arrow format 'u' (utf8)"},
    {"float_dictionary_indices", [](Producer& p) { Made m = dictionary(p); m.schema.format = "g"; return m; },
     ColumnKind::Strings, Refusal::WrongType,
     " must be a column of strings (utf8, large_utf8 or string_view), found Arrow format a dictionary of 'u' (utf8) with 'g' (float64) indices"},
};

class Malformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(Malformed, IsRefusedAndEveryStructReleasedOnce) {
    const MalformedCase& c = GetParam();
    Producer producer;
    const Made made = c.build(producer);
    const Walked walked = walk_array(made.schema, made.array, c.kind);
    ASSERT_TRUE(walked.problem.has_value()) << "read " << walked.rows.size() << " rows";
    EXPECT_EQ(walked.problem->refusal, c.refusal);
    EXPECT_EQ(walked.problem->text, c.text);
    EXPECT_TRUE(walked.rows.empty());
    EXPECT_EQ(producer.twice, 0);
    EXPECT_EQ(producer.released, producer.made);
}

INSTANTIATE_TEST_SUITE_P(Structures, Malformed, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Malformed, TheScannerNamesNoChunk) {
    Producer producer;
    Made made = utf8(producer);
    made.array.length = -1;
    const Walked walked = walk_array(made.schema, made.array, ColumnKind::Strings, ChunkNames::Unnumbered);
    ASSERT_TRUE(walked.problem.has_value());
    EXPECT_EQ(walked.problem->text, ": the Arrow data is a negative length or offset");
}

TEST(Malformed, AnUncountedNullCountReadsTheBitmapIfThereIsOne) {
    Producer producer;
    Made made = utf8(producer);
    made.array.null_count = -1;
    EXPECT_EQ(walk_array(made.schema, made.array).rows, (Rows{"ab", std::nullopt, "cde"}));
    Made plain = utf8(producer);
    plain.array.null_count = -1;
    plain.array.buffers[0] = nullptr;
    EXPECT_EQ(walk_array(plain.schema, plain.array).rows, (Rows{"ab", "", "cde"}));
    EXPECT_EQ(producer.released, producer.made);
}

// ---- streams ----------------------------------------------------------------

struct StreamCase {
    const char* name;
    Producer::StreamPlan (*plan)(Producer&);
    Refusal refusal;
    const char* text;
    std::size_t rows_before;  // rows read before the refusal
};

Producer::StreamPlan two_chunks(Producer& p) {
    Producer::StreamPlan plan;
    plan.schema = p.schema("u");
    plan.chunks = {p.strings({"a", "b"}), p.strings({"c"})};
    return plan;
}

const StreamCase kStreams[] = {
    {"get_schema_fails", [](Producer& p) { auto plan = two_chunks(p); plan.schema_error = 5; plan.message = "disk on fire"; return plan; },
     Refusal::StreamFailed, ": reading the Arrow stream's schema failed: disk on fire (error code 5)", 0},
    {"get_schema_writes_nothing", [](Producer& p) { auto plan = two_chunks(p); plan.schema->release(&*plan.schema); plan.schema.reset(); return plan; },
     Refusal::StreamFailed, ": reading the Arrow stream's schema failed: it reported success but gave no schema", 0},
    {"get_next_fails", [](Producer& p) { auto plan = two_chunks(p); plan.fail_at = 1; return plan; },
     Refusal::StreamFailed, ": reading chunk 1 of the Arrow stream failed: the producer gave up (error code 5)", 2},
    {"callbacks_missing", [](Producer& p) { auto plan = two_chunks(p); plan.no_callbacks = true; return plan; },
     Refusal::Malformed, ": the Arrow data is a stream without its get_schema or get_next callback", 0},
    {"schema_format_null", [](Producer& p) { auto plan = two_chunks(p); plan.schema->format = nullptr; return plan; },
     Refusal::Malformed, ": the Arrow data is a schema with no format string", 0},
    {"second_chunk_malformed", [](Producer& p) { auto plan = two_chunks(p); plan.chunks[1].offset = kMax; return plan; },
     Refusal::Malformed, ": chunk 1 of the Arrow data is an array whose offset plus length passes 64 bits", 2},
    {"wrong_type", [](Producer& p) { auto plan = two_chunks(p); plan.schema->format = "z"; return plan; },
     Refusal::WrongType, " must be a column of strings (utf8, large_utf8 or string_view), found Arrow format 'z' (binary)", 0},
};

class Streams : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Streams, AreRefusedAndEveryStructReleasedOnce) {
    const StreamCase& c = GetParam();
    Producer producer;
    const Walked walked = walk_stream(producer.stream(c.plan(producer)));
    ASSERT_TRUE(walked.problem.has_value());
    EXPECT_EQ(walked.problem->refusal, c.refusal);
    EXPECT_EQ(walked.problem->text, c.text);
    EXPECT_EQ(walked.rows.size(), c.rows_before);
    producer.release_unsent();
    EXPECT_EQ(producer.twice, 0);
    EXPECT_EQ(producer.released, producer.made);
}

INSTANTIATE_TEST_SUITE_P(Misbehaving, Streams, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Streams, SuccessWithoutAChunkIsTheEnd) {
    Producer producer;
    auto plan = two_chunks(producer);
    plan.silent_at = 1;
    const Walked walked = walk_stream(producer.stream(std::move(plan)));
    EXPECT_FALSE(walked.problem.has_value());
    EXPECT_EQ(walked.rows, (Rows{"a", "b"}));
    producer.release_unsent();
    EXPECT_EQ(producer.twice, 0);
    EXPECT_EQ(producer.released, producer.made);
}

TEST(Streams, AFailedStreamIsReleasedAtOnceAndAskedNoMore) {
    Producer producer;
    auto plan = two_chunks(producer);
    plan.fail_at = 0;
    ArrowArrayStream stream = producer.stream(std::move(plan));
    auto opened = ColumnChunks::of_stream(&stream, ColumnKind::Strings, ChunkNames::Numbered);
    ASSERT_TRUE(std::holds_alternative<ColumnChunks>(opened));
    ColumnChunks& column = std::get<ColumnChunks>(opened);
    const int before = producer.released;
    ASSERT_TRUE(std::holds_alternative<Problem>(column.next()));
    EXPECT_EQ(producer.released, before + 1);  // the stream, before the error is raised
    auto after = column.next();
    ASSERT_TRUE(std::holds_alternative<std::optional<Chunk>>(after));
    EXPECT_FALSE(std::get<std::optional<Chunk>>(after).has_value());
}

}  // namespace
}  // namespace veltrane::arrow::testing
