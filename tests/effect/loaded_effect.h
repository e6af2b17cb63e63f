// The built effect library, loaded once per test program by the stand-in
// host's loader, exactly as a host loads it.
#pragma once

#include <cstdlib>
#include <string>

#include "sim/effect_library.h"

namespace vemra::test {

/// The library under test: VEMRA_EFFECT_LIBRARY from the environment if set,
/// else the one this build produced.
inline const sim::EffectLibrary& LoadedEffect() {
    static const sim::EffectLibrary library = [] {
        const char* override_path = std::getenv("VEMRA_EFFECT_LIBRARY");
        return sim::EffectLibrary::Load(override_path != nullptr ? override_path
                                                                 : VEMRA_EFFECT_PATH);
    }();
    return library;
}

}  // namespace vemra::test
