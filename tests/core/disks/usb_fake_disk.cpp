#include "usb_fake_disk.h"

#include <ntddscsi.h>
#include <cstring>

namespace {

constexpr BYTE kCheckCondition = 0x02;

void PutBigEndian32(BYTE* p, DWORD v)
{
    p[0] = BYTE(v >> 24);
    p[1] = BYTE(v >> 16);
    p[2] = BYTE(v >> 8);
    p[3] = BYTE(v);
}

std::string Padded(const std::string& s, size_t n)
{
    std::string r = s.substr(0, n);
    r.resize(n, ' ');
    return r;
}

bool IsVolumePath(const wchar_t* p, wchar_t& chLetter)
{
    // "\\.\X:"
    if (wcslen(p) != 6 || wcsncmp(p, L"\\\\.\\", 4) != 0 || p[5] != L':')
        return false;
    chLetter = towupper(p[4]);
    return true;
}

} // namespace

FakeDeviceStack::FakeDeviceStack()
{
    SetDeviceIoForTesting(this);
}

FakeDeviceStack::~FakeDeviceStack()
{
    SetDeviceIoForTesting(nullptr);
}

void FakeDeviceStack::AddDisk(const FakeDiskConfig& config)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_disks.push_back(config);
}

HANDLE FakeDeviceStack::OpenDevice(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition,
                                   DWORD dwFlags)
{
    std::lock_guard<std::mutex> lock(m_lock);
    wchar_t chLetter = 0;
    bool bVolume = pszPath && IsVolumePath(pszPath, chLetter);
    for (size_t i = 0; pszPath && i < m_disks.size(); ++i) {
        const FakeDiskConfig& disk = m_disks[i];
        bool bMatch = bVolume ? disk.volumes.find(chLetter) != std::wstring::npos
                              : disk.strDevicePath.CompareNoCase(pszPath) == 0;
        if (!bMatch)
            continue;
        if (disk.bUnopenable) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (!bVolume) {
            HANDLE h = CreateFileW(disk.strImagePath, dwAccess, dwShare, nullptr, dwDisposition, dwFlags, nullptr);
            if (h != INVALID_HANDLE_VALUE)
                m_handles[h] = Open{i, false};  // a recycled handle value replaces its stale entry
            return h;
        }
        // A volume handle is a file of its own that goes with the handle, so that the model
        // can tell when the handle holding a lock has been closed.
        CString strToken;
        strToken.Format(L"%ls.vol%lc.%u", disk.strImagePath.GetString(), chLetter, m_nTokens++);
        HANDLE h = CreateFileW(strToken, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            m_handles[h] = Open{i, true, chLetter, strToken};
        return h;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

void FakeDeviceStack::EnumVolumes(std::vector<CString>& arrOut)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (const FakeDiskConfig& disk : m_disks)
        for (wchar_t chLetter : disk.volumes) {
            CString strPath;
            strPath.Format(L"\\\\.\\%lc:", chLetter);
            arrOut.push_back(strPath);
        }
}

bool FakeDeviceStack::LockAliveLocked(const VolumeState& state) const
{
    return !state.strLockToken.IsEmpty() && GetFileAttributesW(state.strLockToken) != INVALID_FILE_ATTRIBUTES;
}

bool FakeDeviceStack::VolumeDismounted(size_t nDisk, wchar_t chLetter)
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_volumeStates[{nDisk, chLetter}].bDismounted;
}

bool FakeDeviceStack::VolumeLocked(size_t nDisk, wchar_t chLetter)
{
    std::lock_guard<std::mutex> lock(m_lock);
    return LockAliveLocked(m_volumeStates[{nDisk, chLetter}]);
}

std::pair<ULONGLONG, ULONGLONG> FakeDeviceStack::VolumeRange(const FakeDiskConfig& disk, wchar_t chLetter,
                                                             ULONGLONG nDiskBytes) const
{
    auto it = disk.volumeRanges.find(chLetter);
    if (it != disk.volumeRanges.end())
        return it->second;
    const ULONGLONG nStart = 1 << 20;
    return {nStart, nDiskBytes > nStart ? nDiskBytes - nStart : 0};
}

bool FakeDeviceStack::CheckTransfer(const Open& open, HANDLE hDevice, DWORD nBytes, bool bWrite)
{
    const FakeDiskConfig& disk = m_disks[open.nDisk];
    const ULONGLONG nSector = disk.nBlockLength;
    LARGE_INTEGER zero = {}, pos = {}, size = {};
    SetFilePointerEx(hDevice, zero, &pos, FILE_CURRENT);
    GetFileSizeEx(hDevice, &size);
    const ULONGLONG nStart = ULONGLONG(pos.QuadPart), nEnd = nStart + nBytes;
    if (nStart % nSector || nBytes % nSector) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const ULONGLONG nFail = bWrite ? disk.nFailWriteSector : disk.nFailReadSector;
    if (nFail != ~0ull && nFail * nSector < nEnd && nFail * nSector >= nStart) {
        SetLastError(disk.dwFailError);
        return false;
    }
    if (!bWrite)
        return true;
    // The medium ends where the image ends.
    if (nEnd > ULONGLONG(size.QuadPart)) {
        SetLastError(ERROR_SECTOR_NOT_FOUND);
        return false;
    }
    for (wchar_t chLetter : disk.volumes) {
        auto [nOffset, nLength] = VolumeRange(disk, chLetter, ULONGLONG(size.QuadPart));
        bool bOverlaps = nStart < nOffset + nLength && nOffset < nEnd;
        if (bOverlaps && !LockAliveLocked(m_volumeStates[{open.nDisk, chLetter}])) {
            // The system keeps raw writes out of a volume that a file system holds.
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
    }
    return true;
}

BOOL FakeDeviceStack::ReadDevice(HANDLE hDevice, void* pBuffer, DWORD nBytes, DWORD* pnRead)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_handles.find(hDevice);
        if (it != m_handles.end()) {
            if (pnRead)
                *pnRead = 0;
            if (it->second.bVolume) {
                SetLastError(ERROR_INVALID_FUNCTION);
                return FALSE;
            }
            if (!CheckTransfer(it->second, hDevice, nBytes, false))
                return FALSE;
        }
    }
    return IDeviceIo::ReadDevice(hDevice, pBuffer, nBytes, pnRead);
}

BOOL FakeDeviceStack::WriteDevice(HANDLE hDevice, const void* pBuffer, DWORD nBytes, DWORD* pnWritten)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_handles.find(hDevice);
        if (it != m_handles.end()) {
            if (pnWritten)
                *pnWritten = 0;
            if (it->second.bVolume) {
                SetLastError(ERROR_INVALID_FUNCTION);
                return FALSE;
            }
            if (!CheckTransfer(it->second, hDevice, nBytes, true))
                return FALSE;
        }
    }
    return IDeviceIo::WriteDevice(hDevice, pBuffer, nBytes, pnWritten);
}

void FakeDeviceStack::EnumDiskInterfaces(std::vector<DiskInterfaceInfo>& arrOut)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (const FakeDiskConfig& disk : m_disks)
        arrOut.push_back(DiskInterfaceInfo{disk.strDevicePath, disk.strInstanceId, disk.strParentInstanceId});
}

bool FakeDeviceStack::Execute(const FakeDiskConfig& disk, HANDLE hImage, const BYTE* pCdb, std::vector<BYTE>& response)
{
    response.clear();
    if (disk.checkConditionOps.count(pCdb[0]))
        return false;
    ULONGLONG nBlocks = disk.nReportedBlocks;
    if (nBlocks == 0) {
        LARGE_INTEGER size = {};
        GetFileSizeEx(hImage, &size);
        nBlocks = ULONGLONG(size.QuadPart) / disk.nBlockLength;
    }
    switch (pCdb[0]) {
    case 0x12: {  // INQUIRY
        response.assign(38, 0);
        response[0] = 0x00;  // direct-access block device
        response[1] = 0x80;  // removable medium
        response[2] = 0x05;
        response[3] = 0x02;
        response[4] = 38 - 5;
        std::string vendor = Padded(disk.vendor, 8), product = Padded(disk.product, 16);
        memcpy(&response[8], vendor.data(), 8);
        memcpy(&response[16], product.data(), 16);
        memcpy(&response[32], "1.00", 4);
        if (disk.bBridge) {
            response[36] = 0x71;
            response[37] = 0x3E;
        }
        response.resize(std::min<size_t>(response.size(), pCdb[4]));
        return true;
    }
    case 0x25: {  // READ CAPACITY (10)
        response.assign(8, 0);
        ULONGLONG nLast = nBlocks ? nBlocks - 1 : 0xFFFFFFFFull;
        PutBigEndian32(&response[0], disk.bCapacity10Saturated || nLast > 0xFFFFFFFEull ? 0xFFFFFFFFu : DWORD(nLast));
        PutBigEndian32(&response[4], disk.nBlockLength);
        return true;
    }
    case 0x9E: {  // SERVICE ACTION IN (16)
        if ((pCdb[1] & 0x1F) != 0x10)
            return false;
        response.assign(32, 0);
        ULONGLONG nLast = nBlocks - 1;  // an empty disk reports all ones, as it has no last block
        for (int i = 0; i < 8; ++i)
            response[i] = BYTE(nLast >> (56 - 8 * i));
        PutBigEndian32(&response[8], disk.nBlockLength);
        DWORD nAlloc = (DWORD(pCdb[10]) << 24) | (DWORD(pCdb[11]) << 16) | (DWORD(pCdb[12]) << 8) | pCdb[13];
        response.resize(std::min<size_t>(response.size(), nAlloc));
        return true;
    }
    default:
        return false;  // invalid command operation code
    }
}

BOOL FakeDeviceStack::PassThrough(const Open& open, HANDLE hDevice, bool bDirect, void* pIn, DWORD nInSize, void* pOut,
                                  DWORD nOutSize, DWORD* pnReturned)
{
    const FakeDiskConfig& disk = m_disks[open.nDisk];
    (bDirect ? m_nDirect : m_nBuffered)++;
    if (open.bVolume || (bDirect ? disk.bDirectFails : disk.bBufferedFails)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    // Both headers share their layout up to the data pointer/offset.
    const size_t nHeader = bDirect ? sizeof(SCSI_PASS_THROUGH_DIRECT) : sizeof(SCSI_PASS_THROUGH);
    if (!pIn || !pOut || nInSize < nHeader || nOutSize < nHeader) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* pHead = static_cast<SCSI_PASS_THROUGH*>(pOut);
    memmove(pOut, pIn, std::min(nInSize, nOutSize));
    if (pHead->Length != nHeader || pHead->CdbLength == 0 || pHead->CdbLength > 16 ||
        pHead->DataIn != SCSI_IOCTL_DATA_IN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BYTE* pData;
    if (bDirect) {
        pData = static_cast<BYTE*>(static_cast<SCSI_PASS_THROUGH_DIRECT*>(pOut)->DataBuffer);
        if (pHead->DataTransferLength && !pData) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    } else {
        // The data has to lie inside the request the caller handed over.
        if (pHead->DataBufferOffset > nOutSize || pHead->DataTransferLength > nOutSize - pHead->DataBufferOffset) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        pData = static_cast<BYTE*>(pOut) + pHead->DataBufferOffset;
    }
    std::vector<BYTE> response;
    if (Execute(disk, hDevice, pHead->Cdb, response)) {
        DWORD n = std::min<DWORD>(pHead->DataTransferLength, DWORD(response.size()));
        auto limit = disk.shortReplies.find(pHead->Cdb[0]);
        if (limit != disk.shortReplies.end())
            n = std::min(n, limit->second);
        if (n)
            memcpy(pData, response.data(), n);
        pHead->DataTransferLength = n;
        pHead->ScsiStatus = 0;
    } else {
        pHead->DataTransferLength = 0;
        pHead->ScsiStatus = kCheckCondition;
        // Fixed-format sense: ILLEGAL REQUEST, invalid command operation code.
        if (pHead->SenseInfoLength >= 18 && pHead->SenseInfoOffset + 18 <= nOutSize) {
            BYTE* pSense = static_cast<BYTE*>(pOut) + pHead->SenseInfoOffset;
            memset(pSense, 0, 18);
            pSense[0] = 0x70;
            pSense[2] = 0x05;
            pSense[7] = 10;
            pSense[12] = 0x20;
        }
    }
    if (pnReturned)
        *pnReturned = bDirect ? DWORD(nHeader) : pHead->DataBufferOffset + pHead->DataTransferLength;
    return TRUE;
}

BOOL FakeDeviceStack::IoControl(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD nInSize, void* pOut, DWORD nOutSize,
                                DWORD* pnReturned)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_handles.find(hDevice);
    if (it == m_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const Open open = it->second;
    const FakeDiskConfig& disk = m_disks[open.nDisk];
    if (pnReturned)
        *pnReturned = 0;
    switch (dwCode) {
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        if (disk.bNoDeviceNumber) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        if (!pOut || nOutSize < sizeof(STORAGE_DEVICE_NUMBER)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        STORAGE_DEVICE_NUMBER sdn = {FILE_DEVICE_DISK, disk.nDeviceNumber, open.bVolume ? 1ul : 0ul};
        memcpy(pOut, &sdn, sizeof(sdn));
        if (pnReturned)
            *pnReturned = sizeof(sdn);
        return TRUE;
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY: {
        if (disk.bGeometryFails) {
            SetLastError(ERROR_NOT_READY);
            return FALSE;
        }
        if (!pOut || nOutSize < sizeof(DISK_GEOMETRY)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        DISK_GEOMETRY g = disk.geometry;
        if (g.TracksPerCylinder == 0) {
            LARGE_INTEGER size = {};
            GetFileSizeEx(hDevice, &size);
            g.MediaType = FixedMedia;
            g.TracksPerCylinder = 255;
            g.SectorsPerTrack = 63;
            g.BytesPerSector = 512;
            g.Cylinders.QuadPart = size.QuadPart / (255 * 63 * 512);
        }
        memcpy(pOut, &g, sizeof(g));
        if (pnReturned)
            *pnReturned = sizeof(g);
        return TRUE;
    }
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
        if (!open.bVolume) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        if (!pOut || nOutSize < sizeof(VOLUME_DISK_EXTENTS)) {
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        WIN32_FILE_ATTRIBUTE_DATA image = {};
        GetFileAttributesExW(disk.strImagePath, GetFileExInfoStandard, &image);
        auto [nOffset, nLength] = VolumeRange(disk, open.chLetter,
                                              (ULONGLONG(image.nFileSizeHigh) << 32) | image.nFileSizeLow);
        VOLUME_DISK_EXTENTS extents = {};
        extents.NumberOfDiskExtents = 1;
        extents.Extents[0].DiskNumber = disk.nDeviceNumber;
        extents.Extents[0].StartingOffset.QuadPart = LONGLONG(nOffset);
        extents.Extents[0].ExtentLength.QuadPart = LONGLONG(nLength);
        memcpy(pOut, &extents, sizeof(extents));
        if (pnReturned)
            *pnReturned = sizeof(extents);
        return TRUE;
    }
    case FSCTL_LOCK_VOLUME:
    case FSCTL_DISMOUNT_VOLUME: {
        if (!open.bVolume) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        VolumeState& state = m_volumeStates[{open.nDisk, open.chLetter}];
        if (dwCode == FSCTL_DISMOUNT_VOLUME) {
            state.bDismounted = true;
            return TRUE;
        }
        if (disk.volumesInUse.find(open.chLetter) != std::wstring::npos ||
            (LockAliveLocked(state) && state.strLockToken != open.strToken)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        state.strLockToken = open.strToken;
        return TRUE;
    }
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return PassThrough(open, hDevice, true, pIn, nInSize, pOut, nOutSize, pnReturned);
    case IOCTL_SCSI_PASS_THROUGH:
        return PassThrough(open, hDevice, false, pIn, nInSize, pOut, nOutSize, pnReturned);
    default:
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
}

// ---------------------------------------------------------------------------------------

MessageCapture::MessageCapture()
{
    SetDebugMessageSinkForTesting([this](int, const CString& strText) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_texts.push_back(strText);
    });
}

MessageCapture::~MessageCapture()
{
    SetDebugMessageSinkForTesting(nullptr);
}

std::vector<CString> MessageCapture::Texts()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_texts;
}

size_t MessageCapture::Count()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_texts.size();
}

TempFolder::TempFolder()
{
    static LONG s_nCounter = 0;
    wchar_t szTemp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, szTemp);
    m_strDir.Format(L"%lsusbtest_%lu_%ld", szTemp, GetCurrentProcessId(), InterlockedIncrement(&s_nCounter));
    CreateDirectoryW(m_strDir, nullptr);
}

TempFolder::~TempFolder()
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(m_strDir + L"\\*", &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(m_strDir + L"\\" + fd.cFileName);
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    RemoveDirectoryW(m_strDir);
}

CString TempFolder::Path(const wchar_t* pszName) const
{
    return m_strDir + L"\\" + pszName;
}

bool WritePatternImage(const CString& strPath, ULONGLONG nSize, DWORD nSeed)
{
    HANDLE h = CreateFileW(strPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    std::vector<BYTE> chunk(1 << 20);
    bool bOk = true;
    for (ULONGLONG nOffset = 0; bOk && nOffset < nSize;) {
        DWORD n = DWORD(std::min<ULONGLONG>(chunk.size(), nSize - nOffset));
        for (DWORD i = 0; i < n; i += 4) {
            DWORD v = DWORD((nOffset + i) / 4) * 2654435761u ^ nSeed;
            memcpy(&chunk[i], &v, std::min<DWORD>(4, n - i));
        }
        DWORD nWritten = 0;
        bOk = WriteFile(h, chunk.data(), n, &nWritten, nullptr) && nWritten == n;
        nOffset += n;
    }
    CloseHandle(h);
    return bOk;
}

std::vector<BYTE> ReadWholeFile(const CString& strPath)
{
    std::vector<BYTE> data;
    HANDLE h = CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    LARGE_INTEGER size = {};
    GetFileSizeEx(h, &size);
    data.resize(size_t(size.QuadPart));
    DWORD nRead = 0;
    if (!data.empty() && (!ReadFile(h, data.data(), DWORD(data.size()), &nRead, nullptr) || nRead != data.size()))
        data.clear();
    CloseHandle(h);
    return data;
}
