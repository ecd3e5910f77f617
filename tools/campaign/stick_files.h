// The bytes of a session's print files and the folders of its sticks.
#pragma once

#include <string>

#include "session.h"

namespace campaign {

// The print file a plan describes, spoiled bytes and all.
std::string fileBytes(const FilePlan& plan);

// The name as it goes on the stick: the UTF-8 name, or its GBK bytes.
std::string diskName(const FilePlan& plan);

// Writes the stick's folder (its print folder "pravik3d" when it has one)
// under `dir`; "" or what failed.
std::string writeStick(const StickSpec& stick, const std::string& dir);

}  // namespace campaign
