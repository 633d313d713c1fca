#pragma once
#include <chrono>
#include <string>

class BAXMLDoc;
class FunctionCall;

// What a monitoring system scrapes about the updates of this machine: the
// file plimo.prom in the Prometheus text format, in the metrics directory
// ($PLIMO_METRICS_DIR, else the node exporter's textfile directory; without
// it nothing is written), after every update, resume and clean that held the
// exclusive-update lock.
//
// Metrics: the last status code (labelled with the call) and when it came,
// whether a restart is pending (a status that asks for one, or this
// system's line in the reboot-required flag), whether the resume service is
// installed, and of the last update: its id, its packages run, failed,
// skipped and missing, and how long its call ran.
//
// The figures are taken while the call holds the lock; the last update's
// lines are kept in the state folder (in its folder "metrics"), so that a
// clean gives them again without ever reading the metrics file. A record
// there that cannot be written costs a clean those lines, never the call. The file is
// written after the lock has gone, by a child process within kWriteLimit:
// a metrics folder that hangs (a network file system) costs the metrics,
// never the call, and no lock is held meanwhile. The new file is made in the
// folder with O_EXCL and renamed over plimo.prom; whatever stands there (a
// link, a pipe, a folder, another user's file) is replaced, never opened or
// followed, and that is logged. A folder that users other than root may
// write is used with a warning in the debug log. A file that cannot be
// written costs a debug record and never the call's result.
class MetricsFile {
public:
    enum class Call { Update, Resume, Clean };

    static constexpr const char* kDefaultDirectory = "/var/lib/prometheus/node-exporter";
    static constexpr const char* kFileName = "plimo.prom";
    // The last update's lines: a file in a folder of the state folder of
    // their own, apart from the update's own records.
    static constexpr const char* kKeptFolderName = "metrics";
    static constexpr const char* kKeptFileName = "last-update.prom";
    // How long the metrics folder may take to answer.
    static constexpr std::chrono::milliseconds kWriteLimit{5000};

    // The figures of a call that has done its work, taken while it holds
    // the lock: an update or a resume keeps its last-update lines in the
    // state folder, a clean takes them from there. Never raises.
    MetricsFile(Call call, FunctionCall& functionCall);

    // Replaces plimo.prom with the figures, once the lock has been released;
    // returns within kWriteLimit and a moment. Never raises.
    void write() const;

    // The metrics directory in force.
    static std::string directory();
    // The file's text after call, with the status log of the call and the
    // time it ran; a clean gives the kept last-update lines instead of its
    // own.
    static std::string text(Call call, BAXMLDoc& statusLog, double seconds, const std::string& keptLastUpdate);

    const std::string& text() const { return m_sText; }

private:
    std::string m_sText;
};
