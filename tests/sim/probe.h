// Helpers for driving the probe effect (tests/sim/probe_effect.cpp) through
// the stand-in host: loading it once, writing its script into return_msg,
// reading its answers back, and preparing and predicting world contents.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "sim/effect_library.h"
#include "sim/host.h"
#include "sim/world.h"

namespace simtest {

/// A command number of the probe's own: runs the script, nothing else.
inline constexpr PF_Cmd kScriptCommand = 100;

/// The probe effect, loaded once for the whole test program.
inline const sim::EffectLibrary& ProbeEffect() {
    static const sim::EffectLibrary library = sim::EffectLibrary::Load(SIM_PROBE_EFFECT);
    return library;
}

inline void SetScript(sim::Host& host, const std::string& script) {
    ASSERT_LT(script.size(), sizeof host.out_data().return_msg) << script;
    std::snprintf(host.out_data().return_msg, sizeof host.out_data().return_msg, "%s",
                  script.c_str());
}

/// The probe's answers, one string per verb.
inline std::vector<std::string> Answers(sim::Host& host) {
    std::vector<std::string> answers;
    std::stringstream text(host.out_data().return_msg);
    std::string answer;
    while (std::getline(text, answer, ';')) answers.push_back(answer);
    return answers;
}

/// Runs `script` as its own command and returns the probe's answers.
inline std::vector<std::string> RunScript(sim::Host& host, const std::string& script,
                                          PF_Cmd cmd = kScriptCommand) {
    SetScript(host, script);
    host.Send(cmd);
    return Answers(host);
}

/// Runs `script` inside a render of `input` to `output` (raw default words,
/// so the values play no part) and returns the probe's answers.
inline std::vector<std::string> RenderScript(sim::Host& host, sim::World& input, sim::World& output,
                                             const std::string& script) {
    SetScript(host, script);
    host.RenderUnchecked(input, output, sim::RawParamValues{});
    return Answers(host);
}

/// Stores each pixel's own coordinates in it (16-bit x, then 16-bit y; the
/// rest zero), which the probe's pixel function checks its source against.
inline void FillCoordinates(sim::World& world) {
    const std::size_t bytes = sim::BytesPerPixel(world.layout());
    for (std::int32_t y = 0; y < world.height(); ++y) {
        for (std::int32_t x = 0; x < world.width(); ++x) {
            unsigned char pixel[16] = {};
            const std::uint16_t coordinates[2] = {std::uint16_t(x), std::uint16_t(y)};
            std::memcpy(pixel, coordinates, sizeof coordinates);
            std::memcpy(world.PixelAddress(x, y), pixel, bytes);
        }
    }
}

/// Writes what the probe's pixel function writes at (x, y): 16-bit x and y,
/// then 0xA5A5 and 0x5A5A for the 8-byte layouts.
inline void PutMark(sim::World& world, std::int32_t x, std::int32_t y) {
    const std::uint16_t mark[4] = {std::uint16_t(x), std::uint16_t(y), 0xA5A5, 0x5A5A};
    std::memcpy(world.PixelAddress(x, y), mark, sim::BytesPerPixel(world.layout()));
}

/// True when both worlds hold the same bytes in the whole buffer, padding and
/// the rows' order in memory included.
inline bool SameBuffer(const sim::World& a, const sim::World& b) {
    return a.buffer().size() == b.buffer().size() &&
           (a.buffer().empty() ||
            std::memcmp(a.buffer().data(), b.buffer().data(), a.buffer().size()) == 0);
}

}  // namespace simtest
