// The simulator's sandbox: a folder laid out like the board's file system.
#pragma once

#include <string>

namespace sim {

// A fresh temporary folder for a sandbox; "" on failure.
std::string makeTempRoot();

// Creates dev/, opt/Pravik3D/, opt/usb/ and var/ under `root`.
bool makeSandbox(const std::string& root, std::string& error);

// Points <root>/dev/ttyS1 at the serial line's device.
bool linkSerial(const std::string& root, const std::string& device, std::string& error);

}  // namespace sim
