// HostSuiteTable and the explicit acquire/release, against a fake basic suite
// that records every call.
#include "host/suite_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace {

using vemra::HostSuiteTable;

/// A basic suite whose answers a test sets; the C callbacks reach it through
/// a pointer to the one fake in use.
struct FakeHost {
    struct Answer {
        std::int32_t code = 0;
        bool fill = true;
    };
    std::map<std::string, Answer> answers;  // by suite name; unlisted names are supplied
    std::vector<std::string> log;           // "acquire NAME vN" / "release NAME vN"
    std::map<std::string, int> held;        // acquires minus releases, by name
    char dummy_suite[64] = {};

    SPBasicSuite basic{&Acquire, &Release};
    PF_UtilCallbacks utils{nullptr, {&Sprintf, nullptr}};
    PF_InData in_data{};
    PF_OutData out_data{};

    static FakeHost* current;

    FakeHost() {
        current = this;
        in_data.pica_basicP = &basic;
        in_data.utils = &utils;
    }
    ~FakeHost() { current = nullptr; }

    static std::int32_t Acquire(const char* name, std::int32_t version, const void** suite) {
        FakeHost& host = *current;
        host.log.push_back("acquire " + std::string(name) + " v" + std::to_string(version));
        const Answer answer = host.answers[name];
        *suite = answer.fill ? host.dummy_suite : nullptr;
        if (answer.fill) ++host.held[name];
        return answer.code;
    }
    static std::int32_t Release(const char* name, std::int32_t version) {
        FakeHost& host = *current;
        host.log.push_back("release " + std::string(name) + " v" + std::to_string(version));
        --host.held[name];
        return 0;
    }
    static A_long Sprintf(char* buffer, const char* format, ...) {
        std::va_list args;
        va_start(args, format);
        const int written = std::vsnprintf(buffer, PF_MAX_EFFECT_MSG_LEN + 1, format, args);
        va_end(args);
        return written;
    }

    bool NothingHeld() const {
        for (const auto& [name, count] : held)
            if (count != 0) return false;
        return true;
    }
};
FakeHost* FakeHost::current = nullptr;

PF_Err RaisedBy(auto&& body) {
    try {
        body();
    } catch (PF_Err raised) {
        return raised;
    }
    return PF_Err_NONE;
}

TEST(SuiteTable, AcquiresOnFirstUseOnceAndReleasesWithItsOwnNameAndVersion) {
    FakeHost host;
    {
        HostSuiteTable suites(&host.basic);
        const auto* first = suites.Get<PF_Iterate8Suite1>();
        const auto* second = suites.Get<PF_Iterate8Suite1>();
        EXPECT_EQ(first, second);
        suites.Get<PF_iterate16Suite1>();
    }
    const std::vector<std::string> expected = {
        "acquire PF Iterate8 Suite v1", "acquire PF iterate16 Suite v1",
        "release PF World Transform Suite v1",  // never asked: must not appear
    };
    EXPECT_EQ(host.log.size(), 4u);
    EXPECT_EQ(host.log[0], expected[0]);
    EXPECT_EQ(host.log[1], expected[1]);
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "release PF Iterate8 Suite v1"),
              host.log.end());
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "release PF iterate16 Suite v1"),
              host.log.end());
    EXPECT_TRUE(host.NothingHeld());
}

TEST(SuiteTable, ATableNeverAskedReleasesNothing) {
    FakeHost host;
    { HostSuiteTable suites(&host.basic); }
    EXPECT_TRUE(host.log.empty());
}

TEST(SuiteTable, NoBasicSuiteRaises516AtConstruction) {
    EXPECT_EQ(RaisedBy([] { HostSuiteTable suites(nullptr); }), PF_Err_SUITE_UNAVAILABLE);
}

struct RefusalCase {
    const char* what;
    FakeHost::Answer answer;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.what;
}

class SuiteRefused : public ::testing::TestWithParam<RefusalCase> {};

// Whatever way the host refuses, the table raises 516, and every suite
// acquired before the refusal is released while the error unwinds.
TEST_P(SuiteRefused, Raises516AndReleasesWhatWasAcquired) {
    FakeHost host;
    host.answers[PF_Iterate8Suite1::kName] = GetParam().answer;
    const PF_Err raised = RaisedBy([&] {
        HostSuiteTable suites(&host.basic);
        suites.Get<PF_ANSICallbacksSuite1>();
        suites.Get<PF_Iterate8Suite1>();
        ADD_FAILURE() << "a refused suite must raise";
    });
    EXPECT_EQ(raised, PF_Err_SUITE_UNAVAILABLE);
    EXPECT_TRUE(host.NothingHeld());
    EXPECT_EQ(host.log.back().rfind("release", 0), 0u) << host.log.back();
}

INSTANTIATE_TEST_SUITE_P(Refusals, SuiteRefused,
                         ::testing::Values(RefusalCase{"null pointer, code 0", {0, false}},
                                           RefusalCase{"null pointer, error code", {7, false}},
                                           RefusalCase{"error code, pointer filled", {7, true}}),
                         [](const auto& param_info) { return std::to_string(param_info.index); });

TEST(AcquireHostSuite, SucceedsWhenThePointerIsFilledWhateverTheCode) {
    FakeHost host;
    host.answers[PF_PixelFormatSuite1::kName] = {99, true};
    const PF_PixelFormatSuite1* suite = nullptr;
    EXPECT_EQ(vemra::AcquireHostSuite(&host.in_data, &host.out_data, &suite), PF_Err_NONE);
    EXPECT_NE(suite, nullptr);
    EXPECT_EQ(host.out_data.out_flags, 0);
    EXPECT_STREQ(host.out_data.return_msg, "");
}

struct ReportCase {
    const char* what;
    bool basic_suite;
    bool supplied;
    bool release;  // false: acquire
    const char* message;
};

void PrintTo(const ReportCase& c, std::ostream* os) {
    *os << c.what;
}

class SuiteFailureReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(SuiteFailureReport, Sets516TheFlagAndTheMessage) {
    const ReportCase& c = GetParam();
    FakeHost host;
    host.answers[PF_PixelFormatSuite1::kName] = {0, c.supplied};
    if (!c.basic_suite) host.in_data.pica_basicP = nullptr;
    host.out_data.out_flags = 0x400;  // flags already set stay set
    const PF_PixelFormatSuite1* suite = nullptr;
    const PF_Err result =
        c.release ? vemra::ReleaseHostSuite<PF_PixelFormatSuite1>(&host.in_data, &host.out_data)
                  : vemra::AcquireHostSuite(&host.in_data, &host.out_data, &suite);
    EXPECT_EQ(result, PF_Err_SUITE_UNAVAILABLE);
    EXPECT_EQ(host.out_data.out_flags, 0x400 | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(host.out_data.return_msg, c.message);
    EXPECT_EQ(suite, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Failures, SuiteFailureReport,
                         ::testing::Values(ReportCase{"acquire, no basic suite", false, true, false,
                                                      "Not able to acquire AEFX Suite."},
                                           ReportCase{"acquire, not supplied", true, false, false,
                                                      "Not able to acquire AEFX Suite."},
                                           ReportCase{"release, no basic suite", false, true, true,
                                                      "Not able to release AEFX Suite."}),
                         [](const auto& param_info) { return std::to_string(param_info.index); });

TEST(ReleaseHostSuite, ReleasesAndSucceedsWhateverTheHostAnswers) {
    FakeHost host;
    EXPECT_EQ(vemra::ReleaseHostSuite<PF_PixelFormatSuite1>(&host.in_data, &host.out_data),
              PF_Err_NONE);
    ASSERT_EQ(host.log.size(), 1u);
    EXPECT_EQ(host.log[0], "release PF Pixel Format Suite v1");
    EXPECT_EQ(host.out_data.out_flags, 0);
}

}  // namespace
