// Loads an effect library with the platform's loader and resolves its one
// entry point. Every failure becomes a LoadError whose one-line message names
// the file and the cause.
#include "sim/effect_library.h"

#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace sim {
namespace {

/// Keeps a loader message on one line.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

/// A symbol address as the entry point's function type. Copying the bits
/// avoids a cast between object and function pointers.
template <typename Symbol>
PF_EntryPointFunc AsEntryPoint(Symbol symbol) {
    static_assert(sizeof(Symbol) == sizeof(PF_EntryPointFunc));
    PF_EntryPointFunc entry = nullptr;
    std::memcpy(&entry, &symbol, sizeof entry);
    return entry;
}

#ifdef _WIN32

std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length != 0 && text != nullptr ? std::string(text, length)
                                                         : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    return OneLine(message);
}

void* OpenLibrary(const std::string& path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        throw LoadError("cannot load effect '" + path + "': not a loadable library (" +
                        SystemMessage(GetLastError()) + ")");
    }
    return module;
}

PF_EntryPointFunc FindEntryPoint(void* handle) {
    return AsEntryPoint(GetProcAddress(static_cast<HMODULE>(handle), kEntryPointName));
}

void CloseLibrary(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}

#else

void* OpenLibrary(const std::string& path) {
    // A name without a slash would be searched for on the library path; the
    // host means the file it was given.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* cause = dlerror();
        throw LoadError("cannot load effect '" + path + "': not a loadable library (" +
                        OneLine(cause != nullptr ? cause : "unknown cause") + ")");
    }
    return handle;
}

PF_EntryPointFunc FindEntryPoint(void* handle) {
    dlerror();
    return AsEntryPoint(dlsym(handle, kEntryPointName));
}

void CloseLibrary(void* handle) {
    dlclose(handle);
}

#endif

}  // namespace

EffectLibrary EffectLibrary::Load(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        throw LoadError("cannot load effect '" + path + "': no such file");
    }
    if (!std::filesystem::is_regular_file(status)) {
        throw LoadError("cannot load effect '" + path + "': not a regular file");
    }
    void* handle = OpenLibrary(path);
    const PF_EntryPointFunc entry = FindEntryPoint(handle);
    if (entry == nullptr) {
        CloseLibrary(handle);
        throw LoadError("cannot load effect '" + path + "': the library does not export " +
                        kEntryPointName);
    }
    return EffectLibrary(handle, entry, path);
}

EffectLibrary::EffectLibrary(void* handle, PF_EntryPointFunc entry, std::string path)
    : handle_(handle), entry_(entry), path_(std::move(path)) {}

EffectLibrary::EffectLibrary(EffectLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)),
      path_(std::move(other.path_)) {}

EffectLibrary& EffectLibrary::operator=(EffectLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) CloseLibrary(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
        entry_ = std::exchange(other.entry_, nullptr);
        path_ = std::move(other.path_);
    }
    return *this;
}

EffectLibrary::~EffectLibrary() {
    if (handle_ != nullptr) CloseLibrary(handle_);
}

}  // namespace sim
