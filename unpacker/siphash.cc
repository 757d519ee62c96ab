#include "unpacker/siphash.h"

#include <random>

namespace {

uint64_t rotate_left(uint64_t value, int bits) { return value << bits | value >> (64 - bits); }

// One SipRound over the four state words.
void sip_round(uint64_t (&v)[4]) {
    v[0] += v[1];
    v[1] = rotate_left(v[1], 13) ^ v[0];
    v[0] = rotate_left(v[0], 32);
    v[2] += v[3];
    v[3] = rotate_left(v[3], 16) ^ v[2];
    v[0] += v[3];
    v[3] = rotate_left(v[3], 21) ^ v[0];
    v[2] += v[1];
    v[1] = rotate_left(v[1], 17) ^ v[2];
    v[2] = rotate_left(v[2], 32);
}

// Eight bytes as a little-endian word whatever the host's byte order.
uint64_t load_word(const unsigned char* bytes, size_t count) {
    uint64_t word = 0;
    for (size_t i = 0; i < count; ++i) word |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return word;
}

}  // namespace

uint64_t siphash24(const SipKey& key, const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint64_t v[4] = {key.k0 ^ 0x736f6d6570736575ull, key.k1 ^ 0x646f72616e646f6dull,
                     key.k0 ^ 0x6c7967656e657261ull, key.k1 ^ 0x7465646279746573ull};
    const size_t whole = length - length % 8;
    for (size_t at = 0; at < whole; at += 8) {
        const uint64_t word = load_word(bytes + at, 8);
        v[3] ^= word;
        sip_round(v);
        sip_round(v);
        v[0] ^= word;
    }
    const uint64_t last = load_word(bytes + whole, length - whole) | static_cast<uint64_t>(length) << 56;
    v[3] ^= last;
    sip_round(v);
    sip_round(v);
    v[0] ^= last;
    v[2] ^= 0xff;
    for (int i = 0; i < 4; ++i) sip_round(v);
    return v[0] ^ v[1] ^ v[2] ^ v[3];
}

SipKey random_sip_key() {
    std::random_device source;
    auto word = [&source] { return static_cast<uint64_t>(source()) << 32 | source(); };
    SipKey key;
    key.k0 = word();
    key.k1 = word();
    return key;
}
