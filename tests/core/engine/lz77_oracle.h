// The block coder's greedy walk written out plainly, step by step, as the reference the
// product coder must match byte for byte. Deliberately naive: it walks every candidate.
#pragma once

#include <cstdint>
#include <vector>

class CLz77Oracle
{
public:
    CLz77Oracle();
    // Same contract as CCompressLZ77::Compress.
    int Compress(const unsigned char* pSource, int nLength, unsigned char* pDest);

private:
    struct Node
    {
        uint16_t start, runEnd, next;
    };
    void InsertNode(int q);
    int FindMatch(int i, int& nStart);
    void PutBit(int bit);
    void PutBits(uint32_t value, int n);

    const unsigned char* m_pSource = nullptr;
    int m_nLength = 0;
    int m_nCurrent = 0;
    std::vector<uint16_t> m_head;
    std::vector<Node> m_nodes;
    int m_nNextNode = 1;
    unsigned char* m_pOut = nullptr;
    int m_nOutByte = 0;
    int m_nOutBit = 0;
};
