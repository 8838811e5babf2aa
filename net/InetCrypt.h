// MD5 (RFC 1321) with HMAC-MD5 (RFC 2104), MD4 (RFC 1320) and single-block DES (FIPS 46-3),
// kept in the program for the NTLM messages and for seeding the random generator, where
// loading OpenSSL would be out of proportion. Plain functions over caller-held contexts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/Exception.h"

struct TMD5Context {
    uint32_t State[4];
    uint32_t Count[2];  // bit count, low word first
    uint8_t Buffer[64];
    uint32_t FinalCount[2];  // the count as it stood when finalisation began
};

void Md5Init(TMD5Context& Ctx);
void Md5Update(TMD5Context& Ctx, const void* Data, size_t Len);
// Feeds any amount of data in pieces of at most 16384 bytes.
void Md5UpdateLarge(TMD5Context& Ctx, const void* Data, size_t Len);
// Writes the digest and zeroes the context.
void Md5Final(uint8_t (&Digest)[16], TMD5Context& Ctx);
// Fills a digest buffer with the bytes 1 to 16 before Md5Final overwrites it.
void Md5PrefillDigest(uint8_t (&Digest)[16]);
// The 16 raw bytes of MD5(Data).
std::string Md5String(const std::string& Data);

// RFC 2104 over MD5; a key longer than 64 bytes is replaced by its digest.
void HmacMd5(const void* Data, size_t DataLen, const void* Key, size_t KeyLen, uint8_t (&Digest)[16]);

class MD4Exception : public framework::Exception {
public:
    using framework::Exception::Exception;
};

struct TMD4Context {
    uint64_t BitCount = 0;
    uint32_t BufferLen = 0;
    uint32_t State[4] = {};
    uint8_t Buffer[64] = {};
    bool Initialized = false;
};

void Md4Init(TMD4Context& Ctx);
// Both raise MD4Exception "MD4 not initialized" on a context Md4Init did not prepare; Final
// clears the context, which then needs Md4Init again.
void Md4Update(TMD4Context& Ctx, const void* Data, size_t Len);
void Md4Final(uint8_t (&Digest)[16], TMD4Context& Ctx);
// The 16 raw bytes of MD4(Text).
std::string Md4String(const std::string& Text);

// Encrypts (or decrypts) one 8-byte block with an 8-byte key (7 key bits per byte, the low
// bit of each byte is parity and ignored).
void DesEncryptBlock(const uint8_t (&Data)[8], uint8_t (&Result)[8], const uint8_t (&Key)[8], bool Encrypt);
