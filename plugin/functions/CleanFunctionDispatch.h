#pragma once
#include <string>

#include "FunctionDispatch.h"

class BAXMLDoc;
class BundleApplicatorBase;

// "clean": under the exclusive-update lock, deletes the internal log, its
// extracted bundle directory, the final log of the given update id and the
// resume service.
class CleanFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;

private:
    // The deletions, under the lock; the update id (if any) goes into
    // answerLog.
    static void removeEverything(const VorkSupport::VorkProperties<std::string>& properties,
                                 BundleApplicatorBase& applicator, BAXMLDoc& answerLog);
};
