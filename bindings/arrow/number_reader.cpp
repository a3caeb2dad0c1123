#include "arrow/number_reader.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace veltrane::arrow {
namespace {

struct NumberFormat {
    std::string_view format;
    NumberType type;
};
constexpr NumberFormat kNumberFormats[] = {
    {"c", NumberType::I8},  {"C", NumberType::U8},  {"s", NumberType::I16}, {"S", NumberType::U16},
    {"i", NumberType::I32}, {"I", NumberType::U32}, {"l", NumberType::I64}, {"L", NumberType::U64},
    {"e", NumberType::F16}, {"f", NumberType::F32}, {"g", NumberType::F64},
};

template <class T>
double load_as_double(const void* base, std::int64_t index) noexcept {
    T value;
    std::memcpy(&value, static_cast<const char*>(base) + static_cast<std::size_t>(index) * sizeof(T), sizeof(T));
    // Integer to double rounds to nearest, ties to even: what float(int) does.
    return static_cast<double>(value);
}

}  // namespace

double half_to_double(std::uint16_t half) noexcept {
    const bool negative = (half & 0x8000U) != 0;
    const unsigned exponent = (half >> 10) & 0x1FU;
    const unsigned fraction = half & 0x3FFU;
    double magnitude = 0.0;
    if (exponent == 0) {
        magnitude = std::ldexp(static_cast<double>(fraction), -24);  // zero or subnormal
    } else if (exponent == 0x1F) {
        magnitude = fraction == 0 ? std::numeric_limits<double>::infinity()
                                  : std::numeric_limits<double>::quiet_NaN();
    } else {
        magnitude = std::ldexp(static_cast<double>(fraction | 0x400U), static_cast<int>(exponent) - 25);
    }
    return negative ? -magnitude : magnitude;
}

std::variant<NumberLayout, std::string> number_layout(const ArrowSchema& schema) {
    NumberLayout layout;
    const ArrowSchema* column = &schema;
    if (is_one_column_table(schema)) {
        layout.table = true;
        column = schema.children[0];
    }
    if (column->dictionary == nullptr) {
        for (const NumberFormat& known : kNumberFormats) {
            if (known.format == std::string_view(column->format)) {
                layout.type = known.type;
                return layout;
            }
        }
    }
    return describe_format(*column);
}

std::variant<NumberChunkReader, std::string> NumberChunkReader::open(const NumberLayout& layout,
                                                                     const ArrowArray& array) {
    NumberChunkReader reader;
    reader.type_ = layout.type;
    reader.length_ = array.length;
    std::variant<TableRows, std::string> rows = TableRows::open(layout.table, array);
    if (auto* error = std::get_if<std::string>(&rows)) {
        return std::move(*error);
    }
    reader.rows_ = std::get<TableRows>(rows);
    if (array.length < 0) {
        return std::string("a negative length");
    }
    const ArrowArray* column = &reader.rows_.column();
    if (column->n_buffers != 2 || column->buffers == nullptr || column->offset < 0 ||
        (column->buffers[1] == nullptr && column->length > 0)) {
        return std::string("a numeric array without its values");
    }
    reader.offset_ = column->offset;
    reader.validity_ = validity_of(*column);
    reader.values_ = column->buffers[1];
    return reader;
}

Cell NumberChunkReader::read(std::int64_t row, double& value) const noexcept {
    if (!rows_.to_column_row(row)) {
        return Cell::Null;
    }
    const std::int64_t at = offset_ + row;
    if (!bit_is_set(validity_, at)) {
        return Cell::Null;
    }
    switch (type_) {
        case NumberType::I8: value = load_as_double<std::int8_t>(values_, at); break;
        case NumberType::U8: value = load_as_double<std::uint8_t>(values_, at); break;
        case NumberType::I16: value = load_as_double<std::int16_t>(values_, at); break;
        case NumberType::U16: value = load_as_double<std::uint16_t>(values_, at); break;
        case NumberType::I32: value = load_as_double<std::int32_t>(values_, at); break;
        case NumberType::U32: value = load_as_double<std::uint32_t>(values_, at); break;
        case NumberType::I64: value = load_as_double<std::int64_t>(values_, at); break;
        case NumberType::U64: value = load_as_double<std::uint64_t>(values_, at); break;
        case NumberType::F16: {
            std::uint16_t half = 0;
            std::memcpy(&half, static_cast<const char*>(values_) + static_cast<std::size_t>(at) * 2, 2);
            value = half_to_double(half);
            break;
        }
        case NumberType::F32: value = load_as_double<float>(values_, at); break;
        case NumberType::F64: value = load_as_double<double>(values_, at); break;
    }
    return Cell::Value;
}

}  // namespace veltrane::arrow
