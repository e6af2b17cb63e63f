#include "tools/vemra-render/io/sanitizer_test_hook.h"

#include <cstdlib>
#include <vector>

namespace render {

void RaiseSanitizerReportForTest() {
    if (std::getenv("VEMRA_TEST_RAISE_SANITIZER_REPORT") == nullptr) return;
    std::vector<int> block(1);
    volatile const int* past_end = block.data() + 1;
    static_cast<void>(*past_end);
}

}  // namespace render
