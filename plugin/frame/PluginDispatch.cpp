#include "PluginDispatch.h"

#include <cstring>
#include <new>
#include <typeinfo>

#include "CapabilitiesFunctionDispatch.h"
#include "CleanFunctionDispatch.h"
#include "FunctionDispatch.h"
#include "FunctionListDispatch.h"
#include "PluginFactoryGuard.h"
#include "ProgressFunctionDispatch.h"
#include "ResumeFunctionDispatch.h"
#include "UpdateFunctionDispatch.h"
#include "ValidateFunctionDispatch.h"
#include "VorkException.h"
#include "VorkObjectFactoryCreator.h"
#include "VorkPropertyNotFound.h"
#include "VorkSmartPointer.h"
#include "requireProperty.h"

using VorkSupport::VorkException;
using VorkSupport::VorkObjectBase;
using VorkSupport::VorkObjectFactory;
using VorkSupport::VorkObjectFactoryCreator;
using VorkSupport::VorkProperties;
using VorkSupport::VorkSmartPointer;

namespace {

// The plug-in functions register themselves while the library loads, in this
// order, after the guard has made the factory; they are removed in reverse
// order at unload, and the guard then deletes the factory. They live here,
// beside the dispatch, so that whatever links the dispatch gets them too.
PluginFactoryGuard g_factoryGuard;
VorkObjectFactoryCreator<CapabilitiesFunctionDispatch> g_capabilities("capabilities", PluginFactoryGuard::factory());
VorkObjectFactoryCreator<CleanFunctionDispatch> g_clean("clean", PluginFactoryGuard::factory());
VorkObjectFactoryCreator<FunctionListDispatch> g_functionList("list-da-functions", PluginFactoryGuard::factory());
VorkObjectFactoryCreator<ProgressFunctionDispatch> g_progress("progress", PluginFactoryGuard::factory());
VorkObjectFactoryCreator<ResumeFunctionDispatch> g_resume("resume", PluginFactoryGuard::factory());
VorkObjectFactoryCreator<UpdateFunctionDispatch> g_update("update", PluginFactoryGuard::factory());
VorkObjectFactoryCreator<ValidateFunctionDispatch> g_validate("validate", PluginFactoryGuard::factory());

} // namespace

std::string PluginDispatch::dispatch(const VorkProperties<std::string>& properties) {
    std::string result;
    // A missing command, a name that is not registered, an object that is no
    // plug-in function and a failed function all end in an empty result,
    // silently: the caller sees a null answer and nothing is logged.
    try {
        const std::string name = requireProperty(properties, "zuacmd");
        const VorkObjectFactory* factory = PluginFactoryGuard::factory();
        if (factory == nullptr) return result;
        VorkSmartPointer<VorkObjectBase> object = factory->construct(name);
        if (!object) return result;
        auto& function = dynamic_cast<DataAccess::zua::FunctionDispatch<std::string>&>(*object);
        result = function.execute(properties);
    } catch (const VorkException&) {
    } catch (const std::bad_cast&) {}
    return result;
}

char* PluginDispatch::makeAnswer(const std::string& text) {
    if (text.empty()) return nullptr;
    // The caller reads the answer up to its first NUL; copy just that much.
    const std::size_t length = std::strlen(text.c_str());
    char* answer = static_cast<char*>(::operator new(length + 1));
    std::memcpy(answer, text.c_str(), length + 1);
    return answer;
}

char* PluginDispatch::sendCmd(int argc, char** argv) noexcept {
    // Anything else raised on the way (a failed allocation, an exception of
    // another kind from a function) must not cross the C boundary either.
    try {
        VorkProperties<std::string> properties;
        if (argv != nullptr) {
            for (int i = 0; i < argc; ++i) {
                if (argv[i] != nullptr) properties.addProperty(std::string(argv[i]), '=');
            }
        }
        return makeAnswer(dispatch(properties));
    } catch (...) {
        return nullptr;
    }
}

void PluginDispatch::freeData(void* data) noexcept {
    if (data != nullptr) ::operator delete(data);
}
