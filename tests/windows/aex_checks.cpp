// Checks of the built plug-in read as a file, on the build machine:
//   aex_checks PATH/VemraTemperature.aex [GoogleTest flags]
// The image is a 64-bit DLL exporting EntryPointFunc alone, importing only
// Windows' own DLLs, built with the loader's hardening flags, and carrying the
// property list as its one resource.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/windows/expected_property_list.h"
#include "tests/windows/pe_reader.h"

namespace {

std::string g_path;

const std::vector<std::uint8_t>& FileBytes() {
    static const std::vector<std::uint8_t> bytes = pe::ReadFile(g_path);
    return bytes;
}

const pe::Image& Image() {
    static const pe::Image image = pe::Parse(FileBytes());
    return image;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

TEST(AexFile, IsA64BitDll) {
    EXPECT_EQ(Image().machine, pe::kMachineAmd64);
    EXPECT_EQ(Image().optional_magic, pe::kOptionalMagicPe32Plus);
    EXPECT_NE(Image().characteristics & pe::kFileDll, 0);
}

TEST(AexFile, ExportsEntryPointFuncAlone) {
    EXPECT_EQ(Image().export_names, std::vector<std::string>{"EntryPointFunc"});
    EXPECT_EQ(Image().exported_function_count, 1u);  // nothing exported by ordinal only
}

TEST(AexFile, ImportsOnlyWindowsOwnDlls) {
    // Everything the C++ runtime needs is linked in: no libstdc++, libgcc or
    // winpthread DLL may be asked for at load time.
    const std::vector<std::string> system = {"kernel32.dll", "msvcrt.dll",   "ntdll.dll",
                                             "user32.dll",   "advapi32.dll", "ucrtbase.dll"};
    ASSERT_FALSE(Image().imported_dlls.empty());
    for (const std::string& dll : Image().imported_dlls) {
        const std::string name = Lower(dll);
        const bool known = std::find(system.begin(), system.end(), name) != system.end() ||
                           name.starts_with("api-ms-win-");
        EXPECT_TRUE(known) << dll << " is not a Windows system DLL";
    }
}

TEST(AexFile, HasTheLoaderHardeningFlags) {
    const std::uint16_t flags = Image().dll_characteristics;
    EXPECT_NE(flags & pe::kDynamicBase, 0) << "not relocatable (--dynamicbase)";
    EXPECT_NE(flags & pe::kHighEntropyVa, 0) << "no 64-bit address randomisation";
    EXPECT_NE(flags & pe::kNxCompat, 0) << "data pages executable (--nxcompat)";
}

TEST(AexFile, CarriesThePropertyListAsItsOnlyResource) {
    ASSERT_EQ(Image().resources.size(), 1u);
    const pe::Resource& resource = Image().resources.front();
    EXPECT_EQ(resource.type, pe::NamedKey("PIPL"));
    EXPECT_EQ(resource.name, pe::NumberedKey(16000));
    EXPECT_EQ(resource.language, 1033u);  // U.S. English
    const std::vector<std::uint8_t> expected = expected::PropertyListBytes();
    ASSERT_EQ(resource.data.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(int{resource.data[i]}, int{expected[i]}) << "first difference at byte " << i;
    }
}

// The reader itself: a cut-off copy of the file must be refused, not read
// past its end or returned with short data.
TEST(PeReader, RefusesTruncatedImages) {
    const std::vector<std::uint8_t>& bytes = FileBytes();
    for (std::size_t size : {std::size_t{0}, std::size_t{2}, std::size_t{0x40}, std::size_t{0x100},
                             bytes.size() / 2}) {
        SCOPED_TRACE(size);
        const std::vector<std::uint8_t> cut(bytes.begin(),
                                            bytes.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_THROW(pe::Parse(cut), pe::FormatError);
    }
}

TEST(PeReader, RefusesAHeaderPointingOutsideTheFile) {
    std::vector<std::uint8_t> bytes = FileBytes();
    bytes[0x3C] = 0xF0;  // e_lfanew far beyond the end
    bytes[0x3D] = 0xFF;
    bytes[0x3E] = 0xFF;
    EXPECT_THROW(pe::Parse(bytes), pe::FormatError);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH/VemraTemperature.aex [GoogleTest flags]\n", argv[0]);
        return 2;
    }
    g_path = argv[1];
    return RUN_ALL_TESTS();
}
