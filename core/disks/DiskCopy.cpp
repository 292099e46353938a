#include "DiskCopy.h"

#include <process.h>
#include <winioctl.h>

#include <cstddef>
#include <vector>

#include "DeviceIo.h"
#include "afxhandle.h"
#include "LanguageText.h"
#include "SharedFunctions.h"
#include "USBDevice.h"

HANDLE g_hDiskCopyPauseEvent = nullptr;

namespace {

// A cylinder larger than this is not a geometry any disk reports; refusing it keeps a
// corrupt answer from turning into a huge allocation or a truncated 32-bit read length.
constexpr ULONGLONG kMaxStepBytes = 256ull * 1024 * 1024;

const wchar_t kSectorSizesEnglish[] =
    L"The two disks have different sector sizes (source %u bytes, target %u bytes); a disk cannot be cloned onto "
    L"one of another sector size. Nothing was written.";

void StoreCopied(DiskCopyJob* pJob, ULONGLONG nBytes)
{
    InterlockedExchange64(reinterpret_cast<volatile LONGLONG*>(&pJob->m_nCopiedBytes),
                          static_cast<LONGLONG>(nBytes));
}

bool StopRequested(const DiskCopyJob* pJob)
{
    MemoryBarrier();
    return pJob->m_bStop != 0;
}

// The pause and stop point before each cylinder: a stop confirmed while paused takes
// effect without writing another cylinder.
bool ContinueAtCylinder(const DiskCopyJob* pJob)
{
    if (StopRequested(pJob))
        return false;
    if (g_hDiskCopyPauseEvent)
        WaitForSingleObject(g_hDiskCopyPauseEvent, INFINITE);
    return !StopRequested(pJob);
}

void ReportReadError(BOOL bRet, DWORD nError, DWORD nPlanned, DWORD nRead)
{
    // "Error reading the disk"
    DebugMessage(2, L"\u8BFB\u6587\u4EF6\u51FA\u9519ret= %d,error=%lu,bPlantReadLen = %lu,bRealReadLen = %lu",
                 bRet, nError, nPlanned, nRead);
}

void ReportMoveError(ULONGLONG nOffset, DWORD nError)
{
    DebugMessage(2, L" move byte %lld,error=%lu", static_cast<long long>(nOffset), nError);
}

void ReportWriteError(ULONGLONG nOffset, DWORD nError)
{
    DebugMessage(2, L"Writing to the target disk failed at byte %lld: %ls The target disk holds an incomplete copy.",
                 static_cast<long long>(nOffset), FormatSystemError(nError).GetString());
}

bool MoveTo(HANDLE h, ULONGLONG nOffset)
{
    return DeviceIo().SeekDevice(h, nOffset) != FALSE;
}

// Writes one step to the target; a failure (or a short write) is shown with the system's text.
bool WriteStep(HANDLE hTarget, const BYTE* pData, DWORD nBytes, ULONGLONG nOffset)
{
    DWORD nWritten = 0;
    SetLastError(ERROR_SUCCESS);
    BOOL bOk = DeviceIo().WriteDevice(hTarget, pData, nBytes, &nWritten);
    if (bOk && nWritten == nBytes)
        return true;
    DWORD nError = bOk ? ERROR_WRITE_FAULT : GetLastError();
    ReportWriteError(nOffset + (bOk ? nWritten : 0), nError ? nError : ERROR_WRITE_FAULT);
    return false;
}

// The volumes of the target disk, locked and dismounted for the copy: the system refuses raw
// writes inside a mounted volume, and a file system must not keep writing into a disk that is
// being overwritten. Closing the handles at the end lets the system mount what it finds.
class CTargetVolumes {
public:
    CTargetVolumes() = default;
    CTargetVolumes(const CTargetVolumes&) = delete;
    CTargetVolumes& operator=(const CTargetVolumes&) = delete;
    // False, with a message shown, when a volume of the disk cannot be taken over.
    bool LockAll(HANDLE hTarget);

private:
    std::vector<CKernelHandle> m_handles;
};

// True when the volume lies (in part) on the disk of the given number.
bool VolumeOnDisk(HANDLE hVolume, DWORD nDisk)
{
    constexpr DWORD kMaxExtents = 32;
    union {
        VOLUME_DISK_EXTENTS extents;
        BYTE raw[sizeof(VOLUME_DISK_EXTENTS) + (kMaxExtents - 1) * sizeof(DISK_EXTENT)];
    } answer = {};
    DWORD nReturned = 0;
    if (DeviceIo().IoControl(hVolume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &answer, sizeof(answer),
                             &nReturned)) {
        DWORD nExtents = answer.extents.NumberOfDiskExtents;
        for (DWORD i = 0; i < nExtents && i < kMaxExtents; ++i) {
            if (offsetof(VOLUME_DISK_EXTENTS, Extents) + (i + 1) * sizeof(DISK_EXTENT) > nReturned)
                break;
            if (answer.extents.Extents[i].DiskNumber == nDisk)
                return true;
        }
        return false;
    }
    STORAGE_DEVICE_NUMBER sdn = {};
    nReturned = 0;
    return DeviceIo().IoControl(hVolume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &sdn, sizeof(sdn),
                                &nReturned) &&
           nReturned >= sizeof(sdn) && sdn.DeviceType == FILE_DEVICE_DISK && sdn.DeviceNumber == nDisk;
}

// The name a user knows a volume by: its first mount point, else its system name.
CString VolumeDisplayName(const CString& strVolume)
{
    wchar_t szPaths[MAX_PATH * 2] = {};
    DWORD nChars = 0;
    if (GetVolumePathNamesForVolumeNameW(strVolume + L"\\", szPaths, MAX_PATH * 2, &nChars) && szPaths[0])
        return szPaths;
    return strVolume;
}

bool CTargetVolumes::LockAll(HANDLE hTarget)
{
    STORAGE_DEVICE_NUMBER sdn = {};
    DWORD nReturned = 0;
    if (!DeviceIo().IoControl(hTarget, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &sdn, sizeof(sdn),
                              &nReturned) ||
        nReturned < sizeof(sdn)) {
        DWORD nError = GetLastError();
        DebugMessage(2, L"The volumes of the target disk cannot be found: %ls Nothing was copied.",
                     FormatSystemError(nError ? nError : ERROR_INVALID_FUNCTION).GetString());
        return false;
    }
    std::vector<CString> arrVolumes;
    DeviceIo().EnumVolumes(arrVolumes);
    for (const CString& strVolume : arrVolumes) {
        // Asking where a volume lies needs no access rights; a volume that cannot even be
        // asked is not one the system could be writing to.
        CKernelHandle query(DeviceIo().OpenDevice(strVolume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0));
        if (!query)
            continue;
        bool bOnTarget = VolumeOnDisk(query.Get(), sdn.DeviceNumber);
        query.Close();
        if (!bOnTarget)
            continue;
        CKernelHandle volume(DeviceIo().OpenDevice(strVolume, GENERIC_READ | GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0));
        const bool bOpened = volume.IsValid();
        DWORD nError = 0;
        if (!bOpened) {
            nError = GetLastError();
        } else {
            const HANDLE hVolume = volume.Get();
            m_handles.push_back(std::move(volume));
            if (!DeviceIo().IoControl(hVolume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &nReturned) ||
                !DeviceIo().IoControl(hVolume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &nReturned))
                nError = GetLastError();
        }
        if (!bOpened || nError) {
            DebugMessage(2, L"The volume %ls on the target disk is in use and cannot be taken over for the copy: %ls "
                            L"Close the programs and windows using it and try again. Nothing was copied.",
                         VolumeDisplayName(strVolume).GetString(),
                         FormatSystemError(nError ? nError : ERROR_LOCK_VIOLATION).GetString());
            return false;
        }
    }
    return true;
}

class CHeapBuffer {
public:
    explicit CHeapBuffer(SIZE_T nSize) : m_p(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, nSize))) {}
    ~CHeapBuffer() { if (m_p) HeapFree(GetProcessHeap(), 0, m_p); }
    CHeapBuffer(const CHeapBuffer&) = delete;
    CHeapBuffer& operator=(const CHeapBuffer&) = delete;
    BYTE* Get() const { return m_p; }

private:
    BYTE* m_p;
};

struct CopyPlan {
    HANDLE hSource;
    HANDLE hTarget;
    ULONGLONG nTotal;   // bytes to copy: the source's capacity
    DWORD nStep;        // one cylinder
};

DWORD StepLength(const CopyPlan& plan, ULONGLONG nOffset)
{
    ULONGLONG nLeft = plan.nTotal - nOffset;
    return nLeft < plan.nStep ? static_cast<DWORD>(nLeft) : plan.nStep;
}

// One cylinder after the other: read, write, position.
void CopySequential(DiskCopyJob* pJob, const CopyPlan& plan, BYTE* pBuffer, ULONGLONG& nOffset)
{
    while (nOffset < plan.nTotal) {
        if (!ContinueAtCylinder(pJob))
            return;
        DWORD nPlanned = StepLength(plan, nOffset);
        DWORD nRead = 0;
        SetLastError(ERROR_SUCCESS);  // a short read without an error reports error 0
        BOOL bRet = DeviceIo().ReadDevice(plan.hSource, pBuffer, nPlanned, &nRead);
        DWORD nError = GetLastError();
        if (!bRet || nRead < nPlanned) {
            ReportReadError(bRet, nError, nPlanned, nRead);
            return;
        }
        if (!WriteStep(plan.hTarget, pBuffer, nRead, nOffset))
            return;
        nOffset += nRead;
        StoreCopied(pJob, nOffset);
        if (!MoveTo(plan.hSource, nOffset) || !MoveTo(plan.hTarget, nOffset)) {
            ReportMoveError(nOffset, GetLastError());
            return;
        }
    }
}

// Read-ahead: a reader thread fills two buffers in turn while this thread writes the
// other one, so the target is written in the same order and at the same points of pause
// and stop as without it.
struct ReadAhead {
    enum Status { kFilled, kReadFailed, kMoveFailed };
    struct Slot {
        BYTE* pData = nullptr;
        DWORD nPlanned = 0;
        DWORD nRead = 0;
        BOOL bRet = FALSE;
        DWORD nError = 0;
        Status status = kFilled;
    };
    const CopyPlan* pPlan = nullptr;
    Slot slots[2];
    HANDLE hFree = nullptr;    // slots the reader may fill
    HANDLE hFilled = nullptr;  // slots ready to be written
    volatile LONG bQuit = 0;
};

unsigned __stdcall ReadAheadProc(void* pParam)
{
    auto* pRa = static_cast<ReadAhead*>(pParam);
    const CopyPlan& plan = *pRa->pPlan;
    ULONGLONG nOffset = 0;
    for (unsigned i = 0; nOffset < plan.nTotal; ++i) {
        WaitForSingleObject(pRa->hFree, INFINITE);
        if (InterlockedCompareExchange(&pRa->bQuit, 0, 0))
            break;
        ReadAhead::Slot& slot = pRa->slots[i & 1];
        slot.nPlanned = StepLength(plan, nOffset);
        slot.nRead = 0;
        SetLastError(ERROR_SUCCESS);
        slot.bRet = DeviceIo().ReadDevice(plan.hSource, slot.pData, slot.nPlanned, &slot.nRead);
        slot.nError = GetLastError();
        if (!slot.bRet || slot.nRead < slot.nPlanned) {
            slot.status = ReadAhead::kReadFailed;
            ReleaseSemaphore(pRa->hFilled, 1, nullptr);
            break;
        }
        nOffset += slot.nRead;
        if (!MoveTo(plan.hSource, nOffset)) {
            slot.nError = GetLastError();
            slot.status = ReadAhead::kMoveFailed;
            ReleaseSemaphore(pRa->hFilled, 1, nullptr);
            break;
        }
        slot.status = ReadAhead::kFilled;
        ReleaseSemaphore(pRa->hFilled, 1, nullptr);
    }
    return 0;
}

// False when the read-ahead could not be set up (nothing has been read or written then).
bool CopyOverlapped(DiskCopyJob* pJob, const CopyPlan& plan, BYTE* pFirst, BYTE* pSecond, ULONGLONG& nOffset)
{
    ReadAhead ra;
    ra.pPlan = &plan;
    ra.slots[0].pData = pFirst;
    ra.slots[1].pData = pSecond;
    CKernelHandle freeSlots(CreateSemaphoreW(nullptr, 2, 3, nullptr));
    CKernelHandle filledSlots(CreateSemaphoreW(nullptr, 0, 2, nullptr));
    ra.hFree = freeSlots.Get();
    ra.hFilled = filledSlots.Get();
    CKernelHandle reader;
    if (freeSlots && filledSlots)
        reader.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ReadAheadProc, &ra, 0, nullptr)));
    if (!reader)
        return false;

    for (unsigned i = 0; nOffset < plan.nTotal; ++i) {
        if (!ContinueAtCylinder(pJob))
            break;
        WaitForSingleObject(ra.hFilled, INFINITE);
        ReadAhead::Slot& slot = ra.slots[i & 1];
        if (slot.status == ReadAhead::kReadFailed) {
            ReportReadError(slot.bRet, slot.nError, slot.nPlanned, slot.nRead);
            break;
        }
        if (!WriteStep(plan.hTarget, slot.pData, slot.nRead, nOffset))
            break;
        nOffset += slot.nRead;
        StoreCopied(pJob, nOffset);
        if (slot.status == ReadAhead::kMoveFailed) {
            ReportMoveError(nOffset, slot.nError);
            break;
        }
        if (!MoveTo(plan.hTarget, nOffset)) {
            ReportMoveError(nOffset, GetLastError());
            break;
        }
        ReleaseSemaphore(ra.hFree, 1, nullptr);
    }

    InterlockedExchange(&ra.bQuit, 1);
    ReleaseSemaphore(ra.hFree, 1, nullptr);
    WaitForSingleObject(reader.Get(), INFINITE);
    return true;
}

// Everything between opening the disks and closing them; true when every byte of the
// source reached the target.
bool CopyDisk(DiskCopyJob* pJob, HANDLE hSource, HANDLE hTarget, bool bOverlapped)
{
    DISK_GEOMETRY geometry = {};
    DWORD nReturned = 0;
    if (!DeviceIo().IoControl(hSource, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof(geometry),
                              &nReturned) ||
        nReturned < sizeof(geometry)) {
        DebugMessage(2, L"The geometry of the source disk cannot be read, error=%lu. Nothing was copied.",
                     GetLastError());
        return false;
    }
    // Tracks x sectors fits 64 bits; times the sector size it may not, and a product that wrapped
    // around would pass for a small cylinder: one too large for a step counts as none.
    const ULONGLONG nTrackSectors = ULONGLONG(geometry.TracksPerCylinder) * geometry.SectorsPerTrack;
    const bool bStepFits =
        geometry.BytesPerSector != 0 && nTrackSectors <= kMaxStepBytes / geometry.BytesPerSector;
    const ULONGLONG nCylinder = bStepFits ? nTrackSectors * geometry.BytesPerSector : 0;
    ULONGLONG nCylinders = geometry.Cylinders.QuadPart > 0 ? ULONGLONG(geometry.Cylinders.QuadPart) : 0;
    ULONGLONG nTotal = pJob->m_nTotalBytes;
    if (nTotal == 0 && nCylinders == 0)
        return true;  // an empty source: nothing to copy
    if (nCylinder == 0) {
        DebugMessage(2, L"The source disk reports an unusable geometry (%lu x %lu x %lu bytes). Nothing was copied.",
                     geometry.TracksPerCylinder, geometry.SectorsPerTrack, geometry.BytesPerSector);
        return false;
    }
    if (nTotal == 0) {
        DebugMessage(2, L"The size of the source disk cannot be read. Nothing was copied.");
        return false;
    }
    if (pJob->m_nTargetBytes == 0) {
        DebugMessage(2, L"The size of the target disk cannot be read. Nothing was copied.");
        return false;
    }
    if (pJob->m_nTargetBytes < nTotal) {
        DebugMessage(2, L"The target disk (%lld bytes) is smaller than the source disk (%lld bytes). Nothing was copied.",
                     static_cast<long long>(pJob->m_nTargetBytes), static_cast<long long>(nTotal));
        return false;
    }
    // Sector for sector onto a disk of another sector size is no copy: every table on the disk
    // counts in sectors, and a cylinder need not be whole sectors of the target. The target is
    // asked the way the source was, before anything of it is touched.
    DISK_GEOMETRY target = {};
    if (!DeviceIo().IoControl(hTarget, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &target, sizeof(target),
                              &nReturned) ||
        nReturned < sizeof(target) || target.BytesPerSector == 0) {
        DebugMessage(2, L"The geometry of the target disk cannot be read, error=%lu. Nothing was copied.",
                     GetLastError());
        return false;
    }
    if (target.BytesPerSector != geometry.BytesPerSector) {
        const CString strTemplate =
            pJob->m_strSectorSizeText.IsEmpty() ? CString(kSectorSizesEnglish) : pJob->m_strSectorSizeText;
        DebugMessage(2, L"%ls",
                     FormatSectorSizes(strTemplate, geometry.BytesPerSector, target.BytesPerSector).GetString());
        return false;
    }

    CopyPlan plan = {hSource, hTarget, nTotal, static_cast<DWORD>(nCylinder)};
    CHeapBuffer first(plan.nStep);
    if (!first.Get()) {
        DebugMessage(2, L"Not enough memory for a copy buffer of %lu bytes. Nothing was copied.", plan.nStep);
        return false;
    }
    // Nothing is written before every volume of the target is out of the system's hands.
    CTargetVolumes volumes;
    if (!volumes.LockAll(hTarget))
        return false;

    ULONGLONG nOffset = 0;
    bool bDone = false;
    if (bOverlapped) {
        CHeapBuffer second(plan.nStep);
        if (second.Get())
            bDone = CopyOverlapped(pJob, plan, first.Get(), second.Get(), nOffset);
    }
    if (!bDone)
        CopySequential(pJob, plan, first.Get(), nOffset);
    return nOffset == nTotal;
}

void EndJob(DiskCopyJob* pJob, bool bSuccess)
{
    pJob->m_bSuccess = bSuccess ? 1 : 0;
    MemoryBarrier();
    pJob->m_bDone = 1;
    pJob->m_bStop = 1;
    MemoryBarrier();
}

} // namespace

CString DiskCopySectorSizeTemplate()
{
    return GetLanguageTextOr(L"DiskCopySectorSizes", kSectorSizesEnglish);
}

CString FormatSectorSizes(const CString& strTemplate, DWORD nSourceBytes, DWORD nTargetBytes)
{
    // Filled in by hand rather than as a format, so that a table's text can never be read as
    // one with other arguments.
    CString strText = strTemplate;
    const DWORD sizes[] = {nSourceBytes, nTargetBytes};
    int nFrom = 0;
    for (DWORD nSize : sizes) {
        int nAt = strText.Find(L"%u", nFrom);
        if (nAt < 0)
            break;
        CString strNumber;
        strNumber.Format(L"%lu", nSize);
        strText = strText.Left(nAt) + strNumber + strText.Mid(nAt + 2);
        nFrom = nAt + strNumber.GetLength();
    }
    return strText;
}

ULONGLONG DiskCopyJob::GetCopiedBytes() const
{
    auto* p = const_cast<volatile LONGLONG*>(reinterpret_cast<const volatile LONGLONG*>(&m_nCopiedBytes));
    return static_cast<ULONGLONG>(InterlockedCompareExchange64(p, 0, 0));
}

bool PrepareDiskCopyJob(DiskCopyJob* pJob, int nSourceIndex, int nTargetIndex)
{
    if (!pJob)
        return false;
    pJob->m_nTotalBytes = 0;
    StoreCopied(pJob, 0);
    pJob->m_bStop = 0;
    pJob->m_bDone = 0;
    pJob->m_bSuccess = 1;
    pJob->m_nSourceIndex = nSourceIndex;
    pJob->m_nTargetIndex = nTargetIndex;
    pJob->m_strSourcePath.Empty();
    pJob->m_strTargetPath.Empty();
    pJob->m_nTargetBytes = 0;
    pJob->m_strSectorSizeText = DiskCopySectorSizeTemplate();

    CUSBDevice source, target;
    bool bValid = false;
    // Win32 mutexes may be taken again by their owner, so a caller holding it already is fine.
    bool bLocked = g_hDeviceListMutex && WaitForSingleObject(g_hDeviceListMutex, INFINITE) != WAIT_FAILED;
    INT_PTR nCount = g_arrUSBDevice.GetSize();
    if (nSourceIndex >= 0 && nSourceIndex < nCount && nTargetIndex >= 0 && nTargetIndex < nCount &&
        nSourceIndex != nTargetIndex) {
        source = g_arrUSBDevice[nSourceIndex];
        target = g_arrUSBDevice[nTargetIndex];
        bValid = !source.m_strDevicePath.IsEmpty() && !target.m_strDevicePath.IsEmpty() &&
                 source.m_strDevicePath.CompareNoCase(target.m_strDevicePath) != 0;
    }
    if (bLocked)
        ReleaseMutex(g_hDeviceListMutex);
    if (!bValid) {
        EndJob(pJob, false);
        return false;
    }
    pJob->m_strSourcePath = source.m_strDevicePath;
    pJob->m_strTargetPath = target.m_strDevicePath;
    pJob->m_nTotalBytes = source.GetCapacity();
    pJob->m_nTargetBytes = target.GetCapacity();
    return true;
}

void RunDiskCopy(DiskCopyJob* pJob, bool bOverlapped)
{
    if (!pJob)
        return;
    if (pJob->m_strSourcePath.IsEmpty() || pJob->m_strTargetPath.IsEmpty() ||
        pJob->m_strSourcePath.CompareNoCase(pJob->m_strTargetPath) == 0) {
        EndJob(pJob, false);
        return;
    }
    CKernelHandle source(DeviceIo().OpenDevice(pJob->m_strSourcePath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
    if (!source) {
        EndJob(pJob, false);
        return;
    }
    CKernelHandle target(DeviceIo().OpenDevice(pJob->m_strTargetPath, GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                               FILE_FLAG_WRITE_THROUGH));
    if (!target) {
        source.Close();
        EndJob(pJob, false);
        return;
    }
    bool bSuccess = CopyDisk(pJob, source.Get(), target.Get(), bOverlapped);
    // Closed before the job's end is told: the caller may open the disks again at once.
    source.Close();
    target.Close();
    EndJob(pJob, bSuccess);
}

unsigned __stdcall DiskCopyThreadProc(void* pParam)
{
    RunDiskCopy(static_cast<DiskCopyJob*>(pParam), true);
    return 0;
}
