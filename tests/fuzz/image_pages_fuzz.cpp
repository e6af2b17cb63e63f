// Fuzzes the reader of multi-page TIFF files: the walk along the chain of
// page directories over arbitrary bytes (FindTiffPages), the header that
// makes a page the first (PatchFirstPage), and each page read where it
// starts (FindFrames, then ReadImage with the pages found) against the image
// library's own walk to it, decoders included. Seeds: small TIFF files,
// classic and BigTIFF, in both byte orders, of several pages.
//
// Invariants: no sanitizer report; every page the walk returns lies whole
// within the file, once, linked from the one before, at most as many as
// asked; from a header patched to start at page i the walk finds pages i
// onwards first; a page read where it starts is the image the library's own
// seek to it reads, whenever both read one.
#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"
#include "tools/vemra-render/io/image_files_oiio.h"
#include "tools/vemra-render/io/image_pages.h"

namespace {

using vemra::fuzz::Require;

constexpr std::size_t kMostPages = 64;

render::ReadAt ReaderOf(const std::vector<std::byte>& file) {
    return [&file](std::uint64_t offset, std::span<std::byte> into) {
        if (offset >= file.size()) return std::size_t(0);
        const std::size_t got = std::min<std::size_t>(into.size(), file.size() - offset);
        std::memcpy(into.data(), file.data() + offset, got);
        return got;
    };
}

/// The pages of `file`, checked against the invariants of the walk.
std::vector<std::uint64_t> CheckedPages(const std::vector<std::byte>& file) {
    const auto pages = render::FindTiffPages(ReaderOf(file), file.size(), kMostPages);
    if (!pages) return {};
    Require(pages->size() <= kMostPages, "at most the pages asked for");
    Require(std::set<std::uint64_t>(pages->begin(), pages->end()).size() == pages->size(),
            "each page once");
    const bool big = std::to_integer<int>(file[2]) == 43 || std::to_integer<int>(file[3]) == 43;
    for (const std::uint64_t page : *pages) {
        Require(page >= (big ? 16u : 8u) && page < file.size(), "a page lies within the file");
    }
    return *pages;
}

const std::string& InputPath() {
    static const std::string path = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("vemra-pages-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return (dir / "input.tif").string();
    }();
    return path;
}

/// Reads page `k` both ways and compares what both read.
void ComparePage(const render::FileFrames& frames, int k) {
    render::LoadedImage paged, walked;
    bool paged_read = true, walked_read = true;
    try {
        render::ReadImage(InputPath(), 1 << 16, paged, k, {}, &frames);
    } catch (const render::InputError&) {
        paged_read = false;
    }
    try {
        render::ReadImage(InputPath(), 1 << 16, walked, k);
    } catch (const render::InputError&) {
        walked_read = false;
    }
    if (!paged_read || !walked_read) return;
    const OIIO::ImageSpec& a = paged.header->fields;
    const OIIO::ImageSpec& b = walked.header->fields;
    Require(a.width == b.width && a.height == b.height && a.nchannels == b.nchannels &&
                a.format == b.format,
            "a page read where it starts has the header the library's walk gives");
    Require(paged.buffer == walked.buffer, "a page read where it starts holds the same samples");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    OIIO::attribute("threads", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 16) return 0;
    const std::vector<std::byte> file(reinterpret_cast<const std::byte*>(data),
                                      reinterpret_cast<const std::byte*>(data) + size);
    const std::vector<std::uint64_t> pages = CheckedPages(file);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        // Each page linked from the one before, as the walk from i finds it.
        std::vector<std::byte> patched = file;
        const render::HeaderPatch patch = render::PatchFirstPage(file, pages[i]);
        Require(patch.length == 4 || patch.length == 8, "a TIFF header gets a patch");
        std::memcpy(patched.data() + patch.at, patch.bytes, patch.length);
        const std::vector<std::uint64_t> from_i = CheckedPages(patched);
        const std::size_t expected = std::min(pages.size() - i, kMostPages);
        Require(from_i.size() >= expected &&
                    std::equal(pages.begin() + std::ptrdiff_t(i),
                               pages.begin() + std::ptrdiff_t(i + expected), from_i.begin()),
                "the walk from a page finds the pages after it");
    }
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    render::FileFrames frames;
    try {
        frames = render::FindFrames(InputPath(), 1 << 16);
    } catch (const render::InputError&) {
        return 0;
    }
    Require(frames.tiff_pages.empty() || frames.count == int(frames.tiff_pages.size()),
            "a TIFF's frames are its pages");
    for (int k = 0; k < std::min(frames.count, 4); ++k) ComparePage(frames, k);
    return 0;
}
