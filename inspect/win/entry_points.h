// Entry points looked up by name, so that the program starts on every system whether or
// not it exports them.
#pragma once

#include <windows.h>

#include <cstring>

// The entry point name of library as a pointer of type Fn; null when either is missing.
template <typename Fn>
Fn LookUpEntry(HMODULE library, const char* name) {
    Fn entry = nullptr;
    if (!library) return entry;
    const FARPROC found = GetProcAddress(library, name);
    static_assert(sizeof entry == sizeof found, "entry points are code pointers");
    std::memcpy(&entry, &found, sizeof entry);
    return entry;
}

// The same in a system library the program has loaded already (kernel32, ntdll, advapi32).
template <typename Fn>
Fn LookUpLoadedEntry(const char* library, const char* name) {
    return LookUpEntry<Fn>(GetModuleHandleA(library), name);
}
