// kernel32.dll: the resource calls a module uses to find its own WAVE resources.
#include <cctype>
#include <string>

#include "module.h"
#include "win32.h"

namespace win32 {
namespace {

// An integer resource name is an address below 0x10000; otherwise a zero-terminated string.
pe::ResName ReadResName(host::Module& m, uint32_t value) {
  pe::ResName name;
  if (value < 0x10000) {
    name.isId = true;
    name.id = static_cast<uint16_t>(value);
  } else {
    name.isId = false;
    name.name = m.machine().readCString(value);
    for (char& c : name.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return name;
}

// FindResourceA(module, name, type) -> resource handle or 0.
uint32_t FindResourceA(host::Module& m, guest::TrapCall& call) {
  if (call.arg(0) != m.base()) return 0;  // only the module's own resources are known here
  const pe::ResName name = ReadResName(m, call.arg(1));
  const pe::ResName type = ReadResName(m, call.arg(2));
  for (const pe::Resource& r : m.image().resources) {
    auto same = [](const pe::ResName& a, const pe::ResName& b) {
      if (a.isId != b.isId) return false;
      if (a.isId) return a.id == b.id;
      if (a.name.size() != b.name.size()) return false;
      for (size_t i = 0; i < a.name.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a.name[i])) != std::toupper(static_cast<unsigned char>(b.name[i])))
          return false;
      return true;
    };
    if (same(r.type, type) && same(r.name, name)) {
      State& s = m.win32();
      const uint32_t handle = s.nextResourceHandle;
      s.nextResourceHandle += 0x10;
      s.resources[handle] = {r.dataRva, r.size};
      return handle;
    }
  }
  return 0;
}

// LoadResource(module, handle) -> a handle for LockResource; we hand back the same handle.
uint32_t LoadResource(host::Module& m, guest::TrapCall& call) {
  return m.win32().resources.count(call.arg(1)) != 0 ? call.arg(1) : 0;
}

// LockResource(handle) -> address of the resource bytes in the mapped module.
uint32_t LockResource(host::Module& m, guest::TrapCall& call) {
  auto it = m.win32().resources.find(call.arg(0));
  return it == m.win32().resources.end() ? 0 : m.base() + it->second.first;
}

// SizeofResource(module, handle) -> the resource's size in bytes.
uint32_t SizeofResource(host::Module& m, guest::TrapCall& call) {
  auto it = m.win32().resources.find(call.arg(1));
  return it == m.win32().resources.end() ? 0 : it->second.second;
}

constexpr Stub kStubs[] = {
    {"FindResourceA", 3, FindResourceA},
    {"LoadResource", 2, LoadResource},
    {"LockResource", 1, LockResource},
    {"SizeofResource", 2, SizeofResource},
};

}  // namespace

extern const Dll kKernel32 = {"kernel32.dll", kStubs};

}  // namespace win32
