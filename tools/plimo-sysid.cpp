// plimo-sysid: prints this machine's system identifier as a bundle
// definition writes it, read through the same firmware code as the update
// plug-in, with the method that found it, where the SMBIOS table came from
// and its version, and the system manufacturer and product name of the
// table's type-1 structure. "--json" prints the same as one JSON object.
// Exits 0 when an identifier was found, 1 when none was, 2 for a wrong call.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "ControlText.h"
#include "ISmbiosTable.h"
#include "SmbiosFactory.h"
#include "SystemId.h"

namespace {

constexpr int systemInformationType = 1;

struct SystemStrings {
    std::optional<std::string> manufacturer;
    std::optional<std::string> productName;
};

// String number n of a structure, its number read from a byte of the
// formatted area; nothing when the structure has no such string.
std::optional<std::string> stringAt(const smbios::ISmbiosItem& item, std::size_t offset) {
    try {
        std::uint8_t number = 0;
        item.readData(offset, &number, 1);
        return std::string(item.stringByNumber(number));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

SystemStrings systemStrings() {
    SystemStrings strings;
    try {
        const smbios::ISmbiosTable& table = *smbios::SmbiosFactory::getFactory()->getTable();
        auto it = table.begin(systemInformationType);
        if (it == table.end()) return strings;
        strings.manufacturer = stringAt(*it, 4);
        strings.productName = stringAt(*it, 5);
    } catch (const std::exception&) {
        // no table: no strings
    }
    return strings;
}

std::string hexadecimal(int id) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned int>(id) & 0xFFFFu);
    return text;
}

std::string version(const SystemIdReport& report) {
    if (report.source == "none") return "";
    return std::to_string(report.majorVersion) + "." + std::to_string(report.minorVersion);
}

// Firmware strings are untrusted: only printable ASCII reaches the
// terminal, anything else shows as "?".
std::string printable(const std::optional<std::string>& text) {
    if (!text) return "";
    std::string out = *text;
    for (char& c : out) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) c = '?';
    }
    return out;
}

void printText(const SystemIdReport& report, const SystemStrings& strings) {
    std::string source = report.source;
    if (!report.location.empty()) source += " " + report.location;
    std::printf("system id:      %s\n", hexadecimal(report.id).c_str());
    std::printf("method:         %s\n", report.method.c_str());
    std::printf("source:         %s\n", source.c_str());
    std::printf("smbios version: %s\n", version(report).c_str());
    std::printf("table size:     %zu\n", report.tableSize);
    std::printf("manufacturer:   %s\n", printable(strings.manufacturer).c_str());
    std::printf("product name:   %s\n", printable(strings.productName).c_str());
}

void printJson(const SystemIdReport& report, const SystemStrings& strings) {
    auto optional = [](const std::optional<std::string>& text) {
        return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
    };
    const std::string smbiosVersion = version(report);
    const nlohmann::json object = {
        {"system_id", hexadecimal(report.id)},
        {"found", report.id != 0},
        {"method", report.method},
        {"source", report.source},
        {"location", report.location},
        {"smbios_version", smbiosVersion.empty() ? nlohmann::json(nullptr) : nlohmann::json(smbiosVersion)},
        {"table_size", report.tableSize},
        {"manufacturer", optional(strings.manufacturer)},
        {"product_name", optional(strings.productName)},
    };
    // Bytes that are not UTF-8 become U+FFFD: the output is always valid JSON,
    // and every control character of a firmware string is an escape.
    const std::string text =
        VorkCommon::ControlText::jsonEscaped(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    std::printf("%s\n", text.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const bool json = argc == 2 && std::string(argv[1]) == "--json";
    if (argc > 2 || (argc == 2 && !json)) {
        std::fprintf(stderr, "usage: plimo-sysid [--json]\n");
        return 2;
    }
    try {
        const SystemIdReport report = identifySystem();
        const SystemStrings strings = systemStrings();
        if (json) printJson(report, strings);
        else printText(report, strings);
        return report.id != 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plimo-sysid: %s\n", e.what());
    }
    return 1;
}
