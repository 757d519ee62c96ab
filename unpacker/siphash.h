#pragma once

#include <cstddef>
#include <cstdint>

// A 128-bit key for siphash24.
struct SipKey {
    uint64_t k0 = 0;
    uint64_t k1 = 0;
};

// SipHash-2-4 of `length` bytes: a 64-bit digest that, under a key nobody
// else knows, no one can make two different inputs share on purpose.
uint64_t siphash24(const SipKey& key, const void* data, size_t length);

// A key drawn afresh from the system's random source, so digests taken in one
// run cannot be predicted before it.
SipKey random_sip_key();
