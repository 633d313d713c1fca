#include "CapabilitiesFunctionDispatch.h"

#include "VorkScopeTrace.h"

std::string CapabilitiesFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>&) {
    VORK_TRACE("CapabilitiesFunctionDispatch::execute");
    std::string text;
    text += "<Capabilities>\n";
    text += "\t<force/>\n";
    text += "\t<ignore/>\n";
    text += "\t<reboot/>\n";
    text += "\t<resume/>\n";
    text += "\t<installparams/>\n";
    text += "\t<continueonfailure/>\n";
    text += "</Capabilities>\n";
    return text;
}
