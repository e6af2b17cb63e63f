// The property list's bytes, built at compile time, against the bytes stated
// from the layout rules; the writer's padding rules on other lengths; and the
// words the list declares against those the loaded effect's global set-up
// reports.
#include "resources/property_list.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sim/effect_library.h"
#include "sim/host.h"
#include "tests/windows/expected_property_list.h"
#include "tests/windows/property_list_walk.h"

namespace {

std::vector<std::uint8_t> Generated() {
    constexpr auto kBytes = vemra::PropertyListBytes();
    return {kBytes.begin(), kBytes.end()};
}

TEST(PropertyList, MatchesTheBytesStatedFromTheLayout) {
    const std::vector<std::uint8_t> expected = expected::PropertyListBytes();
    const std::vector<std::uint8_t> generated = Generated();
    ASSERT_EQ(generated.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(int{generated[i]}, int{expected[i]}) << "first difference at byte " << i;
    }
}

TEST(PropertyList, EndsExactlyAfterTheTwelfthProperty) {
    const std::vector<std::uint8_t> bytes = Generated();
    const auto properties = walk::Properties(bytes);  // throws on trailing bytes
    ASSERT_EQ(properties.size(), 12u);
    std::size_t size = 10;
    const char* keys[] = {"kind", "name", "catg", "8664", "ePVR", "eSVR",
                          "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
    for (std::size_t i = 0; i < properties.size(); ++i) {
        const walk::Property& p = properties[i];
        SCOPED_TRACE(p.key);
        EXPECT_EQ(p.key, keys[i]);
        EXPECT_EQ(p.vendor, "8BIM");
        EXPECT_EQ(p.id, 0u);
        EXPECT_EQ(p.padding, std::vector<std::uint8_t>(p.padding.size(), 0));
        size += 16 + (p.data.size() + 3) / 4 * 4;
    }
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(vemra::kPropertyListSize, bytes.size());
}

TEST(PropertyList, NameAndMatchNameCarryTheSameText) {
    const auto properties = walk::Properties(Generated());
    EXPECT_EQ(walk::Find(properties, "name").data, walk::Find(properties, "eMNA").data);
}

// --- The writer's rules on lengths the effect's own strings do not hit -------

using vemra::property_list_internal::Writer;

std::vector<std::uint8_t> Written(const Writer& writer) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < writer.size(); ++i) bytes.push_back(writer[i]);
    return bytes;
}

TEST(PropertyListWriter, StringDataIsPaddedAndTheLengthCountsThePadding) {
    struct Case {
        std::string text;
        bool length_prefixed;
        std::uint32_t data_length;
    };
    const Case cases[] = {
        {"", true, 4},  {"abc", true, 4},  {"abcd", true, 8},  {"abcdefg", true, 8},
        {"", false, 4}, {"abc", false, 4}, {"abcd", false, 8}, {"abcdefgh", false, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.length_prefixed ? "length-prefixed \"" : "terminated \"") + c.text + "\"");
        Writer writer;
        writer.Header();
        if (c.length_prefixed) {
            writer.LengthPrefixedString("name", c.text);
        } else {
            writer.NulTerminatedString("8664", c.text);
        }
        writer.Finish();
        const auto properties = walk::Properties(Written(writer));
        ASSERT_EQ(properties.size(), 1u);
        const auto& data = properties[0].data;
        ASSERT_EQ(data.size(), c.data_length);
        EXPECT_TRUE(properties[0].padding.empty());
        std::size_t at = 0;
        if (c.length_prefixed) {
            EXPECT_EQ(data[at++], c.text.size());
        }
        EXPECT_EQ(std::string(data.begin() + static_cast<std::ptrdiff_t>(at),
                              data.begin() + static_cast<std::ptrdiff_t>(at + c.text.size())),
                  c.text);
        for (at += c.text.size(); at < data.size(); ++at) EXPECT_EQ(data[at], 0) << "byte " << at;
    }
}

TEST(PropertyListWriter, NumbersAreNotPaddedInTheirLength) {
    Writer writer;
    writer.Header();
    writer.Word16("eINF", 0xBEEF);
    writer.VersionPair("eSVR", 0x1234, 0x5678);
    writer.Finish();
    const auto properties = walk::Properties(Written(writer));
    ASSERT_EQ(properties.size(), 2u);
    EXPECT_EQ(properties[0].data, (std::vector<std::uint8_t>{0xEF, 0xBE}));
    EXPECT_EQ(properties[0].padding, (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(properties[1].Word32(), 0x12345678u);  // major in the high half
}

TEST(PropertyListWriter, RefusesWhatTheLayoutCannotHold) {
    Writer writer;
    writer.Header();
    EXPECT_NO_THROW(writer.LengthPrefixedString("name", std::string(255, 'x')));
    EXPECT_THROW(writer.LengthPrefixedString("name", std::string(256, 'x')), std::length_error);
    EXPECT_THROW(writer.NulTerminatedString("8664", std::string("a\0b", 3)), std::invalid_argument);
    Writer full;
    EXPECT_THROW(
        for (int i = 0; i < 100; ++i) full.LengthPrefixedString("name", std::string(100, 'x')),
        std::length_error);
}

// The host reads the version and flags from the list before loading the
// library, and from global set-up after: the two must agree.
TEST(PropertyList, DeclaresTheWordsThatGlobalSetUpReports) {
    const sim::EffectLibrary library = sim::EffectLibrary::Load(VEMRA_EFFECT_PATH);
    for (std::int32_t appl_id : {sim::kApplIdOther, kApplIdPrMr}) {
        sim::Host host(library, appl_id);
        ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
        const auto properties = walk::Properties(Generated());
        EXPECT_EQ(walk::Find(properties, "eVER").Word32(), host.out_data().my_version);
        EXPECT_EQ(walk::Find(properties, "eGLO").Word32(),
                  static_cast<std::uint32_t>(host.out_data().out_flags));
        EXPECT_EQ(walk::Find(properties, "eGL2").Word32(),
                  static_cast<std::uint32_t>(host.out_data().out_flags2));
    }
}

}  // namespace
