#pragma once
// Helpers shared by the sources of the conversion library.

#include <string>

namespace convert {

// The one-byte variant types hold a Windows-1251 byte: its character in UTF-8.
std::string ByteToText(unsigned char byte);

}  // namespace convert
