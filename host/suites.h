// Our declarations of the host suites the effect acquires, each with the name
// and version it is acquired under. Only the functions the effect calls are
// declared.
#pragma once

#include <cstdint>

#include "host/effect_api.h"

struct PF_ANSICallbacksSuite1 {
    static constexpr const char* kName = "PF ANSI Suite";
    static constexpr std::int32_t kVersion = 1;
    A_long (*sprintf)(char* buffer, const char* format, ...);
    char* (*strcpy)(char* destination, const char* source);
};

struct PF_PixelFormatSuite1 {
    static constexpr const char* kName = "PF Pixel Format Suite";
    static constexpr std::int32_t kVersion = 1;
    PF_Err (*ClearSupportedPixelFormats)(PF_ProgPtr effect_ref);
    PF_Err (*AddSupportedPixelFormat)(PF_ProgPtr effect_ref, PrPixelFormat format);
    PF_Err (*GetPixelFormat)(PF_EffectWorld* world, PrPixelFormat* format);
};

/// Calls the pixel function for every pixel of `area` (null: the output's
/// extent hint), possibly on several threads at once.
struct PF_Iterate8Suite1 {
    static constexpr const char* kName = "PF Iterate8 Suite";
    static constexpr std::int32_t kVersion = 1;
    PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld* src, const PF_Rect* area, void* refcon, PixelFunction pix_fn,
                      PF_EffectWorld* dst);
};

struct PF_iterate16Suite1 {
    static constexpr const char* kName = "PF iterate16 Suite";
    static constexpr std::int32_t kVersion = 1;
    PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld* src, const PF_Rect* area, void* refcon, PixelFunction pix_fn,
                      PF_EffectWorld* dst);
};

struct PF_WorldTransformSuite1 {
    static constexpr const char* kName = "PF World Transform Suite";
    static constexpr std::int32_t kVersion = 1;
    PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                   PF_Rect* dst_r);
    PF_Err (*copy_hq)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                      PF_Rect* src_r, PF_Rect* dst_r);
};
