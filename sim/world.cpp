// Host-owned images: one exactly sized buffer per world, rows top-down or
// bottom-up with any stride, and the PF_LayerDef record the effect sees.
#include "sim/world.h"

#include <cassert>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>

namespace sim {

std::size_t BytesPerPixel(Layout layout) {
    switch (layout) {
        case Layout::kArgb8:
            return sizeof(PF_Pixel8);
        case Layout::kArgb16:
            return sizeof(PF_Pixel16);
        case Layout::kBgra8:
            return sizeof(PF_Pixel_BGRA_8u);
        case Layout::kBgraFloat:
            return sizeof(PF_Pixel_BGRA_32f);
    }
    return 0;
}

const char* LayoutName(Layout layout) {
    switch (layout) {
        case Layout::kArgb8:
            return "argb8";
        case Layout::kArgb16:
            return "argb16";
        case Layout::kBgra8:
            return "bgra8";
        case Layout::kBgraFloat:
            return "bgra-float";
    }
    return "unknown";
}

namespace {

/// Packs four characters so that the little-endian bytes of the value spell
/// them, the way the "PrMr" host names its pixel formats.
constexpr PrPixelFormat LittleEndianCode(const char (&text)[5]) {
    return PrPixelFormat(std::uint8_t(text[0])) | (PrPixelFormat(std::uint8_t(text[1])) << 8) |
           (PrPixelFormat(std::uint8_t(text[2])) << 16) |
           (PrPixelFormat(std::uint8_t(text[3])) << 24);
}

static_assert(LittleEndianCode("bgra") == PrPixelFormat_BGRA_4444_8u);
static_assert(LittleEndianCode("BGra") == PrPixelFormat_BGRA_4444_32f);

}  // namespace

PrPixelFormat PixelFormatOf(Layout layout) {
    switch (layout) {
        case Layout::kArgb8:
            return LittleEndianCode("argb");  // not a format the effect renders
        case Layout::kArgb16:
            return LittleEndianCode("ar16");  // nor this one
        case Layout::kBgra8:
            return PrPixelFormat_BGRA_4444_8u;
        case Layout::kBgraFloat:
            return PrPixelFormat_BGRA_4444_32f;
    }
    return 0;
}

World::World(Layout layout, std::int32_t width, std::int32_t height, std::int32_t rowbytes)
    : layout_(layout), pixel_format_(PixelFormatOf(layout)) {
    if (width < 0 || height < 0) {
        throw std::invalid_argument("world size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " is negative");
    }
    const std::int64_t row_length = std::int64_t(width) * std::int64_t(BytesPerPixel(layout));
    if (row_length > INT32_MAX) {
        throw std::invalid_argument("world width " + std::to_string(width) +
                                    " does not fit a 32-bit row stride");
    }
    const std::int64_t stride = rowbytes == 0 ? row_length : std::int64_t(rowbytes);
    const std::int64_t abs_stride = stride < 0 ? -stride : stride;
    if (abs_stride < row_length) {
        throw std::invalid_argument("row stride " + std::to_string(rowbytes) +
                                    " cannot hold a row of " + std::to_string(row_length) +
                                    " bytes");
    }
    width_ = width;
    height_ = height;
    rowbytes_ = std::int32_t(stride);
    buffer_.resize(std::size_t(abs_stride) * std::size_t(height));
    // Bottom-up: the top row is the last one in memory.
    top_row_ = stride < 0 && height > 0 ? std::ptrdiff_t(abs_stride) * (height - 1) : 0;

    def_.data = buffer_.empty() ? nullptr : buffer_.data() + top_row_;
    def_.rowbytes = rowbytes_;
    def_.width = width_;
    def_.height = height_;
    def_.extent_hint = PF_Rect{0, 0, width_, height_};
    def_.world_flags = layout == Layout::kArgb16 ? PF_WorldFlag_DEEP : 0;
}

World::World(World&& other) noexcept
    : layout_(other.layout_),
      width_(other.width_),
      height_(other.height_),
      rowbytes_(other.rowbytes_),
      top_row_(other.top_row_),
      buffer_(std::move(other.buffer_)),
      def_(other.def_),
      pixel_format_(other.pixel_format_) {
    // The heap block moved with the vector, so def_.data still points into it.
    other.buffer_.clear();
    other.def_.data = nullptr;
}

World& World::operator=(World&& other) noexcept {
    if (this != &other) {
        layout_ = other.layout_;
        width_ = other.width_;
        height_ = other.height_;
        rowbytes_ = other.rowbytes_;
        top_row_ = other.top_row_;
        buffer_ = std::move(other.buffer_);
        def_ = other.def_;
        pixel_format_ = other.pixel_format_;
        other.buffer_.clear();
        other.def_.data = nullptr;
    }
    return *this;
}

World::~World() = default;

void World::SetDeepFlag(bool deep) {
    if (deep) {
        def_.world_flags |= PF_WorldFlag_DEEP;
    } else {
        def_.world_flags &= ~PF_WorldFlag_DEEP;
    }
}

std::ptrdiff_t World::Offset(std::int32_t x, std::int32_t y) const {
    assert(x >= 0 && x < width_ && y >= 0 && y < height_);
    return top_row_ + std::ptrdiff_t(y) * rowbytes_ +
           std::ptrdiff_t(x) * std::ptrdiff_t(BytesPerPixel(layout_));
}

void* World::PixelAddress(std::int32_t x, std::int32_t y) {
    if (buffer_.empty()) return nullptr;
    return buffer_.data() + Offset(x, y);
}

const void* World::PixelAddress(std::int32_t x, std::int32_t y) const {
    if (buffer_.empty()) return nullptr;
    return buffer_.data() + Offset(x, y);
}

void World::FillRandom(std::uint32_t seed) {
    // mt19937 is fully specified, so a seed gives the same bytes everywhere.
    std::mt19937 generator(seed);
    for (std::byte& b : buffer_) b = std::byte(generator() & 0xFFu);
}

bool World::SamePixels(const World& other) const {
    if (layout_ != other.layout_ || width_ != other.width_ || height_ != other.height_) {
        return false;
    }
    const std::size_t row_length = std::size_t(width_) * BytesPerPixel(layout_);
    for (std::int32_t y = 0; y < height_ && row_length > 0; ++y) {
        if (std::memcmp(PixelAddress(0, y), other.PixelAddress(0, y), row_length) != 0) {
            return false;
        }
    }
    return true;
}

void World::CheckPixel(std::size_t size, std::int32_t x, std::int32_t y) const {
    if (size != BytesPerPixel(layout_)) {
        throw std::logic_error(std::string("a pixel of ") + std::to_string(size) +
                               " bytes does not fit a " + LayoutName(layout_) + " world");
    }
    if (x < 0 || x >= width_ || y < 0 || y >= height_) {
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                ") is outside a " + std::to_string(width_) + " x " +
                                std::to_string(height_) + " world");
    }
}

}  // namespace sim
