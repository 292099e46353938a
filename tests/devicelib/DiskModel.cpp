// The disk model: answers the disk utilities' requests as the system's disks, volumes and tools do.
#include "DiskModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

std::mutex g_messageLock;
std::vector<std::string> g_messages;

void CaptureMessage(const char* pszText, const char* pszCaption, UINT)
{
    std::lock_guard<std::mutex> lock(g_messageLock);
    g_messages.push_back(std::string(pszCaption) + "|" + pszText);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

const std::string kVolumePrefix = "\\\\?\\volume{disk-model-";

std::string VolumeGuidName(char letter)
{
    return std::string("\\\\?\\Volume{disk-model-") + letter + "}\\";
}

void Put32(BYTE* p, DWORD v)
{
    memcpy(p, &v, 4);
}

DWORD Get32(const BYTE* p)
{
    DWORD v;
    memcpy(&v, p, 4);
    return v;
}

const BYTE kGood = 0, kCheckCondition = 2;
const unsigned long long kBeyondSectors = 64;   // sectors the drive keeps past the capacity it shows

} // namespace

CDiskModelScope::CDiskModelScope(CDiskModel& model)
{
    m_pOldIo = SetDeviceIo(&model);
    m_pOldPlatform = SetDiskPlatform(&model);
    m_pOldSink = SetZedoMessageSink(CaptureMessage);
    std::lock_guard<std::mutex> lock(g_messageLock);
    g_messages.clear();
}

CDiskModelScope::~CDiskModelScope()
{
    SetDeviceIo(m_pOldIo);
    SetDiskPlatform(m_pOldPlatform);
    SetZedoMessageSink(m_pOldSink);
}

std::vector<std::string> CDiskModelScope::Messages()
{
    std::lock_guard<std::mutex> lock(g_messageLock);
    return g_messages;
}

CDiskModel::CDiskModel()
{
    char szTemp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof(szTemp), szTemp);
    for (int i = 0; m_folder.empty(); ++i) {
        char szName[MAX_PATH + 64];
        snprintf(szName, sizeof(szName), "%sdiskmodel-%lu-%d", szTemp, GetCurrentProcessId(), i);
        if (CreateDirectoryA(szName, nullptr))
            m_folder = szName;
    }
    currentFolder = m_folder;
    // Disk 0 holds the system's volume C:.
    AddDisk(0, 512, 2 * 1024 * 1024);
    AddVolume('C', 0, 2048, 2 * 1024 * 1024 - 2048);
}

CDiskModel::~CDiskModel()
{
    for (auto& [number, disk] : m_disks) {
        if (disk.image != INVALID_HANDLE_VALUE)
            CloseHandle(disk.image);
        if (!disk.keepImage)
            DeleteFileA(disk.imagePath.c_str());
    }
    // The roots of the volumes and the files a test left there.
    for (char c = 'A'; c <= 'Z'; ++c) {
        std::string root = m_folder + "\\" + c;
        WIN32_FIND_DATAA data;
        HANDLE hFind = FindFirstFileA((root + "\\*").c_str(), &data);
        if (hFind != INVALID_HANDLE_VALUE) {
            do {
                std::string name = data.cFileName;
                if (name == "." || name == "..")
                    continue;
                std::string path = root + "\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryA(path.c_str());
                else
                    DeleteFileA(path.c_str());
            } while (FindNextFileA(hFind, &data));
            FindClose(hFind);
        }
        RemoveDirectoryA(root.c_str());
    }
    RemoveDirectoryA(m_folder.c_str());
}

ModelDisk& CDiskModel::AddDisk(DWORD number, DWORD bytesPerSector, unsigned long long sectors,
                               const std::string& imagePath)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ModelDisk& disk = m_disks[number];
    disk.number = number;
    disk.bytesPerSector = bytesPerSector;
    disk.sectors = sectors;
    disk.logicalSectorSize = bytesPerSector;
    char szPath[MAX_PATH + 32];
    snprintf(szPath, sizeof(szPath), "%s\\disk%lu.img", m_folder.c_str(), number);
    disk.imagePath = imagePath.empty() ? std::string(szPath) : imagePath;
    disk.keepImage = !imagePath.empty();
    disk.image = CreateFileA(disk.imagePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             disk.keepImage ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = static_cast<LONGLONG>(sectors * bytesPerSector);
    SetFilePointerEx(disk.image, size, nullptr, FILE_BEGIN);
    SetEndOfFile(disk.image);
    // IDENTIFY: word 106 valid (bits 15-14 = 01), logical sectors of 512 bytes (bit 12 clear).
    for (size_t i = 0; i < disk.identify.size(); ++i)
        disk.identify[i] = static_cast<BYTE>(i * 3);
    disk.identify[212] = 0x03;
    disk.identify[213] = 0x60;   // 0x6003: valid, 8 logical sectors per physical sector
    if (bytesPerSector == 4096)
        disk.logicalSectorSize = 512;
    for (size_t i = 0; i < disk.smart.size(); ++i)
        disk.smart[i] = static_cast<BYTE>(0xA0 + i);
    return disk;
}

ModelVolumeInfo& CDiskModel::AddVolume(char letter, DWORD number, unsigned long long start, unsigned long long count,
                                       BYTE type, bool active)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ModelDisk& disk = m_disks.at(number);
    int index = static_cast<int>(disk.layout.size());
    WriteMbrEntry(disk, index, start, count, type, active);
    ReadLayout(disk);
    ModelVolumeInfo& volume = m_volumes[letter];
    volume = ModelVolumeInfo();
    volume.letter = letter;
    volume.disk = number;
    volume.partition = static_cast<size_t>(index);
    return volume;
}

ModelDisk& CDiskModel::Disk(DWORD number)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_disks.at(number);
}

ModelVolumeInfo& CDiskModel::Volume(char letter)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_volumes.at(letter);
}

bool CDiskModel::HasVolume(char letter)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = m_volumes.find(letter);
    if (it == m_volumes.end())
        return false;
    auto disk = m_disks.find(it->second.disk);
    return disk != m_disks.end() && it->second.partition < disk->second.layout.size();
}

bool CDiskModel::ImageIo(ModelDisk& disk, bool bWrite, unsigned long long offset, void* p, DWORD length)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(disk.image, at, nullptr, FILE_BEGIN))
        return false;
    DWORD done = 0;
    if (bWrite) {
        // Zeros over zeros are not written, so that an image of terabytes stays sparse while a
        // format clears its file allocation tables.
        const BYTE* data = static_cast<const BYTE*>(p);
        if (std::all_of(data, data + length, [](BYTE b) { return b == 0; })) {
            std::vector<BYTE> old(length);
            if (ReadFile(disk.image, old.data(), length, &done, nullptr) &&
                std::all_of(old.begin(), old.begin() + done, [](BYTE b) { return b == 0; }))
                return true;
            if (!SetFilePointerEx(disk.image, at, nullptr, FILE_BEGIN))
                return false;
        }
        return WriteFile(disk.image, p, length, &done, nullptr) && done == length;
    }
    if (!ReadFile(disk.image, p, length, &done, nullptr))
        return false;
    memset(static_cast<BYTE*>(p) + done, 0, length - done);
    return true;
}

std::vector<BYTE> CDiskModel::ReadDisk(DWORD number, unsigned long long offset, DWORD length)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::vector<BYTE> data(length);
    ImageIo(m_disks.at(number), false, offset, data.data(), length);
    return data;
}

void CDiskModel::WriteDisk(DWORD number, unsigned long long offset, const std::vector<BYTE>& data)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::vector<BYTE> copy = data;
    ImageIo(m_disks.at(number), true, offset, copy.data(), static_cast<DWORD>(copy.size()));
}

void CDiskModel::WriteMbrEntry(ModelDisk& disk, int index, unsigned long long start, unsigned long long count,
                               BYTE type, bool active)
{
    std::vector<BYTE> sector(disk.bytesPerSector);
    ImageIo(disk, false, 0, sector.data(), disk.bytesPerSector);
    BYTE* e = sector.data() + 446 + 16 * index;
    memset(e, 0, 16);
    e[0] = active ? 0x80 : 0;
    e[4] = type;
    Put32(e + 8, static_cast<DWORD>(start));
    Put32(e + 12, static_cast<DWORD>(count > 0xFFFFFFFF ? 0xFFFFFFFF : count));
    sector[510] = 0x55;
    sector[511] = 0xAA;
    ImageIo(disk, true, 0, sector.data(), disk.bytesPerSector);
}

void CDiskModel::ReadLayout(ModelDisk& disk)
{
    if (disk.gpt)
        return;   // the GPT table is kept as the partition tool left it
    disk.layout.clear();
    std::vector<BYTE> sector(disk.bytesPerSector);
    ImageIo(disk, false, 0, sector.data(), disk.bytesPerSector);
    if (sector[510] != 0x55 || sector[511] != 0xAA)
        return;
    for (int i = 0; i < 4; ++i) {
        const BYTE* e = sector.data() + 446 + 16 * i;
        if (e[4] == 0)
            continue;
        ModelPartition part;
        part.type = e[4];
        part.start = Get32(e + 8);
        part.count = Get32(e + 12);
        part.number = static_cast<DWORD>(i + 1);
        disk.layout.push_back(part);
    }
}

unsigned long long CDiskModel::VolumeOffset(char letter)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ModelVolumeInfo& v = m_volumes.at(letter);
    ModelDisk& d = m_disks.at(v.disk);
    return v.partition < d.layout.size() ? d.layout[v.partition].start * d.bytesPerSector : 0;
}

unsigned long long CDiskModel::VolumeLength(char letter)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ModelVolumeInfo& v = m_volumes.at(letter);
    ModelDisk& d = m_disks.at(v.disk);
    return v.partition < d.layout.size() ? d.layout[v.partition].count * d.bytesPerSector : 0;
}

std::vector<AtaCommand> CDiskModel::AtaCommands()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_ata;
}

std::vector<ToolCall> CDiskModel::ToolCalls()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_toolCalls;
}

int CDiskModel::OpenHandles()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return static_cast<int>(m_handles.size());
}

// ---- Device side ----

HANDLE CDiskModel::OpenDevice(const char* pszPath, DWORD dwAccess, DWORD dwShare)
{
    return OpenDisk(pszPath, dwAccess, dwShare, 0);
}

HANDLE CDiskModel::OpenDisk(const char* pszPath, DWORD, DWORD, DWORD dwFlags)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const std::string path = Lower(pszPath ? pszPath : "");
    Open open{Open::Disk};
    open.flags = dwFlags;
    unsigned long number = 0;
    char letter = 0;
    if (sscanf(path.c_str(), "\\\\.\\physicaldrive%lu", &number) == 1) {
        if (!m_disks.count(number)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        open.disk = number;
    } else if (path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':') {
        letter = static_cast<char>(toupper(static_cast<unsigned char>(path[4])));
        if (!HasVolume(letter) || m_volumes[letter].lockOwner) {
            SetLastError(m_volumes.count(letter) ? ERROR_SHARING_VIOLATION : ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        open.kind = Open::Volume;
        open.letter = letter;
        open.disk = m_volumes[letter].disk;
    } else if (path.compare(0, kVolumePrefix.size(), kVolumePrefix) == 0 && path.size() > kVolumePrefix.size()) {
        letter = static_cast<char>(toupper(static_cast<unsigned char>(path[kVolumePrefix.size()])));
        if (!HasVolume(letter)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        open.kind = Open::VolumeName;
        open.letter = letter;
        open.disk = m_volumes[letter].disk;
    } else {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_handles[h] = open;
    return h;
}

BOOL CDiskModel::CloseDevice(HANDLE hDevice)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = m_handles.find(hDevice);
    if (it == m_handles.end())
        return FALSE;
    // Closing a handle ends its lock.
    for (auto& [letter, volume] : m_volumes)
        if (volume.lockOwner == hDevice)
            volume.lockOwner = nullptr;
    m_handles.erase(it);
    return TRUE;
}

BOOL CDiskModel::VolumeNameForMountPoint(const char* pszMountPoint, char* pszName, DWORD dwChars)
{
    if (!pszMountPoint || strlen(pszMountPoint) != 3 || pszMountPoint[1] != ':')
        return FALSE;
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(pszMountPoint[0])));
    if (!HasVolume(letter)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::string name = VolumeGuidName(letter);
    if (name.size() + 1 > dwChars)
        return FALSE;
    memcpy(pszName, name.c_str(), name.size() + 1);
    return TRUE;
}

bool CDiskModel::Transfer(HANDLE h, bool bWrite, unsigned long long offset, void* p, DWORD length, DWORD* pdwDone)
{
    *pdwDone = 0;
    char letter = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        auto it = m_handles.find(h);
        if (it == m_handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        const Open& open = it->second;
        ModelDisk& disk = m_disks.at(open.disk);
        const DWORD bps = disk.bytesPerSector;
        // Unbuffered transfers move whole sectors.
        if (offset % bps || length % bps) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        unsigned long long base = 0, limit = disk.sectors * bps;
        if (open.kind == Open::Volume) {
            ModelVolumeInfo& volume = m_volumes.at(open.letter);
            if (volume.lockOwner && volume.lockOwner != h) {
                SetLastError(ERROR_LOCK_VIOLATION);
                return false;
            }
            if (bWrite && volume.lockOwner != h) {
                SetLastError(ERROR_ACCESS_DENIED);   // raw writes to a mounted volume need its lock
                return false;
            }
            base = VolumeOffset(open.letter);
            limit = VolumeLength(open.letter);
            letter = open.letter;
        } else if (open.kind != Open::Disk) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return false;
        }
        if (offset > limit || length > limit - offset) {
            SetLastError(ERROR_SECTOR_NOT_FOUND);
            return false;
        }
        if (!ImageIo(disk, bWrite, base + offset, p, length))
            return false;
        if (bWrite && open.kind == Open::Disk && offset == 0) {
            ++disk.sector0Writes;
            disk.events.push_back("write0");
        }
        if (open.kind == Open::Volume) {
            if (bWrite)
                ++m_volumeWrites;
            long long perMiB = bWrite ? writeTicksPerMiB : readTicksPerMiB;
            clock += static_cast<long long>(double(length) / 1048576.0 * double(perMiB));
        }
        *pdwDone = length;
    }
    if (letter && onVolumeTransfer)
        onVolumeTransfer(bWrite, offset, length);
    return true;
}

BOOL CDiskModel::ReadAt(HANDLE hDevice, unsigned long long ullOffset, void* pBuffer, DWORD dwLength, DWORD* pdwDone)
{
    return Transfer(hDevice, false, ullOffset, pBuffer, dwLength, pdwDone);
}

BOOL CDiskModel::WriteAt(HANDLE hDevice, unsigned long long ullOffset, const void* pBuffer, DWORD dwLength,
                         DWORD* pdwDone)
{
    return Transfer(hDevice, true, ullOffset, const_cast<void*>(pBuffer), dwLength, pdwDone);
}

BOOL CDiskModel::Control(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD dwInLength, void* pOut, DWORD dwOutLength,
                         DWORD* pdwReturned)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *pdwReturned = 0;
    auto it = m_handles.find(hDevice);
    if (it == m_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const Open open = it->second;
    ModelDisk& disk = m_disks.at(open.disk);
    ModelVolumeInfo* volume = open.letter ? &m_volumes.at(open.letter) : nullptr;
    auto answer = [&](const void* p, DWORD n) -> BOOL {
        if (dwOutLength < n) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        auto limit = shortControls.find(dwCode);
        if (limit != shortControls.end())
            n = std::min(n, limit->second);
        memcpy(pOut, p, n);
        *pdwReturned = n;
        return TRUE;
    };
    DISK_GEOMETRY geometry = {};
    geometry.BytesPerSector = disk.bytesPerSector;
    geometry.SectorsPerTrack = 63;
    geometry.TracksPerCylinder = 255;
    geometry.MediaType = FixedMedia;
    geometry.Cylinders.QuadPart = static_cast<LONGLONG>(disk.sectors / (63 * 255));

    switch (dwCode) {
    case 0x00070000: // IOCTL_DISK_GET_DRIVE_GEOMETRY
        return answer(&geometry, sizeof(geometry));
    case 0x000700A0: { // IOCTL_DISK_GET_DRIVE_GEOMETRY_EX
        if (open.kind != Open::Disk)
            break;
        DISK_GEOMETRY_EX ex = {};
        ex.Geometry = geometry;
        ex.DiskSize.QuadPart = static_cast<LONGLONG>(disk.sectors * disk.bytesPerSector);
        return answer(&ex, sizeof(ex));
    }
    case 0x00070050: { // IOCTL_DISK_GET_DRIVE_LAYOUT_EX
        if (open.kind != Open::Disk)
            break;
        const size_t entries = disk.gpt ? disk.layout.size() : 4;
        const size_t need = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                            entries * sizeof(PARTITION_INFORMATION_EX);
        if (dwOutLength < need) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::vector<BYTE> buffer(need, 0);
        auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
        layout->PartitionStyle = disk.gpt ? PARTITION_STYLE_GPT : PARTITION_STYLE_MBR;
        layout->PartitionCount = static_cast<DWORD>(entries);
        for (size_t i = 0; i < disk.layout.size() && i < entries; ++i) {
            PARTITION_INFORMATION_EX& e = layout->PartitionEntry[i];
            e.PartitionStyle = static_cast<PARTITION_STYLE>(layout->PartitionStyle);
            e.StartingOffset.QuadPart = static_cast<LONGLONG>(disk.layout[i].start * disk.bytesPerSector);
            e.PartitionLength.QuadPart = static_cast<LONGLONG>(disk.layout[i].count * disk.bytesPerSector);
            e.PartitionNumber = disk.layout[i].number;
        }
        memcpy(pOut, buffer.data(), need);
        *pdwReturned = static_cast<DWORD>(need);
        return TRUE;
    }
    case 0x00070140: // IOCTL_DISK_UPDATE_PROPERTIES
        ++disk.updates;
        disk.events.push_back("update");
        ReadLayout(disk);
        return TRUE;
    case 0x00074004: // IOCTL_DISK_GET_PARTITION_INFO
    case 0x00070048: { // IOCTL_DISK_GET_PARTITION_INFO_EX
        if (!volume || volume->partition >= disk.layout.size())
            break;
        const ModelPartition& part = disk.layout[volume->partition];
        if (dwCode == 0x00074004) {
            if (disk.gpt)
                break;
            PARTITION_INFORMATION info = {};
            info.StartingOffset.QuadPart = static_cast<LONGLONG>(part.start * disk.bytesPerSector);
            info.PartitionLength.QuadPart = static_cast<LONGLONG>(part.count * disk.bytesPerSector);
            info.HiddenSectors = static_cast<DWORD>(part.start);
            info.PartitionNumber = part.number;
            info.PartitionType = part.type;
            return answer(&info, sizeof(info));
        }
        PARTITION_INFORMATION_EX info = {};
        info.PartitionStyle = disk.gpt ? PARTITION_STYLE_GPT : PARTITION_STYLE_MBR;
        info.StartingOffset.QuadPart = static_cast<LONGLONG>(part.start * disk.bytesPerSector);
        info.PartitionLength.QuadPart = static_cast<LONGLONG>(part.count * disk.bytesPerSector);
        info.PartitionNumber = part.number;
        return answer(&info, sizeof(info));
    }
    case 0x0007C008: // IOCTL_DISK_SET_PARTITION_INFO
        if (!volume || disk.gpt || dwInLength < 1 || volume->partition >= disk.layout.size())
            break;
        volume->setType = static_cast<BYTE*>(pIn)[0];
        {
            const ModelPartition part = disk.layout[volume->partition];
            std::vector<BYTE> sector(disk.bytesPerSector);
            ImageIo(disk, false, 0, sector.data(), disk.bytesPerSector);
            sector[446 + 16 * (part.number - 1) + 4] = volume->setType;
            ImageIo(disk, true, 0, sector.data(), disk.bytesPerSector);
            disk.layout[volume->partition].type = volume->setType;
        }
        return TRUE;
    case 0x00090018: // FSCTL_LOCK_VOLUME
        if (!volume || volume->lockRefused || (volume->lockOwner && volume->lockOwner != hDevice)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        volume->lockOwner = hDevice;
        ++volume->locks;
        return TRUE;
    case 0x0009001C: // FSCTL_UNLOCK_VOLUME
        if (!volume || volume->lockOwner != hDevice) {
            SetLastError(ERROR_NOT_LOCKED);
            return FALSE;
        }
        volume->lockOwner = nullptr;
        return TRUE;
    case 0x00090020: // FSCTL_DISMOUNT_VOLUME
        if (volume) {
            ++volume->dismounts;
        } else {
            disk.events.push_back("dismount");
        }
        return TRUE;
    case ZEDO_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
        if (!volume || open.kind != Open::VolumeName || !volume->extents)
            break;
        struct {
            DWORD count, pad, diskNumber, pad2;
            LONGLONG start, length;
        } extents = {1, 0, volume->disk, 0, static_cast<LONGLONG>(VolumeOffset(volume->letter)),
                     static_cast<LONGLONG>(VolumeLength(volume->letter))};
        return answer(&extents, sizeof(extents));
    }
    case ZEDO_IOCTL_SCSI_PASS_THROUGH:
        if (open.kind != Open::Disk)
            break;
        return Ata(disk, static_cast<BYTE*>(pIn), dwInLength, static_cast<BYTE*>(pOut), dwOutLength, pdwReturned);
    default:
        break;
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL CDiskModel::Ata(ModelDisk& disk, BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD* pdwReturned)
{
    if (!in || inLength < sizeof(ZedoPassThroughHeader)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    AtaCommand record;
    record.disk = disk.number;
    memcpy(&record.header, in, sizeof(record.header));
    record.inLength = inLength;
    record.outLength = outLength;
    const ZedoPassThroughHeader& h = record.header;
    record.cdb.assign(h.Cdb, h.Cdb + (h.CdbLength <= 16 ? h.CdbLength : 16));
    const DWORD length = h.DataTransferLength;
    if (h.DataIn == ZEDO_DATA_OUT && h.DataBuffer + length <= inLength)
        record.dataOut.assign(in + h.DataBuffer, in + h.DataBuffer + length);
    m_ata.push_back(record);
    if (!out || outLength < sizeof(ZedoPassThroughHeader) || h.DataBuffer + length > inLength ||
        (h.DataIn == ZEDO_DATA_IN && h.DataBuffer + length > outLength)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const BYTE* cdb = h.Cdb;
    BYTE status = kCheckCondition;
    std::vector<BYTE> data;
    const bool dataIn = h.DataIn == ZEDO_DATA_IN;
    if (disk.forcedStatus) {
        status = disk.forcedStatus;
    } else if (h.CdbLength == 12 && cdb[0] == 0xA1) {
        const bool cdbIn = cdb[1] == 0x08 && cdb[2] == 0x0D;
        const bool cdbOut = cdb[1] == 0x0A && cdb[2] == 0x05;
        const BYTE command = cdb[9], features = cdb[3];
        // Every 28-bit command of the library moves one 512-byte sector.
        if (length == 512 && ((dataIn && cdbIn) || (!dataIn && cdbOut))) {
            if (command == 0xEC && dataIn && !disk.identifyFails) {
                data.assign(disk.identify.begin(), disk.identify.end());
                status = kGood;
            } else if (command == 0xB0 && cdb[6] == 0x4F && cdb[7] == 0xC2) {
                if (features == 0xD0 && dataIn && cdb[4] == 0) {
                    data.assign(disk.smart.begin(), disk.smart.end());
                    status = kGood;
                } else if (features == 0xD5 && dataIn && cdb[4] == 1) {
                    auto log = disk.logs.find(cdb[5]);
                    data.assign(512, 0);
                    if (log != disk.logs.end())
                        std::copy(log->second.begin(), log->second.end(), data.begin());
                    status = kGood;
                } else if (features == 0xD6 && !dataIn && cdb[4] == 1) {
                    std::copy(in + h.DataBuffer, in + h.DataBuffer + 512, disk.logs[cdb[5]].begin());
                    status = kGood;
                }
            }
        }
    } else if (h.CdbLength == 16 && cdb[0] == 0x85) {
        const BYTE command = cdb[14];
        const DWORD count = (DWORD(cdb[5]) << 8) | cdb[6];
        const unsigned long long lba = (static_cast<unsigned long long>(cdb[7]) << 24) | cdb[8] |
                                       (static_cast<unsigned long long>(cdb[9]) << 32) |
                                       (static_cast<unsigned long long>(cdb[10]) << 8) |
                                       (static_cast<unsigned long long>(cdb[11]) << 40) |
                                       (static_cast<unsigned long long>(cdb[12]) << 16);
        const bool read = command == 0x25 && dataIn && cdb[1] == 0x15 && cdb[2] == 0x0E;
        const bool write = command == 0x35 && !dataIn && cdb[1] == 0x17 && cdb[2] == 0x06;
        const DWORD logical = disk.logicalSectorSize;
        const unsigned long long capacity = disk.sectors * disk.bytesPerSector / logical;
        if ((read || write) && count > 0 && length == count * logical && lba + count <= capacity + kBeyondSectors) {
            status = kGood;
            if (read)
                data.assign(length, 0);
            for (DWORD i = 0; i < count; ++i) {
                const unsigned long long at = lba + i;
                BYTE* p = read ? data.data() + size_t(i) * logical : in + h.DataBuffer + size_t(i) * logical;
                if (at < capacity) {
                    ImageIo(disk, write, at * logical, p, logical);
                } else if (write) {
                    disk.beyond[at].assign(p, p + logical);
                } else {
                    auto it = disk.beyond.find(at);
                    if (it != disk.beyond.end())
                        memcpy(p, it->second.data(), logical);
                }
            }
        }
    }
    reinterpret_cast<ZedoPassThroughHeader*>(out)->ScsiStatus = status;
    if (status == kGood && dataIn && !data.empty()) {
        size_t moved = std::min<size_t>(data.size(), length);
        auto limit = disk.shortReplies.find(h.CdbLength == 16 ? cdb[14] : cdb[9]);
        if (limit != disk.shortReplies.end())
            moved = std::min<size_t>(moved, limit->second);
        memcpy(out + h.DataBuffer, data.data(), moved);
        reinterpret_cast<ZedoPassThroughHeader*>(out)->DataTransferLength = static_cast<DWORD>(moved);
    }
    *pdwReturned = outLength;
    return TRUE;
}

// ---- Platform side ----

void CDiskModel::RunDiskpart(const std::string& script)
{
    ModelDisk* disk = nullptr;
    bool active = false;
    size_t partition = 0;
    size_t pos = 0;
    while (pos < script.size()) {
        size_t end = script.find('\n', pos);
        if (end == std::string::npos)
            end = script.size();
        std::string line = Lower(script.substr(pos, end - pos));
        pos = end + 1;
        while (!line.empty() && line.front() == ' ')
            line.erase(line.begin());
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        unsigned long n = 0;
        char letter = 0;
        if (sscanf(line.c_str(), "select disk %lu", &n) == 1) {
            disk = m_disks.count(n) ? &m_disks[n] : nullptr;
        } else if (!disk) {
            continue;
        } else if (line == "clean") {
            std::vector<BYTE> zeros(disk->bytesPerSector, 0);
            ImageIo(*disk, true, 0, zeros.data(), disk->bytesPerSector);
            disk->gpt = false;
            disk->layout.clear();
            for (auto it = m_volumes.begin(); it != m_volumes.end();)
                it = it->second.disk == disk->number ? m_volumes.erase(it) : std::next(it);
        } else if (line == "convert gpt") {
            disk->gpt = true;
        } else if (line == "create partition primary") {
            const unsigned long long mib = 1048576 / disk->bytesPerSector;
            if (disk->gpt) {
                // The system's reserved partition comes first.
                disk->layout.push_back({34, 128 * mib - 34, 0, 1});
                disk->layout.push_back({129 * mib, disk->sectors - 130 * mib - diskpartShortBy, 0, 2});
            } else {
                // The tool keeps an MBR partition within the sectors a 32-bit entry reaches.
                const unsigned long long end = std::min(disk->sectors, 0x100000000ull);
                const unsigned long long count = end - diskpartStart - std::min(diskpartShortBy, end - diskpartStart);
                WriteMbrEntry(*disk, 0, diskpartStart, count, 0x07, false);
                ReadLayout(*disk);
            }
        } else if (line == "active") {
            active = true;
            if (!disk->gpt) {
                const ModelPartition part = disk->layout.at(0);
                WriteMbrEntry(*disk, 0, part.start, part.count, part.type, true);
            }
        } else if (sscanf(line.c_str(), "select partition %lu", &n) == 1) {
            partition = n ? n - 1 : 0;
        } else if (sscanf(line.c_str(), "assign letter=%c", &letter) == 1) {
            letter = static_cast<char>(toupper(static_cast<unsigned char>(letter)));
            ModelVolumeInfo& volume = m_volumes[letter];
            volume = ModelVolumeInfo();
            volume.letter = letter;
            volume.disk = disk->number;
            volume.partition = partition;
        }
    }
    (void)active;
}

ToolRun CDiskModel::RunTool(const char* pszFile, const char* pszParameters, DWORD)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ToolCall call;
    call.file = pszFile ? pszFile : "";
    call.parameters = pszParameters ? pszParameters : "";
    ToolBehaviour behaviour = tools[Lower(call.file)];
    ToolRun run;
    const std::string file = Lower(call.file);
    if (file == "diskpart.exe") {
        // " /s "path"": the script as the tool would read it.
        std::string path = call.parameters;
        size_t quote = path.find('"');
        if (quote != std::string::npos)
            path = path.substr(quote + 1, path.rfind('"') - quote - 1);
        HANDLE hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            char buffer[8192];
            DWORD read = 0;
            ReadFile(hFile, buffer, sizeof(buffer), &read, nullptr);
            call.script.assign(buffer, read);
            CloseHandle(hFile);
        }
    }
    m_toolCalls.push_back(call);
    if (behaviour.startFails)
        return run;
    run.bStarted = true;
    if (behaviour.act && !behaviour.hangs) {
        if (file == "diskpart.exe") {
            RunDiskpart(call.script);
        } else if (file == "format.com" && call.parameters.size() > 2) {
            const char letter = static_cast<char>(toupper(static_cast<unsigned char>(call.parameters[1])));
            if (HasVolume(letter) && call.parameters.find("/FS:NTFS") != std::string::npos) {
                ModelVolumeInfo& volume = m_volumes[letter];
                ModelDisk& disk = m_disks.at(volume.disk);
                std::vector<BYTE> boot(disk.bytesPerSector, 0);
                memcpy(boot.data() + 3, "NTFS    ", 8);
                ImageIo(disk, true, VolumeOffset(letter), boot.data(), disk.bytesPerSector);
                volume.ntfsLabel.clear();
            }
        } else if (file == "label.exe" && call.parameters.size() > 3) {
            const char letter = static_cast<char>(toupper(static_cast<unsigned char>(call.parameters[0])));
            if (HasVolume(letter))
                m_volumes[letter].ntfsLabel = call.parameters.substr(3);
        }
    }
    if (behaviour.hangs)
        return run;
    run.bFinished = true;
    run.dwExitCode = behaviour.exitCode;
    return run;
}

std::string CDiskModel::FileSystemOf(char letter)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!HasVolume(letter))
        return "";
    ModelDisk& disk = m_disks.at(m_volumes[letter].disk);
    std::vector<BYTE> boot(disk.bytesPerSector);
    ImageIo(disk, false, VolumeOffset(letter), boot.data(), disk.bytesPerSector);
    if (memcmp(boot.data() + 82, "FAT32   ", 8) == 0 && boot[510] == 0x55 && boot[511] == 0xAA)
        return "FAT32";
    if (memcmp(boot.data() + 3, "NTFS    ", 8) == 0)
        return "NTFS";
    return "";
}

std::string CDiskModel::LabelOf(char letter)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const std::string fs = FileSystemOf(letter);
    if (fs == "NTFS")
        return m_volumes[letter].ntfsLabel;
    if (fs != "FAT32")
        return "";
    // The label is the root directory's volume-label entry, as the system reads it.
    ModelDisk& disk = m_disks.at(m_volumes[letter].disk);
    const DWORD bps = disk.bytesPerSector;
    std::vector<BYTE> boot(bps);
    const unsigned long long base = VolumeOffset(letter);
    ImageIo(disk, false, base, boot.data(), bps);
    const DWORD reserved = boot[14] | (boot[15] << 8);
    const DWORD fats = boot[16];
    const DWORD fatSize = Get32(boot.data() + 36);
    std::vector<BYTE> root(bps);
    ImageIo(disk, false, base + (unsigned long long)(reserved + fats * fatSize) * bps, root.data(), bps);
    for (DWORD i = 0; i + 32 <= bps; i += 32) {
        if (root[i] == 0)
            break;
        if (root[i + 11] == 0x08) {
            std::string label(reinterpret_cast<char*>(&root[i]), 11);
            while (!label.empty() && label.back() == ' ')
                label.pop_back();
            return label;
        }
    }
    return "";
}

std::string CDiskModel::DriveRoot(char cLetter)
{
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(cLetter)));
    bool mounted;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        mounted = m_taken.count(letter) || !FileSystemOf(letter).empty();
    }
    if (!mounted)
        return m_folder + "\\unmounted\\" + letter + "\\";
    std::string root = m_folder + "\\" + letter;
    CreateDirectoryA(root.c_str(), nullptr);
    return root + "\\";
}

UINT CDiskModel::DriveType(char cLetter)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(cLetter)));
    return m_taken.count(letter) || HasVolume(letter) ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

BOOL CDiskModel::VolumeInformation(char cLetter, char* pszLabel, DWORD dwLabelChars, char* pszFileSystem,
                                   DWORD dwFileSystemChars)
{
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(cLetter)));
    const std::string fs = FileSystemOf(letter);
    if (fs.empty()) {
        SetLastError(ERROR_UNRECOGNIZED_VOLUME);
        return FALSE;
    }
    const std::string label = LabelOf(letter);
    lstrcpynA(pszLabel, label.c_str(), static_cast<int>(dwLabelChars));
    lstrcpynA(pszFileSystem, fs.c_str(), static_cast<int>(dwFileSystemChars));
    return TRUE;
}

BOOL CDiskModel::SetLabel(char cLetter, const char* pszLabel)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(cLetter)));
    if (FileSystemOf(letter) != "NTFS" || m_volumes[letter].labelFails)
        return FALSE;
    m_volumes[letter].ntfsLabel = pszLabel;
    return TRUE;
}

BOOL CDiskModel::DiskFreeSpace(char, DWORD* pdwSectorsPerCluster, DWORD* pdwBytesPerSector, DWORD* pdwFreeClusters,
                               DWORD* pdwTotalClusters)
{
    if (freeSpaceFails)
        return FALSE;
    *pdwSectorsPerCluster = sectorsPerCluster;
    *pdwBytesPerSector = bytesPerSectorFree;
    *pdwFreeClusters = freeClusters;
    *pdwTotalClusters = freeClusters;
    return TRUE;
}

bool CDiskModel::RescanDevices()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ++m_rescans;
    return true;
}

long long CDiskModel::Counter()
{
    if (realClock)
        return CDiskPlatform::Counter();
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return clock;
}

long long CDiskModel::CounterFrequency()
{
    return realClock ? CDiskPlatform::CounterFrequency() : 1000000;
}

void CDiskModel::Sleep(DWORD dwMs)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_sleeps.push_back(dwMs);
}
