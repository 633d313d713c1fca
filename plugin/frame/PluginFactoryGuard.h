#pragma once
#include "VorkObjectFactory.h"

// Keeps the plug-in's one object factory alive. Every source unit that
// registers plug-in functions holds one guard of static storage duration,
// defined before its registrations: the first guard to be constructed makes
// the factory, the last one to be destroyed deletes it, so registrations
// always find the factory whatever order the units are initialised in.
class PluginFactoryGuard {
public:
    PluginFactoryGuard();
    ~PluginFactoryGuard();

    // The factory, or null when no guard is alive.
    static VorkSupport::VorkObjectFactory* factory();
    // Number of guards alive.
    static int useCount();

    PluginFactoryGuard(const PluginFactoryGuard&) = delete;
    PluginFactoryGuard& operator=(const PluginFactoryGuard&) = delete;

private:
    // Both are constant-initialised, so they are valid before any dynamic
    // initialisation of the library runs.
    static VorkSupport::VorkObjectFactory* s_pFactory;
    static int s_nUseCount;
};
