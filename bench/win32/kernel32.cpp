// kernel32.dll: the resource calls a module uses to find its own WAVE resources, and the
// per-module State behind every stub (scripted failures, resource overrides).
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

#include "module.h"
#include "win32.h"

namespace win32 {

// State: scripted results ---------------------------------------------------------------------

void State::failCall(const std::string& api, uint32_t result, uint64_t nthCall) {
  scripts_.push_back({api, result, nthCall});
}

uint64_t State::callCount(const std::string& api) const {
  auto it = scriptCalls_.find(api);
  return it == scriptCalls_.end() ? 0 : it->second;
}

std::optional<uint32_t> State::scriptedResult(const std::string& api) {
  const uint64_t n = ++scriptCalls_[api];
  // The latest script that matches wins, so a test can override an earlier one.
  for (auto it = scripts_.rbegin(); it != scripts_.rend(); ++it)
    if (it->api == api && (it->nthCall == kEveryCall || it->nthCall == n)) return it->result;
  return std::nullopt;
}

// State: resource overrides -------------------------------------------------------------------

namespace {

bool SameName(const pe::ResName& a, const pe::ResName& b) {
  if (a.isId != b.isId) return false;
  if (a.isId) return a.id == b.id;
  return std::equal(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
  });
}

}  // namespace

State::ResourceOverride* State::findOverride(const pe::ResName& type, const pe::ResName& name) {
  if (!name.isId) return nullptr;
  for (ResourceOverride& o : overrides_)
    if (o.id == name.id && SameName(o.type, type)) return &o;
  return nullptr;
}

void State::replaceResource(const pe::ResName& type, uint16_t id, std::vector<uint8_t> bytes) {
  if (bytes.size() > kOverrideStride - 0x1000) throw std::invalid_argument("replacement resource too large");
  std::erase_if(overrides_, [&](const ResourceOverride& o) { return o.id == id && SameName(o.type, type); });
  overrides_.push_back({type, id, std::move(bytes), 0});
}

void State::removeResource(const pe::ResName& type, uint16_t id) {
  std::erase_if(overrides_, [&](const ResourceOverride& o) { return o.id == id && SameName(o.type, type); });
  overrides_.push_back({type, id, std::nullopt, 0});
}

void State::restoreResource(const pe::ResName& type, uint16_t id) {
  std::erase_if(overrides_, [&](const ResourceOverride& o) { return o.id == id && SameName(o.type, type); });
}

// The stubs -------------------------------------------------------------------------------------

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

bool IsWave(const pe::ResName& type) { return !type.isId && SameName(type, pe::ResName::fromName("WAVE")); }

// Logs the call with its arguments and result, and returns the result.
uint32_t Logged(host::Module& m, const char* api, const guest::TrapCall& call, uint32_t result) {
  ApiCall c{api, {}, result};
  for (unsigned i = 0; i < call.argCount(); ++i) c.args.push_back(call.arg(i));
  m.win32().apiLog.push_back(std::move(c));
  return result;
}

// Maps replacement bytes read-only so that they end where an unmapped page begins.
uint32_t MapOverride(host::Module& m, State::ResourceOverride& o) {
  State& s = m.win32();
  if (s.nextOverrideSlot >= State::kOverrideSlots) throw std::runtime_error("too many replaced resources");
  const uint32_t slot = State::kOverrideBase + s.nextOverrideSlot++ * State::kOverrideStride;
  const uint32_t size = static_cast<uint32_t>(o.bytes->size());
  const uint32_t pages = std::max<uint32_t>(0x1000, (size + 0xFFF) & ~0xFFFu);
  m.machine().map(slot, pages, UC_PROT_READ | UC_PROT_WRITE);
  const uint32_t address = slot + pages - size;
  if (size != 0) m.machine().write(address, o.bytes->data(), size);
  m.machine().protect(slot, pages, UC_PROT_READ);
  return address;
}

// FindResourceA(module, name, type) -> resource handle or 0.
uint32_t FindResourceA(host::Module& m, guest::TrapCall& call) {
  constexpr const char* kApi = "FindResourceA";
  State& s = m.win32();
  if (auto scripted = s.scriptedResult(kApi)) return Logged(m, kApi, call, *scripted);
  if (call.arg(0) != m.base()) return Logged(m, kApi, call, 0);  // only the module's own resources
  const pe::ResName name = ReadResName(m, call.arg(1));
  const pe::ResName type = ReadResName(m, call.arg(2));
  ResourceHandle found;
  if (State::ResourceOverride* o = s.findOverride(type, name)) {
    if (!o->bytes) return Logged(m, kApi, call, 0);
    if (o->address == 0) o->address = MapOverride(m, *o);
    found = {o->address, static_cast<uint32_t>(o->bytes->size()), type, name};
  } else {
    const pe::Resource* r = nullptr;
    for (const pe::Resource& candidate : m.image().resources)
      if (SameName(candidate.type, type) && SameName(candidate.name, name)) {
        r = &candidate;
        break;
      }
    if (r == nullptr) return Logged(m, kApi, call, 0);
    found = {m.base() + r->dataRva, r->size, type, name};
  }
  const uint32_t handle = s.nextResourceHandle;
  s.nextResourceHandle += 0x10;
  s.resources[handle] = std::move(found);
  return Logged(m, kApi, call, handle);
}

// LoadResource(module, handle) -> a handle for LockResource; we hand back the same handle.
uint32_t LoadResource(host::Module& m, guest::TrapCall& call) {
  constexpr const char* kApi = "LoadResource";
  if (auto scripted = m.win32().scriptedResult(kApi)) return Logged(m, kApi, call, *scripted);
  return Logged(m, kApi, call, m.win32().resources.count(call.arg(1)) != 0 ? call.arg(1) : 0);
}

// LockResource(handle) -> address of the resource bytes in guest memory.
uint32_t LockResource(host::Module& m, guest::TrapCall& call) {
  constexpr const char* kApi = "LockResource";
  State& s = m.win32();
  if (auto scripted = s.scriptedResult(kApi)) return Logged(m, kApi, call, *scripted);
  auto it = s.resources.find(call.arg(0));
  if (it == s.resources.end()) return Logged(m, kApi, call, 0);
  const ResourceHandle& r = it->second;
  if (IsWave(r.type) && r.name.isId) s.lockedWaves[r.address] = {r.size, r.name.id};
  return Logged(m, kApi, call, r.address);
}

// SizeofResource(module, handle) -> the resource's size in bytes.
uint32_t SizeofResource(host::Module& m, guest::TrapCall& call) {
  constexpr const char* kApi = "SizeofResource";
  if (auto scripted = m.win32().scriptedResult(kApi)) return Logged(m, kApi, call, *scripted);
  auto it = m.win32().resources.find(call.arg(1));
  return Logged(m, kApi, call, it == m.win32().resources.end() ? 0 : it->second.size);
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
