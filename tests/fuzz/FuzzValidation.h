#pragma once
#include <string>
#include <vector>

// The plug-in's validate function, called through its entry point as the
// host's data manager calls it. Whatever the bundle holds, the answer must be
// a status log that carries a status of the system's table: a null answer, or
// one without a known status, is a finding and aborts (libFuzzer keeps the
// input). With PLIMO_FUZZ_ECHO set, each answer goes to standard error.
class FuzzValidation {
public:
    // Validates the bundle definition "bundle.xml" of a bundle directory (its
    // relocation.xml, when there is one, comes with it); extra entries are
    // added to the command vector. Answers the status.
    static long directory(const std::string& bundleDirectory, const std::vector<std::string>& extra = {});
    // Validates a zipped bundle package.
    static long package(const std::string& packageFile);

private:
    static long send(std::vector<std::string> entries);
};
