// libFuzzer target: the input is a bundle's relocation file
// (relocation.xml), read by the plug-in's "validate" beside a fixed
// definition whose packages it may move: each package is looked up in it,
// and the file found there (if any) is checked against its digest.
#include <cstddef>
#include <cstdint>

#include "FuzzSandbox.h"
#include "FuzzValidation.h"

namespace {

// Packages by release id, by path alone, twice under one id, and with a
// digest (of "moved\n").
const char* const kDefinition = R"(<?xml version="1.0" encoding="UTF-8"?>
<SoftwareBundle>
  <Contents>
    <Package releaseID="R1" path="update.sh" packageType="LWXP"/>
    <Package releaseID="R2" path="driver.msi" sha256="2c85ab0700b597297552509665d1f5a95111d16c5416fdc88d5bb85fcf4d0017"/>
    <Package path="tools.tar.gz"/>
    <Package releaseID="" path="plain.qpk"/>
  </Contents>
</SoftwareBundle>
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string bundle = [] {
        const FuzzSandbox& sandbox = FuzzSandbox::instance();
        const std::string directory = sandbox.path("bundle");
        sandbox.makeDirectory(directory + "/moved");
        sandbox.write(directory + "/bundle.xml", kDefinition);
        sandbox.write(directory + "/update.sh", "#!/bin/sh\nexit 0\n");
        sandbox.write(directory + "/moved/update.sh", "#!/bin/sh\nexit 1\n");
        sandbox.write(directory + "/moved/driver.msi", "moved\n");
        return directory;
    }();
    FuzzSandbox::instance().write(bundle + "/relocation.xml", data, size);
    FuzzValidation::directory(bundle);
    return 0;
}
