#include "description/gzip_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>

namespace {

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::size_t kTrailerSize = 4;  // only ISIZE is used

constexpr int kMagic0 = 0x1F;
constexpr int kMagic1 = 0x8B;
constexpr int kMethodDeflate = 8;
constexpr int kFlagHeaderCrc = 0x02;
constexpr int kFlagExtra = 0x04;
constexpr int kFlagName = 0x08;
constexpr int kFlagComment = 0x10;
constexpr int kFlagsReserved = 0xE0;
constexpr std::size_t kFixedHeaderRest = 6;  // time, extra flags, operating system

std::uint32_t LittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads up to size bytes, retrying short reads, so that a chunk is only
// short at the end of the file.
std::size_t ReadFully(int fd, std::uint8_t* out, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        ssize_t r = ::read(fd, out + got, size - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    return got;
}

bool ReadAt(int fd, std::uint8_t* out, std::size_t size, off_t offset) {
    std::size_t got = 0;
    while (got < size) {
        ssize_t r = ::pread(fd, out + got, size - got, offset + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace

const char* GzipStatusText(GzipStatus status) {
    switch (status) {
        case GzipStatus::Ok:
            return "ok";
        case GzipStatus::Missing:
            return "missing";
        case GzipStatus::BadHeader:
            return "unreadable header";
        case GzipStatus::Damaged:
            return "damaged data";
        case GzipStatus::Short:
            return "shorter than announced";
    }
    return "?";
}

GzipReader::GzipReader() = default;

GzipReader::~GzipReader() {
    Reset();
}

void GzipReader::Reset() {
    if (zReady_) inflateEnd(&z_);
    zReady_ = false;
    z_ = z_stream{};
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    in_ = nullptr;
    inSize_ = inPos_ = 0;
    consumed_ = 0;
    announced_ = 0;
    limit_ = delivered_ = 0;
    ended_ = false;
    status_ = GzipStatus::Missing;
}

GzipStatus GzipReader::OpenMemory(std::span<const std::uint8_t> file) {
    Reset();
    in_ = file.data();
    inSize_ = file.size();
    if (file.size() >= kTrailerSize) announced_ = LittleEndian32(file.data() + file.size() - 4);
    return Start(file.size());
}

GzipStatus GzipReader::OpenFile(const std::string& path) {
    Reset();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return status_ = GzipStatus::Missing;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        Reset();
        return status_ = GzipStatus::Missing;
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize >= kTrailerSize) {
        std::uint8_t trailer[kTrailerSize];
        if (!ReadAt(fd_, trailer, kTrailerSize, st.st_size - static_cast<off_t>(kTrailerSize)))
            return status_ = GzipStatus::Damaged;
        announced_ = LittleEndian32(trailer);
    }
    chunk_ = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
    in_ = chunk_.get();
    return Start(fileSize);
}

GzipStatus GzipReader::Start(std::uint64_t fileSize) {
    if (fileSize < kTrailerSize) return status_ = GzipStatus::Damaged;
    const GzipStatus header = ParseHeader();

    // Also known for an unusable header: a caller may size its result by it.
    const std::uint64_t headerEnd = consumed_ + inPos_;
    const std::uint64_t deflateBytes = fileSize > headerEnd ? fileSize - headerEnd : 0;
    const std::uint64_t cap = std::min<std::uint64_t>(MaxInflatedSize(deflateBytes), UINT_MAX);
    limit_ = static_cast<std::size_t>(std::min<std::uint64_t>(announced_, cap));
    if (header != GzipStatus::Ok) return status_ = header;

    // Negative window bits: zlib reads bare deflate data and looks for no header.
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) return status_ = GzipStatus::Damaged;
    zReady_ = true;
    return status_ = GzipStatus::Ok;
}

bool GzipReader::Refill() {
    if (fd_ < 0) return false;
    consumed_ += inSize_;
    inSize_ = ReadFully(fd_, chunk_.get(), kChunkSize);
    inPos_ = 0;
    return inSize_ > 0;
}

int GzipReader::NextByte() {
    if (inPos_ == inSize_ && !Refill()) return -1;
    return in_[inPos_++];
}

bool GzipReader::Skip(std::size_t count) {
    while (count > 0) {
        if (inPos_ == inSize_ && !Refill()) return false;
        std::size_t step = std::min(count, inSize_ - inPos_);
        inPos_ += step;
        count -= step;
    }
    return true;
}

GzipStatus GzipReader::ParseHeader() {
    const int m0 = NextByte();
    const int m1 = NextByte();
    if (m0 != kMagic0 || m1 != kMagic1) {
        // Not a gzip member: the same bytes are bare deflate data from the start.
        if (consumed_ != 0) {
            if (::lseek(fd_, 0, SEEK_SET) != 0) return GzipStatus::Damaged;
            consumed_ = 0;
            inSize_ = 0;
            Refill();
        }
        inPos_ = 0;
        return GzipStatus::Ok;
    }
    const int method = NextByte();
    if (method != kMethodDeflate) return GzipStatus::BadHeader;
    const int flags = NextByte();
    if (flags < 0 || (flags & kFlagsReserved) != 0) return GzipStatus::BadHeader;
    if (!Skip(kFixedHeaderRest)) return GzipStatus::BadHeader;
    if (flags & kFlagExtra) {
        const int lo = NextByte();
        const int hi = NextByte();
        if (lo < 0 || hi < 0) return GzipStatus::BadHeader;
        if (!Skip(static_cast<std::size_t>(lo | hi << 8))) return GzipStatus::BadHeader;
    }
    for (int textFlag : {kFlagName, kFlagComment}) {
        if (!(flags & textFlag)) continue;
        int c = 0;
        while ((c = NextByte()) > 0) {
        }
        if (c < 0) return GzipStatus::BadHeader;
    }
    if ((flags & kFlagHeaderCrc) && !Skip(2)) return GzipStatus::BadHeader;
    return GzipStatus::Ok;
}

std::size_t GzipReader::Read(std::uint8_t* out, std::size_t n) {
    if (status_ != GzipStatus::Ok || n == 0) return 0;
    n = std::min(n, limit_ - delivered_);
    if (n == 0) return 0;
    if (ended_) {
        status_ = GzipStatus::Short;
        return 0;
    }

    // limit_ fits in uInt, so n does too.
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(n);
    while (z_.avail_out > 0) {
        // At the end of the input inflate is still called: it may hold output
        // of a match that the last call had no room for.
        if (inPos_ == inSize_) Refill();
        const std::size_t offered = std::min<std::size_t>(inSize_ - inPos_, UINT_MAX);
        z_.next_in = const_cast<Bytef*>(in_ + inPos_);  // zlib's API is not const-correct
        z_.avail_in = static_cast<uInt>(offered);
        const int r = inflate(&z_, Z_NO_FLUSH);
        inPos_ += offered - z_.avail_in;
        if (r == Z_STREAM_END) {
            ended_ = true;
            if (z_.avail_out > 0) status_ = GzipStatus::Short;
            break;
        }
        // Z_BUF_ERROR: no progress, the input ended inside the deflate stream.
        if (r != Z_OK) {
            status_ = GzipStatus::Damaged;
            break;
        }
    }
    const std::size_t produced = n - z_.avail_out;
    delivered_ += produced;
    return produced;
}

namespace {

GzipBuffer ReadWhole(GzipReader& reader, GzipStatus opened) {
    GzipBuffer result;
    result.status = opened;
    result.announced = reader.Announced();
    if (opened != GzipStatus::Ok) return result;
    // One allocation of the final size; the cap keeps a lying trailer harmless.
    if (reader.Limit() > 0) {
        result.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(reader.Limit());
        result.size = reader.Read(result.bytes.get(), reader.Limit());
    }
    result.status = reader.Status();
    return result;
}

}  // namespace

GzipBuffer GunzipMemory(std::span<const std::uint8_t> file) {
    GzipReader reader;
    return ReadWhole(reader, reader.OpenMemory(file));
}

GzipBuffer GunzipFile(const std::string& path) {
    GzipReader reader;
    return ReadWhole(reader, reader.OpenFile(path));
}
