// files.h - the little-endian and file helpers the tools share.
//
// The asset generator writes BMP headers, the capture tool a WAV header, and
// both write whole files into folders they may have to make first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace files {

// Appends v as 2 or 4 little-endian bytes to a byte string or byte vector.
template <class Bytes>
void put16(Bytes& out, uint32_t v) {
    using Byte = typename Bytes::value_type;
    out.push_back(static_cast<Byte>(v & 0xff));
    out.push_back(static_cast<Byte>(v >> 8 & 0xff));
}
template <class Bytes>
void put32(Bytes& out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// Writes the bytes as the whole file; false if any step fails.
bool writeFile(const std::string& path, const void* data, size_t size);
template <class Bytes>
bool writeFile(const std::string& path, const Bytes& bytes) {
    return writeFile(path, bytes.data(), bytes.size() * sizeof(bytes[0]));
}

bool isDirectory(const std::string& path);

// Makes the folder and its parents; false (with errno set) when that fails.
bool makeDirs(const std::string& path);

}  // namespace files
