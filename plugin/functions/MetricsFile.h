#pragma once
#include <string>

class BAXMLDoc;
class FunctionCall;

// What a monitoring system scrapes about the updates of this machine: the
// file plimo.prom in the Prometheus text format, written whole (through the
// atomic writer) into the metrics directory at the end of every update,
// resume and clean that held the exclusive-update lock. The directory is
// $PLIMO_METRICS_DIR, else the node exporter's textfile directory; without
// it nothing is written. A file that cannot be written costs one debug
// record and never the call's result.
//
// Metrics: the last status code (labelled with the call) and when it came,
// whether a restart is pending (a status that asks for one, or this
// system's line in the reboot-required flag), whether the resume service is
// installed, and of the last update: its id, its packages run, failed,
// skipped and missing, and how long its call ran. A clean keeps the last
// update's figures of the file it replaces.
class MetricsFile {
public:
    enum class Call { Update, Resume, Clean };

    static constexpr const char* kDefaultDirectory = "/var/lib/prometheus/node-exporter";
    static constexpr const char* kFileName = "plimo.prom";

    // Writes the file for a call that has done its work; never raises.
    static void record(Call call, FunctionCall& functionCall);

    // The metrics directory in force.
    static std::string directory();
    // The file's text after call, with the status log of the call, the time
    // it ran and the text of the file it replaces ("" for none).
    static std::string text(Call call, BAXMLDoc& statusLog, double seconds, const std::string& previous);
};
