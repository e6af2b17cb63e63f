// Sanitizer builds only: every report reaches the file log_path names, and
// a test hook raises one while standard error is silenced, as a fault
// inside a decoder would, so the test command's check can be shown firing.
#pragma once

namespace render {

/// Raises a report when the environment variable
/// VEMRA_TEST_RAISE_SANITIZER_REPORT says so: "address" reads past the end
/// of a heap block, "undefined" overflows a signed integer. Does nothing
/// otherwise.
void RaiseSanitizerReportForTest();

}  // namespace render
