#include "platform/archive.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/text.h"

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

void Archive::WriteU8(std::uint8_t v) {
    RequireStoring();
    data_.push_back(v);
}

void Archive::WriteU16(std::uint16_t v) {
    WriteU8(static_cast<std::uint8_t>(v));
    WriteU8(static_cast<std::uint8_t>(v >> 8));
}

void Archive::WriteU32(std::uint32_t v) {
    WriteU16(static_cast<std::uint16_t>(v));
    WriteU16(static_cast<std::uint16_t>(v >> 16));
}

void Archive::WriteBytes(const void* data, std::size_t size) {
    RequireStoring();
    const auto* p = static_cast<const std::uint8_t*>(data);
    data_.insert(data_.end(), p, p + size);
}

void Archive::WriteRawText(std::string_view bytes) {
    // One byte below 255; 0xFF and 16 bits below 0xFFFE; else 0xFF, 0xFFFF, 32 bits.
    std::size_t n = bytes.size();
    if (n < 0xFF) {
        WriteU8(static_cast<std::uint8_t>(n));
    } else if (n < 0xFFFE) {
        WriteU8(0xFF);
        WriteU16(static_cast<std::uint16_t>(n));
    } else {
        if (n > 0xFFFFFFFFu) throw ArchiveError("text too long for the archive");
        WriteU8(0xFF);
        WriteU16(0xFFFF);
        WriteU32(static_cast<std::uint32_t>(n));
    }
    WriteBytes(bytes.data(), n);
}

void Archive::WriteText(std::string_view utf8) {
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

std::string Archive::ReadRawText() {
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
    std::string bytes(reinterpret_cast<const char*>(data_.data() + pos_), n);
    pos_ += n;
    return bytes;
}

std::string Archive::ReadText() {
    return Cp1251ToUtf8(ReadRawText());
}
