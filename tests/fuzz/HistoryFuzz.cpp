// libFuzzer target: the input is a final log kept in the state folder,
// listed as Orvane's -history lists it, as a table and as JSON. The one file
// gives one row; the JSON must parse and carry what the row read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzSandbox.h"
#include "UpdateHistory.h"

namespace {

[[noreturn]] void finding(const std::string& what, const std::string& json) {
    std::fprintf(stderr, "HistoryFuzz: %s\n%s\n", what.c_str(), json.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzSandbox& sandbox = FuzzSandbox::instance();
    static std::FILE* const nowhere = std::fopen("/dev/null", "w");
    sandbox.write(sandbox.path("win/TEMP/U1.xml"), data, size);
    UpdateHistory history;
    if (!history.read(UpdateHistory::folder()) || history.rows().size() != 1)
        finding("the state folder does not list its one log", history.errorText());
    history.print(nowhere);
    const std::string json = history.json(0);
    nlohmann::json object;
    try {
        object = nlohmann::json::parse(json);
    } catch (const nlohmann::json::exception& e) {
        finding(std::string("the JSON does not parse: ") + e.what(), json);
    }
    const UpdateHistory::Row& row = history.rows().front();
    const nlohmann::json& item = object["history"][0];
    if (item["readable"] != row.readable || (row.readable && item["status"] != row.status))
        finding("the JSON does not carry the row", json);
    return 0;
}
