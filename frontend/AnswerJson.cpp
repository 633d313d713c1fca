#include "AnswerJson.h"

#include <nlohmann/json.hpp>

#include "AnswerDocument.h"
#include "ControlText.h"

namespace {

using Json = nlohmann::ordered_json;

// BundleSettings attributes whose text is a boolean or a number.
bool isBooleanSetting(const std::string& name) {
    for (const char* key :
         {"reboot", "force", "ignore", "clearpackage", "notify", "continueOnFailure", "preInstallEnv", "updateonly"})
        if (name == key) return true;
    return false;
}

Json attributes(const AnswerDocument::Attributes& list) {
    Json object = Json::object();
    for (const auto& [name, value] : list) {
        if (isBooleanSetting(name) && (value == "true" || value == "false")) object[name] = value == "true";
        else if (name == "packagetimeout") object[name] = std::strtol(value.c_str(), nullptr, 10);
        else object[name] = value;
    }
    return object;
}

Json orNull(bool present, long value) { return present ? Json(value) : Json(nullptr); }

Json package(const AnswerDocument::Package& entry) {
    Json logs = Json::array();
    for (const AnswerDocument::Log& log : entry.logs)
        logs.push_back(
            {{"code", log.code}, {"os_error_code", orNull(log.hasOsErrorCode, log.osErrorCode)}, {"text", log.text}});
    Json updateOnly = nullptr;
    if (!entry.updateOnly.empty()) updateOnly = entry.updateOnly == "true";
    return {{"release_id", entry.releaseId},
            {"path", entry.path},
            {"kind", entry.kind()},
            {"type", entry.type},
            {"install_params", entry.installParams},
            {"update_only", updateOnly},
            {"state", entry.state},
            {"code", orNull(entry.hasCode, entry.code)},
            {"status", orNull(entry.hasStatus, entry.status)},
            {"command", entry.command},
            {"logs", logs}};
}

// Bytes that are not UTF-8 become U+FFFD, and every control character an
// escape: a consumer that prints a value prints no terminal command.
std::string text(const Json& object) {
    return VorkCommon::ControlText::jsonEscaped(
        object.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace));
}

} // namespace

std::string AnswerJson::answer(const AnswerDocument& answer, const std::string& text, const std::string& command,
                               int exitCode, const std::string& error) {
    Json object;
    object["command"] = command;
    object["status"] = orNull(answer.hasStatus, answer.status);
    if (!answer.valid) {
        // Not a status log: the caller still learns what came back.
        object["exit_code"] = shellStatus(exitCode);
        object["error"] = error.empty() ? "the answer is not a status log" : error;
        object["answer"] = text;
        return ::text(object);
    }
    object["message"] = answer.message;
    object["status_number"] = answer.statusNumber >= 0 ? Json(answer.statusNumber) : Json(nullptr);
    object["exit_code"] = shellStatus(exitCode);
    object["date"] = answer.dateTime;
    object["update_id"] = answer.updateId;
    object["install_params"] = answer.installParams;
    object["settings"] = answer.hasSettings ? attributes(answer.settings) : Json(nullptr);
    object["bundle"] = answer.hasSettings ? attributes(answer.bundle) : Json(nullptr);
    object["bundle_package"] = answer.bundlePackage;
    if (answer.hasValidation) {
        Json integrity = Json::array();
        for (const AnswerDocument::Integrity& line : answer.integrity)
            integrity.push_back({{"release_id", line.releaseId}, {"path", line.path}, {"problem", line.problem}});
        object["validation"] = {{"system_supported", answer.systemSupported},
                                {"os_supported", answer.osSupported},
                                {"integrity", integrity}};
    } else {
        object["validation"] = nullptr;
    }
    object["progress"] = answer.progress;
    object["reboot_count"] = answer.rebootCount;
    object["counts"] = {{"run", answer.countRun()},
                        {"failed", answer.countFailed()},
                        {"skipped", answer.countSkipped()},
                        {"missing", answer.countMissing()}};
    Json packages = Json::array();
    for (const AnswerDocument::Package& entry : answer.packages) packages.push_back(package(entry));
    object["packages"] = packages;
    if (!error.empty()) object["error"] = error;
    return ::text(object);
}

std::string AnswerJson::error(const std::string& message, int exitCode) {
    Json object;
    object["error"] = message;
    object["exit_code"] = shellStatus(exitCode);
    return text(object);
}
