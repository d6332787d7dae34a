// Shared objects for the library functions: load, look up a symbol the object
// itself defines, unload. Handles are the dynamic loader's; the caller keeps track
// of which ones it holds.
#ifndef CSLIB_PORT_MODULE_H
#define CSLIB_PORT_MODULE_H

namespace cslib::port {

// Loads the shared object at `path` (a name without '/' is searched for where the
// dynamic loader searches) with every symbol bound at once, or takes one more
// reference to it when it is loaded already. Null when it cannot be loaded.
void* OpenModule(const char* path);

// Drops one reference taken by OpenModule; the object is unloaded with the last.
bool CloseModule(void* module);

// The address of symbol `name` when the module itself defines it; null when it is
// missing or only defined by an object the module depends on.
void* ModuleOwnSymbol(void* module, const char* name);

}  // namespace cslib::port

#endif  // CSLIB_PORT_MODULE_H
