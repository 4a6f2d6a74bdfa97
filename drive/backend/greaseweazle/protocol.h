// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The Greaseweazle's command set over its CDC-ACM serial stream: a command is its code, its
// whole length and its arguments (little-endian); the device answers the code and an ACK,
// then whatever the command returns.
namespace vokta::gw {

namespace Cmd {
constexpr uint8_t GetInfo = 0;
constexpr uint8_t Seek = 2;
constexpr uint8_t Head = 3;
constexpr uint8_t Motor = 6;
constexpr uint8_t ReadFlux = 7;
constexpr uint8_t WriteFlux = 8;
constexpr uint8_t GetFluxStatus = 9;
constexpr uint8_t Select = 12;
constexpr uint8_t Deselect = 13;
constexpr uint8_t SetBusType = 14;
constexpr uint8_t Reset = 16;
constexpr uint8_t EraseFlux = 17;
constexpr uint8_t GetPin = 20;
}  // namespace Cmd

namespace Ack {
constexpr uint8_t Okay = 0;
constexpr uint8_t BadCommand = 1;
constexpr uint8_t NoIndex = 2;
constexpr uint8_t NoTrack0 = 3;
constexpr uint8_t FluxOverflow = 4;
constexpr uint8_t FluxUnderflow = 5;
constexpr uint8_t WriteProtected = 6;
constexpr uint8_t NoUnit = 7;
constexpr uint8_t NoBus = 8;
constexpr uint8_t BadUnit = 9;
constexpr uint8_t BadPin = 10;
constexpr uint8_t BadCylinder = 11;
constexpr uint8_t OutOfSram = 12;
constexpr uint8_t OutOfFlash = 13;
}  // namespace Ack

enum class BusType : uint8_t { None = 0, IbmPc = 1, Shugart = 2 };

// GET_INFO's index of the firmware block.
constexpr uint8_t kInfoFirmware = 0;
constexpr int kInfoSize = 32;

// Drive interface pins GET_PIN reads; each line is active low.
namespace Pin {
constexpr uint8_t Track0 = 26;
constexpr uint8_t WriteProtect = 28;
constexpr uint8_t DiskChange = 34;  // IBM PC bus; boards without the input answer BadPin
}  // namespace Pin

// The stream's line speeds: switching to ClearComms and back drops whatever the device was
// doing and any bytes in flight.
constexpr unsigned kBaudNormal = 9600;
constexpr unsigned kBaudClearComms = 10000;

// USB ids of the device: the current one, and the one older units carry.
constexpr uint16_t kUsbVendor = 0x1209;
constexpr uint16_t kUsbProduct = 0x4D69;
constexpr uint16_t kUsbProductOld = 0x0001;

// The 32-bit argument or answer field at `at`; every number on the line is little-endian.
inline uint32_t LittleEndian32(std::span<const uint8_t> bytes, size_t at)
{
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

}  // namespace vokta::gw
