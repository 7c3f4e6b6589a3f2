// The demo host's view of the OS loader: plug-ins that lie beside the executable, loaded,
// looked up and unloaded at run time. Portable interface; posix/demo_os_posix.cpp and
// win32/demo_os_win32.cpp implement it.
#pragma once

typedef void (*DemoFunc)();

// Loads the named file from the executable's folder; null when it cannot be loaded.
void* DemoModuleLoad(const char* fileName);
// Unloading runs the module's static destructors before it returns.
void DemoModuleUnload(void* module);
// The module's exported function of that name, or null.
DemoFunc DemoModuleEntry(void* module, const char* name);
