// Feeds arbitrary bytes to the block decoder. Input: two bytes of output length (little-endian,
// taken modulo 65537, so every length 0 .. 65536 is reachable), then the coded block. Both
// buffers are exactly as long as they claim, so any read or write outside them is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../core/engine/CompressLZ77.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int n = (int)((data[0] | (unsigned)data[1] << 8) % 65537u);
    const size_t coded = size - 2;
    static CCompressLZ77 coder;
    unsigned char* src = (unsigned char*)std::malloc(coded ? coded : 1);
    unsigned char* dst = (unsigned char*)std::malloc(n ? (size_t)n : 1);
    if (coded)
        std::memcpy(src, data + 2, coded);
    const int r = coder.Decompress(dst, n, src, (int)coded);
    if (r != 0 && r != 1)
        std::abort();
    if (r == 1 && n > 1)
    {
        // A block that decodes must also be what the coder makes of its output, or a
        // different but valid parse; either way coding the output again must round-trip.
        std::vector<unsigned char> again(n + 8);
        const int c = coder.Compress(dst, n, again.data());
        if (c > 0)
        {
            std::vector<unsigned char> back(n);
            if (coder.Decompress(back.data(), n, again.data(), c) != 1
                || std::memcmp(back.data(), dst, n) != 0)
                std::abort();
        }
    }
    std::free(src);
    std::free(dst);
    return 0;
}
