#pragma once
// A byte string of one pointer: a million catalogue records hold five texts each, most of them empty,
// so an empty text must cost nothing but the pointer.
#include <cstring>
#include <string>
#include <string_view>

class CompactText {
  public:
    CompactText() = default;
    CompactText(std::string_view text) { Assign(text); }
    CompactText(const CompactText& other) { Assign(other.view()); }
    CompactText(CompactText&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
    constexpr ~CompactText() { Clear(); }

    CompactText& operator=(const CompactText& other) {
        if (this != &other) Assign(other.view());
        return *this;
    }
    CompactText& operator=(CompactText&& other) noexcept;
    CompactText& operator=(std::string_view text) {
        Assign(text);
        return *this;
    }

    bool empty() const { return data_ == nullptr; }
    size_t size() const {
        size_t length = 0;
        if (data_) std::memcpy(&length, data_, sizeof length);
        return length;
    }
    std::string_view view() const { return empty() ? std::string_view() : std::string_view(Bytes(), size()); }
    std::string str() const { return std::string(view()); }
    operator std::string_view() const { return view(); }

    constexpr void Clear() {
        if (data_) Release();
    }

    // True while the empty text is a null pointer and nothing more: zero-filled memory then holds
    // empty texts without being constructed.
    static constexpr bool ZeroIsEmpty();

  private:
    void Release();
    void Assign(std::string_view text);
    const char* Bytes() const { return data_ + sizeof(size_t); }

    char* data_ = nullptr;  // the length, then the bytes
};

constexpr bool CompactText::ZeroIsEmpty() {
    return sizeof(CompactText) == sizeof(char*) && CompactText().data_ == nullptr;
}

inline bool operator==(const CompactText& a, std::string_view b) {
    return a.view() == b;
}
