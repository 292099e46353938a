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

HANDLE CBridgeModel::OpenDevice(const char* pszPath, DWORD dwAccess, DWORD)
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
    m_handleAccess[h] = dwAccess;
    return h;
}

BOOL CBridgeModel::CloseDevice(HANDLE hDevice)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_handles.erase(hDevice)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    m_handleAccess.erase(hDevice);
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
    if (dwCode == ZEDO_IOCTL_SCSI_PASS_THROUGH || dwCode == ZEDO_IOCTL_SCSI_PASS_THROUGH_DIRECT) {
        // The storage stack takes pass-through requests only on a handle open for both ways.
        const DWORD kBoth = GENERIC_READ | GENERIC_WRITE;
        if ((m_handleAccess[hDevice] & kBoth) != kBoth && !(m_handleAccess[hDevice] & GENERIC_ALL)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return PassThrough(dev, dwCode, static_cast<BYTE*>(pIn), dwInLength, static_cast<BYTE*>(pOut),
                           dwOutLength, pdwReturned);
    }
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
    BYTE asc = 0;
    BYTE status = dev.forcedStatus ? dev.forcedStatus : Execute(dev, h, scratch.data(), asc);
    DWORD moved = h.DataTransferLength;
    if (h.DataIn == 1 && h.DataTransferLength && status == 0) {
        auto limit = dev.shortReplies.find(h.Cdb[0]);
        if (limit != dev.shortReplies.end())
            moved = std::min(moved, limit->second);
        BYTE* dest = direct ? data : out + ZEDO_DATA_OFFSET;
        memcpy(dest, scratch.data(), moved);
    }
    if (outLength >= 3)
        out[2] = status;
    if (outLength >= sizeof(ZedoPassThroughHeader))
        reinterpret_cast<ZedoPassThroughHeader*>(out)->DataTransferLength = moved;
    m_log.back().status = status;
    if (status == kCheckCondition && asc) {
        // Fixed-format sense: ILLEGAL REQUEST with the reason.
        std::vector<BYTE> sense(18, 0);
        sense[0] = 0x70;
        sense[2] = 0x05;
        sense[7] = 10;
        sense[12] = asc;
        m_log.back().sense = sense;
        if (h.SenseInfoLength >= sense.size() && h.SenseInfoOffset + sense.size() <= outLength)
            memcpy(out + h.SenseInfoOffset, sense.data(), sense.size());
    }
    *pdwReturned = std::min<DWORD>(outLength, direct ? ZEDO_DIRECT_REQUEST_SIZE : ZEDO_DATA_OFFSET + moved);
    return TRUE;
}

namespace {
const BYTE kInvalidOpcode = 0x20;   // INVALID COMMAND OPERATION CODE
const BYTE kInvalidField = 0x24;    // INVALID FIELD IN CDB
const BYTE kLbaOutOfRange = 0x21;   // LOGICAL BLOCK ADDRESS OUT OF RANGE
const BYTE kIn = 1, kOut = 0, kNone = 2;

WORD BE16(const BYTE* p)
{
    return static_cast<WORD>((p[0] << 8) | p[1]);
}

// A 16-bit piece length: a full piece of 0x10000 bytes does not fit and travels as 0.
DWORD PieceLength16(const BYTE* p)
{
    DWORD n = BE16(p);
    return n ? n : 0x10000;
}

// Copies the part of a store that a piece covers, filling what lies past its end.
void ReadStore(const std::vector<BYTE>& store, size_t offset, BYTE* data, DWORD length, BYTE fill)
{
    for (DWORD i = 0; i < length; ++i)
        data[i] = offset + i < store.size() ? store[offset + i] : fill;
}

void WriteStore(std::vector<BYTE>& store, size_t offset, const BYTE* data, DWORD length, BYTE fill)
{
    if (store.size() < offset + length)
        store.resize(offset + length, fill);
    memcpy(store.data() + offset, data, length);
}
} // namespace

// Carries out one command block; data is the transfer (filled for incoming data).
BYTE CBridgeModel::Execute(ModelDevice& dev, const ZedoPassThroughHeader& h, BYTE* data, BYTE& asc)
{
    const BYTE* cdb = h.Cdb;
    const DWORD length = h.DataTransferLength;
    auto refuse = [&](BYTE code) {
        asc = code;
        return kCheckCondition;
    };
    // Runs of pieces go on only from one command to the next.
    dev.streamPrevKey = dev.streamKey;
    dev.streamKey = ~0ull;
    // The shape a command must have: block length, data direction and transfer length.
    auto fits = [&](BYTE cdbLength, BYTE dataIn, DWORD transfer) {
        return h.CdbLength == cdbLength && h.DataIn == dataIn && length == transfer;
    };

    // The firmware EEPROM is a stream: a run of reads or of writes goes on where the last piece
    // ended; any other command starts the next run at 0.
    const int op = h.CdbLength == 6 && (cdb[0] == 0xE2 || cdb[0] == 0xE3) ? cdb[0] : -1;
    if (op != dev.lastFirmwareOp)
        dev.firmwareCursor = 0;
    dev.lastFirmwareOp = op;

    if (cdb[0] == 0x12) { // INQUIRY
        if ((h.CdbLength != 6 && h.CdbLength != 12) || h.DataIn != kIn || length > cdb[4])
            return refuse(kInvalidField);
        BYTE inquiry[96] = {};
        inquiry[4] = 91;
        memcpy(inquiry + 8, dev.vendor.data(), std::min<size_t>(8, dev.vendor.size()));
        memcpy(inquiry + 16, dev.product.data(), std::min<size_t>(16, dev.product.size()));
        memcpy(inquiry + 32, dev.revision.data(), std::min<size_t>(4, dev.revision.size()));
        inquiry[36] = dev.id36;
        inquiry[37] = dev.id37;
        memcpy(data, inquiry, std::min<DWORD>(length, sizeof(inquiry)));
        return 0;
    }
    if (h.CdbLength == 6) {
        const WORD address = static_cast<WORD>((cdb[3] << 8) | cdb[4]);
        switch (cdb[0]) {
        case 0xE0: // configuration EEPROM, 128 bytes exactly
            if (!fits(6, kIn, 128))
                return refuse(kInvalidField);
            memcpy(data, dev.config.data(), 128);
            return 0;
        case 0xE1:
            if (!fits(6, kOut, 128))
                return refuse(kInvalidField);
            memcpy(dev.config.data(), data, 128);
            return 0;
        case 0xE2:
        case 0xE3:
            if (h.DataIn != (cdb[0] == 0xE2 ? kIn : kOut) || length == 0)
                return refuse(kInvalidField);
            if (dev.firmwareCursor + length > dev.firmware.size())
                return refuse(kLbaOutOfRange);
            if (cdb[0] == 0xE2)
                memcpy(data, dev.firmware.data() + dev.firmwareCursor, length);
            else
                memcpy(dev.firmware.data() + dev.firmwareCursor, data, length);
            dev.firmwareCursor += length;
            return 0;
        case 0xE4: { // register read: byte 1 is the count, 0 meaning 256
            DWORD count = cdb[1] ? cdb[1] : 256;
            if (!fits(6, kIn, count))
                return refuse(kInvalidField);
            if (dev.failRegisterRead)
                return kCheckCondition;
            for (DWORD i = 0; i < count; ++i) {
                auto r = dev.registers.find(static_cast<WORD>(address + i));
                data[i] = r == dev.registers.end() ? 0 : r->second;
            }
            return 0;
        }
        case 0xE5: // register write: the value travels in byte 1, no data phase
            if (!fits(6, kOut, 0))
                return refuse(kInvalidField);
            dev.registers[address] = cdb[1];
            return 0;
        }
        return refuse(kInvalidOpcode);
    }
    switch (cdb[0]) {
    case 0x25: { // READ CAPACITY(10)
        if ((h.CdbLength != 10 && h.CdbLength != 12) || h.DataIn != kIn || length != 8)
            return refuse(kInvalidField);
        BYTE answer[8] = {BYTE(dev.lastLba >> 24), BYTE(dev.lastLba >> 16), BYTE(dev.lastLba >> 8), BYTE(dev.lastLba),
                          BYTE(dev.blockLength >> 24), BYTE(dev.blockLength >> 16), BYTE(dev.blockLength >> 8),
                          BYTE(dev.blockLength)};
        memcpy(data, answer, 8);
        return 0;
    }
    case 0x28:
    case 0x2A: { // READ(10) / WRITE(10)
        unsigned long long lba = BE32(cdb + 2);
        DWORD blocks = BE16(cdb + 7);
        if ((h.CdbLength != 10 && h.CdbLength != 12) || h.DataIn != (cdb[0] == 0x28 ? kIn : kOut) ||
            blocks * 512 != length)
            return refuse(kInvalidField);
        for (DWORD b = 0; b < blocks; ++b) {
            auto& sector = dev.sectors[lba + b];
            if (cdb[0] == 0x28)
                memcpy(data + b * 512, sector.data(), 512);
            else
                memcpy(sector.data(), data + b * 512, 512);
        }
        return 0;
    }
    case 0xA1: // ATA PASS-THROUGH(12): only PIO data-in IDENTIFY DEVICE of one sector
        if (!fits(12, kIn, 512) || cdb[1] != 0x08 || cdb[2] != 0x0D || cdb[9] != 0xEC)
            return refuse(kInvalidField);
        memcpy(data, dev.identify.data(), 512);
        return 0;
    }
    if (cdb[0] >= 0xE0 && cdb[0] <= 0xEF)
        return ExecuteVendor(dev, h, data, asc);
    return refuse(kInvalidOpcode);
}

// The 12- and 16-byte vendor commands. Several share an operation code and are told apart by
// their block length and data direction, as the chip does.
BYTE CBridgeModel::ExecuteVendor(ModelDevice& dev, const ZedoPassThroughHeader& h, BYTE* data, BYTE& asc)
{
    const BYTE* cdb = h.Cdb;
    const DWORD length = h.DataTransferLength;
    auto refuse = [&](BYTE code) {
        asc = code;
        return kCheckCondition;
    };
    auto fits = [&](BYTE cdbLength, BYTE dataIn, DWORD transfer) {
        return h.CdbLength == cdbLength && h.DataIn == dataIn && length == transfer;
    };
    auto noData = [&]() { return h.CdbLength == 12 && length == 0 && h.DataIn != kIn; };
    // A run of pieces: the cursor goes on while the same command and key follow each other.
    auto cursor = [&](unsigned long long key) {
        if (dev.streamPrevKey != key)
            dev.streamCursor = 0;
        dev.streamKey = key;
        size_t at = dev.streamCursor;
        dev.streamCursor += length;
        return at;
    };
    const unsigned long long opKey = static_cast<unsigned long long>(cdb[0]) << 56;
    if (h.CdbLength == 16) {
        if (cdb[0] != 0xE6)
            return refuse(kInvalidOpcode);
        // The second model's disk command: an ATA 48-bit taskfile.
        unsigned long long lba = cdb[6] | (cdb[7] << 8) | (cdb[8] << 16) | (DWORD(cdb[10]) << 24) |
                                 (static_cast<unsigned long long>(cdb[11]) << 32) |
                                 (static_cast<unsigned long long>(cdb[12]) << 40);
        DWORD count = cdb[14] | (cdb[15] << 8);
        bool read = cdb[4] == 0x25, write = cdb[4] == 0x35;
        if ((!read && !write) || cdb[9] != 0x40 || count == 0 || count * 512 != length ||
            h.DataIn != (read ? kIn : kOut))
            return refuse(kInvalidField);
        for (DWORD b = 0; b < count; ++b) {
            auto& sector = dev.sectors[lba + b];
            if (read)
                memcpy(data + b * 512, sector.data(), 512);
            else
                memcpy(sector.data(), data + b * 512, 512);
        }
        return 0;
    }
    if (h.CdbLength != 12)
        return refuse(kInvalidField);
    switch (cdb[0]) {
    case 0xE2: // execute: the code travels out, bytes 7-8 its length
        if (!fits(12, kOut, BE16(cdb + 7)) || length == 0)
            return refuse(kInvalidField);
        dev.lastExecAddress = BE32(cdb + 2);
        dev.lastExecData.assign(data, data + length);
        return 0;
    case 0xE3: // serial EEPROM read, one byte at byte 5
        if (!fits(12, kIn, 1))
            return refuse(kInvalidField);
        data[0] = dev.serialEeprom[cdb[5]];
        return 0;
    case 0xE4: // serial EEPROM write
        if (!fits(12, kOut, 1))
            return refuse(kInvalidField);
        dev.serialEeprom[cdb[5]] = data[0];
        return 0;
    case 0xE5: // platform information: bytes 6-9 the length
        if (!fits(12, kIn, BE32(cdb + 6)) || length == 0)
            return refuse(kInvalidField);
        ReadStore(dev.platformInfo, 0, data, length, 0);
        return 0;
    case 0xE6: { // vendor write in pieces: 2-5 piece, 6-9 total, 10 piece index
        DWORD piece = BE32(cdb + 2), total = BE32(cdb + 6);
        size_t offset = static_cast<size_t>(cdb[10]) * 0x10000;
        if (!fits(12, kOut, piece) || piece == 0 || piece > 0x10000 || offset + piece > total)
            return refuse(kInvalidField);
        std::vector<BYTE>& store = dev.vendorData[cdb[1]];
        if (cdb[10] == 0)
            store.assign(total, 0);
        if (store.size() != total)
            return refuse(kInvalidField);   // a piece of another transfer
        WriteStore(store, offset, data, piece, 0);
        return 0;
    }
    case 0xE7: // vendor read, one command: bytes 2-5 the length
        if (!fits(12, kIn, BE32(cdb + 2)) || length == 0)
            return refuse(kInvalidField);
        ReadStore(dev.vendorData[cdb[1]], 0, data, length, 0);
        return 0;
    case 0xE8:
        if (h.DataIn == kIn) { // receive in pieces: 2-5 total, 6-9 piece, 10 piece index
            DWORD total = BE32(cdb + 2), piece = BE32(cdb + 6);
            size_t offset = static_cast<size_t>(cdb[10]) * 0x10000;
            if (!fits(12, kIn, piece) || piece == 0 || piece > 0x10000 || offset + piece > total)
                return refuse(kInvalidField);
            ReadStore(dev.transferData[cdb[1]], offset, data, piece, 0);
            return 0;
        }
        if (!noData() || cdb[1] > 1)
            return refuse(kInvalidField);
        if (cdb[1] == 1)
            dev.disconnected = true;
        else
            ++dev.cpuResets;
        return 0;
    case 0xE9: // 0: restart (the second model: hide the disk), 1: show the disk
        if (!noData() || cdb[1] > 1)
            return refuse(kInvalidField);
        if (cdb[1] == 0)
            ++dev.restarts;
        dev.hidden = cdb[1] == 0;
        return 0;
    case 0xEA:
        if (h.DataIn == kIn) { // the second model's disk status
            if (!fits(12, kIn, 1))
                return refuse(kInvalidField);
            data[0] = dev.hidden ? 0 : 1;
            return 0;
        } else { // transfer in pieces, laid out as the receive
            DWORD total = BE32(cdb + 2), piece = BE32(cdb + 6);
            size_t offset = static_cast<size_t>(cdb[10]) * 0x10000;
            if (!fits(12, kOut, piece) || piece == 0 || piece > 0x10000 || offset + piece > total)
                return refuse(kInvalidField);
            WriteStore(dev.transferData[cdb[1]], offset, data, piece, 0);
            return 0;
        }
    case 0xEB:
        if (h.DataIn == kOut && length) { // DRAM transfer: bytes 6-7 the piece length
            if (!fits(12, kOut, PieceLength16(cdb + 6)) || cdb[1] || BE32(cdb + 2) || cdb[8])
                return refuse(kInvalidField);
            size_t at = cursor(opKey);
            if (at + length > dev.dram.size())
                return refuse(kLbaOutOfRange);
            memcpy(dev.dram.data() + at, data, length);
            return 0;
        }
        // NAND erase of the block in bytes 4-5
        if (!noData())
            return refuse(kInvalidField);
        for (auto it = dev.nand.begin(); it != dev.nand.end();) {
            bool sameBlock = ((it->first >> 32) & 0xFF) == cdb[1] && (it->first & 0xFFFF) == BE16(cdb + 4);
            it = sameBlock ? dev.nand.erase(it) : std::next(it);
        }
        return 0;
    case 0xEC:
    case 0xED: {
        if (cdb[0] == 0xEC && !cdb[1] && !BE32(cdb + 2) && !cdb[8] && PieceLength16(cdb + 6) == length) {
            // DRAM receive: bytes 6-7 the piece length
            if (!fits(12, kIn, length) || cdb[8])
                return refuse(kInvalidField);
            size_t at = cursor(opKey);
            if (at + length > dev.dram.size())
                return refuse(kLbaOutOfRange);
            memcpy(data, dev.dram.data() + at, length);
            return 0;
        }
        // NAND read (EC) or write (ED): 1 byte argument, 2-5 address, 7-8 piece length, 9 flag
        if (!fits(12, cdb[0] == 0xEC ? kIn : kOut, PieceLength16(cdb + 7)) || cdb[6] || cdb[9] > 1)
            return refuse(kInvalidField);
        unsigned long long key = (static_cast<unsigned long long>(cdb[9]) << 40) |
                                 (static_cast<unsigned long long>(cdb[1]) << 32) | BE32(cdb + 2);
        size_t at = cursor(opKey | key);
        if (cdb[0] == 0xEC)
            ReadStore(dev.nand[key], at, data, length, 0xFF);
        else
            WriteStore(dev.nand[key], at, data, length, 0xFF);
        return 0;
    }
    case 0xEE: // NAND information: byte 8 the length's low byte
        if (h.DataIn != kIn || length == 0 || (length & 0xFF) != cdb[8])
            return refuse(kInvalidField);
        ReadStore(dev.nandInfo, 0, data, length, 0);
        return 0;
    case 0xEF: { // page with redundancy, in pieces to the same address
        if (h.DataIn != kOut || length == 0)
            return refuse(kInvalidField);
        unsigned long long key = (static_cast<unsigned long long>(cdb[1]) << 32) | BE32(cdb + 2);
        WriteStore(dev.pageRdnt[key], cursor(opKey | key), data, length, 0xFF);
        return 0;
    }
    }
    return refuse(kInvalidOpcode);
}
