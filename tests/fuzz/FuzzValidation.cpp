#include "FuzzValidation.h"

#include <cstdio>
#include <cstdlib>

#include "AnswerDocument.h"
#include "PluginDispatch.h"
#include "StatusCode.h"

long FuzzValidation::directory(const std::string& bundleDirectory, const std::vector<std::string>& extra) {
    std::vector<std::string> entries = {"zuacmd=validate", "bundlepath=" + bundleDirectory + "/", "bundle=bundle.xml",
                                        "zuausrinfo=fuzz"};
    entries.insert(entries.end(), extra.begin(), extra.end());
    return send(std::move(entries));
}

long FuzzValidation::package(const std::string& packageFile) {
    return send({"zuacmd=validate", "bundlepackage=" + packageFile, "zuausrinfo=fuzz"});
}

long FuzzValidation::send(std::vector<std::string> entries) {
    std::vector<char*> vector;
    for (std::string& entry : entries) vector.push_back(entry.data());
    vector.push_back(nullptr);
    char* answer = PluginDispatch::sendCmd(static_cast<int>(entries.size()), vector.data());
    if (answer == nullptr) {
        std::fprintf(stderr, "FuzzValidation: the plug-in answered nothing\n");
        std::abort();
    }
    const std::string text(answer);
    PluginDispatch::freeData(answer);
    // For whoever writes seeds: what the plug-in made of each one.
    if (std::getenv("PLIMO_FUZZ_ECHO") != nullptr) std::fprintf(stderr, "%s\n", text.c_str());
    const AnswerDocument document = AnswerDocument::parse(text);
    if (!document.valid || !document.hasStatus || StatusCode::find(document.status) == nullptr) {
        std::fprintf(stderr, "FuzzValidation: the answer carries no known status:\n%s\n", text.c_str());
        std::abort();
    }
    return document.status;
}
