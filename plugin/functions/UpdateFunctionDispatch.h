#pragma once
#include <string>

#include "FunctionDispatch.h"

class BAXMLDoc;
class Bundle;
class FunctionCall;
class UpdateFunctionBase;

// The plug-in function "update": takes the exclusive update, clears away a
// dead earlier update, records the settings in a fresh internal log, runs the
// bundle, then ends the update or prepares its resume and restarts the
// machine. Answers the status log's root element as text.
class UpdateFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;

private:
    using Properties = VorkSupport::VorkProperties<std::string>;

    // What an earlier update left, while we hold the lock: a run that was cut
    // off (nobody is running it any more) is finished as interrupted, a
    // finished update is finished off, both kept as their final logs; a log
    // that cannot be read is moved aside. An update waiting for its resume
    // stays.
    static void clearPreviousUpdate(UpdateFunctionBase& applicator);
    // A new update: its parameters into the status log, then the run and the
    // record of it.
    static void startUpdate(const Properties& properties, FunctionCall& call, UpdateFunctionBase& applicator);
    // The command line the resume service will run.
    static std::string resumeCommandLine(const Properties& properties, BAXMLDoc& statusLog, bool hasUpdateId);
    // The settings of the update, after the bundle parameters.
    static void recordSettings(const Properties& properties, UpdateFunctionBase& applicator, BAXMLDoc& statusLog,
                               int packageTimeout);
    // Runs the bundle and decides what follows its result: the end of the
    // update, or the resume service and a restart.
    static void runBundle(FunctionCall& call, UpdateFunctionBase& applicator);
    static void decide(int result, Bundle& bundle, FunctionCall& call, UpdateFunctionBase& applicator);
    // Packages asked for a restart: the resume service and the restart when
    // the update may restart the machine, else the end of the update.
    static void rebootBranch(Bundle& bundle, FunctionCall& call, UpdateFunctionBase& applicator);
};
