// The chunk walk over a WAVE resource's RIFF image.
//
// A WAVE resource is "RIFF", a 32-bit little-endian RIFF length L, "WAVE", then chunks up to
// offset 8 + L: a 4-byte id, a 32-bit body length n, n bytes of body and one pad byte when n is
// odd. The walk finds the first "fmt " chunk (at least 14 bytes: a WAVEFORMATEX handed to
// DirectSound unchanged) and the first non-empty "data" chunk, in either order; any other chunk
// is skipped.
//
// The walk is bounded twice: by the RIFF length and by the resource's real size (from
// SizeofResource). A chunk header or body that does not lie wholly inside both ends the walk as
// a failure, so a damaged resource can never make the player read, or hand DirectSound, bytes
// past the end of the resource. All arithmetic is on offsets checked before they are added, so
// no address computation wraps around.
//
// This header and wave_riff.cpp use nothing but the language itself: the same code is compiled
// into the gauge modules (32-bit, freestanding) and natively for the fuzz target.
#pragma once

static_assert(sizeof(unsigned int) == 4, "RIFF lengths are 32-bit");

// Returns 1 when every requested output was found, else 0. Each output is optional (null: not
// requested) and is set to 0 first; an output counts as found when it is non-zero.
//   image, imageSize  the locked resource and its size in bytes
//   format            the "fmt " chunk body
//   data, dataLength  the "data" chunk body and its length
int ParseWaveRiff(const void* image, unsigned int imageSize, const void** format, const void** data,
                  unsigned int* dataLength);
