// A small effect whose only purpose is to exercise the stand-in host through
// EntryPointFunc, the way a real effect reaches it.
//
// It is told what to do by a script that the test writes into
// out_data->return_msg before the command (the host never clears out_data):
// verbs separated by ';', arguments by ','. It answers in the same buffer, one
// group of space-separated results per verb, groups separated by ';'.
//
//   release,NAME,VERSION   -> "code"; "nobasic"
//   getformat,out|in|null  -> "code format" (format starts as 0xDEADBEEF)
//   iterate8 / iterate16 [,area,L,T,R,B] [,failcol,X,BASE] [,fail,X,Y,CODE]
//                          -> "code calls mismatches"
//   copy / copy_hq / utils.copy [,rects,SL,ST,SR,SB,DL,DT,DR,DB] -> "code"
//   sprintf,N              formats N 's' characters into return_msg and keeps
//                          them there; the call's result goes to out_flags2
//   strcpy,N               -> "length field-after-name-intact"
//   add_param,INDEX[,TYPE] -> "code" (a float slider, or a TYPE, at that index)
//   add_param_foreign_ref  -> "code" (add_param with a handle not the host's)
//   declare[,num,N]        declares four controls (two float sliders, a fixed
//                          slider, a checkbox) and sets num_params (to N if
//                          given); the command returns the first failing
//                          add_param code
//
// Suites that a verb needs are acquired and released around the verb.
// Command 4 without a declare verb declares the four controls and leaves
// return_msg alone, so a render's script survives the parameter set-up a host
// runs before it.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "host/effect_api.h"
#include "host/suites.h"

#if defined(_WIN32)
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using Words = std::vector<std::string>;

std::vector<Words> ParseScript(const std::string& text) {
    std::vector<Words> verbs;
    std::stringstream all(text);
    std::string verb;
    while (std::getline(all, verb, ';')) {
        Words words;
        std::stringstream parts(verb);
        std::string word;
        while (std::getline(parts, word, ',')) words.push_back(word);
        if (!words.empty()) verbs.push_back(words);
    }
    return verbs;
}

long Arg(const Words& words, std::size_t index, long fallback = 0) {
    return index < words.size() ? std::strtol(words[index].c_str(), nullptr, 0) : fallback;
}

/// What the pixel function knows; shared by the iteration's threads.
struct Marker {
    std::size_t pixel_bytes = 4;
    long fail_column = -1, fail_base = 0;
    long fail_x = -1, fail_y = -1, fail_code = 0;
    std::atomic<int> calls{0};
    std::atomic<int> mismatches{0};
};

/// Reads the coordinates the test stored in the source pixel (16-bit x, then
/// 16-bit y), counts a mismatch with the (x, y) it was given, and writes
/// (x, y) and a fixed tail into the destination pixel.
std::int32_t MarkPixel(void* refcon, std::int32_t x, std::int32_t y, const void* in, void* out) {
    Marker& marker = *static_cast<Marker*>(refcon);
    marker.calls.fetch_add(1, std::memory_order_relaxed);
    std::uint16_t source[2];
    std::memcpy(source, in, sizeof source);
    if (source[0] != std::uint16_t(x) || source[1] != std::uint16_t(y)) {
        marker.mismatches.fetch_add(1, std::memory_order_relaxed);
    }
    const std::uint16_t mark[4] = {std::uint16_t(x), std::uint16_t(y), 0xA5A5, 0x5A5A};
    std::memcpy(out, mark, marker.pixel_bytes);
    if (x == marker.fail_column) return std::int32_t(marker.fail_base + y);
    if (x == marker.fail_x && y == marker.fail_y) return std::int32_t(marker.fail_code);
    return PF_Err_NONE;
}

class Script {
  public:
    Script(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_LayerDef* output)
        : in_(in_data), out_(out_data), params_(params), output_(output) {}

    PF_Err Run(const std::vector<Words>& verbs) {
        for (const Words& verb : verbs) results_.push_back(Do(verb));
        if (!keep_message_) {
            std::string text;
            for (std::size_t i = 0; i < results_.size(); ++i) {
                text += (i == 0 ? "" : ";") + results_[i];
            }
            std::snprintf(out_->return_msg, sizeof out_->return_msg, "%s", text.c_str());
        }
        return result_;
    }

  private:
    /// The suite `name`, acquired until the end of the verb; null if the host
    /// does not hand it out.
    const void* Suite(const char* name) {
        if (in_->pica_basicP == nullptr) return nullptr;
        const void* suite = nullptr;
        if (in_->pica_basicP->AcquireSuite(name, 1, &suite) != PF_Err_NONE || suite == nullptr) {
            if (suite != nullptr) in_->pica_basicP->ReleaseSuite(name, 1);
            return nullptr;
        }
        borrowed_.push_back(name);
        return suite;
    }

    void ReturnBorrowed() {
        for (const std::string& name : borrowed_) {
            if (in_->pica_basicP != nullptr) in_->pica_basicP->ReleaseSuite(name.c_str(), 1);
        }
        borrowed_.clear();
    }

    PF_LayerDef* WorldNamed(const std::string& which) {
        if (which == "out") return output_;
        if (which == "in") return params_ != nullptr ? &params_[0]->u.ld : nullptr;
        return nullptr;
    }

    std::string Do(const Words& w) {
        const std::string result = Dispatch(w);
        ReturnBorrowed();
        return result;
    }

    std::string Dispatch(const Words& w) {
        const std::string& verb = w[0];
        if (verb == "release") {
            if (in_->pica_basicP == nullptr) return "nobasic";
            const std::string name = w.size() > 1 ? w[1] : "";
            return std::to_string(
                in_->pica_basicP->ReleaseSuite(name.c_str(), std::int32_t(Arg(w, 2, 1))));
        }
        if (verb == "getformat") {
            const auto* formats =
                static_cast<const PF_PixelFormatSuite1*>(Suite(PF_PixelFormatSuite1::kName));
            if (formats == nullptr) return "nosuite";
            PrPixelFormat format = 0xDEADBEEF;
            const PF_Err code =
                formats->GetPixelFormat(WorldNamed(w.size() > 1 ? w[1] : "out"), &format);
            return std::to_string(code) + " " + std::to_string(format);
        }
        if (verb == "iterate8" || verb == "iterate16") return Iterate(w);
        if (verb == "copy" || verb == "copy_hq" || verb == "utils.copy") return Copy(w);
        if (verb == "sprintf") {
            const std::string text(std::size_t(Arg(w, 1)), 's');
            out_->out_flags2 = in_->utils->ansi.sprintf(out_->return_msg, "%s", text.c_str());
            keep_message_ = true;
            return "";
        }
        if (verb == "strcpy") {
            PF_ParamDef def{};
            def.flags = 0x5A5A5A5A;
            const std::string text(std::size_t(Arg(w, 1)), 'n');
            in_->utils->ansi.strcpy(def.name, text.c_str());
            return std::to_string(strnlen(def.name, sizeof def.name)) +
                   (def.flags == 0x5A5A5A5A ? " 1" : " 0");
        }
        if (verb == "add_param" || verb == "add_param_foreign_ref") {
            PF_ParamDef def{};
            def.param_type = PF_ParamType(Arg(w, 2, PF_Param_FLOAT_SLIDER));
            std::snprintf(def.name, sizeof def.name, "Extra");
            int foreign = 0;
            const PF_ProgPtr ref =
                verb == "add_param" ? in_->effect_ref : reinterpret_cast<PF_ProgPtr>(&foreign);
            return std::to_string(in_->inter.add_param(ref, PF_ParamIndex(Arg(w, 1, -1)), &def));
        }
        if (verb == "declare") return Declare(w);
        return "unknown";
    }

    std::string Iterate(const Words& w) {
        const bool wide = w[0] == "iterate16";
        Marker marker;
        marker.pixel_bytes = wide ? 8 : 4;
        PF_Rect area{};
        bool has_area = false;
        for (std::size_t i = 1; i < w.size(); ++i) {
            if (w[i] == "area") {
                area = {A_long(Arg(w, i + 1)), A_long(Arg(w, i + 2)), A_long(Arg(w, i + 3)),
                        A_long(Arg(w, i + 4))};
                has_area = true;
            } else if (w[i] == "failcol") {
                marker.fail_column = Arg(w, i + 1);
                marker.fail_base = Arg(w, i + 2);
            } else if (w[i] == "fail") {
                marker.fail_x = Arg(w, i + 1);
                marker.fail_y = Arg(w, i + 2);
                marker.fail_code = Arg(w, i + 3);
            }
        }
        PF_Err code = 0;
        PF_LayerDef* source = WorldNamed("in");
        const PF_Rect* area_ptr = has_area ? &area : nullptr;
        if (wide) {
            const auto* suite =
                static_cast<const PF_iterate16Suite1*>(Suite(PF_iterate16Suite1::kName));
            if (suite == nullptr) return "nosuite";
            code = suite->iterate(in_, 0, 0, source, area_ptr, &marker, MarkPixel, output_);
        } else {
            const auto* suite =
                static_cast<const PF_Iterate8Suite1*>(Suite(PF_Iterate8Suite1::kName));
            if (suite == nullptr) return "nosuite";
            code = suite->iterate(in_, 0, 0, source, area_ptr, &marker, MarkPixel, output_);
        }
        return std::to_string(code) + " " + std::to_string(marker.calls.load()) + " " +
               std::to_string(marker.mismatches.load());
    }

    std::string Copy(const Words& w) {
        PF_Rect rects[2]{};
        bool has_rects = false;
        if (w.size() > 1 && w[1] == "rects") {
            has_rects = true;
            rects[0] = {A_long(Arg(w, 2)), A_long(Arg(w, 3)), A_long(Arg(w, 4)), A_long(Arg(w, 5))};
            rects[1] = {A_long(Arg(w, 6)), A_long(Arg(w, 7)), A_long(Arg(w, 8)), A_long(Arg(w, 9))};
        }
        PF_Rect* src_r = has_rects ? &rects[0] : nullptr;
        PF_Rect* dst_r = has_rects ? &rects[1] : nullptr;
        PF_LayerDef* source = WorldNamed("in");
        if (w[0] == "utils.copy") {
            return std::to_string(in_->utils->copy(in_->effect_ref, source, output_, src_r, dst_r));
        }
        const auto* transform =
            static_cast<const PF_WorldTransformSuite1*>(Suite(PF_WorldTransformSuite1::kName));
        if (transform == nullptr) return "nosuite";
        const auto fn = w[0] == "copy" ? transform->copy : transform->copy_hq;
        return std::to_string(fn(in_->effect_ref, source, output_, src_r, dst_r));
    }

    std::string Declare(const Words& w) {
        struct Control {
            PF_ParamType type;
            const char* name;
        };
        const Control controls[] = {{PF_Param_FLOAT_SLIDER, "Temperature"},
                                    {PF_Param_FLOAT_SLIDER, "Magenta"},
                                    {PF_Param_FIX_SLIDER, "Opacity"},
                                    {PF_Param_CHECKBOX, "Clamp on output"}};
        int floats = 0;
        PF_ParamDef def;
        for (const Control& control : controls) {
            std::memset(&def, 0, sizeof def);
            def.param_type = control.type;
            in_->utils->ansi.strcpy(def.name, control.name);
            switch (control.type) {
                case PF_Param_FLOAT_SLIDER:
                    // Distinct ranges and defaults, so a test sees which is which.
                    def.u.fs_d.valid_min = floats == 0 ? -5.0f : -3.0f;
                    def.u.fs_d.valid_max = floats == 0 ? 5.0f : 4.0f;
                    def.u.fs_d.dephault = floats == 0 ? 0.5f : -1.25f;
                    ++floats;
                    break;
                case PF_Param_FIX_SLIDER:
                    def.u.fd.valid_min = 0;
                    def.u.fd.valid_max = 100 << 16;
                    def.u.fd.dephault = 75 << 16;
                    break;
                case PF_Param_CHECKBOX:
                    def.u.bd.dephault = 1;
                    def.u.bd.u.nameptr = "";
                    break;
                default:
                    break;
            }
            const PF_Err code = in_->inter.add_param(in_->effect_ref, -1, &def);
            if (code != PF_Err_NONE) {
                result_ = code;
                return std::to_string(code);
            }
        }
        out_->num_params =
            A_long(w.size() > 2 && w[1] == "num" ? Arg(w, 2) : long(std::size(controls)) + 1);
        return "0";
    }

    PF_InData* in_;
    PF_OutData* out_;
    PF_ParamDef** params_;
    PF_LayerDef* output_;
    std::vector<std::string> borrowed_;
    std::vector<std::string> results_;
    bool keep_message_ = false;
    PF_Err result_ = PF_Err_NONE;
};

}  // namespace

extern "C" PROBE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output,
                                              void* /*extra*/) {
    const std::string text(out_data->return_msg,
                           strnlen(out_data->return_msg, sizeof out_data->return_msg));
    std::vector<Words> verbs = ParseScript(text);
    if (cmd == PF_Cmd_PARAMS_SETUP) {
        bool declares = false;
        for (const Words& verb : verbs) declares = declares || verb[0] == "declare";
        if (!declares) {
            PF_OutData scratch = *out_data;  // keep the caller's script where it is
            const PF_Err result = Script(in_data, &scratch, params, output).Run({{"declare"}});
            out_data->num_params = scratch.num_params;
            return result;
        }
    }
    out_data->return_msg[0] = '\0';
    return Script(in_data, out_data, params, output).Run(verbs);
}
