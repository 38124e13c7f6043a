#include "output/PulseLibrary.h"

#include <dlfcn.h>

namespace zumo {

namespace {

// The library's versioned name, as the package installs it (the bare
// libpulse.so comes only with the development files).
constexpr const char* kLibraryName = "libpulse.so.0";

struct LoadedLibrary {
    PulseLibrary functions;
    bool loaded = false;
};

LoadedLibrary Load() {
    LoadedLibrary library;
    // Every symbol bound now, so that a missing one shows here rather than
    // as a failed call later; kept to ourselves, so that nothing else
    // loaded in the process binds to it by chance.
    void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return library;
    PulseLibrary& f = library.functions;
    bool complete = true;
#define ZUMO_PULSE_FIND(name)                                                                                          \
    f.name = reinterpret_cast<decltype(f.name)>(dlsym(handle, #name));                                                 \
    complete = complete && f.name != nullptr;
    ZUMO_PULSE_FUNCTIONS(ZUMO_PULSE_FIND)
#undef ZUMO_PULSE_FIND
    if (!complete) {
        dlclose(handle);
        library.functions = PulseLibrary{};
        return library;
    }
    // (Never unloaded: a device may be opened again at any time, and the
    // library and those it brings along are not made to be unloaded.)
    library.loaded = true;
    return library;
}

const LoadedLibrary& Library() {
    // Loaded by the first caller; any others wait for it.
    static const LoadedLibrary library = Load();
    return library;
}

} // namespace

bool PulseLibraryLoaded() { return Library().loaded; }

const PulseLibrary& pulse() { return Library().functions; }

} // namespace zumo
