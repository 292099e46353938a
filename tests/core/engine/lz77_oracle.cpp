#include "lz77_oracle.h"

CLz77Oracle::CLz77Oracle() : m_head(65536), m_nodes(65536) {}

void CLz77Oracle::InsertNode(int q)
{
    const int a = m_pSource[q], b = m_pSource[q + 1];
    const int pair = a * 256 + b;
    const int h = m_head[pair];
    if (a == b && h != 0 && q == m_nodes[h].runEnd + 1)
    {
        m_nodes[h].runEnd = (uint16_t)q;
        return;
    }
    const int n = m_nNextNode++;
    m_nodes[n].start = (uint16_t)q;
    m_nodes[n].runEnd = (uint16_t)(a == b ? q : 0);
    m_nodes[n].next = (uint16_t)h;
    m_head[pair] = (uint16_t)n;
}

int CLz77Oracle::FindMatch(int i, int& nStart)
{
    const int N = m_nLength;
    if (i >= N - 1)
        return 0;
    const int h = m_head[m_pSource[i] * 256 + m_pSource[i + 1]];
    if (h == 0)
        return 0;
    int best = 2, bestStart = m_nodes[h].start;
    for (int n = h; n != 0; n = m_nodes[n].next)
    {
        const int s = m_nodes[n].start;
        int limit = N - i;
        if (i - s < limit)
            limit = i - s;
        if (limit > 2)
        {
            int len = 2;
            while (len < limit && m_pSource[s + len] == m_pSource[i + len])
                ++len;
            if (len > best)
            {
                best = len;
                bestStart = s;
            }
        }
    }
    nStart = bestStart;
    return best;
}

void CLz77Oracle::PutBit(int bit)
{
    if (m_nOutBit == 0)
        m_pOut[m_nOutByte] = 0;
    if (bit)
        m_pOut[m_nOutByte] |= (unsigned char)(0x80 >> m_nOutBit);
    if (++m_nOutBit == 8)
    {
        m_nOutBit = 0;
        ++m_nOutByte;
    }
}

void CLz77Oracle::PutBits(uint32_t value, int n)
{
    for (int b = n - 1; b >= 0; --b)
        PutBit((value >> b) & 1);
}

int CLz77Oracle::Compress(const unsigned char* pSource, int nLength, unsigned char* pDest)
{
    m_nOutByte = 0;
    m_nOutBit = 0;
    if (nLength > 65536 || nLength < 0)
        return -1;
    m_pSource = pSource;
    m_nLength = nLength;
    m_pOut = pDest;
    for (auto& h : m_head)
        h = 0;
    m_nCurrent = 0;
    m_nNextNode = 1;
    const int N = nLength;
    for (int i = 0; i < N;)
    {
        if (m_nOutByte >= N)
            return 0;
        int s = 0;
        const int L = FindMatch(i, s);
        if (L == 0)
        {
            PutBit(0);
            PutBits(pSource[i], 8);
            ++m_nCurrent;
            if (m_nCurrent >= 2)
                InsertNode(m_nCurrent - 2);
            ++i;
            continue;
        }
        PutBit(1);
        const int v = L - 1;
        int k = 0;
        while ((2 << k) <= v)
            ++k;
        for (int b = 0; b < k; ++b)
            PutBit(1);
        PutBit(0);
        PutBits((uint32_t)(v - (1 << k)), k);
        int p = 0;
        while ((1 << p) < m_nCurrent)
            ++p;
        PutBits((uint32_t)s, p);
        for (int n = 0; n < L; ++n)
        {
            ++m_nCurrent;
            if (m_nCurrent >= 2)
                InsertNode(m_nCurrent - 2);
        }
        i += L;
    }
    const int c = m_nOutByte + (m_nOutBit != 0 ? 1 : 0);
    return c < N ? c : 0;
}
