// The plug-in as the Windows loader sees it (run under Wine): loaded by the
// stand-in host's loader, its entry point found by name, and the property
// list read back through the loader's resource functions, as a host reads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/effect_library.h"
#include "sim/host.h"
#include "tests/windows/expected_property_list.h"
#include "tests/windows/property_list_walk.h"

namespace {

/// The .aex loaded for the whole test program, as a host loads it.
class LoadedPlugin : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        library_ = new sim::EffectLibrary(sim::EffectLibrary::Load(VEMRA_EFFECT_PATH));
        module_ = GetModuleHandleA("VemraTemperature.aex");
    }
    static void TearDownTestSuite() {
        delete library_;
        library_ = nullptr;
        module_ = nullptr;
    }

    /// The property list as the loader returns it; empty if it is missing.
    static std::vector<std::uint8_t> PropertyList(WORD language) {
        HRSRC found = FindResourceExA(module_, "PIPL", MAKEINTRESOURCEA(16000), language);
        if (found == nullptr) return {};
        HGLOBAL loaded = LoadResource(module_, found);
        const DWORD size = SizeofResource(module_, found);
        const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
        if (data == nullptr) return {};
        return {data, data + size};
    }

    static HMODULE module_;
    static sim::EffectLibrary* library_;
};

HMODULE LoadedPlugin::module_ = nullptr;
sim::EffectLibrary* LoadedPlugin::library_ = nullptr;

TEST_F(LoadedPlugin, ResolvesEntryPointFuncByItsUndecoratedName) {
    ASSERT_NE(module_, nullptr) << "could not load " << VEMRA_EFFECT_PATH;
    EXPECT_NE(GetProcAddress(module_, "EntryPointFunc"), nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(library_->entry_point()),
              reinterpret_cast<std::uintptr_t>(GetProcAddress(module_, "EntryPointFunc")));
}

TEST_F(LoadedPlugin, ReadsThePropertyListThroughTheLoader) {
    ASSERT_NE(module_, nullptr);
    const std::vector<std::uint8_t> expected = expected::PropertyListBytes();
    const std::vector<std::uint8_t> read =
        PropertyList(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_EQ(read.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(int{read[i]}, int{expected[i]}) << "first difference at byte " << i;
    }
}

TEST_F(LoadedPlugin, HasNoOtherResourceType) {
    ASSERT_NE(module_, nullptr);
    std::vector<std::string> types;
    EnumResourceTypesA(
        module_,
        [](HMODULE, LPSTR type, LONG_PTR list) -> BOOL {
            reinterpret_cast<std::vector<std::string>*>(list)->push_back(
                IS_INTRESOURCE(type) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type))
                                     : std::string(type));
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ(types, std::vector<std::string>{"PIPL"});
}

// What the host reads before loading and what global set-up then reports are
// one set of words.
TEST_F(LoadedPlugin, DeclaresTheWordsThatGlobalSetUpReports) {
    ASSERT_NE(module_, nullptr);
    const auto properties =
        walk::Properties(PropertyList(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
    for (std::int32_t appl_id : {sim::kApplIdOther, kApplIdPrMr}) {
        sim::Host host(*library_, appl_id);
        ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
        EXPECT_EQ(walk::Find(properties, "eVER").Word32(), host.out_data().my_version);
        EXPECT_EQ(walk::Find(properties, "eGLO").Word32(),
                  static_cast<std::uint32_t>(host.out_data().out_flags));
        EXPECT_EQ(walk::Find(properties, "eGL2").Word32(),
                  static_cast<std::uint32_t>(host.out_data().out_flags2));
    }
}

}  // namespace
