// The product coder against the plain reference walk: the same return value and the same bytes
// for every kind of data, and every coded block expands back to its source.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "CompressLZ77.h"
#include "lz77_corpus.h"
#include "lz77_oracle.h"

using namespace lz77corpus;

namespace {

struct Coders
{
    CCompressLZ77 product;
    CLz77Oracle oracle;
    std::vector<unsigned char> a = std::vector<unsigned char>(65536 + 64);
    std::vector<unsigned char> b = std::vector<unsigned char>(65536 + 64);
    std::vector<unsigned char> back = std::vector<unsigned char>(65536);

    // Returns an empty string when both coders agree and the block comes back intact.
    std::string Check(const Bytes& src)
    {
        const int n = (int)src.size();
        std::memset(a.data(), 0xA5, a.size());
        const int rp = product.Compress(src.data(), n, a.data());
        const int ro = oracle.Compress(src.data(), n, b.data());
        if (rp != ro)
            return "returns " + std::to_string(rp) + ", reference " + std::to_string(ro);
        if (rp > 0 && std::memcmp(a.data(), b.data(), rp) != 0)
            return "coded bytes differ";
        for (size_t x = (size_t)n + 8; x < a.size(); ++x)
            if (a[x] != 0xA5)
                return "wrote past length + 8";
        if (rp > 0)
        {
            if (product.Decompress(back.data(), n, a.data(), rp) != 1)
                return "does not expand";
            if (std::memcmp(back.data(), src.data(), n) != 0)
                return "expands to other bytes";
        }
        return "";
    }
};

std::string OwnProgramPath()
{
#ifdef _WIN32
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
#else
    return "/proc/self/exe";
#endif
}

} // namespace

TEST(Lz77Identity, EveryDataClassMatchesTheReference)
{
    Coders c;
    for (const DataClass& dc : Classes())
        for (uint32_t seed = 1; seed <= 3; ++seed)
            for (int size : {65536, 65535, 40000 + (int)seed * 777, 3000})
            {
                Bytes src = dc.make(seed, size);
                EXPECT_EQ(c.Check(src), "") << dc.name << " seed " << seed << " size " << size;
            }
}

TEST(Lz77Identity, EveryPeriodFromTwoToSixtyFour)
{
    Coders c;
    for (int period = 2; period <= 64; ++period)
        for (uint32_t seed : {2u * period, 2u * period + 1})   // even: pure, odd: a few bytes changed
        {
            Bytes src = Periodic(seed, period % 4 == 0 ? 65536 : 20000, period);
            EXPECT_EQ(c.Check(src), "") << "period " << period << " seed " << seed;
        }
}

TEST(Lz77Identity, RepeatingPatternsBrokenAtRandomPlaces)
{
    // The pattern continues past where a copy can reach, or breaks just before: the searches
    // that double and halve the length, and those that look at the end of the string first.
    Coders c;
    Rng r(4242);
    for (int period : {2, 3, 4, 7, 24, 64})
        for (int spacing : {16, 64, 500, 4000})
        {
            Bytes src = Periodic(period * 11u, 65536, period);
            for (int pos = r.Below(spacing); pos < 65536; pos += 1 + r.Below(2 * spacing))
                src[pos] ^= (unsigned char)(1 + r.Below(255));
            EXPECT_EQ(c.Check(src), "") << "period " << period << " spacing " << spacing;
        }
}

TEST(Lz77Identity, RealExecutableBytes)
{
    Coders c;
    const std::string self = OwnProgramPath();
    int blocks = 0;
    for (long offset = 0; blocks < 6; offset += 65536, ++blocks)
    {
        Bytes src = ReadFile(self, offset, 65536);
        if (src.empty())
            break;
        EXPECT_EQ(c.Check(src), "") << self << " at " << offset;
    }
    EXPECT_GT(blocks, 0);
}

TEST(Lz77Identity, SeededRandomBlocks)
{
    // Small alphabets give many equal-length candidates (the newest must win), random
    // splices of different classes give matches that end at class borders.
    Coders c;
    Rng r(20261209);
    const auto& classes = Classes();
    for (int round = 0; round < 120; ++round)
    {
        const int size = (round % 10 == 0) ? 65536 : r.Below(65537);
        Bytes src;
        switch (round % 3)
        {
        case 0: {
            const int alphabet = 2 + r.Below(6);
            src.resize(size);
            for (auto& b : src)
                b = (unsigned char)('a' + r.Below(alphabet));
            break;
        }
        case 1:
            while ((int)src.size() < size)
            {
                const DataClass& dc = classes[r.Below((int)classes.size())];
                Bytes piece = dc.make(r.Next(), 1 + r.Below(4096));
                src.insert(src.end(), piece.begin(), piece.end());
            }
            src.resize(size);
            break;
        default: {
            // Copies of earlier stretches with small edits.
            src = Random(r.Next(), 64 + r.Below(512));
            while ((int)src.size() < size)
            {
                const int from = r.Below((int)src.size());
                const int len = 1 + r.Below(300);
                for (int k = 0; k < len && from + k < (int)src.size(); ++k)
                    src.push_back(src[from + k]);
                if (r.Below(3) == 0)
                    src.push_back((unsigned char)r.Next());
            }
            src.resize(size);
            break;
        }
        }
        EXPECT_EQ(c.Check(src), "") << "round " << round << " size " << size;
    }
}

TEST(Lz77Identity, OneCoderObjectOverManyBlocks)
{
    // The dictionary and every index are per block: a block coded after others gives the same
    // bytes as on a fresh object.
    Coders c;
    Bytes last = Text(7, 65536);
    std::vector<unsigned char> first(65536 + 8), again(65536 + 8);
    const int r1 = c.product.Compress(last.data(), 65536, first.data());
    for (const DataClass& dc : Classes())
    {
        Bytes other = dc.make(99, 65536);
        c.product.Compress(other.data(), 65536, again.data());
    }
    const int r2 = c.product.Compress(last.data(), 65536, again.data());
    ASSERT_EQ(r1, r2);
    EXPECT_EQ(0, std::memcmp(first.data(), again.data(), r1));
    // Small blocks (the ends of files) after full ones, and the other way round.
    for (const DataClass& dc : Classes())
        for (int size : {100, 5000, 16383, 65536})
        {
            Bytes small = dc.make(5, size);
            CCompressLZ77 fresh;
            std::vector<unsigned char> a(size + 8), b(size + 8);
            const int ra = fresh.Compress(small.data(), size, a.data());
            const int rb = c.product.Compress(small.data(), size, b.data());
            ASSERT_EQ(ra, rb) << dc.name << " " << size;
            EXPECT_EQ(0, std::memcmp(a.data(), b.data(), ra > 0 ? ra : 0)) << dc.name << " " << size;
        }
}

TEST(Lz77Identity, CodersOnSeveralThreadsAtOnceMatchTheReference)
{
    // Compressed backups code the blocks of a file on several threads, one coder object each:
    // coders running side by side share nothing and give the reference's bytes.
    std::vector<Bytes> blocks;
    std::vector<std::vector<unsigned char>> expected;
    std::vector<int> expectedSize;
    CLz77Oracle oracle;
    for (const DataClass& dc : Classes())
        for (uint32_t seed : {31u, 32u})
        {
            blocks.push_back(dc.make(seed, seed == 31 ? 65536 : 30000));
            expected.emplace_back(65536 + 8);
            expectedSize.push_back(oracle.Compress(blocks.back().data(), (int)blocks.back().size(),
                                                   expected.back().data()));
        }
    const int kThreads = 4;
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            CCompressLZ77 coder;
            std::vector<unsigned char> out(65536 + 8);
            // Each thread takes every block, starting at its own place.
            for (size_t k = 0; k < blocks.size(); ++k)
            {
                const size_t b = (k + (size_t)t * 7) % blocks.size();
                const int r = coder.Compress(blocks[b].data(), (int)blocks[b].size(), out.data());
                if (r != expectedSize[b] || (r > 0 && std::memcmp(out.data(), expected[b].data(), r)))
                    failures[t] += " block " + std::to_string(b);
            }
        });
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(failures[t], "") << "thread " << t;
}
