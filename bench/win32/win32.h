// The Win32 and DirectSound entry points the gauge modules import, as bench stubs.
//
// Each emulated DLL is one file with one table: every stub is declared once with its name, its
// argument count (all are stdcall: the trap pops them) and its handler. A module import that no
// table lists is a load error naming DLL!function. DirectSound's objects (dsound.cpp) are guest
// COM objects whose method tables hold bench traps, one per method, `this` counted as an
// argument.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "machine.h"
#include "pe/pe.h"

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

// DirectSound results the bench's dsound.dll gives.
namespace dserr {
constexpr uint32_t kOk = 0;
constexpr uint32_t kBufferLost = 0x88780096;    // DSERR_BUFFERLOST
constexpr uint32_t kBadFormat = 0x88780064;     // DSERR_BADFORMAT
constexpr uint32_t kInvalidParam = 0x80070057;  // DSERR_INVALIDPARAM
constexpr uint32_t kInvalidCall = 0x88780032;   // DSERR_INVALIDCALL
constexpr uint32_t kNoAggregation = 0x80040110; // DSERR_NOAGGREGATION
constexpr uint32_t kNoInterface = 0x80004002;   // E_NOINTERFACE
constexpr uint32_t kUnsupported = 0x80004001;   // DSERR_UNSUPPORTED
constexpr uint32_t kNoDriver = 0x88780078;      // DSERR_NODRIVER
constexpr uint32_t kAllocated = 0x8878000A;     // DSERR_ALLOCATED
}  // namespace dserr

// One call a module made to an emulated API the bench logs (DirectSound and the resource
// functions): its name as scripted results name it, its arguments (`this` first for COM
// methods) and what it returned.
struct ApiCall {
  std::string name;
  std::vector<uint32_t> args;
  uint32_t result = 0;
};

// A resource handle handed out by FindResourceA: where the bytes are in guest memory.
struct ResourceHandle {
  uint32_t address = 0;
  uint32_t size = 0;
  pe::ResName type, name;
};

// A guest IDirectSound object.
struct SoundDevice {
  uint32_t references = 1;
  uint32_t window = 0;  // SetCooperativeLevel's window and level, 0 until set
  uint32_t level = 0;
};

// A guest IDirectSoundBuffer object and the bytes it holds.
struct SoundBuffer {
  uint32_t references = 1;
  uint32_t flags = 0;           // DSBUFFERDESC dwFlags
  std::vector<uint8_t> format;  // the wave format as DirectSound read it (16 bytes for PCM)
  std::vector<uint8_t> bytes;   // the buffer's contents
  // The WAVE resource the format record was taken from (the module hands DirectSound a pointer
  // into its locked resource), if it was one.
  std::optional<uint16_t> resourceId;
  uint32_t position = 0;  // play cursor, as set by SetCurrentPosition
  bool lost = false;      // contents gone until Restore; Lock and Play answer DSERR_BUFFERLOST
  struct Lock {
    uint32_t region = 0;  // guest copy of the locked bytes, region 2 right after region 1
    uint32_t offset = 0, length1 = 0, length2 = 0;
  };
  std::optional<Lock> locked;
};

// What the stubs keep per module: resource handles, the DirectSound objects, the log of calls,
// and what tests change to make the platform fail.
struct State {
  // Resource handles handed out by FindResourceA (LoadResource hands back the same handle).
  std::map<uint32_t, ResourceHandle> resources;
  uint32_t nextResourceHandle = 0x00A00010;
  // WAVE resources locked so far: guest address -> (size, id), to tell which resource a sound
  // buffer was made from.
  std::map<uint32_t, std::pair<uint32_t, uint16_t>> lockedWaves;
  uint32_t foregroundWindow = 0x00010020;

  // DirectSound: guest object address -> object; the two method tables, made on first use.
  std::map<uint32_t, SoundDevice> soundDevices;
  std::map<uint32_t, SoundBuffer> soundBuffers;
  uint32_t deviceMethods = 0, bufferMethods = 0;

  // Every DirectSound and resource call, in order.
  std::vector<ApiCall> apiLog;

  // Fault injection -------------------------------------------------------------------------
  //
  // Scripted results. `api` is a DirectSound method as "IDirectSound::SetCooperativeLevel" or
  // "IDirectSoundBuffer::Play", or an import by its function name: "DirectSoundCreate",
  // "FindResourceA", "LoadResource", "LockResource", "SizeofResource". The api's nth call since
  // the module was loaded (counting from 1), or every call with kEveryCall, does nothing but
  // return `result`, except that a failing call that creates an object stores 0 through its
  // out pointer, and a Play or Restore answered DSERR_BUFFERLOST loses the buffer's contents.
  static constexpr uint64_t kEveryCall = 0;
  void failCall(const std::string& api, uint32_t result, uint64_t nthCall = kEveryCall);
  // The api's next call, whatever number it has.
  void failNextCall(const std::string& api, uint32_t result) { failCall(api, result, callCount(api) + 1); }
  void clearFailures() { scripts_.clear(); }
  // Calls of the api so far (the count scripts are matched against).
  uint64_t callCount(const std::string& api) const;
  // For the stubs: counts the call and gives its scripted result, if any.
  std::optional<uint32_t> scriptedResult(const std::string& api);

  // Resource overrides, consulted by FindResourceA before the module's own resources: the
  // resource (type, id) is replaced by `bytes`, or is missing. Replacement bytes are mapped
  // read-only in their own guest region so that they end right where an unmapped page starts:
  // reading one byte past them faults. Changes apply to later FindResourceA calls.
  void replaceResource(const pe::ResName& type, uint16_t id, std::vector<uint8_t> bytes);
  void removeResource(const pe::ResName& type, uint16_t id);
  void restoreResource(const pe::ResName& type, uint16_t id);  // the module's own again
  void replaceWave(uint16_t id, std::vector<uint8_t> bytes) { replaceResource(pe::ResName::fromName("WAVE"), id, std::move(bytes)); }
  void removeWave(uint16_t id) { removeResource(pe::ResName::fromName("WAVE"), id); }

  struct ResourceOverride {
    pe::ResName type;
    uint16_t id = 0;
    std::optional<std::vector<uint8_t>> bytes;  // nullopt: the resource is missing
    uint32_t address = 0;                       // where the bytes are mapped, once they are
  };
  // The override for (type, id), if any.
  ResourceOverride* findOverride(const pe::ResName& type, const pe::ResName& name);
  // Guest regions for replacement bytes: one per replacement, each followed by an unmapped page.
  static constexpr uint32_t kOverrideBase = 0x60000000, kOverrideStride = 0x00200000, kOverrideSlots = 256;
  uint32_t nextOverrideSlot = 0;

 private:
  struct Script {
    std::string api;
    uint32_t result;
    uint64_t nthCall;
  };
  std::vector<Script> scripts_;
  std::map<std::string, uint64_t> scriptCalls_;
  std::vector<ResourceOverride> overrides_;
};

}  // namespace win32
