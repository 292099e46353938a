// The product coder against the plain reference walk: the same return value and the same bytes
// for every kind of data, and every coded block expands back to its source.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(Lz77Identity, EveryTinyBlockAndTheEndsOfLargerOnes)
{
    // Every length up to a few hundred bytes, for data with and without repeats: the indexes
    // of three, four and eight bytes have no room at the end of a block, and small blocks get
    // small tables.
    Coders c;
    for (int n = 0; n <= 300; ++n)
    {
        EXPECT_EQ(c.Check(Text((uint32_t)n, n)), "") << "text " << n;
        EXPECT_EQ(c.Check(Bytes((size_t)n, 0x41)), "") << "run " << n;
        EXPECT_EQ(c.Check(Periodic((uint32_t)n * 2, n, 4)), "") << "period 4, " << n;
        EXPECT_EQ(c.Check(Executable((uint32_t)n, n)), "") << "executable " << n;
    }
    // Repeats that end exactly at the end of the block, one to eight bytes from it.
    for (int tail = 1; tail <= 8; ++tail)
        for (int size : {65536, 4099})
        {
            Bytes src = Random(300u + (uint32_t)tail, size);
            for (int k = 0; k < 16 + tail; ++k)
                src[size - 1 - k] = src[1000 + 15 + tail - k];
            EXPECT_EQ(c.Check(src), "") << "tail " << tail << " size " << size;
        }
}

TEST(Lz77Identity, RunsAndTheCandidatesInsideThem)
{
    // Inside a run only its first position is a candidate: a copy that would fit best from the
    // middle of an earlier run ("aaab" after "aaaab") must not be taken from there. Runs of
    // every length around the key lengths, before other bytes and at the block's end.
    Coders c;
    Rng r(99);
    for (int round = 0; round < 24; ++round)
    {
        Bytes src;
        while (src.size() < 60000)
        {
            const unsigned char v = (unsigned char)(r.Below(3) ? 'a' : r.Next());
            const int len = 1 + r.Below(round < 12 ? 12 : 600);
            src.insert(src.end(), (size_t)len, v);
            src.push_back((unsigned char)('b' + r.Below(3)));
        }
        src.resize(round % 2 ? 65536 : 60000 + round);
        EXPECT_EQ(c.Check(src), "") << "round " << round;
    }
}

TEST(Lz77Identity, CopiesLimitedByTheirDistanceAndTiesOfEqualLength)
{
    Coders c;
    // A string repeated right after itself: the longest copy reaches exactly to the position
    // being coded, and an older copy of the same string may reach further.
    for (int len : {3, 4, 5, 7, 8, 9, 12, 31, 64, 300})
    {
        Bytes unit = Random((uint32_t)len, len);
        Bytes src = Random(7, 100);
        for (int k = 0; k < 4; ++k)
        {
            src.insert(src.end(), unit.begin(), unit.end());
            src.insert(src.end(), unit.begin(), unit.end());
            src.push_back((unsigned char)k);
        }
        Bytes more = Random(8, 200);
        src.insert(src.end(), more.begin(), more.end());
        EXPECT_EQ(c.Check(src), "") << "unit " << len;
    }
    // Words of one length picked at random: most positions have many copies of the same best
    // length, and the newest must win.
    for (int word : {3, 4, 5, 8, 9, 16})
        for (int words : {2, 5, 40})
        {
            Rng r((uint32_t)(word * 100 + words));
            std::vector<Bytes> dict;
            for (int w = 0; w < words; ++w)
                dict.push_back(Random(r.Next(), word));
            Bytes src;
            while (src.size() < 65536)
            {
                const Bytes& w = dict[r.Below(words)];
                src.insert(src.end(), w.begin(), w.end());
            }
            src.resize(65536);
            EXPECT_EQ(c.Check(src), "") << "word " << word << " words " << words;
        }
}

TEST(Lz77Identity, BlocksNearTheSizeWhereCodingStopsPaying)
{
    // The coder gives up as soon as the block provably cannot shrink. Blocks that only just
    // shrink or only just fail to, and blocks whose repeats come late, must still give the
    // reference's result.
    Coders c;
    for (int size : {65536, 30000, 5000, 700})
        for (int run = 0; run <= 200; run += (run < 40 ? 1 : 20))
        {
            Bytes src = Random((uint32_t)(size + run), size);
            std::fill(src.end() - run, src.end(), (unsigned char)0);
            EXPECT_EQ(c.Check(src), "") << "size " << size << " run at the end " << run;
            Bytes front = Random((uint32_t)(size + run), size);
            std::fill(front.begin(), front.begin() + run, (unsigned char)0x20);
            EXPECT_EQ(c.Check(front), "") << "size " << size << " run at the start " << run;
        }
    // Noise with a run long enough for the block to shrink by a few bytes, or not quite:
    // the lengths around where the reference's answer turns.
    for (int size : {65536, 20000, 3000})
        for (bool atEnd : {true, false})
        {
            auto make = [&](int run) {
                Bytes src = Random((uint32_t)size, size);
                if (atEnd)
                    std::fill(src.end() - run, src.end(), (unsigned char)0);
                else
                    std::fill(src.begin() + size / 3, src.begin() + size / 3 + run, (unsigned char)7);
                return src;
            };
            std::vector<unsigned char> out(size + 8);
            int lo = 0, hi = size / 2;   // the reference does not shrink lo bytes of run, shrinks hi
            while (hi - lo > 1)
            {
                const int mid = (lo + hi) / 2;
                const Bytes src = make(mid);
                (c.oracle.Compress(src.data(), size, out.data()) > 0 ? hi : lo) = mid;
            }
            for (int run = hi - 12; run <= hi + 12; ++run)
                EXPECT_EQ(c.Check(make(run)), "") << "size " << size << " run " << run;
        }
    // Incompressible data with a few repeats of three, four and more bytes scattered in it.
    Rng r(5150);
    for (int round = 0; round < 40; ++round)
    {
        Bytes src = Random(r.Next(), 65536);
        const int repeats = r.Below(round < 20 ? 30 : 3000);
        for (int k = 0; k < repeats; ++k)
        {
            const int len = 3 + r.Below(round % 4 == 0 ? 40 : 3);
            const int to = 64 + r.Below(65536 - 64 - len);
            const int from = r.Below(to - len + 1);
            for (int b = 0; b < len; ++b)
                src[to + b] = src[from + b];
        }
        EXPECT_EQ(c.Check(src), "") << "round " << round << " repeats " << repeats;
    }
    // Noise made to shrink by many short repeats (two-byte copies are worth most early in the
    // block, three-byte ones anywhere), or by a head drawn from a few byte values: the count or
    // the length around where the reference's answer turns, so that every part of the bound
    // over the whole block is tested where it decides.
    for (int kind = 0; kind < 3; ++kind)
    {
        auto make = [&](int k) {
            Bytes src = Random((uint32_t)(900 + kind), 65536);
            Rng r((uint32_t)(77 + kind));
            if (kind == 2)
                for (int x = 0; x < k; ++x)
                    src[x] = (unsigned char)(r.Below(24) * 7);
            else
                for (int j = 0; j < k; ++j)
                {
                    const int len = kind == 0 ? 2 : 3;
                    const int span = kind == 0 ? 30000 : 65536 - 16;
                    const int to = 8 + r.Below(span);
                    const int from = r.Below(to - len + 1);
                    for (int b = 0; b < len; ++b)
                        src[to + b] = src[from + b];
                }
            return src;
        };
        std::vector<unsigned char> out(65536 + 8);
        int lo = 0, hi = 65536;
        while (hi - lo > 1)
        {
            const int mid = (lo + hi) / 2;
            (c.oracle.Compress(make(mid).data(), 65536, out.data()) > 0 ? hi : lo) = mid;
        }
        for (int k = hi - 6; k <= hi + 6; ++k)
            EXPECT_EQ(c.Check(make(k)), "") << "kind " << kind << " count " << k;
    }
    // Text followed by noise and noise followed by text, split at many places.
    for (int split = 0; split <= 65536; split += 4096)
    {
        Bytes a = Text(11, 65536), b = Random(12, 65536);
        std::copy(b.begin() + split, b.end(), a.begin() + split);
        EXPECT_EQ(c.Check(a), "") << "text then noise at " << split;
        Bytes d = Random(13, 65536), e = Text(14, 65536);
        std::copy(e.begin() + split, e.end(), d.begin() + split);
        EXPECT_EQ(c.Check(d), "") << "noise then text at " << split;
    }
}

TEST(Lz77Identity, LongStringsOfWideText)
{
    // Text of two bytes a character repeats whole sentences: long strings whose four-byte keys
    // are shared by thousands of positions.
    Coders c;
    for (uint32_t seed = 40; seed < 46; ++seed)
    {
        Bytes src = Utf16Text(seed, 65536);
        // Long copies of earlier stretches, some broken by one byte.
        Rng r(seed);
        for (int k = 0; k < 20; ++k)
        {
            const int len = 100 + r.Below(3000);
            const int to = 30000 + r.Below(65536 - 30000 - len);
            const int from = r.Below(to - len);
            std::copy(src.begin() + from, src.begin() + from + len, src.begin() + to);
            if (k % 3 == 0)
                src[to + r.Below(len)] ^= 0x20;
        }
        EXPECT_EQ(c.Check(src), "") << "seed " << seed;
    }
}

TEST(Lz77Identity, LongRepeatsBrokenWhereTheirRareKeysAreMarkedInGroups)
{
    // A long repeat whose only rare four-byte keys are those around a few changed bytes: a long
    // string finds one of them wherever it lies inside, at the first or last place of a group
    // of 64 positions or of 4096, or just outside the string asked for.
    Coders c;
    for (int period : {3, 41})
        for (int d : {-5, -4, -1, 0, 1, 63})
        {
            Bytes src = Periodic((uint32_t)period * 2, 65536, period);   // even seed: pure
            for (int group = 1; group < 16; group += 3)
                src[(size_t)(group * 4096 + d)] ^= 0x5A;
            src[(size_t)(64 * 200 + d)] ^= 0x33;
            EXPECT_EQ(c.Check(src), "") << "period " << period << " at " << d;
        }
    // Two changes a few bytes apart: the rare keys overlap, and one may end just past the
    // string.
    for (int gap = 1; gap <= 9; ++gap)
    {
        Bytes src = Periodic(6, 30000, 5);
        src[12000] ^= 0x21;
        src[(size_t)(12000 + gap)] ^= 0x42;
        src[(size_t)(24575 - gap)] ^= 0x17;
        EXPECT_EQ(c.Check(src), "") << "gap " << gap;
    }
}

TEST(Lz77Identity, RunsEndingAtEveryDistanceFromTheBlockEnd)
{
    // The inside of a run is indexed in one stretch, which stops four bytes before the block's
    // end or before the first other byte.
    Coders c;
    for (int after = 0; after <= 6; ++after)
        for (int size : {4096, 65536})
        {
            Bytes src = Text((uint32_t)after, size);
            const int runEnd = size - after;
            for (int x = size / 2; x < runEnd; ++x)
                src[(size_t)x] = 'a';
            for (int x = 100; x < 400; ++x)   // an earlier run of the same byte, shorter
                src[(size_t)x] = 'a';
            EXPECT_EQ(c.Check(src), "") << "after " << after << " size " << size;
        }
}
