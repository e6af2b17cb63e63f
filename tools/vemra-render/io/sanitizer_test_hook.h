// For the test of the test command's sanitizer check only, and built only
// in sanitizer builds: a way to make the tool raise a sanitizer report while
// its standard error is silenced, as a fault inside a decoder would.
#pragma once

namespace render {

/// Reads past the end of a heap block when the environment variable
/// VEMRA_TEST_RAISE_SANITIZER_REPORT is set; does nothing otherwise.
void RaiseSanitizerReportForTest();

}  // namespace render
