#include "description/gzip_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/deflate.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A gzip member as zlib writes it.
Bytes Gzip(const Bytes& data) {
    return Deflate(data, 31);
}

void PutLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct Header {
    int method = 8;
    int flags = 0;  // the field flags are added from the fields below
    Bytes extra;
    std::string name;
    std::string comment;
    bool headerCrc = false;

    Header& Method(int v) { return method = v, *this; }
    Header& Flags(int v) { return flags = v, *this; }
    Header& Extra(Bytes v) { return extra = std::move(v), *this; }
    Header& Name(std::string v) { return name = std::move(v), *this; }
    Header& Comment(std::string v) { return comment = std::move(v), *this; }
    Header& WithCrc() { return headerCrc = true, *this; }
};

// A member with a hand-made header around raw deflate data.
Bytes GzipWith(const Header& h, const Bytes& data) {
    int flags = h.flags;
    if (!h.extra.empty()) flags |= 0x04;
    if (!h.name.empty()) flags |= 0x08;
    if (!h.comment.empty()) flags |= 0x10;
    if (h.headerCrc) flags |= 0x02;
    Bytes out = {0x1F,
                 0x8B,
                 static_cast<std::uint8_t>(h.method),
                 static_cast<std::uint8_t>(flags),
                 1,
                 2,
                 3,
                 4,
                 0,
                 3};
    if (!h.extra.empty()) {
        out.push_back(static_cast<std::uint8_t>(h.extra.size() & 0xFF));
        out.push_back(static_cast<std::uint8_t>(h.extra.size() >> 8));
        out.insert(out.end(), h.extra.begin(), h.extra.end());
    }
    for (const std::string* text : {&h.name, &h.comment}) {
        if (text->empty()) continue;
        out.insert(out.end(), text->begin(), text->end());
        out.push_back(0);
    }
    if (h.headerCrc) {
        auto crc = crc32(0, out.data(), static_cast<uInt>(out.size()));
        out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        out.push_back(static_cast<std::uint8_t>((crc >> 8) & 0xFF));
    }
    Bytes body = Deflate(data, -15);
    out.insert(out.end(), body.begin(), body.end());
    PutLe32(out, static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))));
    PutLe32(out, static_cast<std::uint32_t>(data.size()));
    return out;
}

void SetIsize(Bytes& file, std::uint32_t isize) {
    file.resize(file.size() - 4);
    PutLe32(file, isize);
}

Bytes Sample(std::size_t size, unsigned seed = 1) {
    Bytes data(size);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        // Text-like: compressible, but not trivially.
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<std::uint8_t>('a' + (x >> 16) % 7 + (i % 100 == 0 ? 30 : 0));
    }
    return data;
}

// Incompressible bytes, so that the compressed file spans several read chunks.
Bytes Noise(std::size_t size) {
    Bytes data(size);
    std::uint64_t x = 88172645463325252ull;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<std::uint8_t>(x);
    }
    return data;
}

class TempFile {
  public:
    explicit TempFile(const Bytes& content) {
        static int counter = 0;
        path_ =
            (std::filesystem::temp_directory_path() /
             ("gzip_reader_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++)))
                .string();
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

Bytes ToBytes(const GzipBuffer& b) {
    return Bytes(b.Span().begin(), b.Span().end());
}

TEST(GzipReader, ReadsMembersWithEveryOptionalHeaderField) {
    const Bytes data = Sample(10000);
    struct Case {
        const char* what;
        Header header;
    };
    const Case cases[] = {
        {"plain", Header()},
        {"name", Header().Name("parameters2.bin")},
        {"name and comment", Header().Name("p.bin").Comment("a comment")},
        {"extra field", Header().Extra(Bytes(300, 0xAB))},
        {"header crc", Header().WithCrc()},
        {"everything", Header().Extra({1, 2, 3}).Name("n").Comment("c").WithCrc()},
        {"text flag", Header().Flags(0x01)},
    };
    for (const Case& c : cases) {
        GzipBuffer out = GunzipMemory(GzipWith(c.header, data));
        EXPECT_EQ(out.status, GzipStatus::Ok) << c.what;
        EXPECT_EQ(ToBytes(out), data) << c.what;
    }
    GzipBuffer fromZlib = GunzipMemory(Gzip(data));
    EXPECT_EQ(fromZlib.status, GzipStatus::Ok);
    EXPECT_EQ(fromZlib.announced, data.size());
    EXPECT_EQ(ToBytes(fromZlib), data);
}

TEST(GzipReader, ReadsBareDeflateWhenTheMagicIsMissing) {
    const Bytes data = Sample(5000);
    Bytes raw = Deflate(data, -15);
    PutLe32(raw, 0);  // the CRC place, never looked at
    PutLe32(raw, static_cast<std::uint32_t>(data.size()));
    GzipBuffer out = GunzipMemory(raw);
    EXPECT_EQ(out.status, GzipStatus::Ok);
    EXPECT_EQ(ToBytes(out), data);

    TempFile file(raw);
    GzipBuffer fromFile = GunzipFile(file.path());
    EXPECT_EQ(fromFile.status, GzipStatus::Ok);
    EXPECT_EQ(ToBytes(fromFile), data);
}

TEST(GzipReader, RefusesUnknownMethodsReservedFlagsAndCutHeaders) {
    const Bytes data = Sample(1000);
    const Bytes good = GzipWith(Header().Name("name").Comment("comment"), data);
    std::vector<std::pair<const char*, Bytes>> cases = {
        {"method 7", GzipWith(Header().Method(7), data)},
        {"method 0", GzipWith(Header().Method(0), data)},
        {"flag bit 5", GzipWith(Header().Flags(0x20), data)},
        {"flag bit 6", GzipWith(Header().Flags(0x40), data)},
        {"flag bit 7", GzipWith(Header().Flags(0x80), data)},
        // The name never ends: the header runs into the trailer and beyond.
        {"cut in the name", Bytes(good.begin(), good.begin() + 14)},
        {"cut in the fixed part", Bytes(good.begin(), good.begin() + 6)},
    };
    Bytes hugeExtra = {0x1F, 0x8B, 8, 0x04, 0, 0, 0, 0, 0, 3, 0xFF, 0xFF, 1, 2};
    PutLe32(hugeExtra, 100);
    cases.emplace_back("extra longer than the file", hugeExtra);
    for (const auto& [what, file] : cases) {
        GzipBuffer out = GunzipMemory(file);
        EXPECT_EQ(out.status, GzipStatus::BadHeader) << what;
        EXPECT_EQ(out.size, 0u) << what;
    }
}

TEST(GzipReader, TooSmallOrMissingFiles) {
    EXPECT_EQ(GunzipMemory(Bytes{}).status, GzipStatus::Damaged);
    EXPECT_EQ(GunzipMemory(Bytes{0x1F, 0x8B, 8}).status, GzipStatus::Damaged);
    EXPECT_EQ(GunzipFile("/nonexistent/parameters2.zip").status, GzipStatus::Missing);
    EXPECT_EQ(GunzipFile(std::filesystem::temp_directory_path().string()).status,
              GzipStatus::Missing);
    // Only a header and a zero trailer: nothing announced, nothing delivered.
    Bytes empty = GzipWith(Header(), {});
    GzipBuffer out = GunzipMemory(empty);
    EXPECT_EQ(out.status, GzipStatus::Ok);
    EXPECT_EQ(out.size, 0u);
}

TEST(GzipReader, DeliversNoMoreThanAnnounced) {
    const Bytes data = Sample(8000);
    Bytes file = Gzip(data);
    SetIsize(file, 3000);
    GzipBuffer out = GunzipMemory(file);
    EXPECT_EQ(out.status, GzipStatus::Ok);
    EXPECT_EQ(ToBytes(out), Bytes(data.begin(), data.begin() + 3000));
}

TEST(GzipReader, AnOversizedTrailerIsCappedByWhatTheFileCanHold) {
    const Bytes data = Sample(8000);
    for (std::uint32_t isize : {0xFFFFFFFFu, 0x80000000u, 9000u}) {
        Bytes file = Gzip(data);
        SetIsize(file, isize);
        GzipReader reader;
        ASSERT_EQ(reader.OpenMemory(file), GzipStatus::Ok);
        EXPECT_LE(reader.Limit(), MaxInflatedSize(file.size()));
        EXPECT_LE(reader.Limit(), isize);
        GzipBuffer out = GunzipMemory(file);
        EXPECT_EQ(out.status, GzipStatus::Short) << isize;
        EXPECT_EQ(out.announced, isize);
        EXPECT_EQ(ToBytes(out), data);
    }
}

TEST(GzipReader, SmallPiecesReadLikeOneBuffer) {
    // Bare deflate without any trailer: the input ends right at the end of
    // the stream, while inflate may still hold output of the last match.
    const Bytes zeros(100000, 0);
    for (const Bytes& file : {Deflate(zeros, -15), Gzip(Sample(3000))}) {
        const GzipBuffer whole = GunzipMemory(file);
        for (std::size_t piece : {1, 7, 258, 2343, 4096}) {
            GzipReader reader;
            ASSERT_EQ(reader.OpenMemory(file), GzipStatus::Ok);
            Bytes joined(reader.Limit());
            std::size_t at = 0;
            while (reader.HasData()) {
                const std::size_t got = reader.Read(joined.data() + at, piece);
                if (got == 0) break;
                at += got;
            }
            joined.resize(at);
            EXPECT_EQ(reader.Status(), whole.status) << piece;
            EXPECT_EQ(joined, ToBytes(whole)) << piece;
        }
    }
}

TEST(GzipReader, FilesAreReadInChunksAcrossLongHeadersAndData) {
    // A header longer than one read chunk and data spanning several.
    const Bytes data = Noise(300000);
    Bytes file = GzipWith(
        Header().Extra(Bytes(65535, 0x11)).Name(std::string(70000, 'n')).Comment("c").WithCrc(),
        data);
    TempFile temp(file);
    GzipBuffer out = GunzipFile(temp.path());
    EXPECT_EQ(out.status, GzipStatus::Ok);
    EXPECT_EQ(ToBytes(out), data);

    // The stream reader gives the same bytes in odd-sized pieces.
    GzipReader reader;
    ASSERT_EQ(reader.OpenFile(temp.path()), GzipStatus::Ok);
    Bytes joined(data.size());
    std::size_t at = 0;
    while (reader.HasData())
        at += reader.Read(joined.data() + at, 7777);
    EXPECT_EQ(at, data.size());
    EXPECT_EQ(joined, data);
}

TEST(GzipReader, CutFilesGiveAPrefixAndAFailure) {
    const Bytes data = Sample(6000);
    const Bytes file = Gzip(data);
    for (std::size_t cut = 0; cut < file.size(); cut += 3) {
        Bytes part(file.begin(), file.begin() + static_cast<long>(cut));
        GzipBuffer out = GunzipMemory(part);
        // The trailer of a cut file is any four bytes; whatever it says, the
        // delivered bytes are a prefix of the data and bounded by the file.
        EXPECT_NE(out.status, GzipStatus::Ok) << cut;
        EXPECT_LE(out.size, MaxInflatedSize(part.size())) << cut;
        if (out.size <= data.size()) {
            EXPECT_TRUE(std::equal(out.Span().begin(), out.Span().end(), data.begin())) << cut;
        }
    }
}

TEST(GzipReader, FlippedBitsNeverCrashOrOverrun) {
    const Bytes data = Sample(4000);
    const Bytes file = Gzip(data);
    for (std::size_t i = 0; i < file.size(); ++i) {
        for (int bit : {0, 3, 7}) {
            Bytes damaged = file;
            damaged[i] ^= static_cast<std::uint8_t>(1u << bit);
            GzipBuffer out = GunzipMemory(damaged);
            EXPECT_LE(out.size,
                      std::min<std::uint64_t>(out.announced, MaxInflatedSize(damaged.size())));
            if (out.status == GzipStatus::Ok) {
                EXPECT_EQ(out.size, out.announced);
            }
        }
    }
}

TEST(GzipReader, HighlyCompressedDataStaysWithinTheDeflateBound) {
    // Zeros compress close to deflate's best ratio; the cap must not cut them.
    const Bytes zeros(4 * 1024 * 1024, 0);
    Bytes file = Gzip(zeros);
    GzipBuffer out = GunzipMemory(file);
    EXPECT_EQ(out.status, GzipStatus::Ok);
    EXPECT_EQ(out.size, zeros.size());
    EXPECT_LT(file.size() * 1000, zeros.size());  // the test really is near the bound
}

}  // namespace
