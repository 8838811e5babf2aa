#include "net/InetCrypt.h"

#include <algorithm>
#include <cstring>

namespace {

inline uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

uint32_t LoadLE(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void StoreLE(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// ---- MD5 ----------------------------------------------------------------------------------

const uint32_t kMd5T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
const int kMd5S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                       5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                       4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                       6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

void Md5Transform(uint32_t (&state)[4], const uint8_t* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLE(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + Rol(a + f + kMd5T[i] + x[g], kMd5S[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// ---- MD4 ----------------------------------------------------------------------------------

void Md4Transform(uint32_t (&state)[4], const uint8_t* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLE(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    // Each round updates a, d, c, b in turn, each from the other three in rotation.
    auto step = [&](int i, auto fn, uint32_t word, uint32_t add, int shift) {
        switch (i % 4) {
            case 0: a = Rol(a + fn(b, c, d) + word + add, shift); break;
            case 1: d = Rol(d + fn(a, b, c) + word + add, shift); break;
            case 2: c = Rol(c + fn(d, a, b) + word + add, shift); break;
            default: b = Rol(b + fn(c, d, a) + word + add, shift); break;
        }
    };
    auto F = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); };
    auto G = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); };
    auto H = [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; };
    static const int r1[4] = {3, 7, 11, 19}, r2[4] = {3, 5, 9, 13}, r3[4] = {3, 9, 11, 15};
    static const int o3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int i = 0; i < 16; ++i) step(i, F, x[i], 0, r1[i % 4]);
    for (int i = 0; i < 16; ++i) step(i, G, x[i / 4 + 4 * (i % 4)], 0x5A827999u, r2[i % 4]);
    for (int i = 0; i < 16; ++i) step(i, H, x[o3[i]], 0x6ED9EBA1u, r3[i % 4]);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void RequireInitialized(const TMD4Context& Ctx) {
    if (!Ctx.Initialized) throw MD4Exception("MD4 not initialized");
}

// ---- DES ----------------------------------------------------------------------------------
// Tables of FIPS 46-3, 1-based bit numbers as the standard prints them.

const uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                         62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                         57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                         61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
const uint8_t kFP[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                         38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                         36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                         34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
const uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                        12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                        22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
const uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                        2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
const uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                          10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                          63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                          14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
const uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                          26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                          51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
const uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
const uint8_t kS[8][64] = {
    {14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7, 0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8,
     4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0, 15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13},
    {15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10, 3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15, 13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8, 13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1,
     13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7, 1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12},
    {7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15, 13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9,
     10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4, 3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14},
    {2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9, 14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6,
     4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14, 11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3},
    {12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11, 10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8,
     9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6, 4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13},
    {4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1, 13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6,
     1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2, 6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12},
    {13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7, 1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2,
     7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8, 2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}};

// Bit arrays hold one bit per byte, bit 1 of the standard at index 0.
void BytesToBits(const uint8_t* in, int nbytes, uint8_t* bits) {
    for (int i = 0; i < nbytes * 8; ++i) bits[i] = (in[i / 8] >> (7 - i % 8)) & 1;
}
void BitsToBytes(const uint8_t* bits, int nbytes, uint8_t* out) {
    for (int i = 0; i < nbytes; ++i) {
        uint8_t v = 0;
        for (int j = 0; j < 8; ++j) v = uint8_t(v << 1 | bits[i * 8 + j]);
        out[i] = v;
    }
}
void Permute(const uint8_t* in, const uint8_t* table, int n, uint8_t* out) {
    for (int i = 0; i < n; ++i) out[i] = in[table[i] - 1];
}

}  // namespace

void Md5Init(TMD5Context& Ctx) {
    std::memset(&Ctx, 0, sizeof Ctx);
    Ctx.State[0] = 0x67452301;
    Ctx.State[1] = 0xefcdab89;
    Ctx.State[2] = 0x98badcfe;
    Ctx.State[3] = 0x10325476;
}

void Md5Update(TMD5Context& Ctx, const void* Data, size_t Len) {
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    size_t used = (Ctx.Count[0] >> 3) & 63;
    uint64_t bits = (uint64_t(Ctx.Count[1]) << 32 | Ctx.Count[0]) + (uint64_t(Len) << 3);
    Ctx.Count[0] = uint32_t(bits);
    Ctx.Count[1] = uint32_t(bits >> 32);
    while (Len > 0) {
        size_t take = std::min(Len, 64 - used);
        std::memcpy(Ctx.Buffer + used, p, take);
        used += take;
        p += take;
        Len -= take;
        if (used == 64) {
            Md5Transform(Ctx.State, Ctx.Buffer);
            used = 0;
        }
    }
}

void Md5UpdateLarge(TMD5Context& Ctx, const void* Data, size_t Len) {
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    while (Len > 0) {
        size_t take = std::min<size_t>(Len, 16384);
        Md5Update(Ctx, p, take);
        p += take;
        Len -= take;
    }
}

void Md5Final(uint8_t (&Digest)[16], TMD5Context& Ctx) {
    Ctx.FinalCount[0] = Ctx.Count[0];
    Ctx.FinalCount[1] = Ctx.Count[1];
    uint8_t tail[8];
    StoreLE(tail, Ctx.FinalCount[0]);
    StoreLE(tail + 4, Ctx.FinalCount[1]);
    size_t used = (Ctx.Count[0] >> 3) & 63;
    static const uint8_t pad[64] = {0x80};
    Md5Update(Ctx, pad, used < 56 ? 56 - used : 120 - used);
    Md5Update(Ctx, tail, 8);
    for (int i = 0; i < 4; ++i) StoreLE(Digest + 4 * i, Ctx.State[i]);
    std::memset(&Ctx, 0, sizeof Ctx);
}

void Md5PrefillDigest(uint8_t (&Digest)[16]) {
    for (int i = 0; i < 16; ++i) Digest[i] = uint8_t(i + 1);
}

std::string Md5String(const std::string& Data) {
    TMD5Context ctx;
    Md5Init(ctx);
    Md5UpdateLarge(ctx, Data.data(), Data.size());
    uint8_t d[16];
    Md5Final(d, ctx);
    return std::string(reinterpret_cast<char*>(d), 16);
}

void HmacMd5(const void* Data, size_t DataLen, const void* Key, size_t KeyLen, uint8_t (&Digest)[16]) {
    uint8_t key[64] = {};
    if (KeyLen > 64) {
        TMD5Context k;
        Md5Init(k);
        Md5UpdateLarge(k, Key, KeyLen);
        uint8_t kd[16];
        Md5Final(kd, k);
        std::memcpy(key, kd, 16);
    } else if (KeyLen > 0) {
        std::memcpy(key, Key, KeyLen);
    }
    uint8_t ipad[64], opad[64];
    for (int i = 0; i < 64; ++i) {
        ipad[i] = key[i] ^ 0x36;
        opad[i] = key[i] ^ 0x5C;
    }
    TMD5Context ctx;
    Md5Init(ctx);
    Md5Update(ctx, ipad, 64);
    Md5UpdateLarge(ctx, Data, DataLen);
    uint8_t inner[16];
    Md5Final(inner, ctx);
    Md5Init(ctx);
    Md5Update(ctx, opad, 64);
    Md5Update(ctx, inner, 16);
    Md5Final(Digest, ctx);
}

void Md4Init(TMD4Context& Ctx) {
    Ctx = TMD4Context{};
    Ctx.State[0] = 0x67452301;
    Ctx.State[1] = 0xefcdab89;
    Ctx.State[2] = 0x98badcfe;
    Ctx.State[3] = 0x10325476;
    Ctx.Initialized = true;
}

void Md4Update(TMD4Context& Ctx, const void* Data, size_t Len) {
    RequireInitialized(Ctx);
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    Ctx.BitCount += uint64_t(Len) << 3;
    while (Len > 0) {
        size_t take = std::min<size_t>(Len, 64 - Ctx.BufferLen);
        std::memcpy(Ctx.Buffer + Ctx.BufferLen, p, take);
        Ctx.BufferLen += uint32_t(take);
        p += take;
        Len -= take;
        if (Ctx.BufferLen == 64) {
            Md4Transform(Ctx.State, Ctx.Buffer);
            Ctx.BufferLen = 0;
        }
    }
}

void Md4Final(uint8_t (&Digest)[16], TMD4Context& Ctx) {
    RequireInitialized(Ctx);
    uint64_t bits = Ctx.BitCount;
    uint8_t tail[8];
    StoreLE(tail, uint32_t(bits));
    StoreLE(tail + 4, uint32_t(bits >> 32));
    static const uint8_t pad[64] = {0x80};
    uint32_t used = Ctx.BufferLen;
    Md4Update(Ctx, pad, used < 56 ? 56 - used : 120 - used);
    Md4Update(Ctx, tail, 8);
    for (int i = 0; i < 4; ++i) StoreLE(Digest + 4 * i, Ctx.State[i]);
    Ctx = TMD4Context{};
}

std::string Md4String(const std::string& Text) {
    TMD4Context ctx;
    Md4Init(ctx);
    Md4Update(ctx, Text.data(), Text.size());
    uint8_t d[16];
    Md4Final(d, ctx);
    return std::string(reinterpret_cast<char*>(d), 16);
}

void DesEncryptBlock(const uint8_t (&Data)[8], uint8_t (&Result)[8], const uint8_t (&Key)[8], bool Encrypt) {
    uint8_t keyBits[64], cd[56], sub[16][48];
    BytesToBits(Key, 8, keyBits);
    Permute(keyBits, kPC1, 56, cd);
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kShifts[round]; ++s) {
            uint8_t c0 = cd[0], d0 = cd[28];
            std::memmove(cd, cd + 1, 27);
            cd[27] = c0;
            std::memmove(cd + 28, cd + 29, 27);
            cd[55] = d0;
        }
        Permute(cd, kPC2, 48, sub[round]);
    }

    uint8_t bits[64], lr[64];
    BytesToBits(Data, 8, bits);
    Permute(bits, kIP, 64, lr);
    uint8_t* l = lr;
    uint8_t* r = lr + 32;
    for (int round = 0; round < 16; ++round) {
        const uint8_t* k = sub[Encrypt ? round : 15 - round];
        uint8_t e[48], f[32], sOut[32];
        Permute(r, kE, 48, e);
        for (int i = 0; i < 48; ++i) e[i] ^= k[i];
        for (int box = 0; box < 8; ++box) {
            const uint8_t* b = e + box * 6;
            int row = b[0] << 1 | b[5];
            int col = b[1] << 3 | b[2] << 2 | b[3] << 1 | b[4];
            uint8_t v = kS[box][row * 16 + col];
            for (int j = 0; j < 4; ++j) sOut[box * 4 + j] = (v >> (3 - j)) & 1;
        }
        Permute(sOut, kP, 32, f);
        for (int i = 0; i < 32; ++i) {
            uint8_t t = r[i];
            r[i] = l[i] ^ f[i];
            l[i] = t;
        }
    }
    // The last round's halves are not swapped: the pre-output is R16 L16.
    uint8_t preOut[64];
    std::memcpy(preOut, r, 32);
    std::memcpy(preOut + 32, l, 32);
    Permute(preOut, kFP, 64, bits);
    BitsToBytes(bits, 8, Result);
}
