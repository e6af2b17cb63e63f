// Our own declarations of the host records that the effect and a host exchange
// through the After Effects effect API: the command numbers, the records
// PF_InData, PF_OutData, PF_ParamDef and PF_LayerDef, the utility callbacks and
// the basic suite. Members carry the API's published names; the layouts are
// ours, plain C-compatible records, and make no claim to match any commercial
// host's headers. This header is the whole contract between the effect and our
// stand-in host in sim/, and it stands alone: the effect ties its own pixel
// types to the records declared here in effect/pixel_binding.h.
#pragma once

#include <cstdint>

// --- Basic types -------------------------------------------------------------

using PF_Err = std::int32_t;
using PF_Cmd = std::int32_t;
using PF_Fixed = std::int32_t;  ///< 16.16 fixed point, 65536 = 1.0
using PF_ParamIndex = std::int32_t;
using PrPixelFormat = std::uint32_t;
using A_long = std::int32_t;

/// Opaque handle the host gives the effect and takes back on every callback.
struct PF_ProgressInfo;
using PF_ProgPtr = PF_ProgressInfo*;

// --- Commands the effect answers ---------------------------------------------

inline constexpr PF_Cmd PF_Cmd_ABOUT = 0;
inline constexpr PF_Cmd PF_Cmd_GLOBAL_SETUP = 1;
inline constexpr PF_Cmd PF_Cmd_PARAMS_SETUP = 4;
inline constexpr PF_Cmd PF_Cmd_RENDER = 11;

// --- Error codes the effect returns ------------------------------------------

inline constexpr PF_Err PF_Err_NONE = 0;
/// The output world has a pixel format the effect does not render.
inline constexpr PF_Err PF_Err_UNSUPPORTED_PIXEL_FORMAT = 514;
/// A suite could not be acquired or released, or the basic suite is missing.
inline constexpr PF_Err PF_Err_SUITE_UNAVAILABLE = 516;

// --- Flags ---------------------------------------------------------------------

inline constexpr std::int32_t PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1 << 8;  ///< show return_msg
inline constexpr std::int32_t PF_OutFlag_PIX_INDEPENDENT = 1 << 10;
inline constexpr std::int32_t PF_OutFlag_DEEP_COLOR_AWARE = 1 << 25;  ///< renders 16-bit worlds
/// Bit 6 of out_flags2, the one bit of that word the effect declares. These
/// declarations know it by its position only, so it is named by it.
inline constexpr std::int32_t kOutFlag2Bit6 = 1 << 6;
inline constexpr std::int32_t PF_WorldFlag_DEEP = 1 << 0;  ///< 16 bits per channel
inline constexpr std::int32_t PF_ParamFlag_CANNOT_TIME_VARY = 1 << 1;
inline constexpr std::int16_t PF_ValueDisplayFlag_PERCENT = 1 << 0;
inline constexpr std::int32_t PF_Quality_HI = 1;

/// A four-character code as the host packs it: the first character in the
/// most significant byte ("PrMr" is 0x50724D72).
constexpr std::uint32_t FourCharCode(const char (&text)[5]) {
    return (std::uint32_t(std::uint8_t(text[0])) << 24) |
           (std::uint32_t(std::uint8_t(text[1])) << 16) |
           (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

/// The application identifier that selects the pixel-format path.
inline constexpr std::int32_t kApplIdPrMr = std::int32_t(FourCharCode("PrMr"));
static_assert(kApplIdPrMr == 0x50724D72);

/// Pixel formats of the "PrMr" host: 32-bit values whose little-endian bytes
/// spell the name.
inline constexpr PrPixelFormat PrPixelFormat_BGRA_4444_8u = 0x61726762;   // "bgra"
inline constexpr PrPixelFormat PrPixelFormat_BGRA_4444_32f = 0x61724742;  // "BGra"

// --- Pixels --------------------------------------------------------------------
//
// The pixel records of the worlds a host hands over, members in the order the
// channels lie in memory, with no padding.

/// A pixel of an 8-bit world: alpha, red, green, blue; full scale 255.
struct PF_Pixel8 {
    std::uint8_t alpha, red, green, blue;
};

/// A pixel of a 16-bit world (PF_WorldFlag_DEEP): alpha, red, green, blue;
/// full scale 32768.
struct PF_Pixel16 {
    std::uint16_t alpha, red, green, blue;
};

/// A pixel of the "PrMr" host's PrPixelFormat_BGRA_4444_8u: blue, green, red,
/// alpha; full scale 255.
struct PF_Pixel_BGRA_8u {
    std::uint8_t blue, green, red, alpha;
};

/// A pixel of the "PrMr" host's PrPixelFormat_BGRA_4444_32f: blue, green, red,
/// alpha; full scale 1.0.
struct PF_Pixel_BGRA_32f {
    float blue, green, red, alpha;
};

static_assert(sizeof(PF_Pixel8) == 4 && sizeof(PF_Pixel16) == 8 && sizeof(PF_Pixel_BGRA_8u) == 4 &&
              sizeof(PF_Pixel_BGRA_32f) == 16);

/// The per-pixel function the iteration suites call: (refcon, x, y, source
/// pixel, destination pixel), returning an error code. The refcon is the
/// pointer the effect passed to the iteration; x and y are the pixel's
/// coordinates in the world. The pixels are passed untyped because the
/// iteration knows only their size: its 8-bit iteration carries PF_Pixel8 and
/// PF_Pixel_BGRA_8u pixels alike, and each function reads them as its own.
using PixelFunction = PF_Err (*)(void* refcon, A_long x, A_long y, const void* in, void* out);

// --- Worlds --------------------------------------------------------------------

struct PF_Rect {
    A_long left, top, right, bottom;
};

/// An image buffer. `data` points at the first pixel of the top row; each row
/// starts `rowbytes` bytes after the one above it (negative strides run
/// upwards in memory).
struct PF_LayerDef {
    void* data;
    A_long rowbytes;
    A_long width;
    A_long height;
    PF_Rect extent_hint;  ///< the part of the world the host wants rendered
    A_long world_flags;   ///< PF_WorldFlag_DEEP: 16 bits per channel
};
using PF_EffectWorld = PF_LayerDef;

// --- Parameters ----------------------------------------------------------------

enum PF_ParamType : std::int32_t {
    PF_Param_LAYER = 0,
    PF_Param_FIX_SLIDER = 2,
    PF_Param_CHECKBOX = 4,
    PF_Param_FLOAT_SLIDER = 10,
};

inline constexpr int PF_MAX_EFFECT_PARAM_NAME_LEN = 31;  ///< characters, without the terminator

struct PF_FloatSliderDef {
    double value;
    double phase;
    char value_desc[32];
    float valid_min, valid_max;
    float slider_min, slider_max;
    float dephault;
    std::int16_t precision;
    std::int16_t display_flags;
    std::uint32_t fs_flags;
    float curve_tolerance;
};

struct PF_FixedSliderDef {
    PF_Fixed value;
    char value_str[32];
    char value_desc[32];
    PF_Fixed valid_min, valid_max;
    PF_Fixed slider_min, slider_max;
    PF_Fixed dephault;
    std::int16_t precision;
    std::int16_t display_flags;
};

struct PF_CheckBoxDef {
    A_long value;
    char dephault;
    char reserved;
    std::int16_t reserved1;
    union {
        const char* nameptr;  ///< label beside the box
    } u;
};

union PF_ParamDefUnion {
    PF_LayerDef ld;
    PF_FloatSliderDef fs_d;
    PF_FixedSliderDef fd;
    PF_CheckBoxDef bd;
};

struct PF_ParamDef {
    union {
        A_long id;  ///< the parameter's identifier, stored by the host in projects
        A_long change_flags;
    } uu;
    A_long ui_flags;
    std::int16_t ui_width;
    std::int16_t ui_height;
    PF_ParamType param_type;
    char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    A_long flags;
    A_long unused;
    PF_ParamDefUnion u;
};
using PF_ParamList = PF_ParamDef**;

// --- Host callbacks ------------------------------------------------------------

/// The ANSI string callbacks, in the utility table and in the ANSI suite.
struct PF_ANSICallbacks {
    A_long (*sprintf)(char* buffer, const char* format, ...);
    char* (*strcpy)(char* destination, const char* source);
};

struct PF_UtilCallbacks {
    /// Copies `src` into `dst`; null rectangles mean the whole worlds.
    PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                   PF_Rect* dst_r);
    PF_ANSICallbacks ansi;
};

struct PF_InteractCallbacks {
    /// Adds one parameter definition; index -1 appends it after those added.
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);
};

/// The basic suite, through which every other suite is acquired by name and
/// version and released again.
struct SPBasicSuite {
    std::int32_t (*AcquireSuite)(const char* name, std::int32_t version, const void** suite);
    std::int32_t (*ReleaseSuite)(const char* name, std::int32_t version);
};

struct PF_InData {
    PF_InteractCallbacks inter;
    PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    A_long quality;  ///< PF_Quality_HI (1) asks for high quality
    A_long appl_id;  ///< four-character host code, kApplIdPrMr for "PrMr"
    SPBasicSuite* pica_basicP;
    A_long width, height;  ///< size of the input layer
};

inline constexpr int PF_MAX_EFFECT_MSG_LEN =
    255;  ///< characters of return_msg, without the terminator

struct PF_OutData {
    std::uint32_t my_version;
    A_long out_flags;
    A_long out_flags2;
    A_long num_params;
    char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
};

/// The effect's one exported function.
using PF_EntryPointFunc = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                     PF_ParamDef* params[], PF_LayerDef* output, void* extra);

/// Name under which the effect exports it.
inline constexpr char kEntryPointName[] = "EntryPointFunc";
