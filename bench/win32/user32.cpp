// user32.dll: the foreground window a module hands DirectSound for its cooperative level.
#include "module.h"
#include "win32.h"

namespace win32 {
namespace {

uint32_t GetForegroundWindow(host::Module& m, guest::TrapCall&) { return m.win32().foregroundWindow; }

constexpr Stub kStubs[] = {
    {"GetForegroundWindow", 0, GetForegroundWindow},
};

}  // namespace

extern const Dll kUser32 = {"user32.dll", kStubs};

}  // namespace win32
