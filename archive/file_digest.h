#pragma once
// The SHA-256 of a file, as the ledger records it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct FileDigest {
    static constexpr size_t kEdgeBytes = 16;
    std::int64_t bytes = 0;
    std::string sha256;      // lower-case hex
    std::string head, tail;  // the first and the last kEdgeBytes (fewer in a smaller file)
};

// Reads the file at the GBK path through; nothing, with errno saying why, when it cannot be read.
std::optional<FileDigest> DigestFile(std::string_view path);
