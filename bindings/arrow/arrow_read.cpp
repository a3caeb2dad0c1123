#include "arrow/arrow_read.hpp"

namespace veltrane::arrow {
namespace {

struct FormatName {
    std::string_view format;
    std::string_view name;
};

// The formats a caller is likely to hand over by mistake, by their usual names.
constexpr FormatName kFormatNames[] = {
    {"n", "null"},          {"b", "bool"},          {"c", "int8"},        {"C", "uint8"},
    {"s", "int16"},         {"S", "uint16"},        {"i", "int32"},       {"I", "uint32"},
    {"l", "int64"},         {"L", "uint64"},        {"e", "float16"},     {"f", "float32"},
    {"g", "float64"},       {"z", "binary"},        {"Z", "large_binary"}, {"vz", "binary_view"},
    {"u", "utf8"},          {"U", "large_utf8"},    {"vu", "string_view"}, {"+l", "list"},
    {"+L", "large_list"},   {"+s", "struct"},       {"+m", "map"},        {"tdD", "date32"},
    {"tdm", "date64"},
};

std::string quoted(const char* format) {
    const std::string_view text = format == nullptr ? std::string_view("?") : std::string_view(format);
    std::string out = "'" + std::string(text) + "'";
    for (const FormatName& known : kFormatNames) {
        if (known.format == text) {
            return out + " (" + std::string(known.name) + ")";
        }
    }
    if (text.starts_with("ts")) {
        return out + " (timestamp)";
    }
    if (text.starts_with("d:")) {
        return out + " (decimal)";
    }
    if (text.starts_with("w:")) {
        return out + " (fixed_size_binary)";
    }
    return out;
}

// A hand-made schema may nest without end or point back at itself: the walk
// stops at a depth and a count of nodes no real type comes near.
constexpr int kMaxSchemaDepth = 64;
constexpr std::int64_t kMaxSchemaNodes = 1 << 16;

std::optional<std::string> check_node(const ArrowSchema& schema, int depth, std::int64_t& nodes) {
    if (depth > kMaxSchemaDepth || ++nodes > kMaxSchemaNodes) {
        return std::string("nested deeper or wider than any type this module reads");
    }
    if (schema.format == nullptr) {
        return std::string("with no format string");
    }
    if (schema.n_children < 0) {
        return std::string("with a negative child count");
    }
    if (schema.n_children > 0 && schema.children == nullptr) {
        return std::string("with a child missing");
    }
    for (std::int64_t i = 0; i < schema.n_children; ++i) {
        if (schema.children[i] == nullptr) {
            return std::string("with a child missing");
        }
        if (std::optional<std::string> problem = check_node(*schema.children[i], depth + 1, nodes)) {
            return problem;
        }
    }
    if (schema.dictionary != nullptr) {
        return check_node(*schema.dictionary, depth + 1, nodes);
    }
    return std::nullopt;
}

std::optional<StringEncoding> encoding_of(std::string_view format) {
    if (format == "u") {
        return StringEncoding::Utf8;
    }
    if (format == "U") {
        return StringEncoding::LargeUtf8;
    }
    if (format == "vu") {
        return StringEncoding::View;
    }
    return std::nullopt;
}

struct NumberFormat {
    std::string_view format;
    NumberType type;
};
// Numbers: every integer and float type. Dictionary indices: the integers.
constexpr NumberFormat kNumberFormats[] = {
    {"c", NumberType::I8},  {"C", NumberType::U8},  {"s", NumberType::I16}, {"S", NumberType::U16},
    {"i", NumberType::I32}, {"I", NumberType::U32}, {"l", NumberType::I64}, {"L", NumberType::U64},
    {"e", NumberType::F16}, {"f", NumberType::F32}, {"g", NumberType::F64},
};

std::optional<NumberType> number_of(std::string_view format) {
    for (const NumberFormat& known : kNumberFormats) {
        if (known.format == format) {
            return known.type;
        }
    }
    return std::nullopt;
}

bool is_integer(NumberType type) noexcept {
    return type != NumberType::F16 && type != NumberType::F32 && type != NumberType::F64;
}

}  // namespace

std::optional<std::string> check_schema(const ArrowSchema& schema) {
    std::int64_t nodes = 0;
    if (std::optional<std::string> problem = check_node(schema, 0, nodes)) {
        return "a schema " + *problem;
    }
    return std::nullopt;
}

std::string describe_format(const ArrowSchema& schema) {
    if (schema.dictionary != nullptr) {
        return "a dictionary of " + quoted(schema.dictionary->format) + " with " + quoted(schema.format) +
               " indices";
    }
    if (std::string_view(schema.format) == "+s" && schema.n_children != 1) {
        return quoted(schema.format) + " of " + std::to_string(schema.n_children) +
               " fields (a table of one column is read as that column)";
    }
    return quoted(schema.format);
}

bool is_one_column_table(const ArrowSchema& schema) noexcept {
    return std::string_view(schema.format) == "+s" && schema.n_children == 1;
}

int number_bytes(NumberType type) noexcept {
    switch (type) {
        case NumberType::I8:
        case NumberType::U8:
            return 1;
        case NumberType::I16:
        case NumberType::U16:
        case NumberType::F16:
            return 2;
        case NumberType::I32:
        case NumberType::U32:
        case NumberType::F32:
            return 4;
        default:
            return 8;
    }
}

std::variant<ColumnLayout, std::string> column_layout(const ArrowSchema& schema, ColumnKind kind) {
    ColumnLayout layout;
    layout.kind = kind;
    const ArrowSchema* column = &schema;
    if (is_one_column_table(schema)) {
        layout.table = true;
        column = schema.children[0];
    }
    const std::string_view format(column->format);
    if (kind == ColumnKind::Numbers) {
        const std::optional<NumberType> number = number_of(format);
        if (column->dictionary != nullptr || !number) {
            return describe_format(*column);
        }
        layout.number = *number;
        return layout;
    }
    if (column->dictionary != nullptr) {
        const std::optional<NumberType> index = number_of(format);
        const std::optional<StringEncoding> values = encoding_of(column->dictionary->format);
        if (!index || !is_integer(*index) || !values || column->dictionary->dictionary != nullptr) {
            return describe_format(*column);
        }
        layout.index_bytes = number_bytes(*index);
        layout.index_signed = *index == NumberType::I8 || *index == NumberType::I16 ||
                              *index == NumberType::I32 || *index == NumberType::I64;
        layout.encoding = *values;
        return layout;
    }
    const std::optional<StringEncoding> encoding = encoding_of(format);
    if (!encoding) {
        return describe_format(*column);
    }
    layout.encoding = *encoding;
    return layout;
}

}  // namespace veltrane::arrow
