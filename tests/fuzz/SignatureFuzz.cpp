// libFuzzer target: the input is the detached signature (bundle.xml.p7s) of
// a fixed bundle definition, checked by the plug-in's "validate" against a
// fixed trust store of one certificate: the one that made the seed
// signature. Whatever the signature holds, the answer carries a status.
#include <cstddef>
#include <cstdint>

#include "FuzzSandbox.h"
#include "FuzzValidation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string bundle = [] {
        const FuzzSandbox& sandbox = FuzzSandbox::instance();
        const std::string directory = sandbox.path("bundle");
        sandbox.makeDirectory(directory);
        sandbox.makeDirectory(sandbox.path("trust.d"));
        sandbox.copy(PLIMO_FUZZ_DATA_DIR "/signer.pem", sandbox.path("trust.d/signer.pem"));
        sandbox.copy(PLIMO_FUZZ_DATA_DIR "/bundle.xml", directory + "/bundle.xml");
        sandbox.write(directory + "/update.sh", "#!/bin/sh\nexit 0\n");
        return directory;
    }();
    FuzzSandbox::instance().write(bundle + "/bundle.xml.p7s", data, size);
    FuzzValidation::directory(bundle);
    return 0;
}
