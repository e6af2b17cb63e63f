// Parameter set-up through the loaded library, and the conversion of control
// values into colour settings.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "effect/parameters.h"
#include "sim/host.h"
#include "tests/color/float_bits.h"
#include "tests/effect/loaded_effect.h"

namespace {

using vemra::test::Bits;
using vemra::test::LoadedEffect;

/// The record a control must arrive as: all zeros, then the fields it sets.
PF_ParamDef Cleared(PF_ParamType type, const char* name, A_long id) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = type;
    std::strcpy(def.name, name);
    def.uu.id = id;
    return def;
}

PF_ParamDef ExpectedShiftSlider(const char* name) {
    PF_ParamDef def = Cleared(PF_Param_FLOAT_SLIDER, name, 2);
    def.u.fs_d.value = 0.0;
    def.u.fs_d.dephault = 0.0f;
    def.u.fs_d.valid_min = -5.0f;
    def.u.fs_d.valid_max = 5.0f;
    def.u.fs_d.slider_min = -2.0f;
    def.u.fs_d.slider_max = 2.0f;
    def.u.fs_d.precision = 1;
    def.u.fs_d.curve_tolerance = vemra::test::FromBits(0x3D4CCCCDu);
    return def;
}

std::vector<PF_ParamDef> ExpectedDeclarations(const char* checkbox_label) {
    PF_ParamDef opacity = Cleared(PF_Param_FIX_SLIDER, "Opacity", 4);
    opacity.u.fd.value = 0x00640000;
    opacity.u.fd.dephault = 0x00640000;
    opacity.u.fd.valid_max = 0x00640000;
    opacity.u.fd.slider_max = 0x00640000;
    opacity.u.fd.precision = 1;
    opacity.u.fd.display_flags = PF_ValueDisplayFlag_PERCENT;

    PF_ParamDef clamp = Cleared(PF_Param_CHECKBOX, "Clamp on output", 5);
    clamp.flags = PF_ParamFlag_CANNOT_TIME_VARY;
    clamp.u.bd.u.nameptr = checkbox_label;  // checked for its text separately

    return {ExpectedShiftSlider("Temperature"), ExpectedShiftSlider("Magenta"), opacity, clamp};
}

TEST(ParamsSetup, DeclaresFourControlsFieldByFieldWithEveryOtherFieldZero) {
    sim::Host host(LoadedEffect());
    host.out_data().num_params = -1;
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
    EXPECT_EQ(host.out_data().num_params, 5);

    const std::vector<PF_ParamDef>& declared = host.declared_params();
    ASSERT_EQ(declared.size(), 4u);
    ASSERT_NE(declared[3].u.bd.u.nameptr, nullptr);
    EXPECT_STREQ(declared[3].u.bd.u.nameptr, "") << "no label beside the checkbox";

    const std::vector<PF_ParamDef> expected = ExpectedDeclarations(declared[3].u.bd.u.nameptr);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_STREQ(declared[i].name, expected[i].name);
        EXPECT_EQ(declared[i].uu.id, expected[i].uu.id) << expected[i].name;
        EXPECT_EQ(declared[i].param_type, expected[i].param_type) << expected[i].name;
        // Whole record, byte for byte: a field left over from the previous
        // control (the effect reuses one record) would show here.
        EXPECT_EQ(0, std::memcmp(&declared[i], &expected[i], sizeof(PF_ParamDef)))
            << expected[i].name;
    }
    EXPECT_EQ(Bits(declared[0].u.fs_d.curve_tolerance), 0x3D4CCCCDu);
    EXPECT_TRUE(host.suite_events().empty()) << "parameter set-up acquires no suite";
    EXPECT_TRUE(host.violations().empty());
}

TEST(ParamsSetup, StopsAtTheFirstRefusedControlAndLeavesNumParams) {
    sim::Host host(LoadedEffect());
    host.out_data().num_params = 77;
    host.FailAddParamOnCall(3, 1234);
    EXPECT_EQ(host.ParamsSetup(), 1234);
    EXPECT_EQ(host.out_data().num_params, 77);
    int add_param_calls = 0;
    for (const std::string& call : host.calls()) add_param_calls += call == "add_param";
    EXPECT_EQ(add_param_calls, 3);
}

// The conversion of control values, with the examples worked out by hand.
struct ConversionCase {
    const char* what;
    double temperature;
    double magenta;
    PF_Fixed opacity;
    A_long checkbox;
    TemperatureSettings expected;
};

void PrintTo(const ConversionCase& c, std::ostream* os) {
    *os << c.what;
}

class SettingsConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(SettingsConversion, MatchesTheWorkedValues) {
    const ConversionCase& c = GetParam();
    PF_ParamDef defs[5];
    std::memset(defs, 0, sizeof defs);
    defs[1].u.fs_d.value = c.temperature;
    defs[2].u.fs_d.value = c.magenta;
    defs[3].u.fd.value = c.opacity;
    defs[4].u.bd.value = c.checkbox;
    PF_ParamDef* params[5] = {&defs[0], &defs[1], &defs[2], &defs[3], &defs[4]};

    const TemperatureSettings s = vemra::SettingsFromParams(params);
    EXPECT_EQ(Bits(s.temperature), Bits(c.expected.temperature));
    EXPECT_EQ(Bits(s.magenta), Bits(c.expected.magenta));
    EXPECT_EQ(Bits(s.mix), Bits(c.expected.mix));
    EXPECT_EQ(s.clamp != 0, c.expected.clamp != 0);
}

constexpr PF_Fixed kPercent = 65536;

INSTANTIATE_TEST_SUITE_P(
    Examples, SettingsConversion,
    ::testing::Values(
        // The slider's -2..2 becomes -1..1 and its valid -5..5 becomes -2.5..2.5.
        ConversionCase{"temperature 2", 2.0, 0.0, 100 * kPercent, 0, {1.0f, 0.0f, 1.0f, 0}},
        ConversionCase{"temperature -5", -5.0, 0.0, 100 * kPercent, 0, {-2.5f, 0.0f, 1.0f, 0}},
        // Nearest floats to 1/3 and 5/3.
        ConversionCase{"magenta 1", 0.0, 1.0, 100 * kPercent, 0, {0.0f, 0.333333343f, 1.0f, 0}},
        ConversionCase{"magenta 5", 0.0, 5.0, 100 * kPercent, 0, {0.0f, 1.66666663f, 1.0f, 0}},
        // Magenta 0.9 tells rounding to single before the division from
        // dividing the double. 0.9 is 1.1100 1100 1100 ... x 2^-1 in binary;
        // the bit after the 24th significant one is 0, so single(0.9) rounds
        // down to 0x3F666666 = 0.89999997615814208984375. Divided by 3 in
        // double: 0.29999999205271405. The floats either side are
        // 0x3E999999 = 0.2999999821186065673828125 and
        // 0x3E99999A = 0.300000011920928955078125, midpoint
        // 0.29999999701976776123046875; the quotient lies below it, so the
        // result is 0x3E999999. Dividing the double 0.9 by 3 instead gives
        // 0.29999999999999998889..., above the midpoint: 0x3E99999A.
        ConversionCase{"magenta 0.9 rounded to single first",
                       0.0,
                       0.9,
                       100 * kPercent,
                       0,
                       {0.0f, vemra::test::FromBits(0x3E999999u), 1.0f, 0}},
        ConversionCase{"opacity 50", 0.0, 0.0, 50 * kPercent, 0, {0.0f, 0.0f, 0.5f, 0}},
        // 0x8000 is 0.5 %: the float nearest 0.005.
        ConversionCase{"opacity 0.5", 0.0, 0.0, 0x8000, 0, {0.0f, 0.0f, 0.005f, 0}},
        ConversionCase{"opacity 0", 0.0, 0.0, 0, 0, {0.0f, 0.0f, 0.0f, 0}},
        ConversionCase{"checkbox on", 0.0, 0.0, 100 * kPercent, 1, {0.0f, 0.0f, 1.0f, 1}},
        // Only the low byte of the checkbox word counts.
        ConversionCase{
            "checkbox high byte only", 0.0, 0.0, 100 * kPercent, 0x100, {0.0f, 0.0f, 1.0f, 0}},
        ConversionCase{"checkbox 0x1ff", 0.0, 0.0, 100 * kPercent, 0x1ff, {0.0f, 0.0f, 1.0f, 1}},
        // The benchmark's controls: 0.3 rounds to single first; 0.3f / 3 in
        // double is nearest to 0.1f. 80 % is the float nearest 0.8.
        ConversionCase{"benchmark controls", 0.5, 0.3, 80 * kPercent, 1, {0.25f, 0.1f, 0.8f, 1}}),
    [](const auto& param_info) { return std::to_string(param_info.index); });

}  // namespace
