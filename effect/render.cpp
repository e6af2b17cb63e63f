// Command 11: one output frame from the input layer. Opacity 0 copies the
// input; otherwise every pixel goes through the adapter that matches the
// output world's layout, by the host's iteration suites or, for 32-bit float
// BGRA, by the effect's own row walker. The adapters come from the fastest set
// the processor runs (FastestAdapterSet): every set gives the same bits. They
// reach the host as its per-pixel functions through pixel_binding.h.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "color/adapters.h"
#include "effect/commands.h"
#include "effect/iterate_rows.h"
#include "effect/parameters.h"
#include "effect/pixel_binding.h"
#include "host/suite_table.h"

namespace vemra {
namespace {

/// Rows of the output's extent hint, bottom - top, as a signed 32-bit count.
/// Formed in 64 bits and saturated, so a hostile extent cannot overflow it.
A_long LineCount(const PF_LayerDef& output) {
    const std::int64_t lines = static_cast<std::int64_t>(output.extent_hint.bottom) -
                               static_cast<std::int64_t>(output.extent_hint.top);
    return static_cast<A_long>(std::clamp<std::int64_t>(lines, std::numeric_limits<A_long>::min(),
                                                        std::numeric_limits<A_long>::max()));
}

/// Opacity 0: the output is a plain copy of the input, made by the host.
PF_Err CopyInput(PF_InData* in_data, HostSuiteTable& suites, PF_LayerDef* source,
                 PF_LayerDef* output) {
    if (in_data->appl_id == kApplIdPrMr) {
        return in_data->utils->copy(in_data->effect_ref, source, output, nullptr, nullptr);
    }
    const PF_WorldTransformSuite1* transform = suites.Get<PF_WorldTransformSuite1>();
    if (in_data->quality == PF_Quality_HI) {
        return transform->copy_hq(in_data->effect_ref, source, output, nullptr, nullptr);
    }
    return transform->copy(in_data->effect_ref, source, output, nullptr, nullptr);
}

/// Holds the Pixel Format suite, which lives outside the suite table, and
/// releases it on every way out: explicitly, with the result reported, or by
/// the destructor when a suite table raises on the way.
class PixelFormatSuiteHold {
  public:
    PixelFormatSuiteHold(PF_InData* in_data, PF_OutData* out_data)
        : in_data_(in_data), out_data_(out_data) {
        acquire_result_ = AcquireHostSuite(in_data_, out_data_, &suite_);
    }
    ~PixelFormatSuiteHold() {
        if (suite_ != nullptr) Release();
    }
    PixelFormatSuiteHold(const PixelFormatSuiteHold&) = delete;
    PixelFormatSuiteHold& operator=(const PixelFormatSuiteHold&) = delete;

    PF_Err acquire_result() const { return acquire_result_; }
    const PF_PixelFormatSuite1* operator->() const { return suite_; }

    /// Releases the suite; 516 with the host message if the basic suite is gone.
    PF_Err Release() {
        suite_ = nullptr;
        return ReleaseHostSuite<PF_PixelFormatSuite1>(in_data_, out_data_);
    }

  private:
    PF_InData* in_data_;
    PF_OutData* out_data_;
    const PF_PixelFormatSuite1* suite_ = nullptr;
    PF_Err acquire_result_;
};

/// The "PrMr" host: the output world's pixel format chooses the adapter.
PF_Err RenderByPixelFormat(PF_InData* in_data, PF_OutData* out_data, HostSuiteTable& suites,
                           const HostPixelFunctions& pixels, TemperatureSettings& settings,
                           A_long lines, PF_LayerDef* source, PF_LayerDef* output) {
    PixelFormatSuiteHold formats(in_data, out_data);
    if (formats.acquire_result() != PF_Err_NONE) return formats.acquire_result();

    // A host that answers 0 without writing the code gets the 8-bit path. A
    // host that answers with an error has told us no format: that is a failure.
    PrPixelFormat format = PrPixelFormat_BGRA_4444_8u;
    const PF_Err format_result = formats->GetPixelFormat(output, &format);
    if (format_result != PF_Err_NONE) {
        formats.Release();
        return format_result;
    }

    PF_Err pass_result = PF_Err_NONE;
    switch (format) {
        case PrPixelFormat_BGRA_4444_32f:
            IterateRowsBgraFloat(0, lines, source, &settings, pixels.bgra_32f, output);
            break;
        case PrPixelFormat_BGRA_4444_8u:
            // A failed pass is the command's result: never reported as success.
            pass_result = suites.Get<PF_Iterate8Suite1>()->iterate(
                in_data, 0, lines, source, nullptr, &settings, pixels.bgra_8u, output);
            break;
        default:
            formats.Release();
            return PF_Err_UNSUPPORTED_PIXEL_FORMAT;
    }
    const PF_Err release_result = formats.Release();
    return pass_result != PF_Err_NONE ? pass_result : release_result;
}

}  // namespace

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
              PF_LayerDef* output) {
    HostSuiteTable suites(in_data->pica_basicP);
    const A_long lines = LineCount(*output);
    TemperatureSettings settings = SettingsFromParams(params);
    PF_LayerDef* source = &params[kParamInput]->u.ld;

    // Only an exact zero copies: 0.5 % still processes every pixel.
    if (settings.mix == 0.0f) return CopyInput(in_data, suites, source, output);

    // Chosen per render from what the processor reports; nothing is kept.
    const HostPixelFunctions pixels = ForHost(FastestAdapterSet());
    if (in_data->appl_id == kApplIdPrMr) {
        return RenderByPixelFormat(in_data, out_data, suites, pixels, settings, lines, source,
                                   output);
    }
    if ((output->world_flags & PF_WorldFlag_DEEP) != 0) {
        return suites.Get<PF_iterate16Suite1>()->iterate(in_data, 0, lines, source, nullptr,
                                                         &settings, pixels.pixel16, output);
    }
    return suites.Get<PF_Iterate8Suite1>()->iterate(in_data, 0, lines, source, nullptr, &settings,
                                                    pixels.pixel8, output);
}

}  // namespace vemra
