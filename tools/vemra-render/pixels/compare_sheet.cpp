#include "tools/vemra-render/pixels/compare_sheet.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace render {

namespace {

/// 5 x 7 glyphs of the letters the labels use, one row a byte, bit 4 leftmost.
struct Glyph {
    char letter;
    std::array<std::uint8_t, 7> rows;
};
constexpr std::array<Glyph, 7> kGlyphs{{
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
}};

/// Fills the rectangle with an opaque grey of `level` (0..1).
void FillGrey(Image& sheet, int left, int top, int right, int bottom, float level) {
    const float full = FullScale(sheet.type);
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            for (int c = 0; c < 3; ++c) sheet.SetSample(x, y, c, level * full);
            sheet.SetSample(x, y, 3, full);
        }
    }
}

/// Draws `text` with its top-left corner at (left, top), each glyph dot a
/// `scale` x `scale` square, clipped to the sheet.
void DrawText(Image& sheet, std::string_view text, int left, int top, int scale, float level) {
    for (char letter : text) {
        const auto glyph = std::find_if(kGlyphs.begin(), kGlyphs.end(),
                                        [letter](const Glyph& g) { return g.letter == letter; });
        if (glyph != kGlyphs.end()) {
            for (int gy = 0; gy < 7; ++gy) {
                for (int gx = 0; gx < 5; ++gx) {
                    if ((glyph->rows[std::size_t(gy)] >> (4 - gx) & 1) == 0) continue;
                    const int x0 = left + gx * scale;
                    const int y0 = top + gy * scale;
                    FillGrey(sheet, std::min(x0, sheet.width), std::min(y0, sheet.height),
                             std::min(x0 + scale, sheet.width), std::min(y0 + scale, sheet.height),
                             level);
                }
            }
        }
        left += 6 * scale;
    }
}

void CopyInto(Image& sheet, const Image& image, int left, int top) {
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(sheet.PixelAddress(left, top + y), image.PixelAddress(0, y), image.RowBytes());
    }
}

}  // namespace

Image MakeCompareSheet(const Image& before, const Image& after) {
    if (before.width != after.width || before.height != after.height || before.type != after.type) {
        throw std::invalid_argument("a compare sheet needs two images of one size and type");
    }
    const int width = before.width;
    const int gap = std::max(4, width / 64);
    const int scale = std::max(1, std::min(before.height, width) / 160);
    const int strip = 11 * scale;
    Image sheet = Image::Blank(2 * width + gap, strip + before.height, before.type,
                               before.has_alpha || after.has_alpha);
    FillGrey(sheet, 0, 0, sheet.width, strip, 0.12f);
    FillGrey(sheet, width, strip, width + gap, sheet.height, 0.5f);
    DrawText(sheet, "BEFORE", 2 * scale, 2 * scale, scale, 0.9f);
    DrawText(sheet, "AFTER", width + gap + 2 * scale, 2 * scale, scale, 0.9f);
    CopyInto(sheet, before, 0, strip);
    CopyInto(sheet, after, width + gap, strip);
    return sheet;
}

}  // namespace render
