#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "BundleTestSupport.h"
#include "VorkExecuteProgram.h"

using bundletest::BundleTest;
using bundletest::PackageSpec;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class BundleScaleTest : public BundleTest {
protected:
    struct Timing {
        double build = 0; // constructing the Bundle
        double run = 0;   // Bundle::execute
        double plain = 0; // starting the same programs in a plain loop
    };

    // n packages that all start one no-op program.
    Timing measure(std::size_t n) {
        std::filesystem::remove_all(m_bundleDir);
        std::filesystem::create_directories(m_bundleDir);
        const std::string program = plimotest::writeFile(m_bundleDir + "/noop.exe",
                                                         "#!/bin/sh\nfor a in \"$@\"; do case \"$a\" in /l=*) "
                                                         ": > \"${a#/l=}\";; esac; done\nexit 0\n",
                                                         true);
        std::string xml = "<SoftwareBundle><Contents>";
        for (std::size_t i = 0; i < n; ++i)
            xml += "<Package releaseID=\"R" + std::to_string(i) + "\" path=\"noop.exe\"/>";
        xml += "</Contents></SoftwareBundle>";
        plimotest::writeFile(m_bundleDir + "/bundle.xml", xml);
        auto log = makeStatusLog();

        Timing timing;
        auto start = Clock::now();
        Bundle bundle(log.get(), false);
        timing.build = secondsSince(start);
        EXPECT_EQ(bundle.packageCount(), n);

        start = Clock::now();
        EXPECT_EQ(bundle.execute(false), 0);
        timing.run = secondsSince(start);
        EXPECT_EQ(log->progressPercent(), 100);

        const std::string commandLine = program + " /s /l=" + log->qpkLogName;
        start = Clock::now();
        for (std::size_t i = 0; i < n; ++i) {
            VorkSupport::VorkProgramCall call;
            call.programText = commandLine;
            const VorkSupport::VorkProgramResult result = VorkSupport::VorkExecuteProgram(call);
            EXPECT_TRUE(result.started);
            EXPECT_EQ(result.exitCode, 0);
        }
        timing.plain = secondsSince(start);
        return timing;
    }
};

TEST_F(BundleScaleTest, ThousandPackagesBuildQuicklyAndRunAtTheCostOfTheirPrograms) {
    const Timing small = measure(250);
    const Timing large = measure(1000);
    std::cout << "[ timing   ] 250 packages: build " << small.build << " s, run " << small.run << " s, plain loop "
              << small.plain << " s\n"
              << "[ timing   ] 1000 packages: build " << large.build << " s, run " << large.run << " s, plain loop "
              << large.plain << " s" << std::endl;
    RecordProperty("build1000", std::to_string(large.build));
    RecordProperty("run1000", std::to_string(large.run));
    RecordProperty("plain1000", std::to_string(large.plain));
    EXPECT_LT(large.build, 1.0);
    // The run's own cost beyond starting the programs: the bundle's own work
    // is linear, but every step saves the whole (growing) status log, so the
    // written bytes grow with the square of the package count; fsync costs
    // dominate at this size. Four times the packages may cost at most sixteen
    // times as much, plus a fixed allowance for a busy machine: anything
    // worse means a lookup or a walk has become quadratic in its own right.
    const double smallOwn = std::max(0.0, small.run - small.plain);
    const double largeOwn = std::max(0.0, large.run - large.plain);
    EXPECT_LT(largeOwn, 16 * smallOwn + 5.0);
}

} // namespace
