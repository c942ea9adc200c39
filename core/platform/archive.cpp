#include "platform/archive.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/text.h"

namespace {

// Code page 1251 and UTF-8 agree on the first half; such texts need no conversion.
bool IsAscii(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    return true;
}

// Most pieces are a few bytes; for those a plain loop beats a general insert.
void Append(std::vector<std::uint8_t>& out, const std::uint8_t* p, std::size_t size) {
    constexpr std::size_t kSmall = 16;
    if (size <= kSmall) {
        for (std::size_t i = 0; i < size; ++i)
            out.push_back(p[i]);
    } else {
        out.insert(out.end(), p, p + size);
    }
}

}  // namespace

Archive::Archive(std::vector<std::uint8_t> data) : data_(std::move(data)), storing_(false) {}

void Archive::RequireStoring() const {
    if (!storing_) throw std::logic_error("archive is open for loading");
}

void Archive::RequireLoading() const {
    if (storing_) throw std::logic_error("archive is open for storing");
}

void Archive::Need(std::size_t size) const {
    RequireLoading();
    if (size > data_.size() - pos_)
        throw ArchiveError(Format("unexpected end of data at byte %zu (%zu more needed, %zu left)",
                                  pos_, size, data_.size() - pos_));
}

void Archive::Reserve(std::size_t size) {
    RequireStoring();
    data_.reserve(size);
}

void Archive::WriteU8(std::uint8_t v) {
    RequireStoring();
    data_.push_back(v);
}

void Archive::WriteU16(std::uint16_t v) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    WriteBytes(bytes, sizeof bytes);
}

void Archive::WriteU32(std::uint32_t v) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v >> 16),
                                   static_cast<std::uint8_t>(v >> 24)};
    WriteBytes(bytes, sizeof bytes);
}

void Archive::WriteBytes(const void* data, std::size_t size) {
    RequireStoring();
    Append(data_, static_cast<const std::uint8_t*>(data), size);
}

void Archive::WriteRawText(std::string_view bytes) {
    // One byte below 255; 0xFF and 16 bits below 0xFFFE; else 0xFF, 0xFFFF, 32 bits.
    std::size_t n = bytes.size();
    std::uint8_t prefix[7] = {0xFF, 0xFF, 0xFF};
    std::size_t prefixSize = 1;
    if (n < 0xFF) {
        prefix[0] = static_cast<std::uint8_t>(n);
    } else if (n < 0xFFFE) {
        prefix[1] = static_cast<std::uint8_t>(n);
        prefix[2] = static_cast<std::uint8_t>(n >> 8);
        prefixSize = 3;
    } else {
        if (n > 0xFFFFFFFFu) throw ArchiveError("text too long for the archive");
        for (std::size_t i = 0; i < 4; ++i)
            prefix[3 + i] = static_cast<std::uint8_t>(n >> (8 * i));
        prefixSize = 7;
    }
    RequireStoring();
    Append(data_, prefix, prefixSize);
    Append(data_, reinterpret_cast<const std::uint8_t*>(bytes.data()), n);
}

void Archive::WriteText(std::string_view utf8) {
    if (IsAscii(utf8.data(), utf8.size()))
        WriteRawText(utf8);
    else
        WriteRawText(Utf8ToCp1251(utf8));
}

std::uint8_t Archive::ReadU8() {
    Need(1);
    return data_[pos_++];
}

std::uint16_t Archive::ReadU16() {
    Need(2);
    auto v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

std::uint32_t Archive::ReadU32() {
    Need(4);
    std::uint32_t v = data_[pos_] | (data_[pos_ + 1] << 8) | (data_[pos_ + 2] << 16) |
                      (static_cast<std::uint32_t>(data_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
}

void Archive::ReadBytes(void* out, std::size_t size) {
    Need(size);
    if (size) std::memcpy(out, data_.data() + pos_, size);
    pos_ += size;
}

std::string_view Archive::ReadRawTextView() {
    std::size_t start = pos_;
    std::uint32_t n = ReadU8();
    if (n == 0xFF) {
        n = ReadU16();
        if (n == 0xFFFE) {
            // The prefix of a wide-character text: never written by this program.
            pos_ = start;
            throw ArchiveError(Format("unsupported text encoding at byte %zu", start));
        }
        if (n == 0xFFFF) n = ReadU32();
    }
    if (n > data_.size() - pos_) {
        pos_ = start;
        throw ArchiveError(Format(
            "unexpected end of data: a text of %u bytes at byte %zu runs past the end", n, start));
    }
    std::string_view bytes(reinterpret_cast<const char*>(data_.data() + pos_), n);
    pos_ += n;
    return bytes;
}

std::string Archive::ReadRawText() {
    return std::string(ReadRawTextView());
}

std::string Archive::ReadText() {
    std::string_view bytes = ReadRawTextView();
    if (IsAscii(bytes.data(), bytes.size())) return std::string(bytes);
    return Cp1251ToUtf8(bytes);
}
