// Block coder of the compressed copies: every block of at most 64 KiB is coded by itself
// from an empty dictionary as a bit stream of literals and back references.
//
// The stream (bits from the most significant bit of each byte down, every value most
// significant bit first):
//   literal         0, then the byte's 8 bits
//   back reference  1, the length code, the position code
//   length code     L >= 2, v = L - 1, k = floor(log2 v): k one bits, a zero bit, the low k bits of v
//   position code   absolute start of the earlier copy, in p bits, 2^p >= bytes coded so far
//
// The coded bytes are fixed by the greedy parse below (newest candidate wins among equal
// lengths, a run of one byte value is one candidate, a copy never reaches the position being
// coded); stored copies depend on it, so the match finder must give exactly that parse.
// This file and its .cpp use no platform header, so the coder also builds natively.
#pragma once

#include <cstdint>

class CCompress
{
public:
    virtual ~CCompress() {}
    // Codes nLength bytes of pSource into pDest (which must hold nLength + 8 bytes).
    // Returns the coded size (1 .. nLength - 1), 0 when coding would not make the block
    // smaller, or -1 when nLength is not 0 .. 65536.
    virtual int Compress(const unsigned char* pSource, int nLength, unsigned char* pDest) = 0;
    // Expands the nSourceLength coded bytes at pSource into exactly nLength bytes at pDest.
    // Returns 1 on success and 0 for a block that is not a well-formed coding of nLength
    // bytes; it never reads or writes outside the two buffers.
    virtual int Decompress(unsigned char* pDest, int nLength, const unsigned char* pSource,
                           int nSourceLength) = 0;
};

class CCompressLZ77 : public CCompress
{
public:
    enum { MAX_BLOCK = 0x10000 };

    CCompressLZ77();
    ~CCompressLZ77() override;
    CCompressLZ77(const CCompressLZ77&) = delete;
    CCompressLZ77& operator=(const CCompressLZ77&) = delete;

    // When coding gives up early because the block provably cannot shrink, the result is 0
    // as it would have been at the end; pDest then holds nothing meaningful.
    int Compress(const unsigned char* pSource, int nLength, unsigned char* pDest) override;
    int Decompress(unsigned char* pDest, int nLength, const unsigned char* pSource,
                   int nSourceLength) override;

private:
    struct Level;

    // Links of the whole block, built before coding starts (see the .cpp).
    void IndexPairs();
    void IndexBlock();
    struct Keyed;
    void IndexKeyed(Keyed& index);
    // Earliest position from which the block may be proved not to shrink (N: none).
    int BoundSavings();
    // True when a bound over the whole block proves it cannot shrink.
    bool QuickBound();
    int SavingsBound(int x) const;
    // Newest candidate at most i - 2 with the byte pair at i, + 1 (0 for none).
    int PairHead(int i) const
    {
        int y = m_pPairLink[i];
        if (y != 0 && y == i)   // the candidate at i - 1 is too close
            y = m_pPairLink[i - 1];
        return y;
    }
    // Finds the longest earlier copy for position i; returns its length (0 for none).
    int FindMatch(int i, int& nStart);
    // Newest candidate s <= i - t whose bytes agree with position i for at least t bytes
    // (t >= 4); gives its start and its usable length (at most i - s and N - i).
    // nKnown: the longest length found so far (less than t). The cursor carries a walk from
    // one question to the next, longer one at the same position.
    struct Cursor
    {
        int key = 0;       // bytes of that key
        int offset = -1;   // offset of the key walked, -1 for none
        int left = 0;      // entries of it not walked yet (an estimate when linked)
        bool linked = false;   // walks the candidates' chain of four bytes (offset 0)
        int y = 0;         // linked: the next candidate + 1
        int j = 0;         // otherwise: the next entry of the sorted positions, down to lo
        int lo = 0;
    };
    bool FindLonger(int i, int t, int nKnown, Cursor& cur, int& nStart, int& nLength);

    // The same question through indexes keyed on longer strings, for the rare positions
    // where every short key is shared by a great many earlier positions.
    struct Resume
    {
        Level* pLevel = nullptr;   // index of the previous answer
        int x = 0;                 // the entry behind it + 1, 0 for none
    };
    bool FindAtLeast(int i, int t, int nKnown, int& nStart, int& nLength,
                     Resume* pResume = nullptr);
    bool FindAtLeastAround(int i, int t, int nOffset, int& nStart, int& nLength);
    Level& LevelFor(int t);
    void Ready(Level& level);
    void HashBlock();
    void Enter(Level& level, int upTo);
    uint32_t HashAt(int x, int len) const
    {
        return m_pPrefixHash[x + len] - m_pPrefixHash[x] * m_pPower[len];
    }
    bool IsCandidate(int x) const
    {
        const unsigned char* p = m_pSource;
        return p[x] != p[x + 1] || x == 0 || p[x - 1] != p[x];
    }
    int CommonLength(int s, int i, int limit) const;

    const unsigned char* m_pSource;   // the block being coded: the window of every position
    int m_nLength;                    // its length N
    unsigned m_nBlock;                // serial of the block being coded; tells stale indexes
    int m_nHashBits;                  // bucket bits of the short-key tables for this block
    uint32_t* m_pPairHead;            // per byte pair: newest candidate + 1, third bytes seen
    int m_nSeen;                      // positions IndexPairs listed for a closer bound (-1: none)
    uint16_t* m_pHead3;               // per bucket of three bytes: the same
    uint16_t* m_pHead4;               // per bucket of four bytes: the same
    uint16_t* m_pBucketStart;         // per bucket: its first place among the sorted positions
    uint16_t* m_pPairLink;            // per position: newest earlier candidate of its pair + 1
    uint16_t* m_pLink3;               // per position: the same for its three-byte bucket
    uint16_t* m_pLink4;               // the same for its four-byte bucket, where its first two
                                      // bytes are equal (set for those positions only)
    struct Keyed
    {
        int nKey = 0;                 // bytes of the key
        bool bReady = false;          // holds this block
        uint16_t* pSorted = nullptr;  // the positions by bucket of their key, oldest first
        uint16_t* pSlot = nullptr;    // per position: its place in pSorted
        uint16_t* pRank = nullptr;    // per position: earlier positions of its bucket
    };
    Keyed m_keyed[2];                 // keys of four bytes (every position) and of eight
    int64_t m_nLongWalks;             // entries of four-byte keys met by long strings
    int64_t m_nLongQuestions;         // questions about long strings that met them
    uint64_t* m_pRare;                // a bit per position whose four-byte key is rare in the block
    uint64_t m_rareWords[MAX_BLOCK / 64 / 64];   // a bit per word of m_pRare that has one set
    int NextRare(int from, int to) const;
    int32_t* m_pSavings;              // per position: most bits the rest of the block can save
    uint32_t* m_pPrefixHash;          // hashes of every prefix of the block
    uint32_t* m_pPower;               // powers of the hash base
    Level* m_pLevels;                 // position indexes keyed on longer strings, built on demand
    int m_nLevels;
    int m_nTopLevel;                  // longest key worth using in this block
    int m_nWaste;                     // entries walked in vain since the last longer key
    bool m_bHashed;                   // prefix hashes of this block are computed
    Level* m_pAnchor;                 // every position keyed on its next few bytes, on demand
};
