#pragma once

#include <QtGlobal>

// Numbers of the detector's side of the Qlp protocol: command ids, the
// acknowledge codes this detector answers with, the measurement states it
// reports, and the channel groups of its acquisition.
namespace SimProtocol {

enum Command : quint16 {
    Identify = 0x0100,
    StartMeasurement = 0x0F00,
    StopMeasurement = 0x0F01,
    FirmwareWrite = 0x0F03,
    ReadLog = 0x0F04,
    DiscardData = 0x0F06,
    SetTimings = 0x0F22,
    SetTrigger = 0x0F24,
    SetFilter = 0x0F25,
    SetGating = 0x0F26,
    SetGain = 0x0F27,
    SetMuxer = 0x0F2A,
    SetAdcConfig = 0x0F2B,
    SetDigitalChannel = 0x0F2C,
    MeasurementState = 0x0F41,
    GetTimings = 0x0F42,
    GetTrigger = 0x0F44,
    GetFilter = 0x0F45,
    GetGating = 0x0F46,
    GetGain = 0x0F47,
    GetGainLevels = 0x0F48,
    GetMuxer = 0x0F4A,
    GetAdcConfig = 0x0F4B,
    GetDigitalChannel = 0x0F4C,
    GetAdcStatistics = 0x0F4F,
    TransferData = 0x0F5B,
    FileInfo = 0x0F60,
    FileBlock = 0x0F61,
    SetDeviceConfig = 0x0F63,
    SetFanControl = 0x0F64,
    FileChecksum = 0x0F80,
    FileRead = 0x0F81,
    GetDeviceConfig = 0x0F83,
    GetFanControl = 0x0F84,
};

// In every set/get pair the get is the set + 0x20.
constexpr quint16 kGetOffset = 0x20;

// Acknowledge codes. The plug-in treats 1 to 7 as failure and anything else
// as success, so every refusal of this detector lies in 1 to 7.
enum Ack : quint16 {
    AckOk = 0,
    AckBadLength = 1,      // payload length does not match the command
    AckBusy = 2,           // not possible in the current state
    AckBadValue = 3,       // index, id, offset or value out of range
    AckUnknownCommand = 4, // command id this detector does not know
    AckTransferError = 5,  // file incomplete or its checksum does not match
    AckNoData = 6,         // transfer requested but no frame is ready
    AckNoResources = 7,    // too many open transfers, file too large
};

enum MeasurementState : quint8 {
    NotReady = 0,
    Ready = 1,
    Starting = 2,
    Running = 3,
    AcquisitionTerminated = 4,
    TimedOut = 5,
    PostProcess = 6,
    Transferring = 7,
    Stopping = 8,
    Stopped = 9,
};

// Channel state byte: low nibble the group, high nibble flags.
enum ChannelStateFlag : quint8 {
    ChannelArmed = 0x10,     // the group still acquires (waits for or records a trigger)
    ChannelRecording = 0x20, // a record of the group is being taken right now
    ChannelDataReady = 0x40, // at least one complete frame waits for transfer
};

// Acquisition channel groups; the index of the timing command and the group
// byte of a raw data packet.
enum Group : quint8 { GroupMuxer = 0, GroupTestVoltage = 1, GroupCharge0 = 2, GroupCharge1 = 3, GroupCharge2 = 4 };
constexpr int kGroupCount = 5;

} // namespace SimProtocol
