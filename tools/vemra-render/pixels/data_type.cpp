#include "tools/vemra-render/pixels/data_type.h"

#include <array>

namespace render {

namespace {

constexpr std::array<std::string_view, 6> kNames = {"uint8",  "uint10", "uint12",
                                                    "uint16", "half",   "float"};

/// Bits of an integer type; 0 for half and float.
int IntegerBits(DataType type) {
    switch (type) {
        case DataType::kUint8:
            return 8;
        case DataType::kUint10:
            return 10;
        case DataType::kUint12:
            return 12;
        case DataType::kUint16:
            return 16;
        default:
            return 0;
    }
}

}  // namespace

std::string_view DataTypeName(DataType type) {
    return kNames[std::size_t(type)];
}

std::string DataTypeNames() {
    std::string names;
    for (std::string_view name : kNames) {
        if (!names.empty()) names += '|';
        names += name;
    }
    return names;
}

std::optional<DataType> ParseDataType(std::string_view text) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == text) return DataType(i);
    }
    return std::nullopt;
}

bool Holds(DataType wide, DataType narrow) {
    if (wide == narrow || wide == DataType::kFloat) return true;
    const int narrow_bits = IntegerBits(narrow);
    if (wide == DataType::kHalf) return narrow_bits != 0 && narrow_bits <= 10;
    return narrow_bits != 0 && IntegerBits(wide) >= narrow_bits;
}

SampleType SampleTypeOf(DataType type) {
    switch (type) {
        case DataType::kUint8:
            return SampleType::kUint8;
        case DataType::kHalf:
        case DataType::kFloat:
            return SampleType::kFloat;
        default:
            return SampleType::kUint16;
    }
}

DataType DataTypeOf(SampleType type) {
    switch (type) {
        case SampleType::kUint8:
            return DataType::kUint8;
        case SampleType::kUint16:
            return DataType::kUint16;
        case SampleType::kFloat:
            return DataType::kFloat;
    }
    return DataType::kFloat;
}

}  // namespace render
