#include "PluginFactoryGuard.h"

using VorkSupport::VorkObjectFactory;

VorkObjectFactory* PluginFactoryGuard::s_pFactory = nullptr;
int PluginFactoryGuard::s_nUseCount = 0;

PluginFactoryGuard::PluginFactoryGuard() {
    if (s_pFactory == nullptr) s_pFactory = new VorkObjectFactory();
    ++s_nUseCount;
}

PluginFactoryGuard::~PluginFactoryGuard() {
    if (--s_nUseCount == 0) {
        delete s_pFactory;
        s_pFactory = nullptr;
    }
}

VorkObjectFactory* PluginFactoryGuard::factory() { return s_pFactory; }

int PluginFactoryGuard::useCount() { return s_nUseCount; }
