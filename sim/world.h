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
    /// 16-bit ARGB; the extent hint covers the whole world.
    World(Layout layout, std::int32_t width, std::int32_t height, std::int32_t rowbytes = 0);
    World(World&&) noexcept;
    World& operator=(World&&) noexcept;
    World(const World&) = delete;
    World& operator=(const World&) = delete;
    ~World();

    Layout layout() const { return layout_; }
    std::int32_t width() const { return def_.width; }
    std::int32_t height() const { return def_.height; }
    std::int32_t rowbytes() const { return def_.rowbytes; }

    /// The record the effect receives; tests may change its extent hint and
    /// flags through it.
    PF_LayerDef& def() { return def_; }
    const PF_LayerDef& def() const { return def_; }

    void SetExtentHint(PF_Rect extent) { def_.extent_hint = extent; }
    void SetDeepFlag(bool deep);

    /// The pixel format the "PrMr" host reports for this world; by default
    /// PixelFormatOf(layout()).
    PrPixelFormat pixel_format() const { return pixel_format_; }
    void SetPixelFormat(PrPixelFormat format) { pixel_format_ = format; }

    /// Address of pixel (x, y); no bounds check beyond an assertion.
    void* PixelAddress(std::int32_t x, std::int32_t y);
    const void* PixelAddress(std::int32_t x, std::int32_t y) const;

    /// Pixel (x, y) read or written as `Pixel`, whose size must match the layout.
    template <typename Pixel>
    Pixel Get(std::int32_t x, std::int32_t y) const {
        CheckPixelSize(sizeof(Pixel));
        Pixel pixel;
        std::memcpy(&pixel, PixelAddress(x, y), sizeof pixel);
        return pixel;
    }
    template <typename Pixel>
    void Set(std::int32_t x, std::int32_t y, const Pixel& pixel) {
        CheckPixelSize(sizeof(Pixel));
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
    void CheckPixelSize(std::size_t size) const;

    Layout layout_;
    std::vector<std::byte> buffer_;
    PF_LayerDef def_{};
    PrPixelFormat pixel_format_;
};

}  // namespace sim
