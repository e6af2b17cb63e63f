// Loading an effect library the way a host does: by path, with the platform's
// loader (dlopen here, LoadLibrary on Windows), then resolving EntryPointFunc.
#pragma once

#include <stdexcept>
#include <string>

#include "host/effect_api.h"

namespace sim {

/// Thrown when a library cannot be loaded or lacks the entry point; the
/// message names the file and the cause.
class LoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// A loaded effect library. Move-only; unloads on destruction.
class EffectLibrary {
  public:
    /// Loads the library at `path` and resolves EntryPointFunc. Throws
    /// LoadError for a missing file, a file that is not a library, or a
    /// library without the entry point.
    static EffectLibrary Load(const std::string& path);

    EffectLibrary(EffectLibrary&&) noexcept;
    EffectLibrary& operator=(EffectLibrary&&) noexcept;
    EffectLibrary(const EffectLibrary&) = delete;
    EffectLibrary& operator=(const EffectLibrary&) = delete;
    ~EffectLibrary();

    PF_EntryPointFunc entry_point() const { return entry_; }
    const std::string& path() const { return path_; }

  private:
    EffectLibrary(void* handle, PF_EntryPointFunc entry, std::string path);
    void* handle_ = nullptr;
    PF_EntryPointFunc entry_ = nullptr;
    std::string path_;
};

}  // namespace sim
