#pragma once
// Small building blocks of the data layer: a reference to a text inside the
// loaded language file (absent vs present-but-empty), and a table whose size
// is fixed when it is built (tables never change size after loading).
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace data {

// A UTF-16 text that refers into the loaded language file text, or
// nothing. An absent text shows as empty; `present()` tells the two apart.
// The referenced text is owned by the LanguageData the record belongs to.
class TextRef {
  public:
    constexpr TextRef() = default;
    constexpr explicit TextRef(std::u16string_view text) : text_(text), present_(true) {}

    constexpr bool present() const { return present_; }
    constexpr explicit operator bool() const { return present_; }
    // The text; empty when absent.
    constexpr std::u16string_view view() const { return text_; }
    // The text when present, otherwise the caller's built-in default.
    constexpr std::u16string_view valueOr(std::u16string_view fallback) const {
        return present_ ? text_ : fallback;
    }
    std::u16string str() const { return std::u16string(text_); }

    friend constexpr bool operator==(const TextRef& a, const TextRef& b) {
        return a.present_ == b.present_ && a.text_ == b.text_;
    }

  private:
    std::u16string_view text_;
    bool present_ = false;
};

// An array whose length is fixed at construction. Records are created at their
// initial values; only their fields change afterwards. It is a contiguous
// range, so it converts to std::span<T> / std::span<const T>.
template <class T>
class FixedTable {
  public:
    FixedTable() = default;
    explicit FixedTable(std::size_t count)
        : items_(count ? std::make_unique<T[]>(count) : nullptr), size_(count) {}
    FixedTable(FixedTable&& other) noexcept
        : items_(std::move(other.items_)), size_(std::exchange(other.size_, 0)) {}
    FixedTable& operator=(FixedTable&& other) noexcept {
        items_ = std::move(other.items_);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* data() { return items_.get(); }
    const T* data() const { return items_.get(); }
    T* begin() { return items_.get(); }
    T* end() { return items_.get() + size_; }
    const T* begin() const { return items_.get(); }
    const T* end() const { return items_.get() + size_; }
    // Unchecked, like an array.
    T& operator[](std::size_t i) { return items_[i]; }
    const T& operator[](std::size_t i) const { return items_[i]; }
    // nullptr when i is not less than size().
    T* at(std::size_t i) { return i < size_ ? &items_[i] : nullptr; }
    const T* at(std::size_t i) const { return i < size_ ? &items_[i] : nullptr; }
    std::span<T> span() { return {items_.get(), size_}; }
    std::span<const T> span() const { return {items_.get(), size_}; }

  private:
    std::unique_ptr<T[]> items_;
    std::size_t size_ = 0;
};

}  // namespace data
