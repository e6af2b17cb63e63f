// Command 1: the effect's version and capabilities, and in the "PrMr" host the
// two pixel formats it renders, float first.
#include "effect/commands.h"
#include "host/suite_table.h"
#include "resources/plugin_identity.h"

namespace vemra {

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
    // Written first, in every host, before anything can fail.
    out_data->my_version = kVersionWord;
    out_data->out_flags = kOutFlags;
    out_data->out_flags2 = kOutFlags2;

    if (in_data->appl_id != kApplIdPrMr) return PF_Err_NONE;

    // A failure here shows only as the host message that AcquireHostSuite and
    // ReleaseHostSuite set; set-up itself still succeeds.
    const PF_PixelFormatSuite1* formats = nullptr;
    if (AcquireHostSuite(in_data, out_data, &formats) != PF_Err_NONE) return PF_Err_NONE;
    formats->ClearSupportedPixelFormats(in_data->effect_ref);
    formats->AddSupportedPixelFormat(in_data->effect_ref, PrPixelFormat_BGRA_4444_32f);
    formats->AddSupportedPixelFormat(in_data->effect_ref, PrPixelFormat_BGRA_4444_8u);
    ReleaseHostSuite<PF_PixelFormatSuite1>(in_data, out_data);
    return PF_Err_NONE;
}

}  // namespace vemra
