#include "catalogue/compact_text.h"

#include <cstdlib>
#include <cstring>
#include <new>

CompactText& CompactText::operator=(CompactText&& other) noexcept {
    if (this != &other) {
        Clear();
        data_ = other.data_;
        other.data_ = nullptr;
    }
    return *this;
}

void CompactText::Release() {
    std::free(data_);
    data_ = nullptr;
}

void CompactText::Assign(std::string_view text) {
    if (text.empty()) {
        Clear();
        return;
    }
    char* block = static_cast<char*>(std::malloc(sizeof(size_t) + text.size()));
    if (!block) throw std::bad_alloc();
    const size_t length = text.size();
    std::memcpy(block, &length, sizeof length);
    std::memcpy(block + sizeof length, text.data(), length);
    std::free(data_);  // after the copy: `text` may point into this very block
    data_ = block;
}
