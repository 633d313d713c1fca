// libFuzzer target: the input is the one entry of the trust store, loaded
// by the plug-in's "validate" of a fixed bundle definition that carries a
// valid signature of the fixed signer. Whatever the entry holds, the answer
// carries a status.
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
        sandbox.copy(PLIMO_FUZZ_DATA_DIR "/bundle.xml", directory + "/bundle.xml");
        sandbox.copy(PLIMO_FUZZ_DATA_DIR "/bundle.xml.p7s", directory + "/bundle.xml.p7s");
        sandbox.write(directory + "/update.sh", "#!/bin/sh\nexit 0\n");
        return directory;
    }();
    FuzzSandbox::instance().write(FuzzSandbox::instance().path("trust.d/entry.pem"), data, size);
    FuzzValidation::directory(bundle);
    return 0;
}
