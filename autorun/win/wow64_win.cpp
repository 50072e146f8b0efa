#include "autorun/win/wow64_win.h"

#include <windows.h>

#include "inspect/win/entry_points.h"

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE process, BOOL* wow64);
using DisableRedirectionFn = BOOL(WINAPI*)(void** state);
using RevertRedirectionFn = BOOL(WINAPI*)(void* state);

template <typename Fn>
Fn Kernel32Entry(const char* name) {
    return LookUpLoadedEntry<Fn>("kernel32.dll", name);
}

// A 32-bit process on 64-bit Windows; absent before XP, where there is no WOW64.
bool RunsUnderWow64() {
    const auto isWow64 = Kernel32Entry<IsWow64ProcessFn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

struct Redirection {
    DisableRedirectionFn disable;
    RevertRedirectionFn revert;
};

bool Suspend(void* context, void** state) {
    return static_cast<const Redirection*>(context)->disable(state) != FALSE;
}

void Resume(void* context, void* state) { static_cast<const Redirection*>(context)->revert(state); }

}  // namespace

bool Is64BitWindows() {
#ifdef _WIN64
    return true;
#else
    static const bool wow64 = RunsUnderWow64();
    return wow64;
#endif
}

const FileRedirectionOps* SystemFileRedirectionOps() {
    static const Redirection redirection = {Kernel32Entry<DisableRedirectionFn>("Wow64DisableWow64FsRedirection"),
                                            Kernel32Entry<RevertRedirectionFn>("Wow64RevertWow64FsRedirection")};
    static const FileRedirectionOps ops = {const_cast<Redirection*>(&redirection), Suspend, Resume};
    static const bool available = RunsUnderWow64() && redirection.disable && redirection.revert;
    return available ? &ops : nullptr;
}
