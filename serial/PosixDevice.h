#pragma once
// The device layer over Linux serial devices (termios, poll, ioctl). Port n is the device that
// section "Devices", key "COM"+n of the program's ini file names, or else a default:
//   COM1..COM4   /dev/ttyS0..3      (on-board UARTs)
//   COM5..COM8   /dev/ttyUSB0..3    (USB serial adapters)
//   COM9..COM12  /dev/ttyACM0..3    (USB CDC devices)
//   COM13..COM16 /dev/ttyAMA0..3    (ARM board UARTs)
// Other numbers have no default. A device name that starts with "/" is taken as a path.

#include "serial/DeviceRoutines.h"

#include <string>

namespace serial
{

// The routine table of this layer, and installing it as the program's device layer.
TDeviceRoutines PosixDeviceRoutines();
void InstallPosixDeviceLayer();

// The ini file with the "Devices" section; the program sets it at start ("loader.ini" in the
// directory current at start by default).
void SetDeviceIniFile(const std::string &path);
std::string DeviceIniFile();

// The path a device name opens: "COM3", "\\.\COM3" or a path. Empty when there is none.
std::string DevicePathFor(const std::string &name);
// The built-in path of COM n, empty when the table has none.
std::string DefaultDevicePath(int comNumber);
// The stable name of a device: the link under `devRoot`/serial/by-id that leads to the same file
// (it stays when a USB adapter comes back under another /dev/ttyUSBn). Empty when none does.
std::string StableDeviceName(const std::string &device, const std::string &devRoot = "/dev");

} // namespace serial
