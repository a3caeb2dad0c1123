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

}  // namespace

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

std::variant<TableRows, std::string> TableRows::open(bool table, const ArrowArray& array) {
    TableRows rows;
    rows.column_ = &array;
    if (!table) {
        return rows;
    }
    if (array.n_children != 1 || array.children == nullptr || array.children[0] == nullptr) {
        return std::string("a table chunk without its one column");
    }
    rows.column_ = array.children[0];
    if (array.offset < 0 || array.length < 0 || rows.column_->length < array.offset + array.length) {
        return std::string("a table chunk whose column is shorter than the table");
    }
    rows.table_ = true;
    rows.validity_ = validity_of(array);
    rows.offset_ = array.offset;
    return rows;
}

}  // namespace veltrane::arrow
