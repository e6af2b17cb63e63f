#include "tools/vemra-render/io/image_pages.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace render {

namespace {

/// How a TIFF file lays out its numbers: byte order, classic or BigTIFF,
/// and where its first page's directory lies.
struct TiffLayout {
    bool big_endian = false;
    bool big_tiff = false;
    std::uint64_t first = 0;

    std::size_t header_bytes() const { return big_tiff ? 16 : 8; }
    std::size_t offset_at() const { return big_tiff ? 8 : 4; }
    std::size_t offset_bytes() const { return big_tiff ? 8 : 4; }
    std::size_t count_bytes() const { return big_tiff ? 8 : 2; }
    std::size_t entry_bytes() const { return big_tiff ? 20 : 12; }
};

/// The unsigned number `bytes` hold in the given byte order.
std::uint64_t Number(std::span<const std::byte> bytes, bool big_endian) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t at = big_endian ? i : bytes.size() - 1 - i;
        value = value << 8 | std::to_integer<std::uint64_t>(bytes[at]);
    }
    return value;
}

std::optional<TiffLayout> ReadLayout(std::span<const std::byte> header) {
    if (header.size() < 8) return std::nullopt;
    TiffLayout layout;
    if (std::memcmp(header.data(), "MM", 2) == 0) {
        layout.big_endian = true;
    } else if (std::memcmp(header.data(), "II", 2) != 0) {
        return std::nullopt;
    }
    const std::uint64_t version = Number(header.subspan(2, 2), layout.big_endian);
    if (version == 43) {
        // BigTIFF: the size of its offsets (8), a zero, then the offset.
        if (header.size() < 16 || Number(header.subspan(4, 2), layout.big_endian) != 8 ||
            Number(header.subspan(6, 2), layout.big_endian) != 0) {
            return std::nullopt;
        }
        layout.big_tiff = true;
    } else if (version != 42) {
        return std::nullopt;
    }
    layout.first =
        Number(header.subspan(layout.offset_at(), layout.offset_bytes()), layout.big_endian);
    return layout;
}

/// The pages up to where a chain that runs into a loop of `loop` pages
/// first comes back to a page it holds: each page once.
void CutLoop(std::vector<std::uint64_t>& pages, std::size_t loop) {
    std::size_t start = 0;
    while (start + loop < pages.size() && pages[start] != pages[start + loop]) ++start;
    pages.resize(std::min(pages.size(), start + loop));
}

}  // namespace

std::optional<std::vector<std::uint64_t>> FindTiffPages(const ReadAt& read, std::uint64_t size,
                                                        std::size_t most) {
    std::array<std::byte, 16> header{};
    const std::optional<TiffLayout> layout =
        ReadLayout(std::span<const std::byte>(header.data(), read(0, header)));
    if (!layout) return std::nullopt;
    std::vector<std::uint64_t> pages;
    // A loop is found as Brent finds one: each offset is compared with the
    // one saved at the last power of two of steps, so the walk never keeps
    // more than the pages it returns.
    std::uint64_t saved = 0;
    std::size_t power = 1;
    std::size_t steps = 0;
    std::array<std::byte, 8> number{};
    for (std::uint64_t offset = layout->first; offset != 0 && pages.size() < most;) {
        const std::span<std::byte> count(number.data(), layout->count_bytes());
        if (offset < layout->header_bytes() || offset > size || size - offset < count.size() ||
            read(offset, count) != count.size()) {
            break;
        }
        const std::uint64_t entries = Number(count, layout->big_endian);
        const std::uint64_t room = size - offset - count.size();
        if (entries > room / layout->entry_bytes() ||
            room - entries * layout->entry_bytes() < layout->offset_bytes()) {
            break;  // the directory, or its link to the next, runs past the end
        }
        const std::span<std::byte> next(number.data(), layout->offset_bytes());
        if (read(offset + count.size() + entries * layout->entry_bytes(), next) != next.size()) {
            break;
        }
        pages.push_back(offset);
        if (offset == saved) {
            CutLoop(pages, steps + 1);  // the pages from the saved one to this one
            break;
        }
        if (++steps == power) {
            saved = offset;
            power *= 2;
            steps = 0;
        }
        offset = Number(next, layout->big_endian);
    }
    return pages;
}

std::optional<std::vector<std::uint64_t>> FindTiffPages(const std::string& path, std::size_t most) {
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return std::nullopt;
    const off_t size = ::lseek(file, 0, SEEK_END);
    const ReadAt read = [file](std::uint64_t offset, std::span<std::byte> into) {
        const ssize_t got = ::pread(file, into.data(), into.size(), off_t(offset));
        return got < 0 ? std::size_t(0) : std::size_t(got);
    };
    std::optional<std::vector<std::uint64_t>> pages;
    if (size > 0) pages = FindTiffPages(read, std::uint64_t(size), most);
    ::close(file);
    return pages;
}

HeaderPatch PatchFirstPage(std::span<const std::byte> header, std::uint64_t page) {
    HeaderPatch patch;
    const std::optional<TiffLayout> layout = ReadLayout(header);
    if (!layout) return patch;
    patch.at = layout->offset_at();
    patch.length = layout->offset_bytes();
    for (std::size_t i = 0; i < patch.length; ++i) {
        const std::size_t shift = 8 * (layout->big_endian ? patch.length - 1 - i : i);
        patch.bytes[i] = std::byte((page >> shift) & 0xFF);
    }
    return patch;
}

TiffPageFile::TiffPageFile(const std::string& path, std::uint64_t page)
    : IOFile(path, OIIO::Filesystem::IOProxy::Read) {
    std::array<std::byte, 16> header{};
    if (!opened()) return;
    const std::size_t got = IOFile::pread(header.data(), header.size(), 0);
    patch_ = PatchFirstPage(std::span<const std::byte>(header.data(), got), page);
}

std::size_t TiffPageFile::read(void* buffer, std::size_t size) {
    const std::int64_t at = tell();
    const std::size_t got = IOFile::read(buffer, size);
    Patch(buffer, got, at);
    return got;
}

std::size_t TiffPageFile::pread(void* buffer, std::size_t size, std::int64_t offset) {
    const std::size_t got = IOFile::pread(buffer, size, offset);
    Patch(buffer, got, offset);
    return got;
}

void TiffPageFile::Patch(void* buffer, std::size_t size, std::int64_t offset) {
    if (offset < 0 || header_read_) return;
    const auto start = std::max<std::uint64_t>(std::uint64_t(offset), patch_.at);
    const auto end =
        std::min<std::uint64_t>(std::uint64_t(offset) + size, patch_.at + patch_.length);
    for (std::uint64_t at = start; at < end; ++at) {
        static_cast<std::byte*>(buffer)[at - std::uint64_t(offset)] = patch_.bytes[at - patch_.at];
    }
    header_read_ = end == patch_.at + patch_.length && start < end;
}

}  // namespace render
