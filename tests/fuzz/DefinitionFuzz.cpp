// libFuzzer target: the input is a bundle definition (bundle.xml), validated
// by the plug-in as a caller's "validate" does: read and checked, its
// applicability, its package list, their files and their digests. The bundle
// directory holds a few package files for the definition to name. An input
// of odd size is validated under the verify policy "digests".
#include <cstddef>
#include <cstdint>

#include "FuzzSandbox.h"
#include "FuzzValidation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string bundle = [] {
        const FuzzSandbox& sandbox = FuzzSandbox::instance();
        const std::string directory = sandbox.path("bundle");
        sandbox.makeDirectory(directory + "/qpk");
        sandbox.write(directory + "/qpk/update.sh", "#!/bin/sh\nexit 0\n");
        sandbox.write(directory + "/driver.msi", "msi");
        sandbox.write(directory + "/tools.tar.gz", "gz");
        return directory;
    }();
    FuzzSandbox::instance().write(bundle + "/bundle.xml", data, size);
    if (size % 2 == 0) FuzzValidation::directory(bundle);
    else FuzzValidation::directory(bundle, {"verify=digests"});
    return 0;
}
