// DirectSound as the click sound player reaches it (dsound.dll, import library libdsound).
//
// A COM object is a pointer to its method table; every method is stdcall and takes the object
// itself as its first argument. The tables list every method in DirectSound's published order,
// because the slot position is the contract: the player calls only a few of them, the others
// are declared so that the ones it calls sit in the right slots.
#pragma once

#include "records.h"

using HResult = s32;

// Results the player tests for.
constexpr HResult kDsOk = 0;
constexpr HResult kDsErrBufferLost = static_cast<HResult>(0x88780096u);

// SetCooperativeLevel: share the device with the other applications.
constexpr u32 kDsCooperativeNormal = 1;

// CreateSoundBuffer flags.
constexpr u32 kDsBufferStatic = 0x00000002;
constexpr u32 kDsBufferCtrlFrequency = 0x00000020;
constexpr u32 kDsBufferCtrlPan = 0x00000040;
constexpr u32 kDsBufferCtrlVolume = 0x00000080;
constexpr u32 kDsBufferGetCurrentPosition2 = 0x00010000;

struct Guid;
struct IUnknown;
struct IDirectSound;
struct IDirectSoundBuffer;

#pragma pack(push, 1)
// WAVEFORMATEX: the "fmt " chunk body as DirectSound reads it.
struct WaveFormat {
  u16 formatTag;
  u16 channels;
  u32 samplesPerSecond;
  u32 averageBytesPerSecond;
  u16 blockAlign;
  u16 bitsPerSample;
  u16 extraSize;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18, "WAVEFORMATEX is 18 bytes");

// DSBUFFERDESC in its original 20-byte form.
struct BufferDescription {
  u32 size;
  u32 flags;
  u32 bufferBytes;
  u32 reserved;
  const WaveFormat* format;
};
static_assert(sizeof(BufferDescription) == 20, "DSBUFFERDESC is 20 bytes");

struct BufferCaps;
struct DeviceCaps;

struct IDirectSoundMethods {
  // IUnknown
  HResult(GAUGE_CALL* QueryInterface)(IDirectSound* self, const Guid* interfaceId, void** object);
  u32(GAUGE_CALL* AddRef)(IDirectSound* self);
  u32(GAUGE_CALL* Release)(IDirectSound* self);
  // IDirectSound
  HResult(GAUGE_CALL* CreateSoundBuffer)(IDirectSound* self, const BufferDescription* description,
                                         IDirectSoundBuffer** buffer, IUnknown* outer);
  HResult(GAUGE_CALL* GetCaps)(IDirectSound* self, DeviceCaps* caps);
  HResult(GAUGE_CALL* DuplicateSoundBuffer)(IDirectSound* self, IDirectSoundBuffer* original,
                                            IDirectSoundBuffer** duplicate);
  HResult(GAUGE_CALL* SetCooperativeLevel)(IDirectSound* self, void* window, u32 level);
  HResult(GAUGE_CALL* Compact)(IDirectSound* self);
  HResult(GAUGE_CALL* GetSpeakerConfig)(IDirectSound* self, u32* config);
  HResult(GAUGE_CALL* SetSpeakerConfig)(IDirectSound* self, u32 config);
  HResult(GAUGE_CALL* Initialize)(IDirectSound* self, const Guid* device);
};

struct IDirectSoundBufferMethods {
  // IUnknown
  HResult(GAUGE_CALL* QueryInterface)(IDirectSoundBuffer* self, const Guid* interfaceId, void** object);
  u32(GAUGE_CALL* AddRef)(IDirectSoundBuffer* self);
  u32(GAUGE_CALL* Release)(IDirectSoundBuffer* self);
  // IDirectSoundBuffer
  HResult(GAUGE_CALL* GetCaps)(IDirectSoundBuffer* self, BufferCaps* caps);
  HResult(GAUGE_CALL* GetCurrentPosition)(IDirectSoundBuffer* self, u32* play, u32* write);
  HResult(GAUGE_CALL* GetFormat)(IDirectSoundBuffer* self, WaveFormat* format, u32 size, u32* written);
  HResult(GAUGE_CALL* GetVolume)(IDirectSoundBuffer* self, s32* volume);
  HResult(GAUGE_CALL* GetPan)(IDirectSoundBuffer* self, s32* pan);
  HResult(GAUGE_CALL* GetFrequency)(IDirectSoundBuffer* self, u32* frequency);
  HResult(GAUGE_CALL* GetStatus)(IDirectSoundBuffer* self, u32* status);
  HResult(GAUGE_CALL* Initialize)(IDirectSoundBuffer* self, IDirectSound* device,
                                  const BufferDescription* description);
  HResult(GAUGE_CALL* Lock)(IDirectSoundBuffer* self, u32 offset, u32 bytes, void** region1, u32* length1,
                            void** region2, u32* length2, u32 flags);
  HResult(GAUGE_CALL* Play)(IDirectSoundBuffer* self, u32 reserved, u32 priority, u32 flags);
  HResult(GAUGE_CALL* SetCurrentPosition)(IDirectSoundBuffer* self, u32 position);
  HResult(GAUGE_CALL* SetFormat)(IDirectSoundBuffer* self, const WaveFormat* format);
  HResult(GAUGE_CALL* SetVolume)(IDirectSoundBuffer* self, s32 volume);
  HResult(GAUGE_CALL* SetPan)(IDirectSoundBuffer* self, s32 pan);
  HResult(GAUGE_CALL* SetFrequency)(IDirectSoundBuffer* self, u32 frequency);
  HResult(GAUGE_CALL* Stop)(IDirectSoundBuffer* self);
  HResult(GAUGE_CALL* Unlock)(IDirectSoundBuffer* self, void* region1, u32 length1, void* region2, u32 length2);
  HResult(GAUGE_CALL* Restore)(IDirectSoundBuffer* self);
};

static_assert(sizeof(IDirectSoundMethods) == 4 * 11, "IDirectSound has 11 methods");
static_assert(__builtin_offsetof(IDirectSoundMethods, SetCooperativeLevel) == 4 * 6, "slot of SetCooperativeLevel");
static_assert(sizeof(IDirectSoundBufferMethods) == 4 * 21, "IDirectSoundBuffer has 21 methods");
static_assert(__builtin_offsetof(IDirectSoundBufferMethods, Lock) == 4 * 11, "slot of Lock");
static_assert(__builtin_offsetof(IDirectSoundBufferMethods, Unlock) == 4 * 19, "slot of Unlock");

struct IDirectSound {
  const IDirectSoundMethods* methods;
};

struct IDirectSoundBuffer {
  const IDirectSoundBufferMethods* methods;
};

extern "C" __declspec(dllimport) HResult GAUGE_CALL DirectSoundCreate(const Guid* device, IDirectSound** object,
                                                                      IUnknown* outer);
