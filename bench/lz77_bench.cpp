// Block coder figures per kind of data: speed of the plain reference walk and of the product
// coder, the product's decoding speed and compression ratio, and zlib levels 1 and 6 on the same
// 64 KiB blocks as the peers a user would know. The coder and the two peers take turns block by
// block (each with its state kept from block to block, as the coder object is), and each block's
// shortest of a few timings counts, so a machine whose load changes during the run slows all
// three alike. Usage: lz77_bench [blocks per class] [reference blocks] [timings per block].
// Prints figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "CompressLZ77.h"
#include "../tests/core/engine/lz77_corpus.cpp"
#include "../tests/core/engine/lz77_oracle.cpp"

using namespace lz77corpus;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double MBps(double bytes, double seconds)
{
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    int blocks = 32;          // 2 MiB per class for the product and the peers
    int oracleBlocks = 1;     // the reference walk is slow on repetitive data
    if (argc > 1)
        blocks = std::atoi(argv[1]);
    if (argc > 2)
        oracleBlocks = std::atoi(argv[2]);
    int repeats = 3;          // each block is timed this many times; the shortest counts
    if (argc > 3)
        repeats = std::max(1, std::atoi(argv[3]));
    const int B = 65536;
    CCompressLZ77 coder;
    CLz77Oracle oracle;
    std::vector<unsigned char> out(B + 8), back(B);
    std::vector<unsigned char> zout(compressBound(B));
    z_stream zs_[2] = {};
    deflateInit(&zs_[0], 1);
    deflateInit(&zs_[1], 6);

    std::printf("%-15s %9s %9s %9s %7s %9s %7s %9s %7s %8s %10s\n", "class", "ref MB/s", "MB/s",
                "dec MB/s", "ratio", "zlib1", "ratio", "zlib6", "ratio", "/zlib1", "worst ms");
    for (const DataClass& dc : Classes())
    {
        std::vector<Bytes> data;
        for (int k = 0; k < blocks; ++k)
            data.push_back(dc.make(1000 + k, B));
        const double total = (double)blocks * B;

        double tOracle = 0;
        for (int k = 0; k < oracleBlocks && k < blocks; ++k)
        {
            auto a = Clock::now();
            oracle.Compress(data[k].data(), B, out.data());
            tOracle += Seconds(a, Clock::now());
        }

        double tCode = 0, tDecode = 0, worst = 0;
        double tz[2] = {0, 0};
        long long zs[2] = {0, 0};
        long long stored = 0;
        for (const Bytes& d : data)
        {
            // Each block is coded `repeats` times by each and the shortest time counts: on a
            // shared machine that drops the time the thread spent waiting for a processor.
            int r = 0;
            double best = 1e9;
            for (int k = 0; k < repeats; ++k)
            {
                auto a = Clock::now();
                r = coder.Compress(d.data(), B, out.data());
                best = std::min(best, Seconds(a, Clock::now()));
            }
            tCode += best;
            if (best > worst)
                worst = best;
            for (int z = 0; z < 2; ++z)
            {
                double zbest = 1e9;
                for (int k = 0; k < repeats; ++k)
                {
                    auto c = Clock::now();
                    deflateReset(&zs_[z]);
                    zs_[z].next_in = const_cast<Bytef*>(d.data());
                    zs_[z].avail_in = (uInt)B;
                    zs_[z].next_out = zout.data();
                    zs_[z].avail_out = (uInt)zout.size();
                    deflate(&zs_[z], Z_FINISH);
                    zbest = std::min(zbest, Seconds(c, Clock::now()));
                }
                tz[z] += zbest;
                zs[z] += (long long)zs_[z].total_out;
            }
            if (r > 0)
            {
                stored += r + 4;
                auto c = Clock::now();
                if (!coder.Decompress(back.data(), B, out.data(), r) || back != d)
                    std::printf("  %s: block does not come back\n", dc.name);
                tDecode += Seconds(c, Clock::now());
            }
            else
                stored += B + 4;
        }
        const double oracleBytes = (double)std::min(oracleBlocks, blocks) * B;
        std::printf("%-15s %9.1f %9.1f %9.1f %7.3f %9.1f %7.3f %9.1f %7.3f %8.2f %10.2f\n", dc.name,
                    MBps(oracleBytes, tOracle), MBps(total, tCode),
                    tDecode > 0 ? MBps(total, tDecode) : 0.0, stored / total, MBps(total, tz[0]),
                    zs[0] / total, MBps(total, tz[1]), zs[1] / total, tz[0] / tCode,
                    worst * 1000);
        std::fflush(stdout);
    }
    deflateEnd(&zs_[0]);
    deflateEnd(&zs_[1]);
    std::printf("ratio: stored bytes (4-byte block headers included) / source bytes; "
                "dec: expansion of the coded blocks; /zlib1: the coder's speed over zlib level 1's; "
                "worst: slowest single block of the coder\n");
    return 0;
}
