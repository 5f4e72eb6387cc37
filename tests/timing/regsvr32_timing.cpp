// Wall time of `regsvr32 /s` and `regsvr32 /s /u` of the product module against
// the same of a DLL whose exports do nothing, measured side by side in one run
// and one Wine prefix (with its wineserver already running), on the registry
// seed of the settings end-to-end tests. Run it through cmake/wine-test-run.sh:
//   cmake/wine-test-run.sh --build-dir $PWD/build/windows $PWD/build/windows/bin/regsvr32_timing.exe [rounds]
// (both paths absolute: the script makes the Wine prefix below the build directory).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/module_e2e.h"
#include "tests/support/windows_commands.h"

namespace {

struct Series {
    const char* label;
    std::vector<double> milliseconds;
    int failures = 0;
};

double TimedRegsvr32(const std::string& dll, bool unregister, Series& series) {
    const auto start = std::chrono::steady_clock::now();
    const int exitCode = qz::test::RunRegsvr32(dll, unregister);
    const auto stop = std::chrono::steady_clock::now();
    if (exitCode != 0) ++series.failures;
    const double ms = std::chrono::duration<double, std::milli>(stop - start).count();
    series.milliseconds.push_back(ms);
    return ms;
}

void Print(const Series& series) {
    std::vector<double> sorted = series.milliseconds;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double ms : sorted) sum += ms;
    std::printf("%-38s runs %3zu  median %8.1f ms  mean %8.1f ms  min %8.1f ms  max %8.1f ms  failed %d\n",
                series.label, sorted.size(), sorted[sorted.size() / 2], sum / sorted.size(), sorted.front(),
                sorted.back(), series.failures);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    qz::test::ImportRegFixture("tests/e2e/fixtures/settings_seed.reg");
    const std::string product = qz::test::InstallModuleCopy();
    const std::string noop = qz::test::WindowsPath(QZ_NOOP_MODULE_FILE);

    // One warm-up of each, so that neither side pays for the first load of regsvr32.
    Series warmUp{"warm-up"};
    TimedRegsvr32(noop, false, warmUp);
    TimedRegsvr32(product, false, warmUp);
    TimedRegsvr32(product, true, warmUp);

    Series productRegister{"regsvr32 qzproduct.dll"};
    Series noopRegister{"regsvr32 qznoop.dll (does nothing)"};
    Series productUnregister{"regsvr32 /u qzproduct.dll"};
    Series noopUnregister{"regsvr32 /u qznoop.dll (does nothing)"};
    // Interleaved, so that a slow moment of the machine falls on both sides alike.
    for (int i = 0; i < rounds; ++i) {
        TimedRegsvr32(product, false, productRegister);
        TimedRegsvr32(noop, false, noopRegister);
        TimedRegsvr32(product, true, productUnregister);
        TimedRegsvr32(noop, true, noopUnregister);
    }
    Print(productRegister);
    Print(noopRegister);
    Print(productUnregister);
    Print(noopUnregister);
    const bool allPassed = productRegister.failures + noopRegister.failures + productUnregister.failures +
                               noopUnregister.failures ==
                           0;
    return allPassed ? 0 : 1;
}
