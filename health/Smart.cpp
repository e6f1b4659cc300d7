#include "Smart.h"

#include <cstdio>
#include <cstring>
#include <cstddef>

namespace {

// The request is SENDCMDINPARAMS without its one-byte data buffer; the answer
// holds the 16-byte SENDCMDOUTPARAMS header and one 512-byte sector.
constexpr win::DWORD kRequestSize = offsetof(win::SENDCMDINPARAMS, bBuffer);
constexpr win::DWORD kAnswerHeaderSize = offsetof(win::SENDCMDOUTPARAMS, bBuffer);
constexpr win::DWORD kAnswerSize = kAnswerHeaderSize + 512;
static_assert(kRequestSize == 32 && kAnswerSize == 528);
// The answer buffer is larger than the answer asked for.
using AnswerBuffer = std::array<std::uint8_t, 600>;

// Bit 0 of the drive number selects the master (0xA0) or the slave (0xB0)
// position in the drive/head register.
win::BYTE DriveHeadFor(std::uint8_t drive) { return static_cast<win::BYTE>(0xA0 + (drive & 1) * 16); }

// One command to the drive: the registers that differ between the commands.
struct SmartCommand {
    win::DWORD code;        // control code
    win::DWORD bufferSize;  // bytes of data the command moves
    win::BYTE features;
    win::BYTE command;
    win::BYTE cylLow;
    win::BYTE cylHigh;
};

constexpr SmartCommand kEnable{win::SMART_SEND_DRIVE_COMMAND, 0, win::ENABLE_SMART, win::SMART_CMD,
                               win::SMART_CYL_LOW, win::SMART_CYL_HI};
constexpr SmartCommand kReadValues{win::SMART_RCV_DRIVE_DATA, win::READ_ATTRIBUTE_BUFFER_SIZE, win::READ_ATTRIBUTES,
                                   win::SMART_CMD, win::SMART_CYL_LOW, win::SMART_CYL_HI};
constexpr SmartCommand kReadThresholds{win::SMART_RCV_DRIVE_DATA, win::READ_THRESHOLD_BUFFER_SIZE,
                                       win::READ_THRESHOLDS, win::SMART_CMD, win::SMART_CYL_LOW, win::SMART_CYL_HI};

// Sends one command; the answer lands in the zeroed buffer.
bool SendCommand(win::HANDLE h, const SmartCommand& c, std::uint8_t drive, AnswerBuffer& answer) {
    win::SENDCMDINPARAMS in;
    std::memset(&in, 0, sizeof in);
    in.cBufferSize = c.bufferSize;
    in.irDriveRegs.bFeaturesReg = c.features;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    in.irDriveRegs.bCylLowReg = c.cylLow;
    in.irDriveRegs.bCylHighReg = c.cylHigh;
    in.irDriveRegs.bDriveHeadReg = DriveHeadFor(drive);
    in.irDriveRegs.bCommandReg = c.command;
    in.bDriveNumber = drive;
    answer.fill(0);
    win::DWORD returned = 0;
    return win::DeviceIoControl(h, c.code, &in, kRequestSize, answer.data(), kAnswerSize, &returned, nullptr) != 0;
}

bool ReadDataBlock(win::HANDLE h, const SmartCommand& c, TSmartDataBlock& block, std::uint8_t drive) {
    AnswerBuffer answer;
    if (!SendCommand(h, c, drive, answer)) return false;
    std::memcpy(&block, answer.data(), sizeof block);
    return true;
}

struct AttrTexts {
    int id;
    const char* name;
    const char* description;
};

// Names end in the blanks that line them up in the attribute table; they are
// part of the text.
constexpr AttrTexts kAttrTexts[] = {
    {0, "这里没有属性      ",
     "这里没有属性      "},
    {1, "Raw 读取错误率    ",
     "未修正读取错误的计数。值越低意味着整个磁盘表面或读取/写入磁头的问题越多。"},
    {2, "数据吞吐性能  ",
     "硬盘全面(常规)的数据吞吐性能。这个数值的减少意味着该硬盘存在严重的故障问题。"},
    {3, "旋转启动时间           ",
     "硬盘旋转启动时间的平均值(从0 转/分钟到完全操作)。属性值越低表明硬盘启动比额定转速的启动时间更长."},
    {4, "启动/停止计算       ",
     "这一属性的原始数据是硬盘旋转启动/停止周期的计数。"},
    {5, "重新分配扇区计算",
     "表明在硬盘驱动器上发现了多少个已经有问题的扇区并且映射使用备用扇区的极限。这个数值的减少是一个危险的信号，它意味着磁盘表面某些新的问题出现。"},
    {6, "读取磁道极限     ",
     "磁道读取数据时的极限。这个属性功能未指定。"},
    {7, "寻道错误率         ",
     "磁头的寻道错误频率。属性值越低意味着磁盘表面和磁盘机械子系统面临更糟糕的情况。"},
    {8, "寻道时间特性   ",
     "显示进行磁头寻道操作的有多快，如果这个属性值逐渐降低，可能标志着硬盘子系统的问题逐渐显现。"},
    {9, "电源接通时间计算   ",
     "这个属性的原始数据显示电源接通时间(或分钟，或秒-取决于硬盘厂商)计算的状态。"},
    {10, "旋转重试计算        ",
     "旋转启动重试计算。如果硬盘首次无法旋转启动，会尝试其它启动。这个属性值存储了启动重试的计数。这典型的表明了存在严重的控制器或轴承问题，但也可能是由于电源问题所导致。"},
    {11, "校准重试计算  ",
     "This attribute indicates the times of recalibration was requested. A decrease of this attribute value is a sign of problems in the hard disk mechanical subsystem. "},
    {12, "电源循环计算      ",
     "整个硬盘电源开关周期计数。"},
    {13, "软件读取错误率",
     "程序从硬盘读取文件时出现错误的频率。该属性值越低表明硬盘的问题(错误)越多。"},
    {191, "G-Sense 错误率",
     "Number of errors as a result of impact loads as detected by a shock sensor. This attribute is manly limited to the notebook (2.5\") drives. Once the operation conditions are corrected, the attribute value will return to normal."},
    {192, "断电回位计算",
     "这个属性显示断电次数或电源回位周期。"},
    {193, "加载/卸载循环计算",
     "Count of load/unload cycles into Landing Zone position."},
    {194, "驱动器温度            ",
     "当前硬盘的温度。"},
    {195, "硬件 ECC 恢复",
     "飞行中出错的频率。"},
    {196, "再分配事件计算",
     "Count of remap operations (transfering data from a bad sector to a reserved sectors pool). A decrease of this value is a dangerous sign, it means some new surface problems have been found."},
    {197, "当前挂起扇区计算",
     "当前不稳定扇区(等待重新映射)的计数。它们将被驱动器的脱机扫描程序重试并且返回有效扇区的极限。该属性原始数据能够表明此类扇区的精确数值。"},
    {198, "脱机扫描未改正扇区计算",
     " 表明在脱机扫描期间发现多少有问题的扇区。"},
    {199, "UDMA CRC 错误计算    ",
     "在UltraDMA模式期间数据循环冗余校验出错的总数量。这个属性的原始数据表明在 UltraDMA模式下通过ICRC (CRC 接口)传输数据期间发现错误的计数。该属性值越低越典型的表明与连接器或电缆的连接的某部分存在错误。"},
    {200, "写入错误计算      ",
     "该属性表明了写入扇区时发现错误的总数。值越低表明更多的事件(错误)。"},
    {201, "软件读取错误率",
     "Logs rate at software read error occurs. Lower value indicates more events (errors)."},
    {202, "数据地址标记错误",
     "数据地址标记出错的频率。"},
    {203, "Run Out Cancel",
     "Frequency of the ECC errors. "},
    {204, "软件纠错修正",
     "Quantity of errors corrected by software ECC."},
    {205, "Thermal Asperity Rate",
     "Frequency of the thermal asperity errors."},
    {206, "磁头飞高",
     "The height of the magnetic heads above the disk surface."},
    {207, "旋转高度计算",
     "Quantity of used high current to spin up drive."},
    {208, "旋转声音",
     "Quantity of used buzz routines to spin up drive."},
    {209, "脱机寻道性能",
     "Drive's seek performance during offline operations."},
    {220, "磁盘移动",
     "The raw data of this attribute indicates how much the disk has shifted. Shift of disk is possible as a result of a strong shock or a fall, or for other reasons (sometimes: Temperature)."},
    {221, "G-Sense 错误率",
     "Number of errors as a result of impact loads as detected by a shock sensor. This attribute is manly limited to the notebook (2.5\") drives. Once the operation conditions are corrected, the attribute value will return to normal."},
    {222, "加载时间",
     "Loading on drive caused by the general operating time of hours it stores."},
    {223, "Load/Unload 重试计算",
     "Loading on drive caused by numerous recurrences of operations like: reading, recording, positioning of heads, etc."},
    {224, "加载摩擦",
     "Loading on drive caused by friction in mechanical subsystem."},
    {225, "加载/卸载循环计算",
     "Count of load/unload cycles into Landing Zone position."},
    {226, "载入时间",
     "General time of loading for drive."},
    {227, "力矩放大计算",
     "Quantity efforts of the rotating moment of a drive."},
    {228, "断电回位计算",
     "Quantity of the fixed turning off's a drive."},
    {230, "GMR 磁头幅度 ",
     "Amplitude of heads trembling (GMR-head) in running mode."},
    {231, "驱动器温度",
     "当前硬盘的温度。"},
    {240, "磁头飞行时间",
     "磁头定位的时间"},
    {241, "读取错误重试率",
     "从一张磁盘读取数据时出现错误的频率。"},
    {250, "读取错误重试率",
     "从一张磁盘读取数据时出现错误的频率。"},
};

constexpr const char* kUnknownAttr = "未知属性";

const AttrTexts* FindAttr(int id) {
    for (const AttrTexts& t : kAttrTexts)
        if (t.id == id) return &t;
    return nullptr;
}

}  // namespace

TSmartAttrEntry TSmartDataBlock::Attr(int i) const {
    TSmartAttrEntry e{};
    if (i >= 0 && i < kSmartEntryCount) std::memcpy(&e, Entries.data() + i * sizeof e, sizeof e);
    return e;
}

TSmartThresholdEntry TSmartDataBlock::Threshold(int i) const {
    TSmartThresholdEntry e{};
    if (i >= 0 && i < kSmartEntryCount) std::memcpy(&e, Entries.data() + i * sizeof e, sizeof e);
    return e;
}

win::HANDLE OpenSmartDevice(std::uint8_t drive) {
    win::OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    win::GetVersionExA(&version);
    if (version.dwPlatformId == win::VER_PLATFORM_WIN32_NT) {
        // The S.M.A.R.T. control codes need read and write access to the
        // drive; no write is ever issued through the handle.
        char path[32];
        std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", drive);
        return win::CreateFileA(path, win::GENERIC_READ | win::GENERIC_WRITE,
                                win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr, win::OPEN_EXISTING, 0,
                                nullptr);
    }
    // Windows 9x: the SMARTVSD.VXD driver, opened the way VxDs are opened;
    // the drive is chosen per command by bDriveNumber.
    win::HANDLE h = win::CreateFileA("\\\\.\\SMARTVSD", 0, 0, nullptr, win::CREATE_NEW, 0, nullptr);
    if (h == win::INVALID_HANDLE_VALUE)
        win::MessageBoxA(nullptr, "无法打开 'SmartVSD.vxd'.", "Error", win::MB_OK | win::MB_ICONERROR);
    return h;
}

bool SmartEnable(win::HANDLE h, std::uint8_t drive) {
    AnswerBuffer answer;
    return SendCommand(h, kEnable, drive, answer);
}

bool SmartReadValues(win::HANDLE h, TSmartDataBlock& block, std::uint8_t drive) {
    return ReadDataBlock(h, kReadValues, block, drive);
}

bool SmartReadThresholds(win::HANDLE h, TSmartDataBlock& block, std::uint8_t drive) {
    return ReadDataBlock(h, kReadThresholds, block, drive);
}

bool SmartIdentify(win::HANDLE h, TSmartDriveRec& rec, std::uint8_t drive) {
    win::GETVERSIONINPARAMS version;
    std::memset(&version, 0, sizeof version);
    win::DWORD returned = 0;
    if (!win::DeviceIoControl(h, win::SMART_GET_VERSION, nullptr, 0, &version, sizeof version, &returned, nullptr))
        return false;
    // Bits 4 to 7 of the device map mark the ATAPI devices among drives 0 to
    // 3; they answer IDENTIFY PACKET DEVICE and refuse IDENTIFY DEVICE.
    const bool atapi = drive <= 3 && ((version.bIDEDeviceMap >> (drive + 4)) & 1) != 0;
    const SmartCommand identify{win::SMART_RCV_DRIVE_DATA, win::IDENTIFY_BUFFER_SIZE, 0,
                                atapi ? win::ATAPI_ID_CMD : win::ID_CMD, 0, 0};
    AnswerBuffer answer;
    if (!SendCommand(h, identify, drive, answer)) return false;
    std::memcpy(&rec, answer.data(), sizeof rec);
    return true;
}

void SwapBytePairs(void* buffer, std::uint16_t count) {
    auto* p = static_cast<std::uint8_t*>(buffer);
    for (std::uint16_t i = 0; i + 1 < count; i += 2) {
        const std::uint8_t t = p[i];
        p[i] = p[i + 1];
        p[i + 1] = t;
    }
}

std::string GetSmartAttrName(int id) {
    const AttrTexts* t = FindAttr(id);
    return t ? t->name : kUnknownAttr;
}

std::string GetSmartAttrDescription(int id) {
    const AttrTexts* t = FindAttr(id);
    return t ? t->description : kUnknownAttr;
}
