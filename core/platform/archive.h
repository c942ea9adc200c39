#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The binary archive of the configuration files: little-endian integers and
// length-prefixed texts in code page 1251. An archive either stores into a
// growing buffer or loads from a fixed one; a load past the end of the data,
// or a length that cannot be right, throws ArchiveError and reads nothing.
class ArchiveError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Archive {
  public:
    // An archive that stores.
    Archive() = default;
    // An archive that loads from the given bytes (copied).
    explicit Archive(std::vector<std::uint8_t> data);

    bool IsStoring() const { return storing_; }
    bool IsLoading() const { return !storing_; }

    // Storing.
    // Room for size bytes in all, so that a store of known size grows once.
    void Reserve(std::size_t size);
    void WriteU8(std::uint8_t v);
    void WriteBool(bool v) { WriteU8(v ? 1 : 0); }
    void WriteU16(std::uint16_t v);
    void WriteU32(std::uint32_t v);
    void WriteI32(std::int32_t v) { WriteU32(static_cast<std::uint32_t>(v)); }
    void WriteBytes(const void* data, std::size_t size);
    // A UTF-8 text, stored in code page 1251 behind its length prefix.
    void WriteText(std::string_view utf8);
    // Raw code-page bytes behind a length prefix.
    void WriteRawText(std::string_view bytes);

    // Loading.
    std::uint8_t ReadU8();
    bool ReadBool() { return ReadU8() != 0; }
    std::uint16_t ReadU16();
    std::uint32_t ReadU32();
    std::int32_t ReadI32() { return static_cast<std::int32_t>(ReadU32()); }
    void ReadBytes(void* out, std::size_t size);
    std::string ReadText();     // converted to UTF-8
    std::string ReadRawText();  // the code-page bytes as stored
    // The same without a copy; valid while the archive lives unchanged.
    std::string_view ReadRawTextView();

    bool AtEnd() const { return pos_ >= data_.size(); }
    std::size_t Position() const { return pos_; }
    // Back to a position read before (a second pass over checked data).
    void Seek(std::size_t pos) {
        RequireLoading();
        pos_ = pos < data_.size() ? pos : data_.size();
    }
    std::size_t Size() const { return data_.size(); }
    const std::vector<std::uint8_t>& Data() const { return data_; }

  private:
    void Need(std::size_t size) const;
    void RequireStoring() const;
    void RequireLoading() const;

    std::vector<std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool storing_ = true;
};
