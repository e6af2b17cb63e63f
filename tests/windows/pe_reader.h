// A small reader of 64-bit Windows executable images (PE32+), enough to check
// the built plug-in as a file: its machine and flags, the names it exports,
// the DLLs it imports and its resources. Every read is bounds-checked; a
// malformed or truncated image raises FormatError, never reads outside the
// buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

class FormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kOptionalMagicPe32Plus = 0x20B;
inline constexpr std::uint16_t kFileDll = 0x2000;  ///< file header characteristics

// Optional header DllCharacteristics bits.
inline constexpr std::uint16_t kHighEntropyVa = 0x0020;
inline constexpr std::uint16_t kDynamicBase = 0x0040;
inline constexpr std::uint16_t kNxCompat = 0x0100;

/// A resource directory entry's key: a number, or a name (UTF-16 in the file,
/// kept here as code units).
struct ResourceKey {
    std::optional<std::uint32_t> id;
    std::u16string name;

    bool operator==(const ResourceKey&) const = default;
};

/// One leaf of the resource tree: type / name / language, and its bytes.
struct Resource {
    ResourceKey type;
    ResourceKey name;
    std::uint32_t language = 0;
    std::vector<std::uint8_t> data;
};

struct Image {
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t optional_magic = 0;
    std::uint16_t dll_characteristics = 0;
    /// Entries of the export address table, named or not.
    std::uint32_t exported_function_count = 0;
    std::vector<std::string> export_names;
    /// DLL names of the import table, then of the delay-load import table.
    std::vector<std::string> imported_dlls;
    std::vector<Resource> resources;
};

/// Parses a whole image file held in memory.
Image Parse(std::span<const std::uint8_t> file);

/// Reads a file's bytes; throws std::runtime_error if it cannot.
std::vector<std::uint8_t> ReadFile(const std::string& path);

/// "PIPL" as a resource key name.
ResourceKey NamedKey(const std::string& ascii);
ResourceKey NumberedKey(std::uint32_t id);

}  // namespace pe
