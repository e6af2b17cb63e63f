// The pages of a multi-page TIFF file, each opened where it starts. The
// TIFF library finds page k by walking the chain of page directories from
// the first, so reading the pages of a file one by one would cost the
// square of their number. Here the chain is walked once, and each page is
// opened through a view of the file whose header names that page's
// directory as the first: the library reads it directly, and the pages after
// it as they follow.
#pragma once

#include <OpenImageIO/filesystem.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace render {

/// Reads bytes of a file at `offset` into `into`; returns how many it read.
using ReadAt = std::function<std::size_t(std::uint64_t offset, std::span<std::byte> into)>;

/// The offset of each page's directory in a TIFF file (classic or BigTIFF)
/// of `size` bytes that `read` reads, in the order of the chain; nullopt
/// when it is no TIFF file. The walk stops at a directory that does not lie
/// whole within the file, at one met before (a loop), and after `most`
/// pages: the pages before it are the file's, as far as they can be read.
std::optional<std::vector<std::uint64_t>> FindTiffPages(const ReadAt& read, std::uint64_t size,
                                                        std::size_t most);
/// The same for the file at `path`; nullopt too when it cannot be read.
std::optional<std::vector<std::uint64_t>> FindTiffPages(const std::string& path, std::size_t most);

/// The bytes of a TIFF header whose first directory is at `page`: `header`
/// (the file's first bytes, at least 16) with its first-directory offset
/// replaced, in the file's byte order. Where that offset lies in the header
/// and how long it is: `at` and `length`, 0 for a header that is no TIFF's.
struct HeaderPatch {
    std::size_t at = 0;
    std::size_t length = 0;
    std::byte bytes[8] = {};
};
HeaderPatch PatchFirstPage(std::span<const std::byte> header, std::uint64_t page);

/// A TIFF file read through the image library as if its first page were
/// the one whose directory lies at `page`: every byte as the file has it
/// except the header's first-directory offset, until the library has read
/// the header (it reads it once, as it opens the file); a damaged file's
/// strip that overlaps the header then reads as the file has it. Check
/// opened() after making one.
class TiffPageFile final : public OIIO::Filesystem::IOFile {
  public:
    TiffPageFile(const std::string& path, std::uint64_t page);
    std::size_t read(void* buffer, std::size_t size) override;
    std::size_t pread(void* buffer, std::size_t size, std::int64_t offset) override;

  private:
    /// Puts the patch into `buffer`, which holds the file's bytes from
    /// `offset`, until a read has taken the whole of it.
    void Patch(void* buffer, std::size_t size, std::int64_t offset);
    HeaderPatch patch_;
    bool header_read_ = false;
};

}  // namespace render
