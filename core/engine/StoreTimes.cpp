#include "StoreTimes.h"

namespace {

// In the 100 ns units of a FILETIME. Whole seconds counted from 1601 stay whole seconds after
// the local-time offsets a FAT volume's times go through (all whole quarter hours).
constexpr ULONGLONG kFatGrid = 2 * 10000000ull;   // 2 s
constexpr ULONGLONG kExFatGrid = 10 * 10000ull;   // 10 ms

ULONGLONG Ticks(const FILETIME& ft)
{
    return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

} // namespace

bool StoredTimeMatches(const FILETIME& ftStored, const FILETIME& ftSource)
{
    const ULONGLONG stored = Ticks(ftStored), source = Ticks(ftSource);
    if (stored == source)
        return true;
    const ULONGLONG distance = stored > source ? stored - source : source - stored;
    if (stored % kFatGrid == 0)
        return distance < kFatGrid;
    if (stored % kExFatGrid == 0)
        return distance < kExFatGrid;
    return false;
}
