// The Iterate8 and iterate16 suites: the pixel function called once for
// every pixel of an area, its rows cut into bands across threads.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <limits>
#include <system_error>
#include <thread>

#include "sim/host_state.h"

namespace sim {
namespace {

/// Calls `pix_fn` once per pixel of `area` (null: the output's extent
/// hint), clipped to both worlds, with world coordinates. The rows are cut
/// into contiguous bands, one per thread. The result is the code of the
/// first failing pixel in row order, whatever the number of threads.
PF_Err Iterate(Service service, std::size_t pixel_bytes, const PF_InData* in_data,
               PF_EffectWorld* src, const PF_Rect* area, void* refcon, PixelCallback pix_fn,
               PF_EffectWorld* dst) {
    Call call(service, nullptr, in_data);
    if (!call.ok()) return kErrOutsideCommand;
    if (const PF_Err failure = call.InjectedFailure()) return failure;
    HostState& state = call.state();
    const World* from = state.WorldFor(src);
    World* to = state.WorldFor(dst);
    if (from == nullptr || to == nullptr || pix_fn == nullptr) {
        call.Violation(std::string(call.name()) +
                       (pix_fn == nullptr ? " with a null pixel function"
                                          : " of a world this command did not hand out"));
        return kErrBadCallbackParam;
    }
    if (BytesPerPixel(from->layout()) != pixel_bytes ||
        BytesPerPixel(to->layout()) != pixel_bytes) {
        call.Violation(std::string(call.name()) + " carries " + std::to_string(pixel_bytes) +
                       "-byte pixels, not " + LayoutName(from->layout()) + " to " +
                       LayoutName(to->layout()));
        return kErrBadCallbackParam;
    }
    const Span64 r = Widen(area != nullptr ? *area : dst->extent_hint);
    const std::int64_t left = std::max<std::int64_t>(r.left, 0);
    const std::int64_t top = std::max<std::int64_t>(r.top, 0);
    const std::int64_t right = std::min<std::int64_t>({r.right, from->width(), to->width()});
    const std::int64_t bottom = std::min<std::int64_t>({r.bottom, from->height(), to->height()});
    if (left >= right || top >= bottom) return PF_Err_NONE;

    const std::int64_t rows = bottom - top;
    const int bands = int(std::min<std::int64_t>(state.threads, rows));
    // Each band writes only its own slot; the slots are read after the joins.
    std::vector<PF_Err> results(std::size_t(bands), PF_Err_NONE);
    // Lowest row that failed so far: a band past it cannot win and stops.
    std::atomic<std::int64_t> first_failed_row{std::numeric_limits<std::int64_t>::max()};
    // Each row's first pixel is located once in both worlds (each with its
    // own stride); the rest of the row follows one pixel size apart, the
    // clipping above keeping every pixel inside both rows. The row loop
    // takes everything it needs as arguments, with the pixel size as a
    // constant, so that it all stays in registers across the calls.
    const auto iterate_row = []<std::ptrdiff_t kStep>(PixelCallback function, void* constant,
                                                      std::int32_t x, std::int32_t end_x,
                                                      std::int32_t y, const std::byte* in,
                                                      std::byte* out) -> PF_Err {
        for (; x < end_x; ++x, in += kStep, out += kStep) {
            const PF_Err code = function(constant, x, y, in, out);
            if (code != PF_Err_NONE) [[unlikely]] {
                return code;
            }
        }
        return PF_Err_NONE;
    };
    const auto first = std::int32_t(left), last = std::int32_t(right);
    auto run_band = [&](int band) {
        const std::int64_t begin = top + rows * band / bands;
        const std::int64_t end = top + rows * (band + 1) / bands;
        for (std::int64_t y = begin; y < end; ++y) {
            if (first_failed_row.load(std::memory_order_relaxed) < y) return;
            const auto yi = std::int32_t(y);
            const auto* in = static_cast<const std::byte*>(from->PixelAddress(first, yi));
            auto* out = static_cast<std::byte*>(to->PixelAddress(first, yi));
            // pixel_bytes is one of the two sizes the suites carry.
            const PF_Err code = pixel_bytes == sizeof(PF_Pixel16)
                                    ? iterate_row.operator()<sizeof(PF_Pixel16)>(
                                          pix_fn, refcon, first, last, yi, in, out)
                                    : iterate_row.operator()<sizeof(PF_Pixel8)>(
                                          pix_fn, refcon, first, last, yi, in, out);
            if (code != PF_Err_NONE) {
                results[std::size_t(band)] = code;
                std::int64_t seen = first_failed_row.load(std::memory_order_relaxed);
                while (y < seen && !first_failed_row.compare_exchange_weak(
                                       seen, y, std::memory_order_relaxed)) {
                }
                return;
            }
        }
    };

    HostState* host = &state;
    std::vector<std::thread> workers;
    std::vector<int> on_this_thread{0};
    for (int band = 1; band < bands; ++band) {
        try {
            workers.emplace_back([&run_band, host, band] {
                ActiveScope active(host);
                run_band(band);
            });
        } catch (const std::system_error&) {
            on_this_thread.push_back(band);  // no thread to be had: do it here
        }
    }
    for (int band : on_this_thread) run_band(band);
    for (std::thread& worker : workers) worker.join();

    for (PF_Err code : results) {
        if (code != PF_Err_NONE) return code;
    }
    return PF_Err_NONE;
}

}  // namespace

PF_Err Iterate8(PF_InData* in_data, A_long, A_long, PF_EffectWorld* src, const PF_Rect* area,
                void* refcon, PixelCallback pix_fn, PF_EffectWorld* dst) {
    return Iterate(Service::kIterate8, sizeof(PF_Pixel8), in_data, src, area, refcon, pix_fn, dst);
}
PF_Err Iterate16(PF_InData* in_data, A_long, A_long, PF_EffectWorld* src, const PF_Rect* area,
                 void* refcon, PixelCallback pix_fn, PF_EffectWorld* dst) {
    return Iterate(Service::kIterate16, sizeof(PF_Pixel16), in_data, src, area, refcon, pix_fn,
                   dst);
}

}  // namespace sim
