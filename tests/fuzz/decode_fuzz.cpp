// Fuzzes reading image files end to end, decoders included: each input is
// written to a file and read with ReadImage, as vemra-render reads its inputs.
// OpenImageIO picks the reader by the file's contents. Not part of the test
// command (the decoders are not ours and are not instrumented): a long run by
// hand, from a corpus of small image files (see docs/building-and-testing.md).
//
// Invariants: no sanitizer report, and a file is either read into an image
// of its header's size or refused with an InputError.
#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fuzz/fuzz_input.h"
#include "tools/vemra-render/io/image_files_oiio.h"

namespace {

const std::string& InputPath() {
    static const std::string path = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("vemra-decode-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return (dir / "input").string();
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    OIIO::attribute("threads", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream file(InputPath(), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    try {
        const render::LoadedImage loaded = render::ReadImage(InputPath(), 1u << 22);
        vemra::fuzz::Require(loaded.width == loaded.header->fields.width &&
                                 loaded.height == loaded.header->fields.height,
                             "a file read has its header's size");
    } catch (const render::InputError&) {
    }
    return 0;
}
