// The coded stream as stored copies hold it, and the decoder's handling of blocks that are not
// well formed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CompressLZ77.h"
#include "lz77_corpus.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Item
{
    bool ref;
    int value;   // the byte, or the start of the copy
    int length;  // 1 for a literal
};

// Reads a coded block item by item, independently of the decoder.
std::vector<Item> Items(const unsigned char* p, int nBytes, int nLength)
{
    std::vector<Item> items;
    long bit = 0;
    auto get = [&](int n) {
        int v = 0;
        for (int k = 0; k < n; ++k, ++bit)
            v = v * 2 + ((p[bit / 8] >> (7 - bit % 8)) & 1);
        return v;
    };
    int done = 0;
    while (done < nLength && bit < nBytes * 8L)
    {
        if (get(1) == 0)
        {
            items.push_back({false, get(8), 1});
            ++done;
            continue;
        }
        int k = 0;
        while (get(1) == 1)
            ++k;
        const int len = k == 0 ? 2 : (1 << k) + get(k) + 1;
        int width = 0;
        while ((1 << width) < done)
            ++width;
        items.push_back({true, get(width), len});
        done += len;
    }
    return items;
}

int Code(CCompressLZ77& c, const Bytes& src, Bytes& out)
{
    out.assign(src.size() + 8, 0);
    int r = c.Compress(src.data(), (int)src.size(), out.data());
    if (r > 0)
        out.resize(r);
    return r;
}

// Decodes into a buffer of exactly nLength bytes inside a guarded area; fails the test when
// anything outside it changes.
int GuardedDecode(CCompressLZ77& c, const Bytes& coded, int nLength, Bytes* pOut = nullptr)
{
    const int guard = 4096;
    std::vector<unsigned char> area(nLength + 2 * guard, 0xC3);
    // The source sits in a buffer of exactly its size too, followed by bytes that would
    // decode as more items if they were read.
    std::vector<unsigned char> src(coded.size() + guard, 0xFF);
    std::copy(coded.begin(), coded.end(), src.begin());
    const int r = c.Decompress(area.data() + guard, nLength, src.data(), (int)coded.size());
    for (int x = 0; x < guard; ++x)
    {
        EXPECT_EQ(area[x], 0xC3) << "wrote before the output";
        EXPECT_EQ(area[guard + nLength + x], 0xC3) << "wrote after the output";
        if (area[x] != 0xC3 || area[guard + nLength + x] != 0xC3)
            break;
    }
    if (pOut)
        pOut->assign(area.begin() + guard, area.begin() + guard + nLength);
    return r;
}

} // namespace

TEST(Lz77Format, WorkedExampleAndSmallBlocks)
{
    CCompressLZ77 c;
    Bytes out;
    // Eight bytes 0x61: two literals, a copy of 2 from 0 (1 position bit), a copy of 4 from 0
    // (2 position bits): 27 bits, padding zero.
    ASSERT_EQ(Code(c, Bytes(8, 0x61), out), 4);
    EXPECT_EQ(out, (Bytes{0x30, 0x98, 0x66, 0x80}));
    Bytes back;
    EXPECT_EQ(GuardedDecode(c, out, 8, &back), 1);
    EXPECT_EQ(back, Bytes(8, 0x61));

    // One byte takes two coded bytes: not smaller. An empty block is never smaller.
    EXPECT_EQ(Code(c, Bytes{0x41}, out), 0);
    EXPECT_EQ(Code(c, Bytes{}, out), 0);
    // No byte pair repeats: nothing but literals, which never shrink.
    Bytes distinct(256);
    for (int x = 0; x < 256; ++x)
        distinct[x] = (unsigned char)x;
    EXPECT_EQ(Code(c, distinct, out), 0);
    // Too long for a block.
    std::vector<unsigned char> big(65537 + 8, 0);
    EXPECT_EQ(c.Compress(big.data(), 65537, big.data()), -1);
    EXPECT_EQ(c.Decompress(big.data(), 65537, big.data(), 4), 0);
    EXPECT_EQ(c.Compress(big.data(), -1, big.data()), -1);
}

TEST(Lz77Format, LengthCodesAndRunsOfOneValue)
{
    CCompressLZ77 c;
    Bytes out;
    // 65536 equal bytes: literal, literal, then copies from position 0 that double in length,
    // the last one reaching the end exactly.
    const int r = Code(c, Bytes(65536, 0x00), out);
    ASSERT_GT(r, 0);
    EXPECT_LT(r, 64);
    const std::vector<Item> items = Items(out.data(), r, 65536);
    ASSERT_GE(items.size(), 3u);
    EXPECT_FALSE(items[0].ref);
    EXPECT_FALSE(items[1].ref);
    int done = 2;
    for (size_t k = 2; k < items.size(); ++k)
    {
        EXPECT_TRUE(items[k].ref);
        EXPECT_EQ(items[k].value, 0);
        EXPECT_EQ(items[k].length, std::min(done, 65536 - done));
        done += items[k].length;
    }
    EXPECT_EQ(done, 65536);
    Bytes back;
    EXPECT_EQ(GuardedDecode(c, out, 65536, &back), 1);
    EXPECT_EQ(back, Bytes(65536, 0x00));

    // Lengths 2, 3, 4, 5 have the codes 0, 100, 101, 11000: a literal "ab" and copies of
    // growing length show them in the bit stream.
    const std::string s = "abcdeabcdeXabcdYabcZab";
    Bytes src(s.begin(), s.end());
    ASSERT_GT(Code(c, src, out), 0);
    std::vector<Item> it = Items(out.data(), (int)out.size(), (int)src.size());
    std::vector<int> lengths;
    for (const Item& x : it)
        if (x.ref)
            lengths.push_back(x.length);
    EXPECT_EQ(lengths, (std::vector<int>{5, 4, 3, 2}));
}

TEST(Lz77Format, NewestOfEqualLengthsAndLastByte)
{
    CCompressLZ77 c;
    Bytes out;
    // At position 8 "abc" ends the block: the copies at 0 and 4 both give 3; the one entered
    // last (4) is taken.
    const std::string s = "abcxabcyabc";
    Bytes src(s.begin(), s.end());
    // Too short to shrink, so look at the items through a longer block with the same ending.
    Bytes longer(src);
    longer.insert(longer.begin(), 24, 'z');
    ASSERT_GT(Code(c, longer, out), 0);
    std::vector<Item> it = Items(out.data(), (int)out.size(), (int)longer.size());
    ASSERT_FALSE(it.empty());
    EXPECT_TRUE(it.back().ref);
    EXPECT_EQ(it.back().value, 24 + 4);
    EXPECT_EQ(it.back().length, 3);

    // The last byte of a block is a literal or the end of a copy, never the start of one.
    for (uint32_t seed = 1; seed <= 20; ++seed)
    {
        Bytes t = lz77corpus::Text(seed, 1000 + (int)seed * 37);
        const int r = Code(c, t, out);
        if (r <= 0)
            continue;
        std::vector<Item> items = Items(out.data(), r, (int)t.size());
        int done = 0;
        for (const Item& x : items)
        {
            if (x.ref)
            {
                EXPECT_LT(done, (int)t.size() - 1);
                EXPECT_LE(x.value + x.length, done);   // a copy never reaches the position coded
            }
            done += x.length;
        }
        EXPECT_EQ(done, (int)t.size());
    }
}

TEST(Lz77Format, MalformedBlocksGiveZeroAndStayInTheirBuffers)
{
    CCompressLZ77 c;
    Bytes ok;
    const Bytes src = lz77corpus::Text(3, 5000);
    const int r = Code(c, src, ok);
    ASSERT_GT(r, 0);
    EXPECT_EQ(GuardedDecode(c, ok, 5000), 1);

    // Every shorter prefix ends the stream early; a longer source has bytes the block does not
    // use; a longer or shorter output length does not fit the items.
    for (int cut = 0; cut < r; cut += (cut < 64 ? 1 : 97))
        EXPECT_EQ(GuardedDecode(c, Bytes(ok.begin(), ok.begin() + cut), 5000), 0) << cut;
    Bytes extra(ok);
    extra.push_back(0);
    EXPECT_EQ(GuardedDecode(c, extra, 5000), 0);
    EXPECT_EQ(GuardedDecode(c, ok, 4999), 0);
    EXPECT_EQ(GuardedDecode(c, ok, 5001), 0);

    // A copy as the very first item: position 0 with nothing produced yet.
    EXPECT_EQ(GuardedDecode(c, Bytes{0x80}, 2), 0);
    // Literals "abc", then a copy of 2 from position 3 (2 position bits) when only 3 bytes exist.
    EXPECT_EQ(GuardedDecode(c, Bytes{0x30, 0x98, 0x8C, 0x76}, 5), 0);
    // The same copy from position 1 gives "abcbc".
    Bytes back;
    EXPECT_EQ(GuardedDecode(c, Bytes{0x30, 0x98, 0x8C, 0x72}, 5, &back), 1);
    EXPECT_EQ(std::string(back.begin(), back.end()), "abcbc");
    // A length running past the end: the same stream asked for 4 bytes.
    EXPECT_EQ(GuardedDecode(c, Bytes{0x30, 0x98, 0x8C, 0x72}, 4), 0);
    // A length code of many one bits.
    EXPECT_EQ(GuardedDecode(c, Bytes{0x30, 0x98, 0xBF, 0xFF, 0xF0}, 65536), 0);
    // A reference reaching past the produced bytes into the copy itself is only a repeat of
    // bytes already there: "a" then a copy of 2 from 0 at 1 byte produced (width 0) is "aaa".
    EXPECT_EQ(GuardedDecode(c, Bytes{0x30, 0xC0}, 3, &back), 1);
    EXPECT_EQ(back, Bytes(3, 'a'));

    // Random damage to a valid block never touches memory outside the buffers.
    lz77corpus::Rng rng(77);
    for (int round = 0; round < 400; ++round)
    {
        Bytes bad(ok);
        for (int k = 1 + rng.Below(4); k > 0; --k)
            bad[rng.Below((int)bad.size())] ^= (unsigned char)(1 << rng.Below(8));
        const int rr = GuardedDecode(c, bad, 5000);
        EXPECT_TRUE(rr == 0 || rr == 1);
    }
}
