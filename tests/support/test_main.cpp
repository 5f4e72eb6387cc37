// The main of every test program: GoogleTest's, except that a program whose
// cases passed but of which some were skipped exits with QZ_SKIPPED_EXIT_CODE
// (cmake/tests.cmake gives CTest the same number as SKIP_RETURN_CODE), so that
// CTest shows it as skipped rather than as passed. A failure still fails,
// skips or not, and so does a sanitizer's verdict at exit, which replaces the
// code.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (result == 0 && ::testing::UnitTest::GetInstance()->skipped_test_count() > 0) return QZ_SKIPPED_EXIT_CODE;
    return result;
}
