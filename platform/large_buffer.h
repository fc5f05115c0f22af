// Buffers of megabytes that are filled once, straight after they are made.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A string of size zero bytes whose storage the system may back with huge
// pages. For a page of megabytes the page faults of first touching the buffer,
// one per 4 KiB, can cost more than filling it (tens of milliseconds on a
// virtual machine); with huge pages they are a handful. Below the size of a
// huge page it is an ordinary string.
std::string largeBuffer(std::size_t size);

}  // namespace platform
