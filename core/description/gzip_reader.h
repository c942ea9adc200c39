#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

// Reading of the compressed description files: one gzip member whose trailer
// announces the decompressed size, or bare deflate data when the gzip magic is
// missing. The CRC of the trailer is not compared.
//
// Memory stays in proportion to the file: at most the smaller of the
// announced size and what deflate could produce from the file's bytes is
// ever delivered or allocated, so a damaged trailer cannot ask for gigabytes.

enum class GzipStatus {
    Ok,         // everything announced was delivered so far
    Missing,    // the file could not be opened
    BadHeader,  // not a gzip member this reader accepts (method, reserved flags, cut header)
    Damaged,    // the compressed data is broken or ends too early
    Short,      // the data ended cleanly before the announced size
};

const char* GzipStatusText(GzipStatus status);

// Deflate's best case: a 258-byte match coded in two bits.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

// The most bytes deflate data of `compressedBytes` bytes can decompress to.
constexpr std::uint64_t MaxInflatedSize(std::uint64_t compressedBytes) {
    return (compressedBytes + 1) * kMaxDeflateRatio;
}

// Decompresses one member piece by piece. Not copyable or movable: zlib's
// state points back at the stream.
class GzipReader {
  public:
    GzipReader();
    ~GzipReader();
    GzipReader(const GzipReader&) = delete;
    GzipReader& operator=(const GzipReader&) = delete;

    // Reads from memory; the bytes must outlive the reader.
    GzipStatus OpenMemory(std::span<const std::uint8_t> file);
    // Reads from a file, in chunks.
    GzipStatus OpenFile(const std::string& path);

    // ISIZE as the trailer has it.
    std::uint32_t Announced() const { return announced_; }
    // What will be delivered at most: the announced size, capped by what the
    // file's deflate data could possibly hold (computed even when the header
    // turns out unusable, though nothing is delivered then).
    std::size_t Limit() const { return limit_; }
    std::size_t Delivered() const { return delivered_; }
    // True until Limit() bytes have been delivered or the data failed.
    bool HasData() const { return status_ == GzipStatus::Ok && delivered_ < limit_; }
    // Ok while nothing went wrong; after a read that fell short, why.
    GzipStatus Status() const { return status_; }

    // Decompresses up to n bytes into out and returns how many were written;
    // fewer than asked only when Limit() is reached or the data failed.
    std::size_t Read(std::uint8_t* out, std::size_t n);

  private:
    void Reset();
    GzipStatus Start(std::uint64_t fileSize);
    bool Refill();
    int NextByte();
    bool Skip(std::size_t count);
    GzipStatus ParseHeader();

    z_stream z_{};
    bool zReady_ = false;
    int fd_ = -1;
    // Input: a span over memory, or a window of the file in chunk_.
    const std::uint8_t* in_ = nullptr;
    std::size_t inSize_ = 0;
    std::size_t inPos_ = 0;
    std::unique_ptr<std::uint8_t[]> chunk_;
    std::uint64_t consumed_ = 0;  // file bytes before in_
    std::uint32_t announced_ = 0;
    std::size_t limit_ = 0;
    std::size_t delivered_ = 0;
    bool ended_ = false;
    GzipStatus status_ = GzipStatus::Missing;
};

// A whole decompressed member in one buffer, allocated once at Limit() bytes.
struct GzipBuffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;         // bytes delivered
    std::uint32_t announced = 0;  // ISIZE of the trailer
    GzipStatus status = GzipStatus::Missing;

    std::span<const std::uint8_t> Span() const { return {bytes.get(), size}; }
};

GzipBuffer GunzipMemory(std::span<const std::uint8_t> file);
GzipBuffer GunzipFile(const std::string& path);
