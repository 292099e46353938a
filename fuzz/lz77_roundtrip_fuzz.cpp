// Codes arbitrary blocks with the product coder and the plain reference walk: both must give the
// same result byte for byte, and the coded block must expand back to the input.
// Input: the block itself, or, when the first byte has its top bit set, a pattern that is
// repeated to the length given by the next two bytes, 0 meaning a full block of 65536 bytes
// (so small inputs reach the repetitive full-size blocks where the match finder takes its
// shortcuts).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../core/engine/CompressLZ77.cpp"
#include "../tests/core/engine/lz77_oracle.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> block;
    if (size >= 4 && (data[0] & 0x80))
    {
        const size_t field = data[1] | (size_t)data[2] << 8;
        const size_t len = field ? field : 65536;
        const uint8_t* pattern = data + 3;
        const size_t plen = size - 3;
        block.resize(len);
        for (size_t x = 0; x < len; ++x)
            block[x] = pattern[x % plen];
        // A few bytes of the pattern flipped far apart: repeats that end at different places.
        if (data[0] & 0x40)
            for (size_t x = plen * 7; x < len; x += (data[0] & 0x3F) * 97 + 131)
                block[x] ^= 0x5A;
    }
    else
    {
        if (size > 65536)
            return 0;
        block.assign(data, data + size);
    }
    static CCompressLZ77 coder;
    static CLz77Oracle oracle;
    const int n = (int)block.size();
    std::vector<unsigned char> a(n + 8), b(n + 8);
    const int ra = coder.Compress(block.data(), n, a.data());
    const int rb = oracle.Compress(block.data(), n, b.data());
    if (ra != rb || (ra > 0 && std::memcmp(a.data(), b.data(), ra) != 0))
        std::abort();
    if (ra > 0)
    {
        std::vector<unsigned char> back(n);
        if (coder.Decompress(back.data(), n, a.data(), ra) != 1
            || std::memcmp(back.data(), block.data(), n) != 0)
            std::abort();
    }
    return 0;
}
