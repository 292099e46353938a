// Sample blocks of every kind of data a backup meets, generated from a seed, for checking the
// block coder against its plain reference and for timing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lz77corpus {

using Bytes = std::vector<unsigned char>;

struct DataClass
{
    const char* name;
    Bytes (*make)(uint32_t seed, int size);
};

// Every class: text, UTF-16 text, executable, incompressible, runs, periodic patterns,
// bitmaps (24 and 32 bits), disk images and adversarial inputs for the match finder.
const std::vector<DataClass>& Classes();

Bytes Text(uint32_t seed, int size);
Bytes Utf16Text(uint32_t seed, int size);
Bytes Executable(uint32_t seed, int size);
Bytes Random(uint32_t seed, int size);
Bytes Runs(uint32_t seed, int size);
Bytes Periodic(uint32_t seed, int size, int period);
Bytes Bitmap24(uint32_t seed, int size);
Bytes Bitmap32(uint32_t seed, int size);
Bytes DiskImage(uint32_t seed, int size);
Bytes PairChains(uint32_t seed, int size);
Bytes ThueMorse(uint32_t seed, int size);
Bytes Fibonacci(uint32_t seed, int size);
Bytes GrowingCopies(uint32_t seed, int size);

// Bytes of a file, at most nMax of them from nOffset on (empty when it cannot be read).
Bytes ReadFile(const std::string& path, long nOffset, int nMax);

// Small deterministic generator (xorshift), so every platform makes the same blocks.
struct Rng
{
    uint32_t s;
    explicit Rng(uint32_t seed) : s(seed * 2654435761u + 0x9E3779B9u) { if (!s) s = 1; }
    uint32_t Next()
    {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    int Below(int n) { return (int)(Next() % (uint32_t)n); }
};

} // namespace lz77corpus
