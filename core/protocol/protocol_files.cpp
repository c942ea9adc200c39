#include "protocol/protocol_files.h"

#include <fcntl.h>
#include <gsf/gsf-infile-impl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "model/parameter.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace Protocol {
namespace {

void SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetLe(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

void EnsureGsf() {
    static const bool once = [] {
        gsf_init();
        // The library reports damaged input on stderr; here damage comes back
        // as a failure with a text instead.
        auto quiet = [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {};
        for (const char* domain : {"libgsf", "libgsf:msole", "libgsf:utils"})
            g_log_set_handler(domain, static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK), quiet,
                              nullptr);
        return true;
    }();
    (void)once;
}

bool IsCompoundFile(const std::string& path) {
    static constexpr unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::ifstream in(path, std::ios::binary);
    unsigned char head[8] = {};
    if (!in.read(reinterpret_cast<char*>(head), 8)) return false;
    return std::memcmp(head, kMagic, 8) == 0;
}

std::string GErrorText(GError* err, const char* fallback) {
    std::string text = err && err->message ? err->message : fallback;
    if (err) g_error_free(err);
    return text;
}

// Makes a file's contents (or a folder's entries) durable.
bool SyncFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Opens a child through the class method: the public wrapper reports a
// damaged child on stderr, here it becomes a failure with a text.
GsfInput* OpenChild(GsfInfile* infile, int index, std::string* error) {
    GError* err = nullptr;
    auto* klass = GSF_INFILE_CLASS(G_OBJECT_GET_CLASS(infile));
    GsfInput* child = klass->child_by_index ? klass->child_by_index(infile, index, &err) : nullptr;
    if (!child)
        SetError(error, "damaged stream: " + GErrorText(err, "unreadable"));
    else if (err)
        g_error_free(err);
    return child;
}

int ChildIndex(GsfInfile* infile, const std::string& name) {
    int count = gsf_infile_num_children(infile);
    for (int i = 0; i < count; ++i) {
        const char* child = gsf_infile_name_by_index(infile, i);
        if (child && name == child) return i;
    }
    return -1;
}

class GsfChunkSource : public ChunkSource {
  public:
    explicit GsfChunkSource(GsfInput* in) : in_(in) {}
    std::uint64_t Remaining() const override {
        return static_cast<std::uint64_t>(std::max<gsf_off_t>(gsf_input_remaining(in_), 0));
    }
    bool Read(std::size_t n, std::uint8_t* out) override {
        return n == 0 || gsf_input_read(in_, n, out) != nullptr;
    }

  private:
    GsfInput* in_;
};

bool CopyStream(GsfInput* in, GsfOutput* out) {
    std::vector<guint8> buffer(65536);
    while (gsf_input_remaining(in) > 0) {
        auto n = static_cast<std::size_t>(
            std::min<gsf_off_t>(gsf_input_remaining(in), static_cast<gsf_off_t>(buffer.size())));
        if (!gsf_input_read(in, n, buffer.data())) return false;
        if (!gsf_output_write(out, n, buffer.data())) return false;
    }
    return true;
}

// Writes the log's chunks; plainBytes and streamBytes count what was read
// and what was written.
bool WriteLogChunks(const std::string& logPath, GsfOutput* out, std::uint64_t& plainBytes,
                    std::uint64_t& streamBytes, std::string* error) {
    plainBytes = streamBytes = 0;
    std::error_code ec;
    if (!fs::is_regular_file(logPath, ec)) {
        SetError(error, "cannot open " + logPath + ": not a regular file");
        return false;
    }
    std::ifstream log(logPath, std::ios::binary);
    if (!log) {
        SetError(error, "cannot open " + logPath);
        return false;
    }
    std::vector<char> plain(kChunkSize);
    std::vector<Bytef> packed(kCompressedBound);
    for (;;) {
        log.read(plain.data(), static_cast<std::streamsize>(plain.size()));
        auto got = static_cast<uLong>(log.gcount());
        if (got == 0) break;
        uLongf packedLen = static_cast<uLongf>(packed.size());
        if (compress2(packed.data(), &packedLen, reinterpret_cast<const Bytef*>(plain.data()), got,
                      Z_DEFAULT_COMPRESSION) != Z_OK) {
            SetError(error, "compression failed");
            return false;
        }
        std::string head;
        PutLe(head, got, 4);
        PutLe(head, packedLen, 4);
        if (!gsf_output_write(out, head.size(), reinterpret_cast<const guint8*>(head.data())) ||
            !gsf_output_write(out, packedLen, packed.data())) {
            SetError(error, "cannot write the archive");
            return false;
        }
        plainBytes += got;
        streamBytes += head.size() + packedLen;
        if (!log) break;
    }
    if (log.bad()) {
        SetError(error, "cannot read " + logPath);
        return false;
    }
    return true;
}

// The size of a stored stream; -1 when there is none or it cannot be opened.
gsf_off_t StoredStreamSize(GsfInfile* infile, const std::string& name) {
    int index = ChildIndex(infile, name);
    if (index < 0) return -1;
    GsfInput* child = OpenChild(infile, index, nullptr);
    if (!child) return -1;
    gsf_off_t size = gsf_input_size(child);
    g_object_unref(child);
    return size;
}

// A stream already stored under a name differing from name only in case:
// the compound file compares entry names that way, so both cannot be kept.
std::string CaseTwin(GsfInfile* infile, const std::string& name) {
    int count = gsf_infile_num_children(infile);
    for (int i = 0; i < count; ++i) {
        const char* other = gsf_infile_name_by_index(infile, i);
        if (other && name != other && EqualsNoCase(name, other)) return other;
    }
    return {};
}

// Decodes one UTF-8 sequence at text[at]; false when it is not valid UTF-8.
bool NextCodePoint(std::string_view text, std::size_t& at, char32_t& out) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    std::size_t extra;
    if (lead < 0x80)
        extra = 0;
    else if ((lead & 0xE0) == 0xC0)
        extra = 1;
    else if ((lead & 0xF0) == 0xE0)
        extra = 2;
    else if ((lead & 0xF8) == 0xF0)
        extra = 3;
    else
        return false;
    if (extra > text.size() - at - 1) return false;
    char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    at += extra + 1;
    out = cp;
    return true;
}

bool PlausibleHeader(std::string_view header) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(header[i]); };
    if (byte(17) > 1 || byte(8) == 0) return false;
    bool padding = false;
    for (std::size_t i = 8; i < 16; ++i) {
        if (byte(i) == 0)
            padding = true;
        else if (padding || byte(i) < 0x20 || byte(i) == 0x7F)
            return false;
    }
    return true;
}

LogRecord DecodeOne(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    LogRecord r;
    r.time = static_cast<std::int64_t>(GetLe(p, 8));
    std::string_view name = bytes.substr(8, 8);
    r.name = std::string(name.substr(0, name.find('\0')));
    r.address = p[16];
    r.failed = p[17] != 0;
    r.data.assign(p + kRecordHeader, p + bytes.size());
    return r;
}

}  // namespace

std::string LogFileName(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d.log", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900);
    return text;
}

std::string ArchiveNameFor(std::string_view logFileName) {
    std::string_view title = logFileName;
    if (title.size() >= 4 && EqualNoCase(title.substr(title.size() - 4), ".log"))
        title.remove_suffix(4);
    auto dash = title.find('-');
    if (dash == std::string_view::npos || dash + 1 >= title.size()) return {};
    return std::string(title.substr(dash + 1)) + ".var";
}

std::string EncodeRecord(const LogRecord& record) {
    std::string out;
    PutLe(out, static_cast<std::uint64_t>(record.time), 8);
    std::string name = record.name.substr(0, 8);
    name.resize(8, '\0');
    out += name;
    out.push_back(static_cast<char>(record.address));
    out.push_back(record.failed ? 1 : 0);
    auto n = std::min<std::size_t>(record.data.size(), 255);
    out.push_back(static_cast<char>(n));
    out.append(reinterpret_cast<const char*>(record.data.data()), n);
    return out;
}

bool DecodeRecords(std::string_view bytes, std::vector<LogRecord>& out) {
    LogDecoder decoder;
    bool ok = decoder.Feed(bytes, [&](const LogRecord& r) {
        out.push_back(r);
        return true;
    });
    return ok && decoder.AtBoundary();
}

bool LogDecoder::Feed(std::string_view bytes, const Sink& sink) {
    if (damaged_) return false;
    // Tops the partial record up to size bytes; false while bytes are short.
    auto fill = [&](std::size_t size) {
        if (pending_.size() >= size) return true;
        std::size_t n = std::min(size - pending_.size(), bytes.size());
        pending_.append(bytes.substr(0, n));
        bytes.remove_prefix(n);
        return pending_.size() == size;
    };
    for (;;) {
        std::string_view record;
        if (!pending_.empty() || bytes.size() < kRecordHeader) {
            if (bytes.empty() && pending_.empty()) return true;
            if (!fill(kRecordHeader)) return true;
            if (!PlausibleHeader(pending_)) break;
            if (!fill(kRecordHeader + static_cast<unsigned char>(pending_[18]))) return true;
            record = pending_;
        } else {
            if (!PlausibleHeader(bytes)) break;
            std::size_t size = kRecordHeader + static_cast<unsigned char>(bytes[18]);
            if (bytes.size() < size) {
                pending_.assign(bytes);
                return true;
            }
            record = bytes.substr(0, size);
            bytes.remove_prefix(size);
        }
        LogRecord r = DecodeOne(record);
        offset_ += record.size();
        pending_.clear();
        if (!sink(r)) return false;
    }
    damaged_ = true;
    return false;
}

std::string StreamNameProblem(std::string_view logName) {
    // An entry name holds 32 UTF-16 units with its terminating zero.
    constexpr std::size_t kMaxUnits = 31;
    std::size_t units = 0;
    for (std::size_t at = 0; at < logName.size();) {
        char32_t cp = 0;
        if (!NextCodePoint(logName, at, cp)) return "the name is not valid UTF-8";
        if (cp < 0x20 || cp == '/' || cp == '\\' || cp == ':' || cp == '!')
            return "the name holds a character an archive entry cannot";
        units += cp > 0xFFFF ? 2 : 1;
    }
    if (units > kMaxUnits)
        return Format("the name is longer than the %zu characters an archive entry holds",
                      kMaxUnits);
    return {};
}

bool IsSafeStreamName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find_first_of(std::string_view("/\\\0:", 4)) != std::string_view::npos) return false;
    return name.find("..") == std::string_view::npos;
}

ArchiveFile::~ArchiveFile() {
    if (infile_) g_object_unref(static_cast<GsfInfile*>(infile_));
}

bool ArchiveFile::Reopen(std::string* error) {
    if (infile_) {
        g_object_unref(static_cast<GsfInfile*>(infile_));
        infile_ = nullptr;
    }
    GError* err = nullptr;
    GsfInput* input = gsf_input_stdio_new(path_.c_str(), &err);
    if (!input) {
        SetError(error, GErrorText(err, "cannot open the archive"));
        return false;
    }
    GsfInfile* infile = gsf_infile_msole_new(input, &err);
    g_object_unref(input);
    if (!infile) {
        SetError(error, "damaged archive " + path_ + ": " + GErrorText(err, "unreadable"));
        return false;
    }
    infile_ = infile;
    return true;
}

std::vector<std::string> ArchiveFile::Streams() const {
    std::vector<std::string> names;
    if (!infile_) return names;
    auto* infile = static_cast<GsfInfile*>(infile_);
    int count = gsf_infile_num_children(infile);
    for (int i = 0; i < count; ++i)
        if (const char* name = gsf_infile_name_by_index(infile, i)) names.emplace_back(name);
    return names;
}

std::unique_ptr<ArchiveFile> OpenArchive(const std::string& path, bool create, std::string* error) {
    EnsureGsf();
    std::unique_ptr<ArchiveFile> archive(new ArchiveFile());
    archive->path_ = path;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        if (!create) {
            SetError(error, "no archive " + path);
            return nullptr;
        }
        return archive;  // written on the first pack
    }
    if (!fs::is_regular_file(path, ec)) {
        SetError(error, "cannot open " + path + ": not a regular file");
        return nullptr;
    }
    if (!IsCompoundFile(path)) {
        SetError(error, path + " is not a compound file; left untouched");
        return nullptr;
    }
    if (!archive->Reopen(error)) return nullptr;
    return archive;
}

PackLock::PackLock(const std::string& folder) {
    const std::string path = (fs::path(folder.empty() ? "." : folder) / kFileName).string();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) return;
    // flock belongs to the open file description, so two threads of one
    // process exclude each other as two processes do.
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

PackLock::~PackLock() {
    if (fd_ >= 0) ::close(fd_);
}

// The archive's insides for the packing steps that run under the lock.
struct ArchiveAccess {
    // Rereads the archive from disk: another packer may have replaced it
    // since it was opened.
    static bool Refresh(ArchiveFile& archive, std::string* error) {
        std::error_code ec;
        if (fs::exists(archive.path_, ec)) {
            if (!fs::is_regular_file(archive.path_, ec) || !IsCompoundFile(archive.path_)) {
                SetError(error, archive.path_ + " is not a compound file; left untouched");
                return false;
            }
            return archive.Reopen(error);
        }
        if (archive.infile_) g_object_unref(static_cast<GsfInfile*>(archive.infile_));
        archive.infile_ = nullptr;
        return true;
    }

    static std::string CaseTwinOf(const ArchiveFile& archive, const std::string& name) {
        return archive.infile_ ? CaseTwin(static_cast<GsfInfile*>(archive.infile_), name)
                               : std::string();
    }

    static bool Pack(ArchiveFile& archive, const std::string& logName, const std::string& logPath,
                     bool remove, std::string* error);
};

bool ArchiveAccess::Pack(ArchiveFile& archive, const std::string& logName,
                         const std::string& logPath, bool remove, std::string* error) {
    if (!IsSafeStreamName(logName)) {
        SetError(error, "bad stream name " + logName);
        return false;
    }
    if (std::string why = StreamNameProblem(logName); !why.empty()) {
        SetError(error, logName + ": " + why);
        return false;
    }
    if (std::string twin = CaseTwinOf(archive, logName); !twin.empty()) {
        SetError(error, logName + ": the archive holds " + twin + ", which differs only in case");
        return false;
    }
    const std::string temp = archive.path_ + ".tmp";
    GError* err = nullptr;
    GsfOutput* sink = gsf_output_stdio_new(temp.c_str(), &err);
    if (!sink) {
        SetError(error, GErrorText(err, "cannot create the temporary archive"));
        return false;
    }
    GsfOutfile* outfile = gsf_outfile_msole_new(sink);
    g_object_unref(sink);
    bool ok = outfile != nullptr;
    if (ok && archive.infile_) {
        auto* infile = static_cast<GsfInfile*>(archive.infile_);
        int count = gsf_infile_num_children(infile);
        for (int i = 0; ok && i < count; ++i) {
            const char* name = gsf_infile_name_by_index(infile, i);
            if (!name || logName == name) continue;  // the day is stored anew
            GsfInput* in = OpenChild(infile, i, error);
            GsfOutput* out = gsf_outfile_new_child(outfile, name, FALSE);
            ok = in && out && CopyStream(in, out);
            if (out) ok = gsf_output_close(out) && ok;
            if (out) g_object_unref(out);
            if (in) g_object_unref(in);
            if (!ok && in) SetError(error, std::string("cannot copy the stream ") + name);
        }
    }
    std::uint64_t plainBytes = 0, streamBytes = 0;
    if (ok) {
        GsfOutput* out = gsf_outfile_new_child(outfile, logName.c_str(), FALSE);
        ok = out && WriteLogChunks(logPath, out, plainBytes, streamBytes, error);
        if (out) ok = gsf_output_close(out) && ok;
        if (out) g_object_unref(out);
    }
    if (outfile) {
        ok = gsf_output_close(GSF_OUTPUT(outfile)) && ok;
        g_object_unref(outfile);
    }
    std::error_code ec;
    if (!ok || !SyncFile(temp)) {
        if (error && error->empty()) *error = "cannot write " + temp;
        fs::remove(temp, ec);
        return false;
    }
    fs::rename(temp, archive.path_, ec);
    if (ec) {
        SetError(error, "cannot replace " + archive.path_ + ": " + ec.message());
        fs::remove(temp, ec);
        return false;
    }
    // The rename must be on disk before the log it replaces disappears.
    const fs::path parent = fs::path(archive.path_).parent_path();
    SyncFile(parent.empty() ? std::string(".") : parent.string());
    if (!archive.Reopen(error)) return false;
    // The log goes only when the archive now on disk holds its stream whole.
    if (StoredStreamSize(static_cast<GsfInfile*>(archive.infile_), logName) !=
        static_cast<gsf_off_t>(streamBytes)) {
        SetError(error, "the stream " + logName + " is not whole in " + archive.path_);
        return false;
    }
    // Records appended while packing are not in the stream: such a log stays
    // and is packed again later, replacing the stream.
    struct stat st {};
    if (remove && ::stat(logPath.c_str(), &st) == 0 &&
        static_cast<std::uint64_t>(st.st_size) == plainBytes)
        fs::remove(logPath, ec);
    return true;
}

bool PackLogFile(ArchiveFile& archive, const std::string& logName, const std::string& logPath,
                 bool remove, std::string* error) {
    EnsureGsf();
    PackLock lock(fs::path(archive.path()).parent_path().string());
    if (!lock.held()) {
        SetError(error, "cannot lock the folder of " + archive.path());
        return false;
    }
    if (!ArchiveAccess::Refresh(archive, error)) return false;
    return ArchiveAccess::Pack(archive, logName, logPath, remove, error);
}

bool ReadLogStream(const ArchiveFile& archive, const std::string& streamName,
                   const std::function<bool(std::string_view)>& sink, std::string* error) {
    if (!archive.infile_) {
        SetError(error, "empty archive");
        return false;
    }
    auto* infile = static_cast<GsfInfile*>(archive.infile_);
    int index = ChildIndex(infile, streamName);
    if (index < 0) {
        SetError(error, "no stream " + streamName);
        return false;
    }
    GsfInput* in = OpenChild(infile, index, error);
    if (!in) return false;
    GsfChunkSource source(in);
    std::string why;
    bool ok = InflateChunks(source, sink, &why);
    if (!ok && !why.empty()) SetError(error, why + " in " + streamName);
    g_object_unref(in);
    return ok;
}

bool InflateChunks(ChunkSource& source, const std::function<bool(std::string_view)>& sink,
                   std::string* error) {
    std::vector<Bytef> packed;
    std::vector<Bytef> plain;
    while (source.Remaining() > 0) {
        unsigned char head[8];
        if (source.Remaining() < 8 || !source.Read(8, head)) {
            SetError(error, "truncated chunk header");
            return false;
        }
        auto plainLen = static_cast<std::uint32_t>(GetLe(head, 4));
        auto packedLen = static_cast<std::uint32_t>(GetLe(head + 4, 4));
        // Stored lengths are not trusted beyond what a writer can produce.
        if (plainLen == 0 || plainLen > kChunkSize || packedLen == 0 ||
            packedLen > kCompressedBound || packedLen > source.Remaining()) {
            SetError(error, "damaged chunk lengths");
            return false;
        }
        packed.resize(packedLen);
        plain.resize(plainLen);
        if (!source.Read(packedLen, packed.data())) {
            SetError(error, "unreadable chunk");
            return false;
        }
        uLongf got = plainLen;
        if (uncompress(plain.data(), &got, packed.data(), packedLen) != Z_OK || got != plainLen) {
            SetError(error, "damaged chunk data");
            return false;
        }
        if (!sink(std::string_view(reinterpret_cast<const char*>(plain.data()), got))) return false;
    }
    return true;
}

bool InflateChunks(std::string_view stream, const std::function<bool(std::string_view)>& sink,
                   std::string* error) {
    class Memory : public ChunkSource {
      public:
        explicit Memory(std::string_view bytes) : bytes_(bytes) {}
        std::uint64_t Remaining() const override { return bytes_.size(); }
        bool Read(std::size_t n, std::uint8_t* out) override {
            if (n > bytes_.size()) return false;
            if (n > 0) std::memcpy(out, bytes_.data(), n);
            bytes_.remove_prefix(n);
            return true;
        }

      private:
        std::string_view bytes_;
    } source(stream);
    return InflateChunks(source, sink, error);
}

bool ExtractLogFile(const ArchiveFile& archive, const std::string& streamName,
                    const std::string& targetFolder, std::string* error) {
    if (!IsSafeStreamName(streamName)) {
        SetError(error, "refused stream name " + streamName);
        return false;
    }
    std::error_code ec;
    fs::create_directories(targetFolder, ec);
    const fs::path target = fs::path(targetFolder) / streamName;
    const fs::path temp = target.string() + ".part";
    bool ok;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            SetError(error, "cannot create " + temp.string());
            return false;
        }
        ok = ReadLogStream(
            archive, streamName,
            [&](std::string_view bytes) {
                out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                return static_cast<bool>(out);
            },
            error);
        out.close();
        if (ok && !out) {
            SetError(error, "cannot write " + temp.string());
            ok = false;
        }
    }
    if (ok) fs::rename(temp, target, ec);
    if (!ok || ec) {
        if (ec) SetError(error, "cannot create " + target.string());
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

ProtocolFiles::ProtocolFiles(std::string folder, std::time_t now)
    : folder_(std::move(folder)), current_(LogFileName(now)) {}

bool ProtocolFiles::AppendRecord(const LogRecord& record) {
    std::string bytes = EncodeRecord(record);
    std::ofstream out(fs::path(folder_) / current_, std::ios::binary | std::ios::app);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

bool ProtocolFiles::AppendRecord(const Parameter& parameter, std::time_t now) {
    LogRecord record;
    record.time = static_cast<std::int64_t>(now);
    record.name = parameter.name;
    record.address = static_cast<std::uint8_t>(parameter.deviceAddress & 0xFF);
    record.failed = !parameter.error.empty();
    if (RecordsShownText(parameter)) {
        if (!record.failed) {
            // At most what a record holds, cut at a character boundary.
            std::string_view text = parameter.value;
            std::size_t n = std::min<std::size_t>(text.size(), 255);
            while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
                --n;
            record.data.assign(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
        }
    } else {
        record.data.assign(parameter.rawData.begin(),
                           parameter.rawData.begin() + parameter.rawLength);
    }
    return AppendRecord(record);
}

bool RecordsShownText(int bindingKind) {
    // The kinds the link computes from partners (see DeviceIO::exchange_parameter).
    return bindingKind == 1 || bindingKind == 2 || bindingKind == 8 || bindingKind == 5;
}

bool RecordsShownText(const Parameter& parameter) {
    return RecordsShownText(parameter.bindingKind);
}

bool ProtocolFiles::Tick(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    if (local.tm_hour != 9 || local.tm_min != 12) return false;
    current_ = LogFileName(now);
    PackOldLogs();
    return true;
}

int ProtocolFiles::PackOldLogs(std::string* error, std::vector<SkippedLog>* skipped) {
    EnsureGsf();
    // The whole pass runs under the lock: the folder is listed and each
    // archive read only once no other packer can change them.
    PackLock lock(folder_);
    if (!lock.held()) {
        SetError(error, "cannot lock " + folder_);
        return 0;
    }
    auto skip = [&](const std::string& name, std::string reason) {
        if (skipped) skipped->push_back({name, std::move(reason)});
    };
    int packed = 0;
    std::error_code ec;
    std::map<std::string, std::vector<std::string>> byFoldedName;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string name = it->path().filename().string();
        if (name.size() < 4 || !EqualNoCase(std::string_view(name).substr(name.size() - 4), ".log"))
            continue;
        if (EqualNoCase(name, current_)) continue;
        byFoldedName[ToLowerUtf8(name)].push_back(std::move(name));
    }
    std::vector<std::string> logs;
    for (auto& [folded, names] : byFoldedName) {
        std::sort(names.begin(), names.end());
        if (names.size() == 1) {
            logs.push_back(names.front());
            continue;
        }
        // One entry name would stand for several days; none is chosen.
        for (const std::string& name : names)
            skip(name, "its name differs only in case from " +
                           (name == names.front() ? names[1] : names.front()));
    }
    std::sort(logs.begin(), logs.end());
    for (const std::string& name : logs) {
        if (std::string why = StreamNameProblem(name); !why.empty()) {
            skip(name, why);
            continue;
        }
        std::string archiveName = ArchiveNameFor(name);
        if (archiveName.empty()) continue;
        auto archive = OpenArchive((fs::path(folder_) / archiveName).string(), true, error);
        if (!archive) continue;
        if (std::string twin = ArchiveAccess::CaseTwinOf(*archive, name); !twin.empty()) {
            skip(name, archiveName + " holds " + twin + ", which differs only in case");
            continue;
        }
        if (ArchiveAccess::Pack(*archive, name, (fs::path(folder_) / name).string(), true, error))
            ++packed;
    }
    return packed;
}

}  // namespace Protocol
