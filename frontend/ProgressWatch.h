#pragma once
#include <cstdint>
#include <string>

class ProgressView;

// Follows an update through the plug-in's own "progress" answer, asked
// through the data manager at a fixed interval. Asking never disturbs the
// update: progress reads the update's last saved state and takes the
// exclusive-update lock only when no update holds it. The questions carry
// dbgtarget=0, so they never write into the update's debug log.
class ProgressWatch {
public:
    ProgressWatch(uint64_t plugin, double intervalSeconds);

    // The progress answer for an update id ("": the update under way); ""
    // when the plug-in answered nothing.
    std::string ask(const std::string& updateId = "") const;

    // Renders the update under way until it ends (it is gone, or waits for a
    // restart) and answers its last answer text; "" when the plug-in
    // answered nothing. note receives what the summary should add.
    std::string watch(ProgressView& view, std::string& note) const;

    // Sleeps one interval.
    void pause() const;
    double interval() const { return m_dInterval; }

    // Seconds on a steady clock.
    static double now();
    // The number of packages in the definition file the answer names, 0 when
    // it cannot be read.
    static int packagesOfBundle(const std::string& answerText);

private:
    uint64_t m_nPlugin;
    double m_dInterval;
};
