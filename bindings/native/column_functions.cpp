// The VRN functions over Arrow columns. Each is, per row, the per-call
// function of the same name (row_kernels.hpp), and over the whole column:
//
//     def vrn_canonicalize(s, errors="raise"):
//         out = Column()
//         for chunk in arrow_chunks(s):                # the interpreter lock held
//             with interpreter_released():             # the whole chunk, no objects
//                 for i, text in enumerate(chunk):
//                     if text is None: out.append(None); continue
//                     try: out.append(kernel(text))
//                     except VrnError as e:
//                         if errors == "null": out.append(None)
//                         else: raise ValueError(e.token)  # note: "while processing row <i>"
//             release(chunk)                           # every imported chunk, exactly once
//         return out
//
// Functions of several columns (vrn_build, mint_uuid7) walk them side by side,
// whatever their chunking; a column that ends before the others is a
// ValueError naming every column's length.
#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "native/capsules.hpp"
#include "native/column_object.hpp"
#include "native/functions.hpp"
#include "arrow/number_reader.hpp"
#include "native/row_kernels.hpp"
#include "arrow/string_builder.hpp"
#include "arrow/string_reader.hpp"
#include "native/test_hooks.hpp"
#include "runtime/arguments.hpp"
#include "runtime/detach.hpp"
#include "runtime/frame.hpp"

namespace veltrane::native {
namespace {

using namespace veltrane::runtime;

// What a function takes and gives, besides its row function.
struct FunctionSpec {
    CallSignature signature;  // the inputs, then "errors" when it has one
    std::array<ColumnKind, 5> kinds{};  // strings unless told
    std::size_t inputs = 1;
    std::size_t outputs = 1;  // 5: the struct of vrn_fields
    bool has_errors = true;
};

using Reader = std::variant<StringChunkReader, NumberChunkReader>;

// One input column as it is walked: its source, its current chunk and the
// reader over it, and how far the walk has come.
struct Input {
    Input(std::string_view name_, ChunkSource source_) noexcept : name(name_), source(std::move(source_)) {}

    std::string_view name;
    ChunkSource source;
    std::optional<Chunk> chunk;
    Reader reader;
    std::optional<OffsetRun> run;  // the current chunk as a run of offsets, when it is one
    std::int64_t length = 0;       // rows of the current chunk
    std::int64_t position = 0;     // the next row of the current chunk
    std::int64_t clean_until = 0;  // the current chunk's first corrupt row (its length if none)
    std::int64_t rows_before = 0;  // rows of the chunks before the current one
    bool ended = false;
};

std::string prefix(const FunctionSpec& spec) { return std::string(spec.signature.function_name) + "(): "; }

// Makes the input's current chunk one with rows left, releasing the chunks it
// is done with; false when its stream has ended.
PyResult<bool> advance(Input& input) {
    while (!input.ended && input.position == input.length) {
        input.rows_before += input.length;
        input.chunk.reset();
        input.run.reset();
        input.length = input.position = 0;
        PyResult<std::optional<Chunk>> next = input.source.next();
        if (!next) {
            return next.take_error();
        }
        if (!next.value()) {
            input.ended = true;
            break;
        }
        input.chunk.emplace(std::move(*next.value()));
        const Chunk& chunk = *input.chunk;
        if (input.source.layout().kind == ColumnKind::Strings) {
            input.reader = StringChunkReader(chunk.view());
            input.run = offset_run(chunk.view());
        } else {
            input.reader = NumberChunkReader(chunk.view());
        }
        input.length = chunk.length();
        input.clean_until = chunk.first_corrupt_row();
    }
    return !input.ended;
}

// Every row the input has: those walked, and those its stream still holds.
PyResult<std::int64_t> total_rows(Input& input) {
    std::int64_t total = input.rows_before + input.length;
    input.position = input.length;
    input.rows_before = total;
    input.length = 0;
    while (true) {
        PyResult<std::optional<Chunk>> next = input.source.next();
        if (!next) {
            return next.take_error();
        }
        if (!next.value()) {
            return total;
        }
        const std::int64_t length = next.value()->length();
        total = total > INT64_MAX - length ? INT64_MAX : total + length;  // made-up lengths may add past 2**63
    }
}

PyErr different_lengths(const FunctionSpec& spec, std::vector<Input>& inputs) {
    std::string message = prefix(spec) + "the columns have different lengths:";
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        PyResult<std::int64_t> rows = total_rows(inputs[k]);
        if (!rows) {
            return rows.take_error();
        }
        message += (k == 0 ? " '" : ", '") + std::string(inputs[k].name) + "' has " + std::to_string(*rows);
    }
    return PyErr::with_message(PyExc_ValueError, message + " rows");
}

// The result as it is built: one string builder per output (five for the
// struct of fields), the struct's own validity, and the chunks made so far.
class Output {
public:
    static constexpr std::size_t kTypicalRowBytes = 64;
    // Rows reserved at the typical size before any row was seen: past them
    // the builders grow from what the rows turned out to need.
    static constexpr std::int64_t kFirstRows = 4096;

    explicit Output(std::size_t outputs) : count_(outputs), chunks_(outputs) {
        struct_rows_.kind = Kind::Struct;
    }

    StringBuilder* builders() noexcept { return builders_.data(); }

    // Room for `rows` more rows in every output: as long as the rows so far
    // were on average, or, before any row, for the first few thousand rows
    // at the length of a typical name (an output whose rows are shorter, such
    // as the tokens of vrn_error_kind, must not hold room for the longer).
    void reserve(std::int64_t rows) {
        for (std::size_t i = 0; i < count_; ++i) {
            const std::size_t mean = builders_[i].mean_row_bytes();
            if (mean != 0) {
                builders_[i].reserve(rows, mean + mean / 8);
            } else {
                builders_[i].reserve(std::min(rows, kFirstRows), kTypicalRowBytes);
            }
        }
    }
    [[nodiscard]] std::int64_t pending_rows() const noexcept { return builders_[0].length(); }

    void row_appended() {
        if (count_ > 1) {
            append_validity(struct_rows_, true);
            ++struct_rows_.length;
        }
    }
    void append_null() {
        for (std::size_t i = 0; i < count_; ++i) {
            builders_[i].append_null();
        }
        if (count_ > 1) {
            append_validity(struct_rows_, false);
            ++struct_rows_.length;
        }
    }

    // Runs over the next `rows` rows, one per output, with room for the
    // answers the input's `text_bytes` bound; nothing when an output cannot
    // take such a run (see StringBuilder::run).
    template <std::size_t N>
    std::optional<rows::RunOutput<N>> runs(std::int64_t count, std::size_t text_bytes,
                                     const std::array<rows::AnswerBound, N>& bounds) {
        std::array<std::optional<StringRun>, N> made;
        bool all = true;
        for (std::size_t i = 0; i < N; ++i) {
            made[i] = builders_[i].run(count, bounds[i].of(text_bytes, static_cast<std::size_t>(count)));
            all = all && made[i].has_value();
        }
        if (!all) {
            for (std::optional<StringRun>& run : made) {
                if (run) {
                    run->end();
                }
            }
            return std::nullopt;
        }
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return rows::RunOutput<N>{{*made[I]...}, N > 1 ? std::optional<ValidityRun>(std::in_place, struct_rows_, count)
                                                     : std::nullopt};
        }(std::make_index_sequence<N>());
    }

    void finish_chunk() {
        for (std::size_t i = 0; i < count_; ++i) {
            chunks_[i].push_back(builders_[i].finish());
        }
        if (count_ > 1) {
            struct_chunks_.push_back(std::move(struct_rows_));
            struct_rows_ = ArrayData{};
            struct_rows_.kind = Kind::Struct;
        }
    }

    // The column: large_utf8 for an output whose text, over all its chunks,
    // passes the utf8 limit (so that joined chunks still fit), else utf8.
    std::shared_ptr<const ColumnData> finish_column() {
        if (chunks_[0].empty()) {
            finish_chunk();  // an empty result is one empty chunk
        }
        const std::int64_t limit = utf8_byte_limit();
        for (std::vector<std::shared_ptr<ArrayData>>& output : chunks_) {
            std::int64_t bytes = 0;
            bool large = false;
            for (const auto& chunk : output) {
                bytes += static_cast<std::int64_t>(chunk->data.size());
                large = large || chunk->kind == Kind::LargeUtf8;
            }
            if (large || bytes > limit) {
                for (const auto& chunk : output) {
                    widen_to_large(*chunk);
                }
            }
        }
        auto column = std::make_shared<ColumnData>();
        for (std::size_t j = 0; j < chunks_[0].size(); ++j) {
            column->length += chunks_[0][j]->length;
            if (count_ == 1) {
                column->chunks.push_back(chunks_[0][j]);
                continue;
            }
            auto row = std::make_shared<ArrayData>(std::move(struct_chunks_[j]));
            for (std::size_t i = 0; i < count_; ++i) {
                row->children.push_back(chunks_[i][j]);
            }
            column->chunks.push_back(std::move(row));
        }
        return column;
    }

private:
    std::size_t count_;
    std::array<StringBuilder, 5> builders_;
    std::vector<std::vector<std::shared_ptr<ArrayData>>> chunks_;
    ArrayData struct_rows_;
    std::vector<ArrayData> struct_chunks_;
};

// The validity of `count` rows (1 to 64) of a reader from `row` on, a word at
// a time (see StringChunkReader::valid_rows).
std::uint64_t valid_rows(const Reader& reader, std::int64_t row, int count) noexcept {
    if (const auto* strings = std::get_if<StringChunkReader>(&reader)) {
        return strings->valid_rows(row, count);
    }
    return std::get<NumberChunkReader>(reader).valid_rows(row, count);
}

// Reads cell `row` of a reader, valid as far as valid_rows() tells, into the
// row's texts or number.
Cell read_cell(const Reader& reader, std::int64_t row, std::size_t input, rows::RowCells& cells) noexcept {
    if (const auto* strings = std::get_if<StringChunkReader>(&reader)) {
        return strings->read_valid(row, cells.texts[input]);
    }
    return std::get<NumberChunkReader>(reader).read_valid(row, cells.number);
}

// Any layout, any number of inputs: the rows in blocks of 64, the validity
// of each block read a word at a time, the answers appended one by one.
template <class Kernel>
std::optional<rows::RowFailure> run_rows(std::span<Input> inputs, std::int64_t count, Output& out,
                                   bool errors_null) noexcept {
    out.reserve(count);
    rows::RowCells cells;
    for (std::int64_t block = 0; block < count; block += 64) {
        const int in_block = static_cast<int>(std::min<std::int64_t>(64, count - block));
        std::uint64_t valid = ~std::uint64_t{0};
        for (const Input& input : inputs) {
            valid &= valid_rows(input.reader, input.position + block, in_block);
        }
        for (int i = 0; i < in_block; ++i) {
            const std::int64_t r = block + i;
            bool null = ((valid >> i) & 1U) == 0;
            for (std::size_t k = 0; !null && k < inputs.size(); ++k) {
                null = read_cell(inputs[k].reader, inputs[k].position + r, k, cells) == Cell::Null;
            }
            if (null) {
                out.append_null();
                continue;
            }
            if (const rows::Outcome failed = Kernel::row(cells, out.builders())) {
                if (!errors_null) {
                    return rows::RowFailure{r, *failed};
                }
                out.append_null();
                continue;
            }
            out.row_appended();
        }
    }
    return std::nullopt;
}

// `count` rows from every input's position on: the kernel loop, run without
// the interpreter lock. It reads the inputs (rows before their first corrupt
// row only, so no read checks anything) and appends to `out`, nothing else.
// The loop is chosen once per chunk: the run of offsets for one text input
// without nulls (the common case), the general walk for everything else.
template <class Kernel>
std::optional<rows::RowFailure> run_chunk(std::span<Input> inputs, std::int64_t count, Output& out,
                                    bool errors_null) noexcept {
    rendezvous_point();
    if constexpr (rows::RunKernel<Kernel>) {
        if (inputs.size() == 1 && inputs[0].run) {
            const OffsetRun& run = *inputs[0].run;
            const std::int64_t from = inputs[0].position;
            const auto bytes = static_cast<std::size_t>(run.bytes(from, from + count));
            if (auto runs = out.runs<Kernel::kOutputs>(count, bytes, Kernel::bounds())) {
                return run.large ? rows::run_plain<Kernel, std::int64_t>(run, from, count, *runs, errors_null)
                                 : rows::run_plain<Kernel, std::int32_t>(run, from, count, *runs, errors_null);
            }
        }
    }
    return run_rows<Kernel>(inputs, count, out, errors_null);
}

PyResult<bool> errors_mode(const FunctionSpec& spec, PyObject* errors) {
    if (!spec.has_errors || errors == nullptr) {
        return false;
    }
    PyResult<std::string_view> text = extract_text(errors);
    if (!text) {
        return note_argument_error("errors", text.take_error());
    }
    if (*text == "raise" || *text == "null") {
        return *text == "null";
    }
    return PyErr::with_message(PyExc_ValueError,
                               prefix(spec) + "errors must be 'raise' or 'null', not '" + std::string(*text) + "'");
}

PyResult<Input> open_input(const FunctionSpec& spec, std::size_t k, PyObject* object) {
    const std::string_view name = spec.signature.parameters[k];
    PyResult<ChunkSource> source = ChunkSource::open(object, spec.signature.function_name, name, spec.kinds[k]);
    if (!source) {
        return source.take_error();
    }
    return Input(name, std::move(source.value()));
}

template <const FunctionSpec& Spec, class Kernel>
PyResult<PyObject*> column_function_body(const CallArgs& call) {
    PyObject* slots[kMaxParameters + 1] = {};
    if (std::optional<PyErr> error = bind_arguments(Spec.signature, call, slots)) {
        return std::move(*error);
    }
    PyResult<bool> errors_null = errors_mode(Spec, Spec.has_errors ? slots[Spec.inputs] : nullptr);
    if (!errors_null) {
        return errors_null.take_error();
    }
    std::vector<Input> inputs;
    inputs.reserve(Spec.inputs);
    for (std::size_t k = 0; k < Spec.inputs; ++k) {
        PyResult<Input> input = open_input(Spec, k, slots[k]);
        if (!input) {
            return input.take_error();
        }
        inputs.push_back(std::move(input.value()));
    }
    Output out(Spec.outputs);
    std::int64_t rows_done = 0;
    while (true) {
        Input& first = inputs[0];
        if (first.position == first.length && out.pending_rows() > 0) {
            out.finish_chunk();  // the result's chunks follow the first column's
        }
        PyResult<bool> more = advance(first);
        if (!more) {
            return more.take_error();
        }
        if (!*more) {
            break;
        }
        std::int64_t count = first.length - first.position;
        for (std::size_t k = 1; k < inputs.size(); ++k) {
            PyResult<bool> has_rows = advance(inputs[k]);
            if (!has_rows) {
                return has_rows.take_error();
            }
            if (!*has_rows) {
                return different_lengths(Spec, inputs);
            }
            count = std::min(count, inputs[k].length - inputs[k].position);
        }
        // The rows up to the first corrupt one of any input run; that row is
        // then the error (the first input's, of those corrupt at one row).
        std::size_t corrupt = SIZE_MAX;
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            if (inputs[k].clean_until - inputs[k].position < count) {
                count = inputs[k].clean_until - inputs[k].position;
                corrupt = k;
            }
        }
        if (count > 0) {
            const std::optional<rows::RowFailure> failure = without_interpreter(
                [&] { return run_chunk<Kernel>(std::span<Input>(inputs), count, out, *errors_null); });
            if (failure) {
                const std::int64_t row = rows_done + failure->row;
                return with_note(PyErr::value_error(failure->token), "while processing row " + std::to_string(row));
            }
        }
        if (corrupt != SIZE_MAX) {
            return inputs[corrupt].source.corrupt_row(rows_done + count);
        }
        for (Input& input : inputs) {
            input.position += count;
        }
        rows_done += count;
    }
    for (std::size_t k = 1; k < inputs.size(); ++k) {
        PyResult<bool> has_rows = advance(inputs[k]);
        if (!has_rows) {
            return has_rows.take_error();
        }
        if (*has_rows) {
            return different_lengths(Spec, inputs);
        }
    }
    return new_column(out.finish_column());
}

constexpr std::string_view kTextParameters[] = {"s", "errors"};
constexpr std::string_view kBuildParameters[] = {"service", "region", "org", "resource_type", "resource_id", "errors"};
constexpr std::string_view kMintParameters[] = {"unix_ms", "rand_hex", "errors"};

constexpr FunctionSpec text_function(std::string_view name) {
    return FunctionSpec{CallSignature{name, kTextParameters, 0, 1}, {}, 1, 1, true};
}

constexpr FunctionSpec kErrorKind{CallSignature{"vrn_error_kind", std::span(kTextParameters, 1), 0, 1}, {}, 1, 1, false};
constexpr FunctionSpec kCanonicalize = text_function("vrn_canonicalize");
constexpr FunctionSpec kService = text_function("vrn_service");
constexpr FunctionSpec kRegion = text_function("vrn_region");
constexpr FunctionSpec kOrg = text_function("vrn_org");
constexpr FunctionSpec kResourceType = text_function("vrn_resource_type");
constexpr FunctionSpec kResourceId = text_function("vrn_resource_id");
constexpr FunctionSpec kCedarEntityType = text_function("vrn_cedar_entity_type");
constexpr FunctionSpec kCedarEntityId = text_function("vrn_cedar_entity_id");
constexpr FunctionSpec kFields{CallSignature{"vrn_fields", kTextParameters, 0, 1}, {}, 1, 5, true};
constexpr FunctionSpec kBuild{CallSignature{"vrn_build", kBuildParameters, 0, 5}, {}, 5, 1, true};
constexpr FunctionSpec kMint{CallSignature{"mint_uuid7", kMintParameters, 0, 2},
                             {ColumnKind::Numbers, ColumnKind::Strings}, 2, 1, true};

template <const FunctionSpec& Spec, class Kernel>
PyCFunction entry() noexcept {
    static_assert(Kernel::kOutputs == Spec.outputs);
    return method_of<column_function_body<Spec, Kernel>>();
}

}  // namespace

namespace functions {

#define VELTRANE_ERRORS_DOC                                                                          \
    "errors=\"raise\" (the default) raises ValueError(token) for the first invalid row, with a note " \
    "naming its index;\nerrors=\"null\" gives a null row instead. A null row gives a null row."

PyMethodDef vrn_error_kind = {
    "vrn_error_kind", entry<kErrorKind, rows::ErrorKind>(), kFunctionFlags,
    "vrn_error_kind(s)\n--\n\n"
    "Per row: \"\" for a valid VRN, else its error token; null for a null row."};
PyMethodDef vrn_canonicalize = {
    "vrn_canonicalize", entry<kCanonicalize, rows::Canonicalize>(), kFunctionFlags,
    "vrn_canonicalize(s, errors='raise')\n--\n\nPer row: the canonical form.\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_service = {"vrn_service", entry<kService, rows::Service>(), kFunctionFlags,
                           "vrn_service(s, errors='raise')\n--\n\nPer row: the service.\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_region = {"vrn_region", entry<kRegion, rows::Region>(), kFunctionFlags,
                          "vrn_region(s, errors='raise')\n--\n\nPer row: the region (\"\" when absent).\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_org = {"vrn_org", entry<kOrg, rows::Org>(), kFunctionFlags,
                       "vrn_org(s, errors='raise')\n--\n\nPer row: the org (\"\" when absent).\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_resource_type = {
    "vrn_resource_type", entry<kResourceType, rows::ResourceType>(), kFunctionFlags,
    "vrn_resource_type(s, errors='raise')\n--\n\nPer row: the resource type.\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_resource_id = {
    "vrn_resource_id", entry<kResourceId, rows::ResourceId>(), kFunctionFlags,
    "vrn_resource_id(s, errors='raise')\n--\n\nPer row: the resource id.\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_cedar_entity_type = {
    "vrn_cedar_entity_type", entry<kCedarEntityType, rows::CedarEntityType>(), kFunctionFlags,
    "vrn_cedar_entity_type(s, errors='raise')\n--\n\nPer row: the Cedar entity type.\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_cedar_entity_id = {
    "vrn_cedar_entity_id", entry<kCedarEntityId, rows::CedarEntityId>(), kFunctionFlags,
    "vrn_cedar_entity_id(s, errors='raise')\n--\n\nPer row: the Cedar entity id.\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_fields = {
    "vrn_fields", entry<kFields, rows::Fields>(), kFunctionFlags,
    "vrn_fields(s, errors='raise')\n--\n\n"
    "Per row, one parse: a struct of service, region, org, resource_type and resource_id.\n" VELTRANE_ERRORS_DOC};
PyMethodDef vrn_build = {
    "vrn_build", entry<kBuild, rows::Build>(), kFunctionFlags,
    "vrn_build(service, region, org, resource_type, resource_id, errors='raise')\n--\n\n"
    "Per row: the VRN built from five columns of equal length.\n" VELTRANE_ERRORS_DOC};
PyMethodDef mint_uuid7 = {
    "mint_uuid7", entry<kMint, rows::MintUuid7>(), kFunctionFlags,
    "mint_uuid7(unix_ms, rand_hex, errors='raise')\n--\n\n"
    "Per row: a UUIDv7 from a number column and a string column of equal length.\n" VELTRANE_ERRORS_DOC};

#undef VELTRANE_ERRORS_DOC

}  // namespace functions
}  // namespace veltrane::native
