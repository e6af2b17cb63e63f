// Message text: bytes from outside the tool escaped so that a message is one
// line and sends the terminal nothing, and the standard library's
// exceptions told in words instead of their C++ names.
#include "tools/vemra-render/run/messages.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

namespace render {
namespace {

TEST(Messages, ControlBytesAndBrokenUtf8AreEscapedLettersKept) {
    struct Row {
        std::string text;
        std::string printed;
    };
    const Row rows[] = {
        {"plate.0001.exr", "plate.0001.exr"},
        {"two\nlines.png", "two\\nlines.png"},
        {"red\x1b[31m.png\r", "red\\x1b[31m.png\\r"},
        {"tab\tdel\x7f", "tab\\tdel\\x7f"},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\x9e",
         "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\x9e"},
        {"c1 \xc2\x9b"
         "31m",
         "c1 \\xc2\\x9b31m"},  // U+009B, a terminal's CSI
        {"latin1 \xe9t\xe9", "latin1 \\xe9t\\xe9"},
        {"cut \xe6\x97", "cut \\xe6\\x97"},
        {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
        {std::string("nul\0x", 5), "nul\\x00x"},
    };
    for (const Row& row : rows) EXPECT_EQ(Printable(row.text), row.printed) << row.printed;
}

TEST(Messages, StandardLibraryExceptionsAreToldInWords) {
    std::vector<std::exception_ptr> thrown;
    const auto keep = [&](auto&& throwing) {
        try {
            throwing();
        } catch (...) {
            thrown.push_back(std::current_exception());
        }
    };
    keep([] { throw std::bad_alloc(); });
    keep([] { std::vector<int>().resize(std::vector<int>().max_size() + 1); });
    keep([] { (void)std::vector<int>(2).at(5); });
    keep([] { (void)std::stoi("x"); });
    keep([] { throw std::runtime_error("in.tif: no such file"); });
    keep([] { throw std::invalid_argument("--compression zip: png files take zip"); });
    const char* told[] = {"out of memory",
                          "a size too large to hold in memory",
                          "an internal error of a library",
                          "an internal error of a library",
                          "in.tif: no such file",
                          "--compression zip: png files take zip"};
    ASSERT_EQ(thrown.size(), std::size(told));
    for (std::size_t i = 0; i < thrown.size(); ++i) {
        try {
            std::rethrow_exception(thrown[i]);
        } catch (const std::exception& e) {
            EXPECT_EQ(ErrorText(e), told[i]) << e.what();
            EXPECT_EQ(IsLibraryError(e), i < 4) << e.what();
        }
    }
}

}  // namespace
}  // namespace render
