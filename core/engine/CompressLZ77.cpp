// Block coder of the compressed copies (see CompressLZ77.h for the stream).
//
// The parse is greedy: at every position the longest earlier copy is taken, the newest one among
// copies of equal length. Candidates are the positions before the current one whose byte pair
// equals the current pair, except that a run of one byte value counts once, at its first
// position. A copy from s at position i is usable for at most min(i - s, N - i) bytes.
//
// Every answer depends only on the block and the position, so the whole block is indexed before
// coding starts, in one pass: for every position x, the newest earlier candidate with the same
// byte pair, the same three bytes and, where its first two bytes are equal, the same four bytes
// (the latter two through hash buckets).
// A position's own links are the heads of its chains at the time it is coded, so no table has
// to follow the coder along. For the longer searches every position is also sorted by the bucket
// of its next four bytes (and, in blocks where those prove crowded, of its next eight), so that
// the earlier positions of a key lie side by side, with their number at hand.
//
// The search at position i asks one question again and again: "which is the newest candidate
// s <= i - t whose bytes agree with i for t bytes?", first for t = 3, then for one more than each
// answer. Every answer is the newest candidate reaching at least t, so the last one is the newest
// of the longest. For t >= 4 any such s has the same k bytes as i at every offset o <= t - k,
// so the question walks the earlier positions of whichever of those keys has the fewest, usually
// the one where the previous answer stopped agreeing, or any key inside a long string that is
// rare in the whole block (such positions are marked when the block is sorted); the walk of one
// question goes on for the next while its key is still the rarer, or has only a few entries
// left. Where an answer is limited by its distance (a repeating pattern), or the answers keep
// growing a little at a time, the longest length is found by doubling t and then halving the
// interval instead. Where even the rarest key is shared by a great many positions, the
// question goes to indexes keyed on longer strings, built on demand (FindAtLeast).
//
// A block whose coding cannot end smaller than the block is given up as soon as that is certain:
// every position has an upper bound on the bits a copy starting there can save over literals
// (none without an earlier pair, little when no three or four bytes repeat), and when the bits
// written so far plus nine bits per remaining byte less the bound of everything left reach the
// block's size, the result is 0 whatever the rest of the walk would find.
#include "CompressLZ77.h"

#include <cstring>
#include <new>

namespace {

const int kBucketBits = 14;
const int kBuckets = 1 << kBucketBits;
// Key lengths of the indexes: every length from three to six, then growing by half and by a
// third in turn. An index is only built once shorter keys have proved too crowded in a block.
const int kLevelString[] = {3, 4, 5, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 768,
                            1024, 1536, 2048, 3072, 4096, 6144, 8192, 12288, 16384, 24576, 32768,
                            49152};
const int kLevelCount = (int)(sizeof kLevelString / sizeof kLevelString[0]);
const uint32_t kHashBase = 0x01000193u;
const int kLinearSteps = 4;    // answers that grow one by one before the search doubles
const int kAnchor = 8;         // key length of the index of every position
const int kCrowded = 64;       // entries of one key that make the other end worth a look
const int kEscalate = 48;      // entries of one key in one walk that make a longer key worth asking
const int kShortBits = 16;     // bucket bits of the short-key tables for a large block
const int kShortBuckets = 1 << kShortBits;
const int kWalkLimit = 256;    // chain entries one question may walk before longer keys take over
const int kHashedWalkLimit = 4096;   // the same where each entry costs a hash comparison
const int kHashFrom = 32;      // strings from this long on are checked by prefix hash first,
const int kHashWalk = 32;      // when more entries than this are to be walked
const int kLongKey = 12;       // strings from this long on may be looked for by eight-byte keys
const int kFewEnough = 4;      // four-byte keys this rare need no longer ones
const int kFewLeft = 64;       // entries left of a walk that make looking for another key not worth it
const int kAlike = 200;        // keys this crowded on average are crowded alike
const int kRare = 4;           // four-byte keys this rare in a block are worth finding anywhere
const int kScan = 24;          // keys looked at on each side when choosing the rarest

inline int LengthWidth(int nCoded)
{
    // smallest p with 2^p >= nCoded
    return nCoded <= 1 ? 0 : 32 - __builtin_clz((uint32_t)nCoded - 1);
}

inline uint32_t Bucket(uint32_t h)
{
    return (h * 0x9E3779B1u) >> (32 - kBucketBits);
}

// The offset o in first .. last whose key has fewer earlier positions than nFewest, if any:
// looked for at the end and around nNear when there are many offsets.
inline bool Rarest(const uint16_t* rank, int last, int nNear, int& nFewest, int& nOffset,
                   int first = 1)
{
    int fewest = nFewest, offset = -1;
    auto range = [&](int from, int to) {
        if (from < first)
            from = first;
        if (to > last)
            to = last;
        for (int o = from; o <= to; ++o)
            if (rank[o] < fewest)
            {
                fewest = rank[o];
                offset = o;
            }
    };
    if (last <= 2 * kScan)
        range(first, last);
    else
    {
        range(last - kScan, last);
        range(nNear - kScan, nNear + kScan);
    }
    if (offset < 0)
        return false;
    nFewest = fewest;
    nOffset = offset;
    return true;
}

inline uint32_t Load32(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Bits go out from the most significant bit of each byte down.
struct BitWriter
{
    unsigned char* out;
    int pos = 0;         // whole bytes written
    uint32_t acc = 0;    // pending bits in the low end
    int pending = 0;     // 0 .. 7 between calls

    explicit BitWriter(unsigned char* p) : out(p) {}

    void Put(uint32_t value, int n)   // n <= 24
    {
        acc = (acc << n) | value;
        pending += n;
        while (pending >= 8)
        {
            pending -= 8;
            out[pos++] = (unsigned char)(acc >> pending);
        }
        acc &= (1u << pending) - 1;
    }
    int Finish()
    {
        if (pending)
        {
            out[pos] = (unsigned char)(acc << (8 - pending));   // padding bits are zero
            return pos + 1;
        }
        return pos;
    }
};

} // namespace

struct CCompressLZ77::Level
{
    int nString = 0;              // bytes of the key
    unsigned nBlock = 0;          // block the index holds positions of
    int nNext = 0;                // first position not entered yet
    bool bAll = false;            // every position, not only the candidates
    uint16_t* pHead = nullptr;    // per bucket: newest entered position + 1
    uint16_t* pCount = nullptr;   // per bucket: positions entered
    uint16_t* pPrev = nullptr;    // per position: the next older one of its bucket + 1
};

CCompressLZ77::CCompressLZ77()
    : m_pSource(nullptr), m_nLength(0), m_nBlock(0), m_nHashBits(kShortBits), m_nSeen(0),
      m_nLongWalks(0), m_nLongQuestions(0),
      m_nTopLevel(0), m_nWaste(0), m_bHashed(false), m_pAnchor(nullptr)
{
    m_pPairHead = new uint32_t[65536];
    m_pHead3 = new uint16_t[kShortBuckets];
    m_pHead4 = new uint16_t[kShortBuckets];
    m_pBucketStart = new uint16_t[kShortBuckets + 1];
    m_pPairLink = new uint16_t[MAX_BLOCK];
    m_pLink3 = new uint16_t[MAX_BLOCK];
    m_pLink4 = new uint16_t[MAX_BLOCK];
    for (int k = 0; k < 2; ++k)
    {
        m_keyed[k].nKey = 4 << k;
        m_keyed[k].pSorted = new uint16_t[MAX_BLOCK];
        m_keyed[k].pSlot = new uint16_t[MAX_BLOCK];
        m_keyed[k].pRank = new uint16_t[MAX_BLOCK];
    }
    m_pRare = new uint64_t[MAX_BLOCK / 64];
    m_pSavings = new int32_t[MAX_BLOCK + 1];
    m_pPrefixHash = new uint32_t[MAX_BLOCK + 1];
    m_pPower = new uint32_t[MAX_BLOCK + 1];
    m_nLevels = kLevelCount;
    m_pLevels = new Level[kLevelCount];
    for (int j = 0; j < kLevelCount; ++j)
        m_pLevels[j].nString = kLevelString[j];
    m_pPower[0] = 1;
    for (int j = 1; j <= MAX_BLOCK; ++j)
        m_pPower[j] = m_pPower[j - 1] * kHashBase;
}

CCompressLZ77::~CCompressLZ77()
{
    for (int j = 0; j < m_nLevels; ++j)
    {
        delete[] m_pLevels[j].pHead;
        delete[] m_pLevels[j].pCount;
        delete[] m_pLevels[j].pPrev;
    }
    delete[] m_pLevels;
    if (m_pAnchor)
    {
        delete[] m_pAnchor->pHead;
        delete[] m_pAnchor->pCount;
        delete[] m_pAnchor->pPrev;
        delete m_pAnchor;
    }
    delete[] m_pPower;
    delete[] m_pPrefixHash;
    delete[] m_pSavings;
    delete[] m_pRare;
    for (int k = 0; k < 2; ++k)
    {
        delete[] m_keyed[k].pRank;
        delete[] m_keyed[k].pSlot;
        delete[] m_keyed[k].pSorted;
    }
    delete[] m_pLink4;
    delete[] m_pLink3;
    delete[] m_pPairLink;
    delete[] m_pBucketStart;
    delete[] m_pHead4;
    delete[] m_pHead3;
    delete[] m_pPairHead;
}

void CCompressLZ77::IndexPairs()
{
    // For every position, the newest earlier candidate with the same byte pair. A position is
    // a candidate unless it lies inside a run: the same byte before and after.
    //
    // Each pair's entry also keeps a mask of the third bytes (four bits of each) that followed
    // its candidates so far. A position whose third byte is not in the mask has no earlier
    // candidate agreeing with it for three bytes; the others are listed for QuickBound.
    const unsigned char* p = m_pSource;
    const int N = m_nLength;
    if (N >= 16384)
        std::memset(m_pPairHead, 0, sizeof(uint32_t) * 65536);
    else
        for (int x = 0; x + 1 < N; ++x)
            m_pPairHead[(unsigned)p[x] << 8 | p[x + 1]] = 0;
    uint32_t* pairHead = m_pPairHead;
    uint16_t* pairLink = m_pPairLink;
    int32_t* seen = m_pSavings;   // the listed positions, until BoundSavings needs the room
    int nSeen = 0;
    unsigned before = 0x100;   // the byte before x (none at 0)
    int x = 0;
    auto masked = [&](int end) {
        for (; x < end; ++x)
        {
            // No branch on the data here: on a block that does not shrink it would go either way.
            const unsigned a = p[x], b = p[x + 1];
            const unsigned pair = a << 8 | b;
            const uint32_t entry = pairHead[pair];
            const uint32_t bit = 0x10000u << (p[x + 2] & 15);
            pairLink[x] = (uint16_t)entry;
            seen[nSeen] = x;
            nSeen += (entry & bit) != 0;
            const uint32_t next = (entry & 0xFFFF0000u) | bit | (uint32_t)(x + 1);
            pairHead[pair] = ((a != b) | (before != a)) ? next : entry;
            before = a;
        }
    };
    // A block whose start already repeats three bytes often is going to shrink: the bound
    // would not prove otherwise, so the rest of the block is linked without the masks.
    const int kProbe = 4096, kProbeRepeats = 64;
    masked(N - 2 < kProbe ? N - 2 : kProbe);
    const bool bProbeRepeats = nSeen > kProbeRepeats;
    if (!bProbeRepeats)
        masked(N - 2);
    for (; x + 1 < N; ++x)
    {
        const unsigned a = p[x], b = p[x + 1];
        const unsigned pair = a << 8 | b;
        pairLink[x] = (uint16_t)pairHead[pair];
        if (a != b || before != a)
            pairHead[pair] = (uint32_t)(x + 1);
        before = a;
    }
    m_nSeen = bProbeRepeats ? -1 : nSeen;
}

bool CCompressLZ77::QuickBound()
{
    // The sum over the block of a bound on what a copy starting at each position can save:
    // without a candidate of its pair nothing; with candidates none of which agrees for three
    // bytes, what a copy of two bytes saves (16 - p bits, so nothing from position 32769 on);
    // for the positions IndexPairs listed, the closer SavingsBound. True when that sum cannot
    // reach the N bits the block needs to shrink. Most blocks that do not shrink end here, at
    // the cost of one pass over the pair links.
    if (m_nSeen < 0)
        return false;   // not looked at: a block that repeats this much
    const int N = m_nLength;
    const uint16_t* pairLink = m_pPairLink;
    int32_t total = 0;
    const int plainEnd = N - 2;   // positions before this were classed by IndexPairs
    for (int k = 1; k < 16; ++k)
    {
        // positions of width k: 2^(k-1) < x <= 2^k
        const int from = (1 << (k - 1)) + 1;
        int to = (1 << k) + 1;
        if (to > plainEnd)
            to = plainEnd;
        if (from >= to)
            break;
        int count = 0;
        for (int x = from; x < to; ++x)
            count += pairLink[x] != 0;
        total += count * (16 - k);
    }
    if (plainEnd > 1 && pairLink[1] != 0)
        total += 16;   // position 1 needs no position bits
    const int32_t* seen = m_pSavings;
    for (int j = 0; j < m_nSeen && total <= N; ++j)
    {
        const int x = seen[j];
        const int plain = pairLink[x] ? 16 - LengthWidth(x) : 0;
        total += SavingsBound(x) - plain;
    }
    for (int x = plainEnd < 0 ? 0 : plainEnd; x < N; ++x)
        total += SavingsBound(x);
    return total <= N;
}

void CCompressLZ77::IndexBlock()
{
    const unsigned char* p = m_pSource;
    const int N = m_nLength;
    // Small blocks (the ends of files) get small tables: cheaper to clear.
    int bits = kShortBits;
    while (bits > 10 && (1 << (bits - 2)) >= N)
        --bits;
    m_nHashBits = bits;
    const int shift = 32 - bits;
    std::memset(m_pHead3, 0, sizeof(uint16_t) << bits);
    std::memset(m_pHead4, 0, sizeof(uint16_t) << bits);
    uint16_t* head3 = m_pHead3;
    uint16_t* head4 = m_pHead4;
    uint16_t* link3 = m_pLink3;
    uint16_t* link4 = m_pLink4;
    // The first half of sorting every position by its four bytes (IndexKeyed) goes along:
    // the bucket of each position and the count of each bucket.
    uint16_t* start = m_pBucketStart;
    uint16_t* bucket4 = m_keyed[0].pSlot;
    uint16_t* rank4 = m_keyed[0].pRank;
    std::memset(start, 0, sizeof(uint16_t) * ((1 << bits) + 1));
    // A position is a candidate unless it lies inside a run: the same byte before and after.
    unsigned before = 0x100;   // the byte before x (none at 0)
    int x = 0;
    for (; x + 4 <= N; ++x)
    {
        const uint32_t w = Load32(p + x);
        const unsigned a = p[x], b = p[x + 1];
        const bool cand = a != b || before != a;
        before = a;
        if (!cand && w == a * 0x01010101u)
        {
            // Inside a run of one byte value: every position up to four before its end has
            // the keys of the position before it, and none of them is entered, so their links
            // are alike and their ranks count on.
            const uint32_t h3 = ((a * 0x010101u) * 0x9E3779B1u) >> shift;
            const uint32_t h4 = (w * 0x9E3779B1u) >> shift;
            int end = x + 1;
            while (end + 4 <= N && p[end + 3] == a)
                ++end;
            const uint16_t l3 = head3[h3], l4 = head4[h4];
            uint16_t r = start[h4 + 1];
            for (int y = x; y < end; ++y)
            {
                link3[y] = l3;
                link4[y] = l4;
                bucket4[y] = (uint16_t)h4;
                rank4[y] = r++;
            }
            start[h4 + 1] = r;
            x = end - 1;
            continue;
        }
        const uint32_t w3 = a | b << 8 | (uint32_t)p[x + 2] << 16;
        const uint32_t h3 = (w3 * 0x9E3779B1u) >> shift;
        const uint32_t h4 = (w * 0x9E3779B1u) >> shift;
        link3[x] = head3[h3];
        bucket4[x] = (uint16_t)h4;
        rank4[x] = start[h4 + 1]++;
        if (cand)
            head3[h3] = (uint16_t)(x + 1);
        if (a == b)
        {
            // Only keys that start with two equal bytes are walked through their chain.
            link4[x] = head4[h4];
            if (cand)
                head4[h4] = (uint16_t)(x + 1);
        }
    }
    for (; x + 1 < N; ++x)
    {
        const unsigned a = p[x], b = p[x + 1];
        const bool cand = a != b || before != a;
        before = a;
        if (x + 3 <= N)
        {
            const uint32_t w = a | b << 8 | (uint32_t)p[x + 2] << 16;
            const uint32_t h3 = (w * 0x9E3779B1u) >> shift;
            link3[x] = head3[h3];
            if (cand)
                head3[h3] = (uint16_t)(x + 1);
        }
    }
    m_keyed[0].bReady = false;
    m_keyed[1].bReady = false;
    m_nLongWalks = 0;
    m_nLongQuestions = 0;
}

void CCompressLZ77::IndexKeyed(Keyed& index)
{
    // Every position, candidate or not, sorted by the bucket of its next nKey bytes (a counting
    // sort, so each bucket lists its positions oldest first), with each position's place in
    // that list and the number of earlier positions in its bucket. Eight-byte keys leave out
    // the inside of runs (one byte value from the byte before to the end of the key): they
    // get the rank 0xFFFF, so no search picks them.
    const unsigned char* p = m_pSource;
    const int N = m_nLength;
    const int shift = 32 - m_nHashBits;
    const int buckets = 1 << m_nHashBits;
    const bool bLong = index.nKey == 8;
    uint16_t* start = m_pBucketStart;   // at most N - 3 positions: 16 bits are enough
    uint16_t* sorted = index.pSorted;
    uint16_t* slot = index.pSlot;       // holds the bucket of each position until it is sorted
    uint16_t* rank = index.pRank;
    const int last = N - index.nKey;
    if (bLong)   // IndexBlock has counted the buckets of four-byte keys already
    {
        std::memset(start, 0, sizeof(uint16_t) * (buckets + 1));
        for (int x = 0; x <= last; ++x)
        {
            const uint32_t w = Load32(p + x), w2 = Load32(p + x + 4);
            if (x > 0 && w == w2 && p[x - 1] == p[x] && w == p[x] * 0x01010101u)
            {
                rank[x] = 0xFFFF;
                continue;
            }
            const uint32_t h = ((w * 0x9E3779B1u) ^ w2) * 0x85EBCA77u >> shift;
            slot[x] = (uint16_t)h;
            rank[x] = start[h + 1]++;
        }
    }
    for (int b = 0; b < buckets; ++b)
        start[b + 1] = (uint16_t)(start[b + 1] + start[b]);
    if (!bLong)
    {
        // Every position is in; those whose key is rare in the whole block are marked (a long
        // string holding one has a short walk).
        uint64_t* rare = m_pRare;
        std::memset(rare, 0, sizeof(uint64_t) * ((last >> 6) + 1));
        std::memset(m_rareWords, 0, sizeof m_rareWords);
        for (int x = 0; x <= last; ++x)
        {
            const int b = slot[x];
            if (start[b + 1] - start[b] <= kRare)
            {
                rare[x >> 6] |= (uint64_t)1 << (x & 63);
                m_rareWords[x >> 12] |= (uint64_t)1 << ((x >> 6) & 63);
            }
            const int place = start[b] + rank[x];
            slot[x] = (uint16_t)place;
            sorted[place] = (uint16_t)x;
        }
        index.bReady = true;
        return;
    }
    for (int x = 0; x <= last; ++x)
    {
        if (rank[x] == 0xFFFF)
            continue;
        const int place = start[slot[x]] + rank[x];
        slot[x] = (uint16_t)place;
        sorted[place] = (uint16_t)x;
    }
    index.bReady = true;
}

int CCompressLZ77::SavingsBound(int x) const
{
    // Most bits a copy starting at x can save over coding its bytes as literals (nine bits
    // each): a copy of L bytes costs 2 + 2k + p bits, k = floor(log2(L - 1)), p the position
    // width. Longer copies always save more, so a bound on the length bounds the saving: the
    // longest agreement with any candidate of the same pair, when there are only a few of them
    // (a block that does not shrink has few repeats).
    const int N = m_nLength;
    if (x >= N - 1)
        return 0;
    int y = PairHead(x);
    if (y == 0)
        return 0;
    const int width = LengthWidth(x);
    const unsigned char* p = m_pSource;
    const int kSteps = 16;   // beyond this many candidates, assume anything
    int longest = 2;
    for (int steps = 0; y != 0; y = m_pPairLink[y - 1])
    {
        if (++steps > kSteps)
            return 9 * N;
        const int s = y - 1;
        if (s + 3 <= x && x + 3 <= N && p[s + 2] == p[x + 2])
        {
            const int n = CommonLength(s, x, N - x);
            if (n > longest)
                longest = n;
        }
    }
    const int k = 31 - __builtin_clz((uint32_t)longest - 1);
    return 9 * longest - 2 - 2 * k - width;
}

int CCompressLZ77::BoundSavings()
{
    // Suffix sums of the savings bounds, from the end back to where they exceed N bits: before
    // that point the coded block could still come out smaller (its bits so far are at most
    // nine per byte), so no test is worth making there.
    const int N = m_nLength;
    const unsigned char* p = m_pSource;
    int32_t total = 0;
    m_pSavings[N] = 0;
    for (int x = N - 1; x >= 0; --x)
    {
        // Most positions of a block that does not shrink have no earlier pair, or one whose
        // third byte differs and no other: decided here without a branch on the data.
        int gain;
        if (x < N - 2)
        {
            int y = m_pPairLink[x];
            if (y == x && y != 0)
                y = m_pPairLink[x - 1];
            const int s1 = y ? y - 1 : 0;
            const bool bPlain = (y == 0) | ((p[s1 + 2] != p[x + 2]) & (m_pPairLink[s1] == 0));
            if (bPlain)
                gain = y ? 16 - LengthWidth(x) : 0;
            else
                gain = SavingsBound(x);
        }
        else
            gain = SavingsBound(x);
        total += gain;
        if (total > N)
            return x + 1;
        m_pSavings[x] = total;
    }
    return 0;
}

int CCompressLZ77::NextRare(int from, int to) const
{
    // The first marked position in from .. to, -1 for none.
    int w = from >> 6;
    uint64_t bits = m_pRare[w] & (~(uint64_t)0 << (from & 63));
    while (bits == 0)
    {
        // The next word with a mark, through the words' own marks.
        ++w;
        if ((w << 6) > to)
            return -1;
        int g = w >> 6;
        uint64_t words = m_rareWords[g] & (~(uint64_t)0 << (w & 63));
        while (words == 0)
        {
            if (((++g) << 12) > to)
                return -1;
            words = m_rareWords[g];
        }
        w = (g << 6) + __builtin_ctzll(words);
        bits = m_pRare[w];
    }
    const int x = (w << 6) + __builtin_ctzll(bits);
    return x <= to ? x : -1;
}

int CCompressLZ77::CommonLength(int s, int i, int limit) const
{
    const unsigned char* a = m_pSource + s;
    const unsigned char* b = m_pSource + i;
    int n = 0;
    while (n + 8 <= limit)
    {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y)
        {
            const uint64_t d = x ^ y;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            return n + (__builtin_clzll(d) >> 3);   // the first byte is the highest
#else
            return n + (__builtin_ctzll(d) >> 3);   // the first byte is the lowest
#endif
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// Longer than the house limit on purpose: it is the coder's inner loop, run at every position
// of every block, and split into calls it would pass the cursor and the candidates back and
// forth in that loop; compressed backups are only as fast as this function.
bool CCompressLZ77::FindLonger(int i, int t, int nKnown, Cursor& cur, int& nStart, int& nLength)
{
    const int bound = i - t;   // newest start that leaves t bytes before position i
    if (bound < 0)
        return false;
    // Any answer has the k bytes of i + o at s + o for every o <= t - k: walk the chain of the
    // key with the fewest earlier positions, looked for at the end of the string and around
    // where the longest copy so far stopped agreeing. Offset 0 of the four-byte keys walks the
    // candidates only; eight-byte keys are looked at for longer strings.
    Keyed& four = m_keyed[0];
    if (!four.bReady)
        IndexKeyed(four);
    int fewest = four.pRank[i];
    int offset = 0;
    int key = 0;
    if (cur.offset >= 0 && cur.offset <= t - cur.key && cur.left <= kFewLeft)
        fewest = cur.left;   // a walk this short goes on without looking for a rarer key
    else
    {
        Rarest(four.pRank + i, t - 4, nKnown - 3, fewest, offset);
        if (t - 4 > 2 * kScan && fewest > kRare)
        {
            // Not every key of a long string was looked at: a key rare in the whole block
            // anywhere inside it may still be had at once.
            const int x = NextRare(i + 1, i + t - 4);
            if (x >= 0 && four.pRank[x] < fewest)
            {
                fewest = four.pRank[x];
                offset = x - i;
            }
        }
    }
    if (t >= 8 && fewest > kFewEnough)
    {
        // Eight-byte keys pay once the long strings of this block have cost about what
        // sorting them costs, unless every key is crowded alike (a repeating pattern, where
        // longer keys are no rarer). Once sorted, they serve every string they fit in.
        Keyed& eight = m_keyed[1];
        if (!eight.bReady && t >= kLongKey)
        {
            m_nLongWalks += fewest;
            ++m_nLongQuestions;
            if (m_nLongWalks > 2 * m_nLength && m_nLongWalks < kAlike * m_nLongQuestions)
                IndexKeyed(eight);
        }
        if (eight.bReady && Rarest(eight.pRank + i, t - 8, nKnown - 7, fewest, offset, 0))
            key = 1;
    }
    // The walk of the previous question may go on where it stopped: every entry it passed fell
    // short of a smaller t, and its key is still one every answer has.
    if (cur.offset < 0 || cur.offset > t - cur.key || cur.left > fewest)
    {
        cur.key = 4 << key;
        cur.offset = offset;
        cur.left = fewest;
        // Only keys that start with two equal bytes can hold positions inside runs, which
        // are no candidates: those are walked through the candidates' own chain.
        cur.linked = offset == 0 && m_pSource[i] == m_pSource[i + 1];
        if (cur.linked)
            cur.y = m_pLink4[i];
        else
        {
            const Keyed& index = m_keyed[key];
            cur.j = index.pSlot[i + offset] - 1;
            cur.lo = index.pSlot[i + offset] - index.pRank[i + offset];
        }
    }
    offset = cur.offset;
    const unsigned char* p = m_pSource;
    const int cap = m_nLength - i;
    // Two checks of four bytes before the full comparison: the last four asked for, and the
    // first four when the key does not cover them.
    const uint32_t wantEnd = Load32(p + i + t - 4);
    const uint32_t wantStart = Load32(p + i);
    // Long strings with many entries to walk are compared through prefix hashes first: a
    // repeating pattern gives many entries that agree for most of the string.
    const bool bHash = t >= kHashFrom && cur.left > kHashWalk;
    if (bHash && !m_bHashed)
        HashBlock();
    const uint32_t wantHash = bHash ? HashAt(i, t) : 0;
    const int walkLimit = bHash ? kHashedWalkLimit : kWalkLimit;
    int steps = 0;
    bool found = false;
    if (cur.linked)
    {
        // The candidates of the same four bytes, newest first.
        const uint16_t* link = m_pLink4;
        int y = cur.y;
        while (y > bound + 1 && steps <= walkLimit)
        {
            y = link[y - 1];
            ++steps;
        }
        for (; y != 0 && steps <= walkLimit; y = link[y - 1], ++steps)
        {
            const int s = y - 1;
            if (Load32(p + s + t - 4) != wantEnd || (bHash && HashAt(s, t) != wantHash))
                continue;
            const int room = (i - s < cap) ? i - s : cap;
            const int n = CommonLength(s, i, room);
            if (n >= t)
            {
                nStart = s;
                nLength = n;
                found = true;
                y = link[y - 1];
                break;
            }
        }
        cur.y = y;
        cur.left -= steps;
        if (found || y == 0)
            return found;
    }
    else
    {
        // The earlier positions of the key at i + offset, newest first: each is s + offset.
        const uint16_t* sorted = m_keyed[cur.key == 8].pSorted;
        const int lo = cur.lo;
        int j = cur.j;
        const int newest = bound + offset;   // newest usable position of the key
        if (j >= lo && sorted[j] > newest)
        {
            if (sorted[lo] > newest)
                j = lo - 1;
            else
            {
                // The entries newer than that are too close: find the last usable one by halving.
                int a = lo;   // sorted[a] <= newest < sorted[j]
                while (j - a > 1)
                {
                    const int m = a + (j - a) / 2;
                    if (sorted[m] <= newest)
                        a = m;
                    else
                        j = m;
                }
                j = a;
            }
        }
        const int stop = (j - lo > walkLimit) ? j - walkLimit : lo;
        const bool checkStart = offset >= 4;
        for (; j >= stop; --j)
        {
            const int y = sorted[j];
            if (y < offset)
            {
                j = lo - 1;
                break;
            }
            const int s = y - offset;
            if (Load32(p + s + t - 4) != wantEnd || (checkStart && Load32(p + s) != wantStart)
                || !IsCandidate(s) || (bHash && HashAt(s, t) != wantHash))
                continue;
            const int room = (i - s < cap) ? i - s : cap;
            const int n = CommonLength(s, i, room);
            if (n >= t)
            {
                nStart = s;
                nLength = n;
                found = true;
                --j;
                break;
            }
        }
        cur.left = j - lo + 1;
        cur.j = j;
        if (found || j < lo)
            return found;
    }
    // A crowded key: the indexes of longer strings answer the same question.
    cur.offset = -1;
    if (!m_bHashed)
        HashBlock();
    return FindAtLeast(i, t, nKnown, nStart, nLength);
}

int CCompressLZ77::FindMatch(int i, int& nStart)
{
    const int N = m_nLength;
    if (i >= N - 1)
        return 0;
    const int cap = N - i;
    const unsigned char* p = m_pSource;
    int y = 0;
    if (cap >= 3 && i >= 3)
    {
        // The newest candidate with three equal bytes, far enough back.
        y = m_pLink3[i];
        while (y > i - 2)
            y = m_pLink3[y - 1];
        for (; y != 0; y = m_pLink3[y - 1])
        {
            const int s = y - 1;
            if (p[s] == p[i] && p[s + 1] == p[i + 1] && p[s + 2] == p[i + 2])
                break;
        }
    }
    if (y == 0)
    {
        // The newest candidate of the pair gives 2, if there is one: the pair is its key.
        const int h = PairHead(i);
        if (h == 0)
            return 0;
        nStart = h - 1;
        return 2;
    }
    int bestStart = y - 1;
    int best = CommonLength(bestStart, i, (i - bestStart < cap) ? i - bestStart : cap);
    int steps = 0;
    Cursor cur;
    while (best < cap)
    {
        int s, n;
        if (!FindLonger(i, best + 1, best, cur, s, n))
            break;
        best = n;
        bestStart = s;
        if (best >= cap)
            break;
        if ((n == i - s && n >= 8) || ++steps >= kLinearSteps)
        {
            // Limited by its distance (an older copy may reach much further), or growing a
            // little at a time: double the length asked for, then halve the interval.
            int hi = 0;   // 0: no length known to be out of reach yet
            for (;;)
            {
                int probe;
                if (hi == 0)
                    probe = (best * 2 < cap) ? best * 2 : cap;
                else
                    probe = best + (hi - best) / 2;
                if (probe <= best)
                    break;
                Cursor fresh;
                if (FindLonger(i, probe, best, fresh, s, n))
                {
                    best = n;
                    bestStart = s;
                    if (best >= cap)
                        break;
                }
                else
                    hi = probe;
                if (hi != 0 && hi <= best + 1)
                    break;
            }
            break;
        }
    }
    nStart = bestStart;
    return best;
}

int CCompressLZ77::Compress(const unsigned char* pSource, int nLength, unsigned char* pDest)
{
    if (nLength < 0 || nLength > MAX_BLOCK)
        return -1;
    if (nLength == 0)
        return 0;
    m_pSource = pSource;
    m_nLength = nLength;
    ++m_nBlock;
    m_bHashed = false;
    m_nTopLevel = 0;
    m_nWaste = 0;
    const int N = nLength;
    const int32_t size = 8 * N;
    IndexPairs();
    if (QuickBound())
        return 0;   // not even copies of every repeat could make it smaller
    const int checkFrom = BoundSavings();
    if (checkFrom == 0 && 9 * N - m_pSavings[0] >= size)
        return 0;   // not even copies of every repeat could make it smaller
    IndexBlock();

    BitWriter out(pDest);
    int i = 0;
    while (i < N)
    {
        if (out.pos >= N)
            return 0;
        if (i >= checkFrom && out.pos * 8 + out.pending + 9 * (N - i) - m_pSavings[i] >= size)
            return 0;   // cannot end smaller than the block whatever follows
        int s = 0;
        const int L = FindMatch(i, s);
        if (L == 0)
        {
            out.Put(pSource[i], 9);   // a 0 bit and the byte
            ++i;
            continue;
        }
        const uint32_t v = (uint32_t)L - 1;
        const int k = 31 - __builtin_clz(v);
        out.Put((1u << (k + 2)) - 2, k + 2);   // 1, then k ones and a zero
        if (k)
            out.Put(v - (1u << k), k);
        const int width = LengthWidth(i);
        if (width)
            out.Put((uint32_t)s, width);
        i += L;
    }
    const int c = out.Finish();
    return c < N ? c : 0;
}

void CCompressLZ77::Enter(Level& level, int upTo)
{
    // Enters the positions up to upTo whose key fits in the block.
    const int k = level.nString;
    const int last = (upTo < m_nLength - k) ? upTo : m_nLength - k;
    uint16_t* head = level.pHead;
    uint16_t* prev = level.pPrev;
    uint16_t* count = level.pCount;
    for (int x = level.nNext; x <= last; ++x)
    {
        if (level.bAll || IsCandidate(x))
        {
            const uint32_t b = Bucket(HashAt(x, k));
            prev[x] = head[b];
            head[b] = (uint16_t)(x + 1);
            ++count[b];
        }
    }
    if (last + 1 > level.nNext)
        level.nNext = last + 1;
}

void CCompressLZ77::Ready(Level& level)
{
    if (level.nBlock == m_nBlock && level.pHead != nullptr)
        return;
    if (level.pHead == nullptr)
    {
        level.pHead = new uint16_t[kBuckets];
        level.pCount = new uint16_t[kBuckets];
        level.pPrev = new uint16_t[MAX_BLOCK];
    }
    level.nBlock = m_nBlock;
    level.nNext = 0;
    std::memset(level.pHead, 0, sizeof(uint16_t) * kBuckets);
    std::memset(level.pCount, 0, sizeof(uint16_t) * kBuckets);
}

CCompressLZ77::Level& CCompressLZ77::LevelFor(int t)
{
    // The longest key that fits t, among the indexes this block has found worth building.
    int j = 0;
    while (j < m_nTopLevel && m_pLevels[j + 1].nString <= t)
        ++j;
    Level& level = m_pLevels[j];
    Ready(level);
    return level;
}

bool CCompressLZ77::FindAtLeastAround(int i, int t, int nOffset, int& nStart, int& nLength)
{
    // The same question, asked through kAnchor bytes at nOffset inside the t: every answer s
    // has those bytes at s + nOffset. This index holds every position (a candidate need not
    // start there), so each entry is checked for being a candidate.
    Level& anchor = *m_pAnchor;
    const int limit = i - t;
    const uint16_t* prev = anchor.pPrev;
    int x = anchor.pHead[Bucket(HashAt(i + nOffset, kAnchor))];
    while (x > limit + nOffset + 1)
        x = prev[x - 1];
    const uint32_t want = HashAt(i, t);
    const int cap = m_nLength - i;
    for (; x > nOffset; x = prev[x - 1])
    {
        const int s = x - 1 - nOffset;
        if (!IsCandidate(s) || HashAt(s, t) != want)
            continue;
        const int room = (i - s < cap) ? i - s : cap;
        const int n = CommonLength(s, i, room);
        if (n >= t)
        {
            nStart = s;
            nLength = n;
            return true;
        }
    }
    return false;
}

bool CCompressLZ77::FindAtLeast(int i, int t, int nKnown, int& nStart, int& nLength,
                                Resume* pResume)
{
    const int limit = i - t;   // newest start that leaves t bytes before position i
    if (limit < 0)
        return false;
    Level& level = LevelFor(t);
    if (level.nNext <= limit)
        Enter(level, limit);
    const uint32_t bucket = Bucket(HashAt(i, level.nString));
    if (t >= 2 * kAnchor && level.pCount[bucket] > kCrowded)
    {
        // Many positions share the start of the string asked for (a repeating pattern): its
        // end may be much rarer, as when the string reaches past where the pattern breaks.
        if (m_pAnchor == nullptr)
        {
            m_pAnchor = new Level;
            m_pAnchor->nString = kAnchor;
            m_pAnchor->bAll = true;
        }
        Ready(*m_pAnchor);
        if (m_pAnchor->nNext <= i - kAnchor)
            Enter(*m_pAnchor, i - kAnchor);
        // Two places to look through: the end of the string, and around the longest length
        // found so far, where the crowd of shorter copies stops agreeing.
        int offset = t - kAnchor;
        int count = m_pAnchor->pCount[Bucket(HashAt(i + offset, kAnchor))];
        const int near = nKnown - kAnchor / 2;
        if (near >= 0 && near < offset)
        {
            const int c = m_pAnchor->pCount[Bucket(HashAt(i + near, kAnchor))];
            if (c < count)
            {
                count = c;
                offset = near;
            }
        }
        if (count < level.pCount[bucket])
        {
            if (pResume)
                pResume->pLevel = nullptr;
            return FindAtLeastAround(i, t, offset, nStart, nLength);
        }
    }
    const uint16_t* prev = level.pPrev;
    int x;
    if (pResume && pResume->pLevel == &level)
    {
        // The previous answer came from this index, for a shorter t: every newer entry fell
        // short of that t already, so the walk goes on behind that answer.
        x = pResume->x;
    }
    else
    {
        x = level.pHead[bucket];
        while (x > limit + 1)   // entered for an earlier, shorter question: too close
            x = prev[x - 1];
    }
    const uint32_t want = HashAt(i, t);
    const int cap = m_nLength - i;
    int misses = 0;
    for (; x != 0; x = prev[x - 1])
    {
        const int s = x - 1;
        if (HashAt(s, t) == want)
        {
            const int room = (i - s < cap) ? i - s : cap;
            const int n = CommonLength(s, i, room);
            if (n >= t)
            {
                nStart = s;
                nLength = n;
                if (pResume)
                {
                    pResume->pLevel = &level;
                    pResume->x = prev[s];
                }
                return true;
            }
        }
        // Many entries share this key but not the longer string asked for. A longer key pays
        // once the walks of this block have cost about what filling one more index costs.
        ++m_nWaste;
        if (++misses > kEscalate && m_nWaste > m_nLength / 4 && &level == &m_pLevels[m_nTopLevel]
            && m_nTopLevel + 1 < m_nLevels && m_pLevels[m_nTopLevel + 1].nString <= t)
        {
            m_nWaste = 0;
            ++m_nTopLevel;
            return FindAtLeast(i, t, nKnown, nStart, nLength, pResume);
        }
    }
    return false;
}

void CCompressLZ77::HashBlock()
{
    // h(x + 1) = h(x) * base + byte + 1, four bytes a step: the hash carried from step to
    // step takes one multiplication, the three between are worked out beside it.
    const unsigned char* p = m_pSource;
    const int N = m_nLength;
    const uint32_t b1 = kHashBase, b2 = b1 * b1, b3 = b2 * b1, b4 = b3 * b1;
    uint32_t* out = m_pPrefixHash;
    uint32_t h = 0;
    out[0] = 0;
    int x = 0;
    for (; x + 4 <= N; x += 4)
    {
        const uint32_t k1 = p[x] + 1u;
        const uint32_t k2 = k1 * b1 + p[x + 1] + 1u;
        const uint32_t k3 = k2 * b1 + p[x + 2] + 1u;
        const uint32_t k4 = k3 * b1 + p[x + 3] + 1u;
        out[x + 1] = h * b1 + k1;
        out[x + 2] = h * b2 + k2;
        out[x + 3] = h * b3 + k3;
        h = h * b4 + k4;
        out[x + 4] = h;
    }
    for (; x < N; ++x)
    {
        h = h * b1 + p[x] + 1u;
        out[x + 1] = h;
    }
    m_bHashed = true;
}

namespace {

// Reads bits from the most significant bit of each byte down; never past the end.
struct BitReader
{
    const unsigned char* p;
    const unsigned char* end;
    uint32_t buf = 0;   // unread bits at the top
    int bits = 0;

    BitReader(const unsigned char* s, int n) : p(s), end(s + n) {}

    void Refill()
    {
        while (bits <= 24 && p < end)
        {
            buf |= (uint32_t)*p++ << (24 - bits);
            bits += 8;
        }
    }
    bool Get(int n, uint32_t& v)   // 1 <= n <= 16
    {
        if (bits < n)
        {
            Refill();
            if (bits < n)
                return false;
        }
        v = buf >> (32 - n);
        buf <<= n;
        bits -= n;
        return true;
    }
    int BytesUsed(const unsigned char* start) const
    {
        return (int)(p - start) - bits / 8;
    }
};

} // namespace

int CCompressLZ77::Decompress(unsigned char* pDest, int nLength, const unsigned char* pSource,
                              int nSourceLength)
{
    if (nLength < 0 || nLength > MAX_BLOCK || nSourceLength < 0)
        return 0;
    if ((nLength && !pDest) || (nSourceLength && !pSource))
        return 0;
    BitReader in(pSource, nSourceLength);
    const int N = nLength;
    int done = 0;
    while (done < N)
    {
        if (in.bits < 25)
            in.Refill();
        uint32_t bit;
        if (in.bits >= 9 && !(in.buf & 0x80000000u))
        {
            // A literal: a 0 bit and the byte, taken at once.
            pDest[done++] = (unsigned char)(in.buf >> 23);
            in.buf <<= 9;
            in.bits -= 9;
            continue;
        }
        if (!in.Get(1, bit))
            return 0;
        if (bit == 0)
        {
            uint32_t byte;
            if (!in.Get(8, byte))
                return 0;
            pDest[done++] = (unsigned char)byte;
            continue;
        }
        // Length: k one bits and a zero, then k bits. No block holds more than 65536 bytes,
        // so more than 15 one bits cannot be a length.
        int k = 0;
        if (in.bits >= 17)
        {
            k = __builtin_clz(~in.buf);   // the one bits before the zero (at most 16 here)
            if (k > 15)
                return 0;
            in.buf <<= k + 1;
            in.bits -= k + 1;
        }
        else
            for (;;)
            {
                if (!in.Get(1, bit))
                    return 0;
                if (bit == 0)
                    break;
                if (++k > 15)
                    return 0;
            }
        int L = 2;
        if (k)
        {
            uint32_t x;
            if (!in.Get(k, x))
                return 0;
            L = (1 << k) + (int)x + 1;
        }
        const int width = LengthWidth(done);
        uint32_t from = 0;
        if (width && !in.Get(width, from))
            return 0;
        if ((int)from >= done || L > N - done)
            return 0;
        unsigned char* d = pDest + done;
        const unsigned char* src = pDest + from;
        if ((int)from + L <= done)
            std::memcpy(d, src, (size_t)L);
        else
            for (int n = 0; n < L; ++n)
                d[n] = src[n];   // overlapping copy: byte by byte, as the stream means it
        done += L;
    }
    // A well-formed block ends in its last byte; anything else is not a block of this length.
    return in.BytesUsed(pSource) == nSourceLength ? 1 : 0;
}
