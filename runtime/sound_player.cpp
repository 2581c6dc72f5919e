// The click sound player: plays a WAVE resource of this module once through DirectSound.
//
// The device is created on the module's first click, once; a resource is parsed and copied into
// a static DirectSound buffer on the first click of its id; every later click rewinds and
// restarts that buffer, two DirectSound calls and no resource access. A buffer lost to another
// application is restored and refilled from the resource in place. Nothing is ever logged or
// shown: the result and SoundStatus tell what happened, and the gauges ignore both.
#include "sound_player.h"

#include "directsound.h"
#include "frame.h"
#include "wave_riff.h"

extern "C" {
__declspec(dllimport) void* GAUGE_CALL FindResourceA(void* module, const char* name, const char* type);
__declspec(dllimport) void* GAUGE_CALL LoadResource(void* module, void* resource);
__declspec(dllimport) void* GAUGE_CALL LockResource(void* loaded);
__declspec(dllimport) u32 GAUGE_CALL SizeofResource(void* module, void* resource);
__declspec(dllimport) void* GAUGE_CALL GetForegroundWindow();
}

namespace {

// The player's own failures, as results and SoundStatus.
constexpr s32 kStatusCooperativeLevel = -1;
constexpr s32 kStatusPlayFailed = -3;
constexpr s32 kStatusNoDevice = -4;
constexpr s32 kStatusNoBuffer = -5;

constexpr u32 kBufferFlags = kDsBufferStatic | kDsBufferCtrlFrequency | kDsBufferCtrlPan | kDsBufferCtrlVolume |
                             kDsBufferGetCurrentPosition2;
static_assert(kBufferFlags == 0x000100E2);

// Each module plays one resource id, so one entry is enough. A second id replaces the entry.
constexpr s32 kSoundCacheRoom = 1;

// rep movsb: no C runtime here, and a plain loop could be turned into a call of memcpy.
void CopyBytes(void* to, const void* from, u32 count) {
  asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(count) : : "memory");
}

// A resource name that is an integer id, as the resource functions take it.
const char* IntegerResourceName(u16 name) { return reinterpret_cast<const char*>(static_cast<u32>(name)); }

}  // namespace

// A sound already loaded into a buffer; stored only when its buffer exists.
struct SoundCacheEntry {
  IDirectSoundBuffer* buffer;
  s32 resourceId;  // exactly as passed to PlayWaveResource: all 32 bits are the key
};

// Module-wide state, one set per module; plain variables on the host's one thread.
s32 soundDeviceFirstUse = 1;
IDirectSound* soundDevice = nullptr;
SoundCacheEntry SoundCache[kSoundCacheRoom] = {};
s32 soundCacheCount = 0;
s32 SoundStatus = 0;

namespace {

// Finds, loads and locks the WAVE resource `name` of `module` and walks its chunks, bounded by
// the resource's size. `format` may be null (a refill needs the samples only).
s32 LoadWaveResource(void* module, u16 name, const void** format, const void** data, u32* dataLength) {
  void* found = FindResourceA(module, IntegerResourceName(name), "WAVE");
  if (found == nullptr) return 0;
  void* loaded = LoadResource(module, found);
  if (loaded == nullptr) return 0;
  const void* image = LockResource(loaded);
  if (image == nullptr) return 0;
  const u32 size = SizeofResource(module, found);
  return ParseWaveRiff(image, size, format, data, dataLength) != 0 ? 1 : 0;
}

// Copies `dataLength` bytes into the buffer from its start. The regions DirectSound hands out
// add up to the locked length; the copy never takes more than `dataLength` from `data` anyway.
s32 FillWaveBuffer(IDirectSoundBuffer* buffer, const void* data, u32 dataLength) {
  if (buffer == nullptr || data == nullptr || dataLength == 0) return 0;
  void* region1 = nullptr;
  void* region2 = nullptr;
  u32 length1 = 0;
  u32 length2 = 0;
  if (buffer->methods->Lock(buffer, 0, dataLength, &region1, &length1, &region2, &length2, 0) < 0) return 0;
  const u32 first = length1 < dataLength ? length1 : dataLength;
  CopyBytes(region1, data, first);
  if (length2 != 0) {
    const u32 rest = dataLength - first;
    CopyBytes(region2, static_cast<const unsigned char*>(data) + first, length2 < rest ? length2 : rest);
  }
  buffer->methods->Unlock(buffer, region1, length1, region2, length2);
  return 1;
}

// A static buffer holding the whole resource, or null.
IDirectSoundBuffer* CreateWaveBuffer(IDirectSound* device, u16 name) {
  const void* format = nullptr;
  const void* data = nullptr;
  u32 dataLength = 0;
  if (!LoadWaveResource(moduleInstance, name, &format, &data, &dataLength)) return nullptr;
  // The format record is handed over in place: the resource stays mapped while the module is.
  const BufferDescription description = {
      sizeof(BufferDescription), kBufferFlags, dataLength, 0, static_cast<const WaveFormat*>(format),
  };
  IDirectSoundBuffer* buffer = nullptr;
  if (device->methods->CreateSoundBuffer(device, &description, &buffer, nullptr) < 0) return nullptr;
  if (buffer == nullptr) return nullptr;
  if (!FillWaveBuffer(buffer, data, dataLength)) {
    buffer->methods->Release(buffer);
    return nullptr;
  }
  return buffer;
}

// After a buffer loss: the samples again, from the module's own resource.
s32 RefillWaveBuffer(IDirectSoundBuffer* buffer, u16 name) {
  const void* data = nullptr;
  u32 dataLength = 0;
  if (!LoadWaveResource(moduleInstance, name, nullptr, &data, &dataLength)) return 0;
  if (buffer->methods->Restore(buffer) < 0) return 0;
  return FillWaveBuffer(buffer, data, dataLength);
}

// The cached buffer for `resourceId`, created and stored on the first request; null when it
// cannot be made (nothing is stored then, so the next request tries again).
IDirectSoundBuffer* CachedWaveBuffer(s32 resourceId) {
  for (s32 i = 0; i < soundCacheCount; ++i) {
    if (SoundCache[i].resourceId == resourceId) return SoundCache[i].buffer;
  }
  IDirectSoundBuffer* buffer = CreateWaveBuffer(soundDevice, static_cast<u16>(resourceId & 0xFFFF));
  if (buffer == nullptr) return nullptr;
  if (soundCacheCount < kSoundCacheRoom) {
    SoundCache[soundCacheCount++] = {buffer, resourceId};
  } else {
    // Full: the newest id takes the last entry, and the buffer it held goes.
    IDirectSoundBuffer* replaced = SoundCache[kSoundCacheRoom - 1].buffer;
    SoundCache[kSoundCacheRoom - 1] = {buffer, resourceId};
    replaced->methods->Release(replaced);
  }
  return buffer;
}

HResult PlayFromStart(IDirectSoundBuffer* buffer) {
  buffer->methods->SetCurrentPosition(buffer, 0);  // a click during the last one restarts it
  return buffer->methods->Play(buffer, 0, 0, 0);   // once, no looping
}

}  // namespace

s32 GAUGE_CALL PlayWaveResource(s32 resourceId) {
  if (soundDeviceFirstUse != 0) {
    soundDeviceFirstUse = 0;  // one attempt per loaded module, whatever it gives
    const HResult created = DirectSoundCreate(nullptr, &soundDevice, nullptr);
    if (created != kDsOk) {
      soundDevice = nullptr;
      SoundStatus = created;
      return created;
    }
    if (soundDevice != nullptr) {
      const HResult level =
          soundDevice->methods->SetCooperativeLevel(soundDevice, GetForegroundWindow(), kDsCooperativeNormal);
      if (level != kDsOk) {
        SoundStatus = kStatusCooperativeLevel;  // the device stays, and later clicks use it
        return level;
      }
    }
  }
  // No device: creation failed on the first click (or succeeded without giving one).
  if (soundDevice == nullptr) {
    SoundStatus = kStatusNoDevice;
    return kStatusNoDevice;
  }

  IDirectSoundBuffer* buffer = CachedWaveBuffer(resourceId);
  if (buffer == nullptr) {
    SoundStatus = kStatusNoBuffer;
    return kStatusNoBuffer;
  }

  HResult played = PlayFromStart(buffer);
  SoundStatus = played;
  if (played == kDsErrBufferLost) {
    // Once per click: restore, refill, play again, and report whatever that gives.
    const HResult restored = buffer->methods->Restore(buffer);
    if (restored != kDsOk) {
      SoundStatus = restored;
      return restored;
    }
    if (!RefillWaveBuffer(buffer, static_cast<u16>(resourceId & 0xFFFF))) {
      SoundStatus = 0;  // silent this time; the next click tries again
      return 0;
    }
    played = PlayFromStart(buffer);
    SoundStatus = played;
    return played;
  }
  if (played != kDsOk) {
    SoundStatus = kStatusPlayFailed;
    return played;
  }
  return 0;
}
