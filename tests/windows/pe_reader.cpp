#include "tests/windows/pe_reader.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace pe {
namespace {

/// Bounds-checked little-endian reads from the file.
class Bytes {
  public:
    explicit Bytes(std::span<const std::uint8_t> file) : file_(file) {}

    std::uint8_t U8(std::uint64_t offset) const { return file_[Check(offset, 1)]; }
    std::uint16_t U16(std::uint64_t offset) const {
        const std::size_t at = Check(offset, 2);
        return static_cast<std::uint16_t>(file_[at] | (file_[at + 1] << 8));
    }
    std::uint32_t U32(std::uint64_t offset) const {
        const std::size_t at = Check(offset, 4);
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | file_[at + static_cast<std::size_t>(i)];
        return value;
    }
    std::span<const std::uint8_t> Span(std::uint64_t offset, std::uint64_t size) const {
        return file_.subspan(Check(offset, size), static_cast<std::size_t>(size));
    }
    /// A NUL-terminated string starting at `offset`; the terminator must be
    /// inside the file.
    std::string CString(std::uint64_t offset) const {
        std::string text;
        for (std::uint64_t at = offset;; ++at) {
            const std::uint8_t c = U8(at);
            if (c == 0) return text;
            text.push_back(static_cast<char>(c));
        }
    }

  private:
    std::size_t Check(std::uint64_t offset, std::uint64_t size) const {
        if (offset > file_.size() || size > file_.size() - offset) {
            throw FormatError("read of " + std::to_string(size) + " bytes at offset " +
                              std::to_string(offset) + " is outside the " +
                              std::to_string(file_.size()) + "-byte file");
        }
        return static_cast<std::size_t>(offset);
    }
    std::span<const std::uint8_t> file_;
};

struct Section {
    std::uint32_t virtual_address;
    std::uint32_t virtual_size;
    std::uint32_t raw_size;
    std::uint32_t raw_offset;
};

struct DataDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

constexpr int kExportDirectory = 0;
constexpr int kImportDirectory = 1;
constexpr int kResourceDirectory = 2;
constexpr int kDelayImportDirectory = 13;
/// More leaves than any real image has: a tree whose entries point back at
/// shared directories is refused instead of multiplying without bound.
constexpr std::size_t kMaxResources = 4096;

class Parser {
  public:
    explicit Parser(std::span<const std::uint8_t> file) : bytes_(file) {}

    Image Run() {
        if (bytes_.U16(0) != 0x5A4D) throw FormatError("no MZ signature");
        const std::uint32_t pe_offset = bytes_.U32(0x3C);
        if (bytes_.U32(pe_offset) != 0x00004550) throw FormatError("no PE signature");
        const std::uint64_t file_header = std::uint64_t{pe_offset} + 4;
        image_.machine = bytes_.U16(file_header);
        const std::uint16_t section_count = bytes_.U16(file_header + 2);
        const std::uint16_t optional_size = bytes_.U16(file_header + 16);
        image_.characteristics = bytes_.U16(file_header + 18);

        const std::uint64_t optional = file_header + 20;
        image_.optional_magic = bytes_.U16(optional);
        if (image_.optional_magic != kOptionalMagicPe32Plus) {
            throw FormatError("not a PE32+ image");
        }
        // PE32+ optional header: DllCharacteristics at 70, the number of data
        // directories at 108 and the directories from 112, 8 bytes each.
        if (optional_size < 112) throw FormatError("optional header too small");
        image_.dll_characteristics = bytes_.U16(optional + 70);
        const std::uint32_t directory_count = bytes_.U32(optional + 108);
        if (112 + std::uint64_t{directory_count} * 8 > optional_size) {
            throw FormatError("data directories overrun the optional header");
        }
        for (std::uint32_t i = 0; i < directory_count && i < 16; ++i) {
            directories_[i] = {bytes_.U32(optional + 112 + i * 8),
                               bytes_.U32(optional + 116 + i * 8)};
        }

        const std::uint64_t section_table = optional + optional_size;
        for (std::uint16_t i = 0; i < section_count; ++i) {
            const std::uint64_t at = section_table + std::uint64_t{i} * 40;
            sections_.push_back({bytes_.U32(at + 12), bytes_.U32(at + 8), bytes_.U32(at + 16),
                                 bytes_.U32(at + 20)});
        }

        ReadExports();
        ReadImports(kImportDirectory, 20, 12);
        ReadImports(kDelayImportDirectory, 32, 4);
        ReadResources();
        return std::move(image_);
    }

  private:
    /// File offset of the `size` bytes at `rva`, which must lie inside one
    /// section's data in the file.
    std::uint64_t Offset(std::uint32_t rva, std::uint64_t size = 1) const {
        for (const Section& s : sections_) {
            const std::uint64_t start = s.virtual_address;
            const std::uint64_t mapped = std::max(s.virtual_size, s.raw_size);
            if (rva >= start && rva - start < mapped) {
                const std::uint64_t within = rva - start;
                if (within + size > s.raw_size) {
                    throw FormatError("RVA " + std::to_string(rva) + " is not backed by file data");
                }
                return std::uint64_t{s.raw_offset} + within;
            }
        }
        throw FormatError("RVA " + std::to_string(rva) + " is in no section");
    }

    std::string StringAt(std::uint32_t rva) const { return bytes_.CString(Offset(rva)); }

    void ReadExports() {
        const DataDirectory dir = directories_[kExportDirectory];
        if (dir.rva == 0) return;
        const std::uint64_t at = Offset(dir.rva, 40);
        image_.exported_function_count = bytes_.U32(at + 20);
        const std::uint32_t name_count = bytes_.U32(at + 24);
        const std::uint32_t names_rva = bytes_.U32(at + 32);
        if (name_count > image_.exported_function_count) {
            throw FormatError("more export names than exported functions");
        }
        const std::uint64_t names = name_count == 0 ? 0 : Offset(names_rva, name_count * 4ull);
        for (std::uint32_t i = 0; i < name_count; ++i) {
            image_.export_names.push_back(StringAt(bytes_.U32(names + i * 4ull)));
        }
    }

    /// Import descriptors of `entry_size` bytes with the DLL name's RVA at
    /// `name_field`, up to an all-zero descriptor.
    void ReadImports(int directory, std::uint32_t entry_size, std::uint32_t name_field) {
        const DataDirectory dir = directories_[directory];
        if (dir.rva == 0) return;
        for (std::uint32_t rva = dir.rva;; rva += entry_size) {
            const std::uint64_t at = Offset(rva, entry_size);
            bool all_zero = true;
            for (std::uint8_t b : bytes_.Span(at, entry_size)) all_zero = all_zero && b == 0;
            if (all_zero) return;
            image_.imported_dlls.push_back(StringAt(bytes_.U32(at + name_field)));
        }
    }

    // --- Resources: three levels of directories, type / name / language ------

    ResourceKey KeyOf(std::uint64_t root, std::uint32_t name_field) const {
        ResourceKey key;
        if ((name_field & 0x80000000u) == 0) {
            key.id = name_field;
            return key;
        }
        const std::uint64_t at = root + (name_field & 0x7FFFFFFFu);
        const std::uint16_t length = bytes_.U16(at);
        for (std::uint16_t i = 0; i < length; ++i) {
            key.name.push_back(static_cast<char16_t>(bytes_.U16(at + 2 + i * 2ull)));
        }
        return key;
    }

    /// Calls visit(key, field) for every entry of the directory at `at`.
    template <typename Visit>
    void Entries(std::uint64_t at, Visit visit) const {
        const std::uint32_t count =
            std::uint32_t{bytes_.U16(at + 12)} + std::uint32_t{bytes_.U16(at + 14)};
        bytes_.Span(at + 16, std::uint64_t{count} * 8);  // the whole entry array is in the file
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t entry = at + 16 + std::uint64_t{i} * 8;
            visit(bytes_.U32(entry), bytes_.U32(entry + 4));
        }
    }

    /// The offset of a subdirectory an entry points to; it must be one.
    static std::uint64_t Subdirectory(std::uint64_t root, std::uint32_t field) {
        if ((field & 0x80000000u) == 0)
            throw FormatError("resource leaf where a directory belongs");
        return root + (field & 0x7FFFFFFFu);
    }

    void ReadResources() {
        const DataDirectory dir = directories_[kResourceDirectory];
        if (dir.rva == 0) return;
        const std::uint64_t root = Offset(dir.rva, 16);
        Entries(root, [&](std::uint32_t type_name, std::uint32_t type_field) {
            const ResourceKey type = KeyOf(root, type_name);
            Entries(Subdirectory(root, type_field), [&](std::uint32_t name,
                                                        std::uint32_t name_field) {
                const ResourceKey key = KeyOf(root, name);
                Entries(Subdirectory(root, name_field), [&](std::uint32_t language,
                                                            std::uint32_t leaf) {
                    if ((leaf & 0x80000000u) != 0) throw FormatError("resource tree deeper than 3");
                    if (image_.resources.size() == kMaxResources) {
                        throw FormatError("too many resources");
                    }
                    const std::uint64_t data_entry = root + leaf;
                    const std::uint32_t data_rva = bytes_.U32(data_entry);
                    const std::uint32_t size = bytes_.U32(data_entry + 4);
                    const auto data = bytes_.Span(Offset(data_rva, size), size);
                    image_.resources.push_back(
                        {type, key, language, std::vector<std::uint8_t>(data.begin(), data.end())});
                });
            });
        });
    }

    Bytes bytes_;
    Image image_;
    DataDirectory directories_[16] = {};
    std::vector<Section> sections_;
};

}  // namespace

Image Parse(std::span<const std::uint8_t> file) {
    return Parser(file).Run();
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return bytes;
}

ResourceKey NamedKey(const std::string& ascii) {
    ResourceKey key;
    for (char c : ascii) key.name.push_back(static_cast<char16_t>(c));
    return key;
}

ResourceKey NumberedKey(std::uint32_t id) {
    ResourceKey key;
    key.id = id;
    return key;
}

}  // namespace pe
