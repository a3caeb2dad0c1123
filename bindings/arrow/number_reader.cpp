#include "arrow/number_reader.hpp"

#include <cmath>
#include <limits>

namespace veltrane::arrow {
namespace {

template <class T>
double load_as_double(const void* base, std::int64_t index) noexcept {
    // Integer to double rounds to nearest, ties to even: what float(int) does.
    return static_cast<double>(load<T>(base, index));
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

NumberChunkReader::NumberChunkReader(const ChunkView& view) noexcept
    : type_(view.layout.number),
      length_(view.length),
      table_validity_(view.table_validity),
      table_offset_(view.table_offset),
      offset_(view.column_offset),
      validity_(view.column_validity),
      values_(view.column_values) {}

Cell NumberChunkReader::read(std::int64_t row, double& value) const noexcept {
    const std::int64_t in_column = table_offset_ + row;
    if (!bit_is_set(table_validity_, in_column)) {
        return Cell::Null;
    }
    if (!bit_is_set(validity_, offset_ + in_column)) {
        return Cell::Null;
    }
    return read_valid(row, value);
}

Cell NumberChunkReader::read_valid(std::int64_t row, double& value) const noexcept {
    const std::int64_t at = offset_ + table_offset_ + row;
    switch (type_) {
        case NumberType::I8: value = load_as_double<std::int8_t>(values_, at); break;
        case NumberType::U8: value = load_as_double<std::uint8_t>(values_, at); break;
        case NumberType::I16: value = load_as_double<std::int16_t>(values_, at); break;
        case NumberType::U16: value = load_as_double<std::uint16_t>(values_, at); break;
        case NumberType::I32: value = load_as_double<std::int32_t>(values_, at); break;
        case NumberType::U32: value = load_as_double<std::uint32_t>(values_, at); break;
        case NumberType::I64: value = load_as_double<std::int64_t>(values_, at); break;
        case NumberType::U64: value = load_as_double<std::uint64_t>(values_, at); break;
        case NumberType::F16: value = half_to_double(load<std::uint16_t>(values_, at)); break;
        case NumberType::F32: value = load_as_double<float>(values_, at); break;
        case NumberType::F64: value = load_as_double<double>(values_, at); break;
    }
    return Cell::Value;
}

}  // namespace veltrane::arrow
