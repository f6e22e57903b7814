// SPDX-License-Identifier: MIT
#include "Gzip.h"

#include <zlib.h>

#include <array>

namespace varno::devserver {

bool looksGzipped(const std::string& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
           static_cast<unsigned char>(bytes[1]) == 0x8b;
}

std::optional<std::string> gunzip(const std::string& bytes, std::size_t limit) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    std::string out;
    std::array<char, 16384> buffer{};
    int rc = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        rc = inflate(&stream, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&stream);
            return std::nullopt;
        }
        out.append(buffer.data(), buffer.size() - stream.avail_out);
        if (out.size() > limit) {
            inflateEnd(&stream);
            return std::nullopt;
        }
    } while (rc != Z_STREAM_END && (stream.avail_in > 0 || stream.avail_out == 0));
    inflateEnd(&stream);
    if (rc != Z_STREAM_END)
        return std::nullopt; // truncated
    return out;
}

} // namespace varno::devserver
