// The bridge model: answers the library's requests as the bridge chips do.
#include "BridgeModel.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {
std::mutex g_messageLock;
std::vector<std::string> g_messages;
CDeviceIo* g_pPreviousIo = nullptr;
ZedoMessageSink g_pPreviousSink = nullptr;

void CaptureMessage(const char* pszText, const char* pszCaption, UINT)
{
    std::lock_guard<std::mutex> lock(g_messageLock);
    g_messages.push_back(std::string(pszCaption) + "|" + pszText);
}

std::string VolumeName(char letter)
{
    return std::string("\\\\?\\Volume{0000000") + letter + "}\\";
}

const BYTE kCheckCondition = 0x02;

// Device paths name the same device whatever their case.
std::string Key(const std::string& path)
{
    std::string key = path;
    for (char& c : key)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return key;
}
} // namespace

CModelScope::CModelScope(CBridgeModel& model)
{
    g_pPreviousIo = SetDeviceIo(&model);
    g_pPreviousSink = SetZedoMessageSink(CaptureMessage);
    ClearMessages();
}

CModelScope::~CModelScope()
{
    SetDeviceIo(g_pPreviousIo);
    SetZedoMessageSink(g_pPreviousSink);
}

std::vector<std::string> CModelScope::Messages()
{
    std::lock_guard<std::mutex> lock(g_messageLock);
    return g_messages;
}

void CModelScope::ClearMessages()
{
    std::lock_guard<std::mutex> lock(g_messageLock);
    g_messages.clear();
}

ModelDevice& CBridgeModel::AddDevice(const std::string& path, DWORD number)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ModelDevice& dev = m_devices[Key(path)];
    dev.path = Key(path);
    dev.number = number;
    dev.registers[0xC8FF] = 0x03;
    for (size_t i = 0; i < dev.firmware.size(); ++i)
        dev.firmware[i] = static_cast<BYTE>(i * 7 + (i >> 16));
    for (size_t i = 0; i < dev.identify.size(); ++i)
        dev.identify[i] = static_cast<BYTE>(i);
    return dev;
}

ModelDevice& CBridgeModel::AddForeignDisk(const std::string& path, DWORD number)
{
    ModelDevice& dev = AddDevice(path, number);
    dev.vendor = "OTHERCO ";
    dev.id36 = 0;
    dev.id37 = 0;
    return dev;
}

void CBridgeModel::AddVolume(char letter, std::vector<DWORD> extents, bool tooMany)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_volumes[letter] = ModelVolume{VolumeName(letter), std::move(extents), tooMany};
}

void CBridgeModel::AddInterface(const GUID& guid, const std::string& path)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_interfaces.emplace_back(guid, path);
}

void CBridgeModel::SetRegister(const std::string& path, WORD address, BYTE value)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_devices.at(Key(path)).registers[address] = value;
}

void CBridgeModel::SetRemoved(const std::string& path, bool removed)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_devices.at(Key(path)).removed = removed;
}

ModelDevice& CBridgeModel::Device(const std::string& path)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_devices.at(Key(path));
}

std::vector<ModelCommand> CBridgeModel::Commands()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_log;
}

std::vector<ModelCommand> CBridgeModel::CommandsTo(const std::string& path)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::vector<ModelCommand> result;
    for (const ModelCommand& c : m_log)
        if (c.path == Key(path))
            result.push_back(c);
    return result;
}

void CBridgeModel::ClearLog()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_log.clear();
}

int CBridgeModel::OpenHandles()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return static_cast<int>(m_handles.size());
}

HANDLE CBridgeModel::Open(const std::string& path)
{
    return OpenDevice(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

HANDLE CBridgeModel::OpenDevice(const char* pszPath, DWORD, DWORD)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::string path = Key(pszPath);
    bool found = false;
    auto it = m_devices.find(path);
    if (it != m_devices.end() && !it->second.removed) {
        found = true;
        ++it->second.openCount;
    }
    for (auto& [letter, volume] : m_volumes)
        if (Key(volume.name.substr(0, volume.name.size() - 1)) == path)
            found = true;
    if (!found) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = reinterpret_cast<HANDLE>(m_nextHandle);
    m_nextHandle += 4;
    m_handles[h] = path;
    return h;
}

BOOL CBridgeModel::CloseDevice(HANDLE hDevice)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_handles.erase(hDevice)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL CBridgeModel::VolumeNameForMountPoint(const char* pszMountPoint, char* pszName, DWORD dwChars)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = m_volumes.find(pszMountPoint[0]);
    if (strlen(pszMountPoint) != 3 || it == m_volumes.end() || it->second.name.size() + 1 > dwChars) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    strcpy(pszName, it->second.name.c_str());
    return TRUE;
}

bool CBridgeModel::InterfacePath(const GUID& guidClass, DWORD dwIndex, char* pszPath, DWORD dwChars)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    DWORD n = 0;
    for (auto& [guid, path] : m_interfaces) {
        if (!IsEqualGUID(guid, guidClass))
            continue;
        if (n++ == dwIndex && path.size() < dwChars) {
            strcpy(pszPath, path.c_str());
            return true;
        }
    }
    pszPath[0] = 0;
    return false;
}

BOOL CBridgeModel::Control(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD dwInLength, void* pOut,
                           DWORD dwOutLength, DWORD* pdwReturned)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *pdwReturned = 0;
    auto h = m_handles.find(hDevice);
    if (h == m_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::string& path = h->second;
    if (dwCode == ZEDO_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) {
        for (auto& [letter, volume] : m_volumes) {
            if (Key(volume.name.substr(0, volume.name.size() - 1)) != path)
                continue;
            if (volume.tooManyExtents || dwOutLength < 8) {
                SetLastError(ERROR_MORE_DATA);
                return FALSE;
            }
            BYTE* out = static_cast<BYTE*>(pOut);
            memset(out, 0, dwOutLength);
            DWORD count = static_cast<DWORD>(volume.extents.size());
            memcpy(out, &count, 4);
            *pdwReturned = 8;
            if (count >= 1 && dwOutLength >= 32) {
                memcpy(out + 8, &volume.extents[0], 4);
                *pdwReturned = 32;
            }
            return TRUE;
        }
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    auto d = m_devices.find(path);
    if (d == m_devices.end()) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    ModelDevice& dev = d->second;
    if (dev.removed) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    if (dwCode == ZEDO_IOCTL_STORAGE_GET_DEVICE_NUMBER) {
        if (!dev.answersNumber || dwOutLength < 12) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        DWORD number[3] = {7, dev.number, 0xFFFFFFFF};
        memcpy(pOut, number, sizeof(number));
        *pdwReturned = sizeof(number);
        return TRUE;
    }
    if (dwCode == ZEDO_IOCTL_SCSI_PASS_THROUGH || dwCode == ZEDO_IOCTL_SCSI_PASS_THROUGH_DIRECT)
        return PassThrough(dev, dwCode, static_cast<BYTE*>(pIn), dwInLength, static_cast<BYTE*>(pOut),
                           dwOutLength, pdwReturned);
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL CBridgeModel::PassThrough(ModelDevice& dev, DWORD code, BYTE* in, DWORD inLength, BYTE* out,
                               DWORD outLength, DWORD* pdwReturned)
{
    const bool direct = code == ZEDO_IOCTL_SCSI_PASS_THROUGH_DIRECT;
    ModelCommand rec;
    rec.path = dev.path;
    rec.ioctl = code;
    rec.inLength = inLength;
    rec.outLength = outLength;
    if (inLength < sizeof(ZedoPassThroughHeader)) {
        m_log.push_back(rec);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ZedoPassThroughHeader h;
    memcpy(&h, in, sizeof(h));
    rec.header = h;
    rec.cdb.assign(h.Cdb, h.Cdb + std::min<BYTE>(h.CdbLength, 16));

    // The stack checks the request as the storage driver does.
    bool valid = h.Length == sizeof(ZedoPassThroughHeader) && h.CdbLength <= 16 && h.SenseInfoLength <= 32 &&
                 h.DataIn <= 2 && h.DataTransferLength <= ZEDO_DATA_AREA;
    BYTE* data = nullptr;
    if (direct) {
        valid = valid && inLength == ZEDO_DIRECT_REQUEST_SIZE && outLength == ZEDO_DIRECT_REQUEST_SIZE;
        data = reinterpret_cast<BYTE*>(static_cast<UINT_PTR>(h.DataBuffer));
        valid = valid && (h.DataTransferLength == 0 || data != nullptr);
    } else {
        valid = valid && h.DataBuffer == ZEDO_DATA_OFFSET && h.SenseInfoOffset == ZEDO_SENSE_OFFSET;
        // Outgoing data must have been handed in, incoming data must fit the output.
        if (h.DataIn == 0 && h.DataTransferLength)
            valid = valid && inLength >= ZEDO_DATA_OFFSET + h.DataTransferLength;
        if (h.DataIn == 1 && h.DataTransferLength)
            valid = valid && outLength >= ZEDO_DATA_OFFSET + h.DataTransferLength;
        data = in + ZEDO_DATA_OFFSET;
    }
    if (valid && h.DataIn == 0 && h.DataTransferLength)
        rec.dataOut.assign(data, data + h.DataTransferLength);
    m_log.push_back(rec);
    if (!valid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Incoming data of a buffered request lands in the data area of the output.
    std::vector<BYTE> scratch(h.DataTransferLength);
    if (h.DataIn == 0 && h.DataTransferLength)
        memcpy(scratch.data(), data, h.DataTransferLength);
    BYTE status = dev.forcedStatus ? dev.forcedStatus : Execute(dev, h, scratch.data());
    if (h.DataIn == 1 && h.DataTransferLength && status == 0) {
        BYTE* dest = direct ? data : out + ZEDO_DATA_OFFSET;
        memcpy(dest, scratch.data(), h.DataTransferLength);
    }
    if (outLength >= 3)
        out[2] = status;
    *pdwReturned = std::min<DWORD>(outLength, direct ? ZEDO_DIRECT_REQUEST_SIZE
                                                     : ZEDO_DATA_OFFSET + h.DataTransferLength);
    return TRUE;
}

// Carries out one command block; data is the transfer (filled for incoming data).
BYTE CBridgeModel::Execute(ModelDevice& dev, const ZedoPassThroughHeader& h, BYTE* data)
{
    const BYTE* cdb = h.Cdb;
    const DWORD length = h.DataTransferLength;
    const bool isIn = h.DataIn == 1;
    // The firmware EEPROM is a stream: a run of reads or of writes goes on where the last piece
    // ended; any other command starts the next run at 0.
    const int op = h.CdbLength == 6 && (cdb[0] == 0xE2 || cdb[0] == 0xE3) ? cdb[0] : -1;
    if (op != dev.lastFirmwareOp)
        dev.firmwareCursor = 0;
    dev.lastFirmwareOp = op;

    if (cdb[0] == 0x12) { // INQUIRY
        BYTE inquiry[96] = {};
        inquiry[4] = 91;
        memcpy(inquiry + 8, dev.vendor.data(), std::min<size_t>(8, dev.vendor.size()));
        memcpy(inquiry + 16, dev.product.data(), std::min<size_t>(16, dev.product.size()));
        memcpy(inquiry + 32, dev.revision.data(), std::min<size_t>(4, dev.revision.size()));
        inquiry[36] = dev.id36;
        inquiry[37] = dev.id37;
        memcpy(data, inquiry, std::min<DWORD>(length, std::min<DWORD>(cdb[4], sizeof(inquiry))));
        return 0;
    }
    if (h.CdbLength == 6) {
        const WORD address = static_cast<WORD>((cdb[3] << 8) | cdb[4]);
        switch (cdb[0]) {
        case 0xE0:
            memcpy(data, dev.config.data(), std::min<DWORD>(length, 128));
            return 0;
        case 0xE1:
            memcpy(dev.config.data(), data, std::min<DWORD>(length, 128));
            return 0;
        case 0xE2:
        case 0xE3:
            if (dev.firmwareCursor + length > dev.firmware.size())
                return kCheckCondition;
            if (cdb[0] == 0xE2)
                memcpy(data, dev.firmware.data() + dev.firmwareCursor, length);
            else
                memcpy(dev.firmware.data() + dev.firmwareCursor, data, length);
            dev.firmwareCursor += length;
            return 0;
        case 0xE4: {
            if (dev.failRegisterRead)
                return kCheckCondition;
            DWORD count = cdb[1] ? cdb[1] : 256;
            for (DWORD i = 0; i < std::min(count, length); ++i) {
                auto r = dev.registers.find(static_cast<WORD>(address + i));
                data[i] = r == dev.registers.end() ? 0 : r->second;
            }
            return 0;
        }
        case 0xE5:
            dev.registers[address] = cdb[1];
            return 0;
        }
        return kCheckCondition;
    }
    switch (cdb[0]) {
    case 0x25: { // READ CAPACITY(10)
        BYTE answer[8] = {BYTE(dev.lastLba >> 24), BYTE(dev.lastLba >> 16), BYTE(dev.lastLba >> 8), BYTE(dev.lastLba),
                          BYTE(dev.blockLength >> 24), BYTE(dev.blockLength >> 16), BYTE(dev.blockLength >> 8),
                          BYTE(dev.blockLength)};
        memcpy(data, answer, std::min<DWORD>(length, 8));
        return 0;
    }
    case 0x28:
    case 0x2A: { // READ(10) / WRITE(10)
        unsigned long long lba = BE32(cdb + 2);
        DWORD blocks = (cdb[7] << 8) | cdb[8];
        if (blocks * 512 != length)
            return kCheckCondition;
        for (DWORD b = 0; b < blocks; ++b) {
            auto& sector = dev.sectors[lba + b];
            if (cdb[0] == 0x28)
                memcpy(data + b * 512, sector.data(), 512);
            else
                memcpy(sector.data(), data + b * 512, 512);
        }
        return 0;
    }
    case 0xA1: // ATA PASS-THROUGH(12), IDENTIFY DEVICE
        if (cdb[9] != 0xEC)
            return kCheckCondition;
        memcpy(data, dev.identify.data(), std::min<DWORD>(length, 512));
        return 0;
    case 0xE6:
        if (h.CdbLength == 16) { // second model's disk command: ATA taskfile
            unsigned long long lba = cdb[6] | (cdb[7] << 8) | (cdb[8] << 16) | (DWORD(cdb[10]) << 24) |
                                     (static_cast<unsigned long long>(cdb[11]) << 32) |
                                     (static_cast<unsigned long long>(cdb[12]) << 40);
            DWORD count = cdb[14] | (cdb[15] << 8);
            if (count * 512 != length || (cdb[4] != 0x25 && cdb[4] != 0x35))
                return kCheckCondition;
            for (DWORD b = 0; b < count; ++b) {
                auto& sector = dev.sectors[lba + b];
                if (cdb[4] == 0x25)
                    memcpy(data + b * 512, sector.data(), 512);
                else
                    memcpy(sector.data(), data + b * 512, 512);
            }
            return 0;
        }
        return 0;
    case 0xE9:
        dev.hidden = cdb[1] == 0;
        return 0;
    case 0xEA:
        if (isIn && length == 1)
            data[0] = dev.hidden ? 0 : 1;
        return 0;
    }
    // Other vendor commands: accepted; incoming data reads as a counting pattern.
    if (isIn)
        for (DWORD i = 0; i < length; ++i)
            data[i] = static_cast<BYTE>(i);
    return 0;
}
