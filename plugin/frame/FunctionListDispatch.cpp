#include "FunctionListDispatch.h"

#include "PluginFactoryGuard.h"
#include "VorkScopeTrace.h"

std::string FunctionListDispatch::execute(const VorkSupport::VorkProperties<std::string>&) {
    VORK_TRACE("FunctionListDispatch::execute");
    static const std::string ownName = "list-da-functions";
    std::string text = "\n<Functions>\n";
    if (const VorkSupport::VorkObjectFactory* factory = PluginFactoryGuard::factory()) {
        for (const std::string& name : factory->getRegisteredClasses()) {
            if (name == ownName) continue;
            text += "\t<Function name='";
            text += name;
            text += "' />\n";
        }
    }
    text += "</Functions>\n";
    return text;
}
