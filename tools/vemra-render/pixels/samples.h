// Where a frame's samples sit in memory, described as data: the sample type,
// and for each of red, green, blue and alpha the byte offset of its sample
// from the pixel's start, with the steps from pixel to pixel and row to row.
// One description covers interleaved files (RGBA, BGR, grey read three
// times), a decoder's buffer holding extra channels, and planar raw frames
// (each offset a whole plane away, the pixel step one sample).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/vemra-render/pixels/image.h"

namespace render {

/// Channel positions in SampleLayout::offset and Image pixels.
enum Channel : int { kRed = 0, kGreen = 1, kBlue = 2, kAlpha = 3 };

/// How one frame's samples are laid out. An absent channel has offset -1:
/// reading gives full scale for alpha (opaque), writing skips it.
struct SampleLayout {
    SampleType type = SampleType::kUint8;
    std::array<std::ptrdiff_t, 4> offset{-1, -1, -1, -1};  ///< bytes, by Channel
    std::ptrdiff_t pixel_step = 0;                         ///< bytes from a pixel to the next
    std::ptrdiff_t row_step = 0;                           ///< bytes from a row to the next

    bool has(Channel channel) const { return offset[std::size_t(channel)] >= 0; }

    /// Interleaved pixels of `channels` samples, tight rows `width` pixels
    /// wide; `at` gives the sample index of red, green, blue and alpha within
    /// a pixel (-1: absent).
    static SampleLayout Interleaved(SampleType type, int width, int channels,
                                    std::array<int, 4> at);
    /// One tight plane per channel, `width` x `height` samples each;
    /// `plane` gives the plane index of red, green, blue and alpha (-1: absent).
    static SampleLayout Planar(SampleType type, int width, int height, std::array<int, 4> plane);
};

/// Read-only samples: a layout over memory someone else owns.
struct ConstSamples {
    const std::byte* data = nullptr;
    int width = 0;
    int height = 0;
    SampleLayout layout;

    /// Sample `channel` of pixel (x, y) as a float in the type's own scale
    /// (0..255, 0..65535, or the float); an absent alpha reads as full scale.
    float Sample(int x, int y, Channel channel) const;
};

/// Writable samples.
struct Samples {
    std::byte* data = nullptr;
    int width = 0;
    int height = 0;
    SampleLayout layout;

    operator ConstSamples() const { return {data, width, height, layout}; }
};

/// An Image's pixels (interleaved RGBA, tight rows) as samples.
ConstSamples SamplesOf(const Image& image);
Samples SamplesOf(Image& image);

/// A copy of `samples` as an image of the same sample type (interleaved RGBA;
/// has_alpha as the samples have it, an absent alpha opaque).
Image ToImage(const ConstSamples& samples);

}  // namespace render
