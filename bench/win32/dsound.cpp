// dsound.dll: DirectSoundCreate, and the guest COM objects it hands out.
//
// An IDirectSound or IDirectSoundBuffer is a small guest object whose first word points to a
// guest method table; each slot of that table is a bench trap, in the interface's published
// method order, with `this` counted as an argument (all methods are stdcall). A buffer keeps its
// bytes on the bench side: Lock hands out a guest copy of the locked bytes and Unlock copies
// them back. Play logs a sound Event (module, WAVE resource, format, samples) in the simulator's
// event log, beside the KeyEvents. Every method counts its calls in Module::apiCalls() under
// "Interface::Method", logs its arguments and result in State::apiLog, and answers a scripted
// result when a test asked for one (State::failCall).
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "module.h"
#include "win32.h"

namespace win32 {
namespace {

constexpr uint32_t kBufferDescriptionSize = 20;      // DSBUFFERDESC, the original form
constexpr uint32_t kBufferDescriptionSize3D = 36;    // DSBUFFERDESC with guid3DAlgorithm
constexpr uint32_t kPrimaryBuffer = 0x00000001;      // DSBCAPS_PRIMARYBUFFER
constexpr uint32_t kMinBufferBytes = 4;              // DSBSIZE_MIN
constexpr uint32_t kMaxBufferBytes = 0x0FFFFFFF;     // DSBSIZE_MAX
constexpr uint32_t kLockFromWriteCursor = 0x1;       // DSBLOCK_FROMWRITECURSOR
constexpr uint32_t kLockEntireBuffer = 0x2;          // DSBLOCK_ENTIREBUFFER
constexpr uint32_t kCooperativeNormal = 1, kCooperativeWritePrimary = 4;
constexpr uint16_t kFormatPcm = 1;
constexpr uint32_t kPcmFormatBytes = 16;             // PCMWAVEFORMAT: DirectSound reads no more for PCM

using guest::Hex;

// One method call: counted, scripted, logged.
class MethodCall {
 public:
  MethodCall(host::Module& m, guest::TrapCall& call, const char* api, bool countedByBinding = false)
      : m_(m), call_(call), api_(api) {
    if (!countedByBinding) ++m.apiCalls()[api];
    scripted_ = m.win32().scriptedResult(api);
  }
  const std::optional<uint32_t>& scripted() const { return scripted_; }
  uint32_t arg(unsigned i) const { return call_.arg(i); }
  host::Module& module() const { return m_; }
  guest::Machine& machine() const { return m_.machine(); }
  State& state() const { return m_.win32(); }
  uint32_t result(uint32_t value) {
    ApiCall c{api_, {}, value};
    for (unsigned i = 0; i < call_.argCount(); ++i) c.args.push_back(call_.arg(i));
    m_.win32().apiLog.push_back(std::move(c));
    return value;
  }
  // Stores `value` through an out pointer the caller passed, if it passed one.
  void out(uint32_t pointer, uint32_t value) const {
    if (pointer != 0) m_.machine().write32(pointer, value);
  }

  // The object `this` names; a call on anything else is a bug in the caller.
  SoundDevice& device() const {
    auto it = m_.win32().soundDevices.find(arg(0));
    if (it == m_.win32().soundDevices.end()) throw std::runtime_error(std::string(api_) + " on " + Hex(arg(0)) + ", which is not a live IDirectSound");
    return it->second;
  }
  SoundBuffer& buffer() const {
    auto it = m_.win32().soundBuffers.find(arg(0));
    if (it == m_.win32().soundBuffers.end()) throw std::runtime_error(std::string(api_) + " on " + Hex(arg(0)) + ", which is not a live IDirectSoundBuffer");
    return it->second;
  }

 private:
  host::Module& m_;
  guest::TrapCall& call_;
  const char* api_;
  std::optional<uint32_t> scripted_;
};

// A guest object: one word, the address of its method table.
uint32_t NewObject(host::Module& m, uint32_t methods) {
  const uint32_t object = m.machine().alloc(16);
  m.machine().write32(object, methods);
  return object;
}

// Methods -----------------------------------------------------------------------------------------

// The buffer's contents are gone (another application took the sound memory).
void LoseBuffer(SoundBuffer& b) {
  std::fill(b.bytes.begin(), b.bytes.end(), 0);
  b.lost = true;
}

uint32_t QueryInterface(host::Module& m, guest::TrapCall& t, const char* api) {
  MethodCall c(m, t, api);
  c.out(c.arg(2), 0);
  return c.result(c.scripted().value_or(dserr::kNoInterface));
}

uint32_t DeviceAddRef(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSound::AddRef");
  SoundDevice& d = c.device();
  return c.result(c.scripted() ? *c.scripted() : ++d.references);
}

uint32_t DeviceRelease(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSound::Release");
  if (c.scripted()) return c.result(*c.scripted());
  SoundDevice& d = c.device();
  const uint32_t left = --d.references;
  if (left == 0) {
    m.win32().soundDevices.erase(c.arg(0));
    m.machine().free(c.arg(0));
  }
  return c.result(left);
}

// IDirectSound::SetCooperativeLevel(this, window, level)
uint32_t SetCooperativeLevel(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSound::SetCooperativeLevel");
  SoundDevice& d = c.device();
  if (c.scripted()) return c.result(*c.scripted());
  const uint32_t window = c.arg(1), level = c.arg(2);
  if (window == 0 || level < kCooperativeNormal || level > kCooperativeWritePrimary) return c.result(dserr::kInvalidParam);
  d.window = window;
  d.level = level;
  return c.result(dserr::kOk);
}

// The wave format DirectSound reads at `address`: 16 bytes of a PCM format. Empty when it is
// not a format the bench plays (uncompressed PCM, 1 or 2 channels, 8 or 16 bits, consistent
// block and byte rates).
std::vector<uint8_t> ReadPcmFormat(guest::Machine& g, uint32_t address) {
  if (address == 0 || !g.readable(address, kPcmFormatBytes)) return {};
  std::vector<uint8_t> f = g.readBytes(address, kPcmFormatBytes);
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(f[at] | f[at + 1] << 8); };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  const uint32_t tag = u16(0), channels = u16(2), rate = u32(4), byteRate = u32(8), align = u16(12), bits = u16(14);
  const bool ok = tag == kFormatPcm && (channels == 1 || channels == 2) && rate >= 100 && rate <= 100000 &&
                  (bits == 8 || bits == 16) && align == channels * bits / 8 && byteRate == rate * align;
  return ok ? f : std::vector<uint8_t>{};
}

// IDirectSound::CreateSoundBuffer(this, description, buffer out, outer)
uint32_t CreateSoundBuffer(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSound::CreateSoundBuffer");
  c.device();
  const uint32_t description = c.arg(1), bufferOut = c.arg(2), outer = c.arg(3);
  if (c.scripted()) {
    c.out(bufferOut, 0);
    return c.result(*c.scripted());
  }
  if (outer != 0) return c.result(dserr::kNoAggregation);
  if (description == 0 || bufferOut == 0) return c.result(dserr::kInvalidParam);
  guest::Machine& g = c.machine();
  const uint32_t size = g.read32(description);
  if (size != kBufferDescriptionSize && size != kBufferDescriptionSize3D) return c.result(dserr::kInvalidParam);
  const uint32_t flags = g.read32(description + 4), bytes = g.read32(description + 8), format = g.read32(description + 16);
  if (flags & kPrimaryBuffer) return c.result(dserr::kUnsupported);
  if (bytes < kMinBufferBytes || bytes > kMaxBufferBytes || format == 0) return c.result(dserr::kInvalidParam);
  SoundBuffer b;
  b.format = ReadPcmFormat(g, format);
  if (b.format.empty()) return c.result(dserr::kBadFormat);
  b.flags = flags;
  b.bytes.assign(bytes, 0);
  State& s = c.state();
  // The resource the format record lies in, if it lies in a locked WAVE resource.
  for (const auto& [address, wave] : s.lockedWaves)
    if (format >= address && format - address < wave.first) b.resourceId = wave.second;
  if (s.bufferMethods == 0) throw std::logic_error("IDirectSoundBuffer methods not made");
  const uint32_t object = NewObject(m, s.bufferMethods);
  s.soundBuffers.emplace(object, std::move(b));
  g.write32(bufferOut, object);
  return c.result(dserr::kOk);
}

uint32_t BufferAddRef(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::AddRef");
  SoundBuffer& b = c.buffer();
  return c.result(c.scripted() ? *c.scripted() : ++b.references);
}

uint32_t BufferRelease(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::Release");
  if (c.scripted()) return c.result(*c.scripted());
  SoundBuffer& b = c.buffer();
  const uint32_t left = --b.references;
  if (left == 0) {
    if (b.locked) m.machine().free(b.locked->region);
    m.win32().soundBuffers.erase(c.arg(0));
    m.machine().free(c.arg(0));
  }
  return c.result(left);
}

// IDirectSoundBuffer::GetCurrentPosition(this, play out, write out)
uint32_t GetCurrentPosition(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::GetCurrentPosition");
  SoundBuffer& b = c.buffer();
  if (c.scripted()) return c.result(*c.scripted());
  c.out(c.arg(1), b.position);
  c.out(c.arg(2), b.position);
  return c.result(dserr::kOk);
}

// IDirectSoundBuffer::GetStatus(this, status out): the bench plays a sound at once, so a buffer
// is never seen playing.
uint32_t GetStatus(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::GetStatus");
  SoundBuffer& b = c.buffer();
  if (c.scripted()) return c.result(*c.scripted());
  if (c.arg(1) == 0) return c.result(dserr::kInvalidParam);
  c.out(c.arg(1), b.lost ? 0x2u : 0u);  // DSBSTATUS_BUFFERLOST
  return c.result(dserr::kOk);
}

// IDirectSoundBuffer::Lock(this, offset, bytes, region1 out, length1 out, region2 out,
// length2 out, flags): a guest copy of the locked bytes, the part past the buffer's end
// wrapping to its start as region 2.
uint32_t Lock(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::Lock");
  SoundBuffer& b = c.buffer();
  if (c.scripted()) {
    if (*c.scripted() == dserr::kBufferLost) LoseBuffer(b);
    return c.result(*c.scripted());
  }
  if (b.lost) return c.result(dserr::kBufferLost);
  if (b.locked) return c.result(dserr::kInvalidCall);  // one lock at a time here
  const uint32_t flags = c.arg(7);
  const uint32_t size = static_cast<uint32_t>(b.bytes.size());
  const uint32_t offset = (flags & kLockFromWriteCursor) ? b.position : c.arg(1);
  const uint32_t bytes = (flags & kLockEntireBuffer) ? size : c.arg(2);
  const uint32_t region1Out = c.arg(3), length1Out = c.arg(4), region2Out = c.arg(5), length2Out = c.arg(6);
  if (offset >= size || bytes == 0 || bytes > size || region1Out == 0 || length1Out == 0)
    return c.result(dserr::kInvalidParam);
  const uint32_t length1 = std::min(bytes, size - offset), length2 = bytes - length1;
  if (length2 != 0 && (region2Out == 0 || length2Out == 0)) return c.result(dserr::kInvalidParam);
  const uint32_t region = c.machine().alloc(bytes);
  c.machine().write(region, b.bytes.data() + offset, length1);
  if (length2 != 0) c.machine().write(region + length1, b.bytes.data(), length2);
  b.locked = SoundBuffer::Lock{region, offset, length1, length2};
  c.out(region1Out, region);
  c.out(length1Out, length1);
  c.out(region2Out, length2 != 0 ? region + length1 : 0);
  c.out(length2Out, length2);
  return c.result(dserr::kOk);
}

// IDirectSoundBuffer::Unlock(this, region1, length1, region2, length2): copies back what the
// caller says it wrote, which must lie within what it locked.
uint32_t Unlock(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::Unlock");
  SoundBuffer& b = c.buffer();
  if (c.scripted()) return c.result(*c.scripted());
  if (!b.locked) return c.result(dserr::kInvalidCall);
  const SoundBuffer::Lock l = *b.locked;
  const uint32_t region1 = c.arg(1), length1 = c.arg(2), region2 = c.arg(3), length2 = c.arg(4);
  const bool region2Ok = (region2 == 0 && length2 == 0) || (l.length2 != 0 && region2 == l.region + l.length1 && length2 <= l.length2);
  if (region1 != l.region || length1 > l.length1 || !region2Ok) return c.result(dserr::kInvalidParam);
  c.machine().read(l.region, b.bytes.data() + l.offset, length1);
  if (length2 != 0) c.machine().read(l.region + l.length1, b.bytes.data(), length2);
  c.machine().free(l.region);
  b.locked.reset();
  return c.result(dserr::kOk);
}

// IDirectSoundBuffer::SetCurrentPosition(this, position)
uint32_t SetCurrentPosition(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::SetCurrentPosition");
  SoundBuffer& b = c.buffer();
  if (c.scripted()) return c.result(*c.scripted());
  if (c.arg(1) >= b.bytes.size()) return c.result(dserr::kInvalidParam);
  b.position = c.arg(1);
  return c.result(dserr::kOk);
}

// IDirectSoundBuffer::Play(this, reserved, priority, flags): the sound from the play cursor to
// the end goes into the event log.
uint32_t Play(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::Play");
  SoundBuffer& b = c.buffer();
  if (c.scripted()) {
    if (*c.scripted() == dserr::kBufferLost) LoseBuffer(b);
    return c.result(*c.scripted());
  }
  if (c.arg(1) != 0) return c.result(dserr::kInvalidParam);
  if (b.lost) return c.result(dserr::kBufferLost);
  host::Event e;
  e.kind = host::Event::Kind::Sound;
  e.module = m.deliverable();
  e.id = b.resourceId.value_or(0);
  e.format = b.format;
  e.samples.assign(b.bytes.begin() + b.position, b.bytes.end());
  m.simulator().sound(std::move(e));
  return c.result(dserr::kOk);
}

// IDirectSoundBuffer::Stop(this)
uint32_t Stop(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::Stop");
  c.buffer();
  return c.result(c.scripted().value_or(dserr::kOk));
}

// IDirectSoundBuffer::Restore(this): the sound memory is back; its contents are not.
uint32_t Restore(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "IDirectSoundBuffer::Restore");
  SoundBuffer& b = c.buffer();
  if (c.scripted()) {
    if (*c.scripted() == dserr::kBufferLost) LoseBuffer(b);
    return c.result(*c.scripted());
  }
  b.lost = false;
  return c.result(dserr::kOk);
}

// Method tables ---------------------------------------------------------------------------------

struct Method {
  const char* name;
  unsigned argCount;  // `this` included
  Handler handler;    // null: a call faults, naming the method
};

// IDirectSound, in its published order.
constexpr Method kDeviceMethods[] = {
    {"IDirectSound::QueryInterface", 3, [](host::Module& m, guest::TrapCall& t) { return QueryInterface(m, t, "IDirectSound::QueryInterface"); }},
    {"IDirectSound::AddRef", 1, DeviceAddRef},
    {"IDirectSound::Release", 1, DeviceRelease},
    {"IDirectSound::CreateSoundBuffer", 4, CreateSoundBuffer},
    {"IDirectSound::GetCaps", 2, nullptr},
    {"IDirectSound::DuplicateSoundBuffer", 3, nullptr},
    {"IDirectSound::SetCooperativeLevel", 3, SetCooperativeLevel},
    {"IDirectSound::Compact", 1, nullptr},
    {"IDirectSound::GetSpeakerConfig", 2, nullptr},
    {"IDirectSound::SetSpeakerConfig", 2, nullptr},
    {"IDirectSound::Initialize", 2, nullptr},
};

// IDirectSoundBuffer, in its published order.
constexpr Method kBufferMethods[] = {
    {"IDirectSoundBuffer::QueryInterface", 3, [](host::Module& m, guest::TrapCall& t) { return QueryInterface(m, t, "IDirectSoundBuffer::QueryInterface"); }},
    {"IDirectSoundBuffer::AddRef", 1, BufferAddRef},
    {"IDirectSoundBuffer::Release", 1, BufferRelease},
    {"IDirectSoundBuffer::GetCaps", 2, nullptr},
    {"IDirectSoundBuffer::GetCurrentPosition", 3, GetCurrentPosition},
    {"IDirectSoundBuffer::GetFormat", 4, nullptr},
    {"IDirectSoundBuffer::GetVolume", 2, nullptr},
    {"IDirectSoundBuffer::GetPan", 2, nullptr},
    {"IDirectSoundBuffer::GetFrequency", 2, nullptr},
    {"IDirectSoundBuffer::GetStatus", 2, GetStatus},
    {"IDirectSoundBuffer::Initialize", 3, nullptr},
    {"IDirectSoundBuffer::Lock", 8, Lock},
    {"IDirectSoundBuffer::Play", 4, Play},
    {"IDirectSoundBuffer::SetCurrentPosition", 2, SetCurrentPosition},
    {"IDirectSoundBuffer::SetFormat", 2, nullptr},
    {"IDirectSoundBuffer::SetVolume", 2, nullptr},
    {"IDirectSoundBuffer::SetPan", 2, nullptr},
    {"IDirectSoundBuffer::SetFrequency", 2, nullptr},
    {"IDirectSoundBuffer::Stop", 1, Stop},
    {"IDirectSoundBuffer::Unlock", 5, Unlock},
    {"IDirectSoundBuffer::Restore", 1, Restore},
};

static_assert(std::size(kDeviceMethods) == 11 && std::size(kBufferMethods) == 21);

// A guest table of traps, one per method.
uint32_t MakeMethodTable(host::Module& m, std::span<const Method> methods) {
  const uint32_t table = m.machine().alloc(4 * static_cast<uint32_t>(methods.size()));
  for (size_t i = 0; i < methods.size(); ++i) {
    const Method& method = methods[i];
    guest::TrapHandler handler;
    if (method.handler != nullptr) {
      handler = [&m, h = method.handler](guest::TrapCall& call) { return h(m, call); };
    }
    const std::string name = method.handler != nullptr ? method.name : std::string(method.name) + ", which the bench does not emulate";
    m.machine().write32(table + 4 * static_cast<uint32_t>(i), m.machine().addTrap(name, method.argCount, handler));
  }
  return table;
}

// DirectSoundCreate(device guid, device out, outer)
uint32_t DirectSoundCreate(host::Module& m, guest::TrapCall& t) {
  MethodCall c(m, t, "DirectSoundCreate", /*countedByBinding=*/true);
  const uint32_t deviceOut = c.arg(1), outer = c.arg(2);
  if (c.scripted()) {
    c.out(deviceOut, 0);
    return c.result(*c.scripted());
  }
  if (deviceOut == 0) return c.result(dserr::kInvalidParam);
  if (outer != 0) {
    c.out(deviceOut, 0);
    return c.result(dserr::kNoAggregation);
  }
  State& s = c.state();
  if (s.deviceMethods == 0) {
    s.deviceMethods = MakeMethodTable(m, kDeviceMethods);
    s.bufferMethods = MakeMethodTable(m, kBufferMethods);
  }
  const uint32_t object = NewObject(m, s.deviceMethods);
  s.soundDevices.emplace(object, SoundDevice{});
  c.out(deviceOut, object);
  return c.result(dserr::kOk);
}

constexpr Stub kStubs[] = {
    {"DirectSoundCreate", 3, DirectSoundCreate},
};

}  // namespace

extern const Dll kDsound = {"dsound.dll", kStubs};

}  // namespace win32
