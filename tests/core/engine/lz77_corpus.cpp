#include "lz77_corpus.h"

#include <cstdio>
#include <cstring>

namespace lz77corpus {

namespace {

const char* const kWords[] = {
    "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be",
    "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have",
    "an", "had", "they", "you", "were", "their", "one", "all", "we", "can", "her", "has",
    "there", "been", "if", "more", "when", "will", "would", "who", "so", "no", "backup",
    "restore", "folder", "file", "drive", "copy", "settings", "window", "device", "disk",
    "block", "compressed", "selection", "schedule", "progress", "failed", "target", "source",
    "between", "however", "something", "through", "because", "important", "information"};

void Fill(Bytes& out, int size, const char* text)
{
    for (; *text && (int)out.size() < size; ++text)
        out.push_back((unsigned char)*text);
}

} // namespace

Bytes Text(uint32_t seed, int size)
{
    Rng r(seed);
    Bytes out;
    out.reserve(size);
    const int nWords = (int)(sizeof kWords / sizeof kWords[0]);
    int sentence = 0;
    while ((int)out.size() < size)
    {
        // Zipf-like choice: low indexes are much more frequent.
        int w = r.Below(nWords);
        w = (w * r.Below(nWords)) / nWords;
        std::string word = kWords[w];
        if (sentence == 0)
            word[0] = (char)(word[0] - 32);
        Fill(out, size, word.c_str());
        ++sentence;
        if (sentence > 6 && r.Below(8) == 0)
        {
            Fill(out, size, r.Below(4) ? ". " : ".\r\n");
            sentence = 0;
        }
        else if (r.Below(15) == 0)
            Fill(out, size, ", ");
        else
            Fill(out, size, " ");
    }
    return out;
}

Bytes Utf16Text(uint32_t seed, int size)
{
    Bytes t = Text(seed, size / 2 + 1);
    Bytes out;
    out.reserve(size);
    for (unsigned char c : t)
    {
        if ((int)out.size() >= size)
            break;
        out.push_back(c);
        if ((int)out.size() < size)
            out.push_back(0);
    }
    return out;
}

Bytes Executable(uint32_t seed, int size)
{
    // Machine-code-like bytes: prologues, calls with near addresses, tables of pointers,
    // import names and zero padding between sections.
    Rng r(seed);
    Bytes out;
    out.reserve(size);
    uint32_t base = 0x00401000u + (uint32_t)r.Below(4096) * 16;
    while ((int)out.size() < size)
    {
        switch (r.Below(10))
        {
        case 0: case 1: case 2: {
            const unsigned char prologue[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC};
            for (unsigned char b : prologue)
                out.push_back(b);
            out.push_back((unsigned char)(r.Below(16) * 4));
            for (int n = r.Below(40); n > 0; --n)
            {
                const unsigned char ops[] = {0x8B, 0x89, 0x8D, 0x50, 0x51, 0x56, 0x57, 0x5E, 0x5F,
                                             0x33, 0xC0, 0x45, 0x08, 0x0C, 0xFF, 0x75, 0x74, 0x85};
                out.push_back(ops[r.Below(sizeof ops)]);
            }
            out.push_back(0xE8);
            uint32_t rel = (uint32_t)(r.Below(65536) - 32768);
            for (int b = 0; b < 4; ++b)
                out.push_back((unsigned char)(rel >> (8 * b)));
            out.push_back(0xC9);
            out.push_back(0xC3);
            break;
        }
        case 3: {
            for (int n = r.Below(32) + 4; n > 0; --n)
            {
                uint32_t p = base + (uint32_t)r.Below(256) * 16;
                for (int b = 0; b < 4; ++b)
                    out.push_back((unsigned char)(p >> (8 * b)));
            }
            break;
        }
        case 4: {
            const char* names[] = {"GetProcAddress", "LoadLibraryW", "CreateFileW", "ReadFile",
                                   "WriteFile", "CloseHandle", "DeviceIoControl", "SetEvent"};
            Fill(out, size, names[r.Below(8)]);
            out.push_back(0);
            out.push_back(0);
            break;
        }
        case 5:
            for (int n = r.Below(300); n > 0; --n)
                out.push_back(0);
            break;
        case 6:
            for (int n = r.Below(16); n > 0; --n)
                out.push_back(0xCC);
            break;
        default:
            for (int n = r.Below(24); n > 0; --n)
                out.push_back((unsigned char)r.Next());
            break;
        }
    }
    out.resize(size);
    return out;
}

Bytes Random(uint32_t seed, int size)
{
    Rng r(seed);
    Bytes out(size);
    for (auto& b : out)
        b = (unsigned char)(r.Next() >> 11);
    return out;
}

Bytes Runs(uint32_t seed, int size)
{
    Rng r(seed);
    Bytes out;
    out.reserve(size);
    while ((int)out.size() < size)
    {
        unsigned char v = (unsigned char)(r.Below(3) == 0 ? 0 : r.Next());
        int len = 1 + r.Below(r.Below(4) == 0 ? 3000 : 40);
        for (; len > 0 && (int)out.size() < size; --len)
            out.push_back(v);
    }
    return out;
}

Bytes Periodic(uint32_t seed, int size, int period)
{
    Rng r(seed);
    Bytes pattern(period);
    for (auto& b : pattern)
        b = (unsigned char)r.Next();
    if (period >= 2 && pattern[0] == pattern[1])
        pattern[1] ^= 0x5A;
    Bytes out(size);
    for (int x = 0; x < size; ++x)
        out[x] = pattern[x % period];
    // A few changed bytes, so long stretches of the pattern end at different places.
    if (seed & 1)
        for (int n = size / 4096; n > 0; --n)
            out[r.Below(size)] ^= (unsigned char)(1 + r.Below(255));
    return out;
}

static Bytes Bitmap(uint32_t seed, int size, int bpp)
{
    // Rows of a picture: solid areas, gradients and rectangles of a few colours, each row
    // padded to four bytes.
    Rng r(seed);
    const int width = 200 + r.Below(900);
    const int stride = (width * bpp + 3) & ~3;
    Bytes out;
    out.reserve(size);
    uint32_t colours[6];
    for (auto& c : colours)
        c = r.Next();
    colours[0] = 0x00C08040u + (uint32_t)r.Below(32);
    int y = 0;
    while ((int)out.size() < size)
    {
        Bytes row(stride, 0);
        const int bandStyle = (y / 37) % 4;
        for (int x = 0; x < width; ++x)
        {
            uint32_t c = colours[0];
            if (bandStyle == 1)
                c = colours[1 + (x / 97) % 3];
            else if (bandStyle == 2)
                c = (uint32_t)(x * 255 / width) * 0x010101u;
            else if (bandStyle == 3 && x > width / 3 && x < width / 2)
                c = colours[4];
            for (int b = 0; b < bpp; ++b)
                row[x * bpp + b] = (unsigned char)(b == 3 ? 0xFF : c >> (8 * b));
        }
        for (unsigned char b : row)
        {
            if ((int)out.size() >= size)
                break;
            out.push_back(b);
        }
        ++y;
    }
    return out;
}

Bytes Bitmap24(uint32_t seed, int size) { return Bitmap(seed, size, 3); }
Bytes Bitmap32(uint32_t seed, int size) { return Bitmap(seed, size, 4); }

Bytes DiskImage(uint32_t seed, int size)
{
    // 512-byte sectors: mostly zero, some allocation tables, directory entries and file data.
    Rng r(seed);
    Bytes out;
    out.reserve(size);
    uint32_t cluster = 2 + r.Below(1000);
    while ((int)out.size() < size)
    {
        Bytes sector(512, 0);
        switch (r.Below(8))
        {
        case 0:
            for (int e = 0; e < 128; ++e)
            {
                uint32_t v = ++cluster;
                for (int b = 0; b < 4; ++b)
                    sector[e * 4 + b] = (unsigned char)(v >> (8 * b));
            }
            break;
        case 1:
            for (int e = 0; e < 16; ++e)
            {
                for (int b = 0; b < 11; ++b)
                    sector[e * 32 + b] = (unsigned char)('A' + r.Below(26));
                sector[e * 32 + 11] = 0x20;
                sector[e * 32 + 26] = (unsigned char)r.Next();
                sector[e * 32 + 28] = (unsigned char)r.Next();
            }
            break;
        case 2: {
            Bytes t = Text(r.Next(), 512);
            sector = t;
            break;
        }
        case 3:
            for (auto& b : sector)
                b = 0xF6;
            break;
        default:
            break;
        }
        for (unsigned char b : sector)
        {
            if ((int)out.size() >= size)
                break;
            out.push_back(b);
        }
    }
    return out;
}

Bytes PairChains(uint32_t seed, int size)
{
    // Every match candidate shares the same few byte pairs, but what follows them differs:
    // the longest possible chains with the shortest matches.
    Rng r(seed);
    Bytes out;
    out.reserve(size);
    const int style = (int)(seed % 3);
    while ((int)out.size() < size)
    {
        out.push_back('a');
        out.push_back('b');
        if (style >= 1)
            out.push_back('c');
        out.push_back((unsigned char)r.Next());
        if (style == 2)
            out.push_back((unsigned char)r.Below(4));
    }
    out.resize(size);
    return out;
}

Bytes ThueMorse(uint32_t seed, int size)
{
    // Defeats polynomial hashing modulo a power of two: many different strings, equal hashes.
    Bytes out(size);
    for (int x = 0; x < size; ++x)
        out[x] = (unsigned char)('a' + (__builtin_popcount((unsigned)x + seed) & 1));
    return out;
}

Bytes Fibonacci(uint32_t seed, int size)
{
    std::string a = "a", b = "ab";
    if (seed & 1)
        a = "x", b = "xy";
    while ((int)b.size() < size)
    {
        std::string c = b + a;
        a = b;
        b = c;
    }
    return Bytes(b.begin(), b.begin() + size);
}

Bytes GrowingCopies(uint32_t seed, int size)
{
    // Copies of one random string, each a little longer, separated by one varying byte: many
    // candidates whose common length grows by one each.
    Rng r(seed);
    Bytes unit(200 + r.Below(200));
    for (auto& b : unit)
        b = (unsigned char)r.Next();
    Bytes out;
    out.reserve(size);
    int len = 1;
    while ((int)out.size() < size)
    {
        for (int x = 0; x < len && x < (int)unit.size(); ++x)
            out.push_back(unit[x]);
        out.push_back((unsigned char)r.Next());
        len = len % (int)unit.size() + 1;
    }
    out.resize(size);
    return out;
}

static Bytes Periodic2to64(uint32_t seed, int size)
{
    return Periodic(seed, size, 2 + (int)(seed % 63));
}

static Bytes ExecutableOrSynthetic(uint32_t seed, int size)
{
    return Executable(seed, size);
}

const std::vector<DataClass>& Classes()
{
    static const std::vector<DataClass> classes = {
        {"text", Text},
        {"utf16-text", Utf16Text},
        {"executable", ExecutableOrSynthetic},
        {"incompressible", Random},
        {"runs", Runs},
        {"periodic", Periodic2to64},
        {"bitmap24", Bitmap24},
        {"bitmap32", Bitmap32},
        {"disk-image", DiskImage},
        {"pair-chains", PairChains},
        {"thue-morse", ThueMorse},
        {"fibonacci", Fibonacci},
        {"growing-copies", GrowingCopies},
    };
    return classes;
}

Bytes ReadFile(const std::string& path, long nOffset, int nMax)
{
    Bytes out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    if (std::fseek(f, nOffset, SEEK_SET) == 0)
    {
        out.resize(nMax);
        size_t got = std::fread(out.data(), 1, (size_t)nMax, f);
        out.resize(got);
    }
    std::fclose(f);
    return out;
}

} // namespace lz77corpus
