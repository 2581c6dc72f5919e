// The Win32 and DirectSound entry points the gauge modules import, as bench stubs.
//
// Each emulated DLL is one file with one table: every stub is declared once with its name, its
// argument count (all are stdcall: the trap pops them) and its handler. A module import that no
// table lists is a load error naming DLL!function.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string_view>

#include "machine.h"

namespace host {
class Module;
}

namespace win32 {

using Handler = uint32_t (*)(host::Module& module, guest::TrapCall& call);

struct Stub {
  const char* name;
  unsigned argCount;
  Handler handler;
};

struct Dll {
  const char* name;
  std::span<const Stub> stubs;
};

const Stub* FindStub(std::string_view dll, std::string_view function);

// What the stubs keep per module.
struct State {
  // Resource handles handed out by FindResourceA / LoadResource: handle -> (data RVA, size).
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> resources;
  uint32_t nextResourceHandle = 0x00A00010;
  uint32_t foregroundWindow = 0x00010020;
};

}  // namespace win32
