// An image as the tool holds it between a file (or a raw video frame) and the
// host's worlds: interleaved red, green, blue, alpha in one of three sample
// types, with a note of whether the source had an alpha channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace render {

/// The most pixels an image may have unless --max-pixels says otherwise:
/// 8192 x 8192. Larger ones are refused before their pixels are read.
inline constexpr std::uint64_t kDefaultMaxPixels = 8192ull * 8192ull;

/// How the samples of an Image are stored. Half files are held as float:
/// every half value converts to float exactly.
enum class SampleType { kUint8, kUint16, kFloat };

/// Bytes one sample of `type` takes: 1, 2 or 4.
std::size_t SampleBytes(SampleType type);
/// "uint8", "uint16" or "float", for messages.
std::string_view SampleTypeName(SampleType type);
/// Full scale of a sample type in its own scale: 255, 65535 or 1.0, an
/// opaque alpha. The one place these numbers are written.
constexpr float FullScale(SampleType type) {
    return type == SampleType::kUint8 ? 255.0f : type == SampleType::kUint16 ? 65535.0f : 1.0f;
}

/// Interleaved RGBA pixels, four samples a pixel, top row first, rows tight.
/// An image read from a file without alpha carries an opaque alpha here and
/// `has_alpha` false, so it is written back without one.
struct Image {
    int width = 0;
    int height = 0;
    SampleType type = SampleType::kUint8;
    bool has_alpha = true;
    std::vector<std::byte> pixels;  ///< width * height * 4 * SampleBytes(type)

    /// A zero-filled image of the given size and type.
    static Image Blank(int width, int height, SampleType type, bool has_alpha = true);
    /// Makes this image `width` x `height` of `type`, keeping its buffer when
    /// it is large enough (the samples are then left as they were), so one
    /// image can serve frame after frame without a new allocation.
    void Reshape(int new_width, int new_height, SampleType new_type, bool new_has_alpha);

    std::size_t PixelBytes() const { return 4 * SampleBytes(type); }
    std::size_t RowBytes() const { return std::size_t(width) * PixelBytes(); }

    /// Address of pixel (x, y); no bounds check.
    std::byte* PixelAddress(int x, int y) {
        return pixels.data() + std::size_t(y) * RowBytes() + std::size_t(x) * PixelBytes();
    }
    const std::byte* PixelAddress(int x, int y) const {
        return pixels.data() + std::size_t(y) * RowBytes() + std::size_t(x) * PixelBytes();
    }

    /// Sample `channel` (0 red, 1 green, 2 blue, 3 alpha) of pixel (x, y) as
    /// a float in the file's own scale: 0..255, 0..65535 or the float itself.
    float Sample(int x, int y, int channel) const;
    /// Stores `value` (same scale) into sample `channel` of pixel (x, y); an
    /// integer type takes the value rounded to nearest and clipped to its range.
    void SetSample(int x, int y, int channel, float value);
};

}  // namespace render
