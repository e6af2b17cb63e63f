// Images owned by the stand-in host: a pixel buffer in one of the four layouts,
// with any row stride (tight, padded or negative), and the PF_LayerDef record
// through which the effect sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "host/effect_api.h"

namespace sim {

enum class Layout { kArgb8, kArgb16, kBgra8, kBgraFloat };

/// Bytes one pixel of `layout` takes.
std::size_t BytesPerPixel(Layout layout);
/// A short name for messages: "argb8", "argb16", "bgra8", "bgra-float".
const char* LayoutName(Layout layout);
/// What the "PrMr" host answers when asked for a world's pixel format. The two
/// BGRA layouts answer "bgra" and "BGra"; the ARGB layouts answer codes of
/// their own that the effect does not render.
PrPixelFormat PixelFormatOf(Layout layout);

/// A host-owned image. Move-only: the PF_LayerDef points into the buffer.
class World {
  public:
    /// `rowbytes` 0 means tight rows; a larger value pads each row; a negative
    /// value stores the rows bottom-up, `data` pointing at the top row at the
    /// end of the buffer. |rowbytes| must hold a row. The deep flag is set for
    /// 16-bit ARGB; the extent hint covers the whole world. The buffer is
    /// exactly |rowbytes| * height bytes, so a sanitizer sees any access
    /// outside it. Throws std::invalid_argument for a negative size or a
    /// stride too short for a row.
    World(Layout layout, std::int32_t width, std::int32_t height, std::int32_t rowbytes = 0);
    World(World&&) noexcept;
    World& operator=(World&&) noexcept;
    World(const World&) = delete;
    World& operator=(const World&) = delete;
    ~World();

    Layout layout() const { return layout_; }
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    std::int32_t rowbytes() const { return rowbytes_; }

    /// The record the effect receives; tests may change its extent hint and
    /// flags through it. The host's own services take the geometry (data,
    /// size, stride) from the World itself, never from this record, so an
    /// effect that scribbles on it cannot make the host step outside the buffer.
    PF_LayerDef& def() { return def_; }
    const PF_LayerDef& def() const { return def_; }

    void SetExtentHint(PF_Rect extent) { def_.extent_hint = extent; }
    void SetDeepFlag(bool deep);

    /// The pixel format the "PrMr" host reports for this world; by default
    /// PixelFormatOf(layout()).
    PrPixelFormat pixel_format() const { return pixel_format_; }
    void SetPixelFormat(PrPixelFormat format) { pixel_format_ = format; }

    /// Address of pixel (x, y); no bounds check beyond an assertion (and
    /// nullptr for a world without pixels).
    void* PixelAddress(std::int32_t x, std::int32_t y);
    const void* PixelAddress(std::int32_t x, std::int32_t y) const;

    /// Pixel (x, y) read or written as `Pixel`, whose size must match the
    /// layout; std::logic_error for a wrong size, std::out_of_range for a
    /// pixel outside the world.
    template <typename Pixel>
    Pixel Get(std::int32_t x, std::int32_t y) const {
        CheckPixel(sizeof(Pixel), x, y);
        Pixel pixel;
        std::memcpy(&pixel, PixelAddress(x, y), sizeof pixel);
        return pixel;
    }
    template <typename Pixel>
    void Set(std::int32_t x, std::int32_t y, const Pixel& pixel) {
        CheckPixel(sizeof(Pixel), x, y);
        std::memcpy(PixelAddress(x, y), &pixel, sizeof pixel);
    }

    /// The whole buffer, row padding included, for checks that nothing
    /// outside the pixels changed.
    std::span<std::byte> buffer() { return buffer_; }
    std::span<const std::byte> buffer() const { return buffer_; }

    /// Fills every byte of the buffer (padding included) from a seeded
    /// generator, so a test can see which bytes a render changed.
    void FillRandom(std::uint32_t seed);

    /// True when both worlds have the same layout and size and the same bytes
    /// in every pixel (padding not compared).
    bool SamePixels(const World& other) const;

  private:
    void CheckPixel(std::size_t size, std::int32_t x, std::int32_t y) const;
    std::ptrdiff_t Offset(std::int32_t x, std::int32_t y) const;

    Layout layout_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int32_t rowbytes_ = 0;
    std::ptrdiff_t top_row_ = 0;  ///< byte offset of row 0 in the buffer
    std::vector<std::byte> buffer_;
    PF_LayerDef def_{};
    PrPixelFormat pixel_format_;
};

}  // namespace sim
