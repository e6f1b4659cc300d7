#include "SmartIoctl.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "Devices.h"
#include "MachineProfile.h"

namespace platform {

namespace {

constexpr char kMagic[] = "VTSMART 1";
// A header line longer than this is not one of ours.
constexpr std::size_t kMaxHeaderLine = 256;
constexpr std::size_t kSectorBytes = 512;

constexpr win::BYTE kAtaAbort = 0x04;   // error register: ABRT
constexpr win::BYTE kAtaErr = 0x01;     // status register: ERR
constexpr win::BYTE kAtaDf = 0x20;      // status register: device fault
constexpr win::BYTE kAtaDevBit = 0x10;  // drive/head register: slave

constexpr win::DWORD kRequestSize = offsetof(win::SENDCMDINPARAMS, bBuffer);
constexpr win::DWORD kAnswerHeaderSize = offsetof(win::SENDCMDOUTPARAMS, bBuffer);

bool HasSmartSignature(const win::IDEREGS& r) {
    return r.bCylLowReg == win::SMART_CYL_LOW && r.bCylHighReg == win::SMART_CYL_HI;
}

bool ParseHexByte(const std::string& s, std::uint8_t& v) {
    if (s.empty() || s.size() > 2) return false;
    unsigned value = 0;
    for (char c : s) {
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        value = value * 16 + static_cast<unsigned>(d);
    }
    v = static_cast<std::uint8_t>(value);
    return true;
}

bool ParseHeaderKey(const std::string& token, SimulatedSmartDrive& d) {
    const std::size_t eq = token.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = token.substr(0, eq), value = token.substr(eq + 1);
    if (key == "device") {
        if (value != "ata" && value != "atapi") return false;
        d.atapi = value == "atapi";
        return true;
    }
    if (key == "refuse") {
        std::stringstream list(value);
        std::string item;
        while (std::getline(list, item, ',')) {
            std::uint8_t f = 0;
            if (!ParseHexByte(item, f)) return false;
            d.refused.push_back(f);
        }
        return true;
    }
    return false;
}

// The drive numbers 0 to 3 as the S.M.A.R.T. interface numbers them, and
// what answers for each.
struct SmartTarget {
    std::optional<SimulatedSmartDrive> simulated;
    std::shared_ptr<BackingStore> disk;  // a real block device
    bool present = false;                // a [smart.N] section or a real disk
};

SmartTarget TargetFor(int number) {
    SmartTarget t;
    const Machine& m = Machine::Current();
    if (const SmartDriveConfig* s = m.Smart(number)) {
        t.present = true;
        t.simulated = LoadSimulatedSmartDrive(s->file);
        return t;
    }
    const PhysicalDriveConfig* p = m.Physical(number);
    if (p && p->store && p->store->Valid() && p->store->IsBlockDevice() && p->store->Fd() >= 0) {
        t.present = true;
        t.disk = p->store;
    }
    return t;
}

// bIDEDeviceMap over drives 0 to 3: a real disk counts as an ATA device.
win::BYTE DeviceMap() {
    win::BYTE map = 0;
    for (int n = 0; n < 4; ++n) {
        SmartTarget t = TargetFor(n);
        if (t.simulated) map |= static_cast<win::BYTE>(1u << (t.simulated->atapi ? n + 4 : n));
        else if (t.disk) map |= static_cast<win::BYTE>(1u << n);
    }
    return map;
}

// One command to a real disk through the SCSI generic interface. The disk's
// descriptor is the store's, opened read-only; as root that suffices for
// the pass-through, and only the commands AtaPassThrough16 admits are sent.
bool SgIoCommand(int fd, const Cdb16& cdb, win::DWORD dataSize, std::uint8_t* data, win::DRIVERSTATUS& status,
                 win::DWORD& lastError) {
    std::array<std::uint8_t, 64> sense{};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cdb.size());
    io.cmdp = const_cast<unsigned char*>(cdb.data());
    io.dxfer_direction = dataSize ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.dxfer_len = dataSize;
    io.dxferp = dataSize ? data : nullptr;
    io.sbp = sense.data();
    io.mx_sb_len = static_cast<unsigned char>(sense.size());
    io.timeout = 30000;  // ms: a drive spinning up answers within this
    if (::ioctl(fd, SG_IO, &io) < 0) {
        // Not a disk that takes SCSI commands (a loop or virtio device), or
        // no right to send them (not root).
        status.bDriverError = win::SMART_NOT_SUPPORTED;
        lastError = errno == EPERM || errno == EACCES ? win::ERROR_ACCESS_DENIED : win::ERROR_NOT_SUPPORTED;
        return false;
    }
    AtaOutcome o = EvaluateSgIo(io.status, io.host_status, io.driver_status,
                                std::span<const std::uint8_t>(sense.data(), std::min<std::size_t>(io.sb_len_wr, sense.size())));
    if (!o.ok) {
        status.bDriverError = win::SMART_IDE_ERROR;
        status.bIDEError = o.error;
        lastError = win::ERROR_IO_DEVICE;
    }
    return o.ok;
}

win::BOOL Fail(win::DWORD error) {
    win::SetLastError(error);
    return win::FALSE;
}

}  // namespace

std::optional<SimulatedSmartDrive> ParseSimulatedSmartDrive(std::span<const std::uint8_t> bytes) {
    const std::size_t scan = std::min(bytes.size(), kMaxHeaderLine);
    const auto nl = std::find(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(scan), '\n');
    if (nl == bytes.begin() + static_cast<std::ptrdiff_t>(scan)) return std::nullopt;
    const std::string header(bytes.begin(), nl);
    const std::size_t body = static_cast<std::size_t>(nl - bytes.begin()) + 1;
    if (bytes.size() - body != 3 * kSectorBytes) return std::nullopt;
    std::stringstream words(header);
    std::string w1, w2;
    words >> w1 >> w2;
    if (w1 + " " + w2 != kMagic) return std::nullopt;
    SimulatedSmartDrive d;
    for (std::string token; words >> token;)
        if (!ParseHeaderKey(token, d)) return std::nullopt;
    const std::uint8_t* p = bytes.data() + body;
    std::copy(p, p + kSectorBytes, d.identify.begin());
    std::copy(p + kSectorBytes, p + 2 * kSectorBytes, d.values.begin());
    std::copy(p + 2 * kSectorBytes, p + 3 * kSectorBytes, d.thresholds.begin());
    return d;
}

std::optional<SimulatedSmartDrive> LoadSimulatedSmartDrive(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // Nothing longer than a header line and three sectors is a drive file.
    std::vector<std::uint8_t> bytes;
    bytes.resize(kMaxHeaderLine + 3 * kSectorBytes + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return ParseSimulatedSmartDrive(bytes);
}

std::vector<std::uint8_t> FormatSimulatedSmartDrive(const SimulatedSmartDrive& drive) {
    std::string header = std::string(kMagic) + (drive.atapi ? " device=atapi" : " device=ata");
    if (!drive.refused.empty()) {
        header += " refuse=";
        static const char hex[] = "0123456789abcdef";
        for (std::size_t i = 0; i < drive.refused.size(); ++i) {
            if (i) header += ',';
            header += hex[drive.refused[i] >> 4];
            header += hex[drive.refused[i] & 15];
        }
    }
    header += '\n';
    std::vector<std::uint8_t> out(header.begin(), header.end());
    out.insert(out.end(), drive.identify.begin(), drive.identify.end());
    out.insert(out.end(), drive.values.begin(), drive.values.end());
    out.insert(out.end(), drive.thresholds.begin(), drive.thresholds.end());
    return out;
}

bool SimulatedSmartCommand(const SimulatedSmartDrive& drive, win::DWORD code, const win::IDEREGS& regs,
                           win::DWORD dataSize, std::span<std::uint8_t, 512> data, win::BYTE& ataError) {
    ataError = 0;
    const bool reads = code == win::SMART_RCV_DRIVE_DATA && dataSize == kSectorBytes;
    const bool nonData = code == win::SMART_SEND_DRIVE_COMMAND && dataSize == 0;
    const std::array<std::uint8_t, 512>* sector = nullptr;
    bool accepted = false;
    switch (regs.bCommandReg) {
        case win::ID_CMD:
            // An ATAPI device aborts IDENTIFY DEVICE (leaving its signature).
            if (!drive.atapi && reads) sector = &drive.identify;
            break;
        case win::ATAPI_ID_CMD:
            // An ATA drive aborts IDENTIFY PACKET DEVICE.
            if (drive.atapi && reads) sector = &drive.identify;
            break;
        case win::SMART_CMD:
            if (drive.atapi || !HasSmartSignature(regs)) break;
            if (std::find(drive.refused.begin(), drive.refused.end(), regs.bFeaturesReg) != drive.refused.end()) break;
            if (regs.bFeaturesReg == win::ENABLE_SMART) accepted = nonData;
            else if (regs.bFeaturesReg == win::READ_ATTRIBUTES && reads) sector = &drive.values;
            else if (regs.bFeaturesReg == win::READ_THRESHOLDS && reads) sector = &drive.thresholds;
            break;
        default:
            break;
    }
    if (sector) {
        std::copy(sector->begin(), sector->end(), data.begin());
        return true;
    }
    if (!accepted) ataError = kAtaAbort;
    return accepted;
}

std::optional<Cdb16> AtaPassThrough16(win::DWORD code, const win::IDEREGS& regs, win::DWORD dataSize) {
    const bool dataIn = code == win::SMART_RCV_DRIVE_DATA;
    if (dataIn ? dataSize != kSectorBytes : (code != win::SMART_SEND_DRIVE_COMMAND || dataSize != 0))
        return std::nullopt;
    const win::BYTE cmd = regs.bCommandReg, f = regs.bFeaturesReg;
    const bool smart = cmd == win::SMART_CMD && HasSmartSignature(regs);
    const bool allowed = dataIn ? cmd == win::ID_CMD || cmd == win::ATAPI_ID_CMD ||
                                      (smart && (f == win::READ_ATTRIBUTES || f == win::READ_THRESHOLDS))
                                : smart && f == win::ENABLE_SMART;
    if (!allowed) return std::nullopt;
    Cdb16 cdb{};
    cdb[0] = 0x85;  // ATA PASS-THROUGH (16)
    // Byte 1: PROTOCOL in bits 4-1 (4 PIO data-in, 3 non-data), EXTEND 0
    // (28-bit command). Byte 2: for data-in T_DIR (from the device),
    // BYT_BLOK (count in blocks) and T_LENGTH 2 (the length is in the count
    // field): one 512-byte sector.
    cdb[1] = dataIn ? (4 << 1) : (3 << 1);
    cdb[2] = dataIn ? 0x0E : 0x00;
    cdb[4] = f;
    cdb[6] = regs.bSectorCountReg;
    cdb[8] = regs.bSectorNumberReg;  // LBA 7:0
    cdb[10] = regs.bCylLowReg;       // LBA 15:8
    cdb[12] = regs.bCylHighReg;      // LBA 23:16
    // The master/slave bit chose a drive on a Windows IDE channel; here the
    // block device already is the drive, and the translating layer sets the
    // bit for the device it addresses.
    cdb[13] = static_cast<std::uint8_t>(regs.bDriveHeadReg & ~kAtaDevBit);
    cdb[14] = cmd;
    return cdb;
}

AtaOutcome EvaluateSgIo(std::uint8_t scsiStatus, std::uint16_t hostStatus, std::uint16_t driverStatus,
                        std::span<const std::uint8_t> sense) {
    constexpr std::uint16_t kDriverSense = 0x08;  // sense data present: not an error by itself
    constexpr std::uint8_t kGood = 0x00, kCheckCondition = 0x02;
    AtaOutcome o;
    if (hostStatus != 0 || (driverStatus & ~kDriverSense) != 0) return o;
    if (scsiStatus == kGood) {
        o.ok = true;
        return o;
    }
    if (scsiStatus != kCheckCondition || sense.size() < 8) return o;
    std::uint8_t key = 0, asc = 0, ascq = 0;
    bool haveRegs = false;
    const std::uint8_t format = sense[0] & 0x7F;
    if (format == 0x72 || format == 0x73) {
        // Descriptor format; the ATA Status Return descriptor (type 9, 12
        // bytes of contents) holds the error register at byte 3 and the
        // status register at byte 13.
        key = sense[1] & 0x0F;
        asc = sense[2];
        ascq = sense[3];
        const std::size_t end = std::min<std::size_t>(sense.size(), 8 + static_cast<std::size_t>(sense[7]));
        for (std::size_t at = 8; at + 2 <= end;) {
            const std::size_t len = 2 + static_cast<std::size_t>(sense[at + 1]);
            if (len > end - at) break;
            if (sense[at] == 0x09 && len >= 14) {
                o.error = sense[at + 3];
                o.status = sense[at + 13];
                haveRegs = true;
            }
            at += len;
        }
    } else if (format == 0x70 || format == 0x71) {
        // Fixed format: the translation puts the error and status registers
        // in the first two bytes of INFORMATION.
        if (sense.size() < 14) return o;
        key = sense[2] & 0x0F;
        asc = sense[12];
        ascq = sense[13];
        o.error = sense[3];
        o.status = sense[4];
        haveRegs = true;
    } else {
        return o;
    }
    // RECOVERED ERROR, "ATA pass-through information available": the command
    // completed and the registers came back with it.
    o.ok = key == 0x01 && asc == 0x00 && ascq == 0x1D && !(haveRegs && (o.status & (kAtaErr | kAtaDf)));
    return o;
}

win::BOOL SmartDeviceIoControl(Device& device, win::DWORD code, void* in, win::DWORD inSize, void* out,
                               win::DWORD outSize, win::DWORD* returned) {
    if (returned) *returned = 0;
    const bool vsd = device.kind == DeviceKind::SmartVsd;
    if (code == win::SMART_GET_VERSION) {
        if (!out || outSize < sizeof(win::GETVERSIONINPARAMS)) return Fail(win::ERROR_INSUFFICIENT_BUFFER);
        // A drive without an ATA interface (an image) has no S.M.A.R.T.
        // interface on the NT family; SMARTVSD answers as long as it is loaded.
        if (!vsd && !TargetFor(device.number).present) return Fail(win::ERROR_INVALID_FUNCTION);
        win::GETVERSIONINPARAMS v;
        std::memset(&v, 0, sizeof v);
        v.bVersion = 1;
        v.bRevision = 1;
        v.bIDEDeviceMap = DeviceMap();
        v.fCapabilities = win::CAP_ATA_ID_CMD | win::CAP_ATAPI_ID_CMD | win::CAP_SMART_CMD;
        std::memcpy(out, &v, sizeof v);
        if (returned) *returned = sizeof v;
        win::SetLastError(win::ERROR_SUCCESS);
        return win::TRUE;
    }
    if (code != win::SMART_SEND_DRIVE_COMMAND && code != win::SMART_RCV_DRIVE_DATA)
        return Fail(win::ERROR_INVALID_FUNCTION);
    // Both codes require read and write access to the drive on the NT
    // family; SMARTVSD of Windows 9x checks nothing.
    if (!vsd && (device.access & (win::GENERIC_READ | win::GENERIC_WRITE)) != (win::GENERIC_READ | win::GENERIC_WRITE))
        return Fail(win::ERROR_ACCESS_DENIED);
    if (!in || inSize < kRequestSize) return Fail(win::ERROR_INVALID_PARAMETER);
    win::SENDCMDINPARAMS rq;
    std::memcpy(&rq, in, kRequestSize);
    // Data goes one way only, from the drive: a command sent with data
    // (a write to the drive) is refused below.
    const win::DWORD dataSize = rq.cBufferSize;
    if (dataSize > kSectorBytes) return Fail(win::ERROR_INVALID_PARAMETER);
    const win::DWORD answerSize = kAnswerHeaderSize + (code == win::SMART_RCV_DRIVE_DATA ? dataSize : 0);
    if (!out || outSize < answerSize) return Fail(win::ERROR_INSUFFICIENT_BUFFER);

    win::SENDCMDOUTPARAMS header;
    std::memset(&header, 0, sizeof header);
    std::array<std::uint8_t, 512> data{};
    win::DWORD lastError = win::ERROR_SUCCESS;
    bool ok = false;
    const int number = vsd ? rq.bDriveNumber : device.number;
    if (vsd && number > 3) {
        header.DriverStatus.bDriverError = win::SMART_INVALID_DRIVE;
        lastError = win::ERROR_INVALID_PARAMETER;
    } else if (SmartTarget t = TargetFor(number); t.simulated) {
        win::BYTE ataError = 0;
        ok = SimulatedSmartCommand(*t.simulated, code, rq.irDriveRegs, dataSize, data, ataError);
        if (!ok) {
            header.DriverStatus.bDriverError = win::SMART_IDE_ERROR;
            header.DriverStatus.bIDEError = ataError;
            lastError = win::ERROR_IO_DEVICE;
        }
    } else if (t.disk) {
        if (std::optional<Cdb16> cdb = AtaPassThrough16(code, rq.irDriveRegs, dataSize)) {
            ok = SgIoCommand(t.disk->Fd(), *cdb, dataSize, data.data(), header.DriverStatus, lastError);
        } else {
            header.DriverStatus.bDriverError = win::SMART_INVALID_COMMAND;
            lastError = win::ERROR_INVALID_PARAMETER;
        }
    } else {
        // A [smart.N] file that is not a drive file, or no drive at all.
        header.DriverStatus.bDriverError = win::SMART_NO_IDE_DEVICE;
        lastError = t.present || vsd ? win::ERROR_NOT_READY : win::ERROR_INVALID_FUNCTION;
    }
    if (ok && code == win::SMART_RCV_DRIVE_DATA) header.cBufferSize = dataSize;
    std::memcpy(out, &header, kAnswerHeaderSize);
    if (!ok) return Fail(lastError);
    std::memcpy(static_cast<std::uint8_t*>(out) + kAnswerHeaderSize, data.data(), header.cBufferSize);
    if (returned) *returned = kAnswerHeaderSize + header.cBufferSize;
    win::SetLastError(win::ERROR_SUCCESS);
    return win::TRUE;
}

}  // namespace platform
