// Bob Jenkins' lookup3 hashes, bit-exact with the published results whatever the host
// byte order or the input's alignment, plus the two entry points the system uses. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

// hashlittle of the bytes before the terminating zero, seed 0. A null pointer hashes as
// the empty string.
uint32_t HashString(const char* string);
uint32_t HashData(const void* data, size_t length, uint32_t seed);

uint32_t hashlittle(const void* key, size_t length, uint32_t seed);
// pc: in the primary seed, out the primary hash; pb: in the secondary seed, out the second.
void hashlittle2(const void* key, size_t length, uint32_t* pc, uint32_t* pb);
uint32_t hashbig(const void* key, size_t length, uint32_t seed);
uint32_t hashword(const uint32_t* key, size_t length, uint32_t seed);
