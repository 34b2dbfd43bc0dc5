#include "net/percent_encode.h"

#include <curl/curl.h>

#include <new>

std::string PercentEncode(std::string_view bytes) {
    // libcurl refuses inputs of more than a few megabytes; bytes are encoded one by one, so pieces
    // join up exactly. A hostile answer's id may be that long.
    constexpr size_t kPiece = 1 << 20;
    std::string out;
    out.reserve(bytes.size());
    for (size_t start = 0; start < bytes.size(); start += kPiece) {
        const std::string_view piece = bytes.substr(start, kPiece);
        char* escaped = curl_easy_escape(nullptr, piece.data(), static_cast<int>(piece.size()));
        if (!escaped) throw std::bad_alloc();
        out += escaped;
        curl_free(escaped);
    }
    return out;
}

bool InitNetwork() {
    return curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
}

void ShutDownNetwork() {
    curl_global_cleanup();
}
