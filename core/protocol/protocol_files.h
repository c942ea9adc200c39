#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class Parameter;

namespace Protocol {

// Uncompressed bytes per stored chunk; also the bound a stored chunk header
// may claim, so a damaged archive cannot ask for more memory.
inline constexpr std::uint32_t kChunkSize = 1000000;
// Room for the compressed form of one chunk.
inline constexpr std::uint32_t kCompressedBound = kChunkSize / 5 * 6;
inline constexpr std::size_t kRecordHeader = 19;

// One polled value as the log file stores it.
struct LogRecord {
    std::int64_t time = 0;  // seconds since 1970 UTC
    std::string name;       // up to 8 bytes, zero padding dropped
    std::uint8_t address = 0;
    bool failed = false;
    std::vector<std::uint8_t> data;
};

// The daily log file name of a moment: "07-12-2026.log" (local date).
std::string LogFileName(std::time_t now);
// The archive of a log file: "07-12-2026.log" -> "12-2026.var"; empty when
// the name has no '-'.
std::string ArchiveNameFor(std::string_view logFileName);

// Composite operative values (a packed half, a scaled reading) are computed
// from partner parameters and have no answer data of their own; their
// records carry the text the polling showed instead, as UTF-8 bytes. The
// description tells a reader which parameters these are.
bool RecordsShownText(const Parameter& parameter);
bool RecordsShownText(int bindingKind);

std::string EncodeRecord(const LogRecord& record);
// Parses a whole log file. False (with the records before it kept) when the
// bytes end inside a record or reach one no writer produces.
bool DecodeRecords(std::string_view bytes, std::vector<LogRecord>& out);

// Decodes a log as its bytes arrive, holding no more than one partial
// record, so a log of any size (or an endless input) costs bounded memory.
// Decoding stops at the first record that cannot be valid: an empty name,
// bytes after the name's zero padding, control characters in the name, or a
// failure flag other than 0 and 1.
class LogDecoder {
  public:
    // Receives each whole record; returns false to stop.
    using Sink = std::function<bool(const LogRecord&)>;

    // False when decoding has stopped: at damage (damaged() is then true) or
    // because the sink asked to.
    bool Feed(std::string_view bytes, const Sink& sink);
    // True when the bytes so far end at a record boundary.
    bool AtBoundary() const { return pending_.empty(); }
    bool damaged() const { return damaged_; }
    // Bytes taken into whole records; where the damage or the cut starts.
    std::uint64_t offset() const { return offset_; }

  private:
    std::string pending_;
    std::uint64_t offset_ = 0;
    bool damaged_ = false;
};

// A monthly archive. Packing rewrites the whole compound file into a
// temporary file beside it and renames that over the old one, so the old
// archive stays intact until the new one is complete.
class ArchiveFile {
  public:
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    const std::string& path() const { return path_; }
    // The stream names, in the archive's order.
    std::vector<std::string> Streams() const;

  private:
    friend struct ArchiveAccess;
    friend std::unique_ptr<ArchiveFile> OpenArchive(const std::string&, bool, std::string*);
    friend bool ReadLogStream(const ArchiveFile&, const std::string&,
                              const std::function<bool(std::string_view)>&, std::string*);
    ArchiveFile() = default;
    bool Reopen(std::string* error);
    std::string path_;
    void* infile_ = nullptr;  // the compound file being read; null when new
};

// Opens a compound file. A missing file is started empty with create on,
// else fails. An existing file that is not a compound file is never
// replaced: its contents may be days of packed logs. Anything but a regular
// file (a folder, a FIFO, a device) is refused.
std::unique_ptr<ArchiveFile> OpenArchive(const std::string& path, bool create,
                                         std::string* error = nullptr);

// Stores the log file as the stream logName (replacing one of that name).
// Packing holds the exclusive lock of the archive's folder and rereads the
// archive under it, so packers in other threads or processes never drop
// each other's streams. With remove on, the log file is deleted once its
// stream is found whole in the archive that replaced the old one, and only
// when the log did not grow meanwhile. A name the archive cannot hold
// (StreamNameProblem), or one differing only in case from a stream already
// there, fails and leaves everything as it was.
bool PackLogFile(ArchiveFile& archive, const std::string& logName, const std::string& logPath,
                 bool remove, std::string* error = nullptr);

// Why a log file name cannot be a stream name of an archive: longer than the
// 31 UTF-16 units a compound file's entry holds, not UTF-8, or holding a
// character entry names exclude. Empty when it can be one.
std::string StreamNameProblem(std::string_view logName);

// A log that packing left in the folder on purpose, and why.
struct SkippedLog {
    std::string name;
    std::string reason;
};

// Held while packing a protocol folder: an exclusive lock on the file
// ".pack.lock" in it, for every thread and process that packs there.
class PackLock {
  public:
    explicit PackLock(const std::string& folder);
    ~PackLock();
    PackLock(const PackLock&) = delete;
    PackLock& operator=(const PackLock&) = delete;
    bool held() const { return fd_ >= 0; }
    static constexpr const char* kFileName = ".pack.lock";

  private:
    int fd_ = -1;
};

// The bytes of a stored stream as chunks are read from them.
class ChunkSource {
  public:
    virtual ~ChunkSource() = default;
    // Bytes not yet read.
    virtual std::uint64_t Remaining() const = 0;
    // Reads exactly n bytes; false when they cannot be read.
    virtual bool Read(std::size_t n, std::uint8_t* out) = 0;
};

// Inflates the chunks of a stream and feeds their bytes to the sink, one
// chunk at a time; the sink returns false to stop. Stored lengths beyond what
// a writer produces, or beyond the bytes left, fail before any allocation.
bool InflateChunks(ChunkSource& source, const std::function<bool(std::string_view)>& sink,
                   std::string* error = nullptr);
// The same over stream bytes held in memory.
bool InflateChunks(std::string_view stream, const std::function<bool(std::string_view)>& sink,
                   std::string* error = nullptr);

// Feeds the inflated bytes of a stream chunk by chunk; the sink returns false
// to stop. Fails on a missing stream or damaged chunks.
bool ReadLogStream(const ArchiveFile& archive, const std::string& streamName,
                   const std::function<bool(std::string_view)>& sink, std::string* error = nullptr);

// Recreates the log file targetFolder/streamName. Names that could leave the
// folder are refused. The file appears only when complete.
bool ExtractLogFile(const ArchiveFile& archive, const std::string& streamName,
                    const std::string& targetFolder, std::string* error = nullptr);

// True when a stream name is a plain file name.
bool IsSafeStreamName(std::string_view name);

// The daily log and its packing, for one protocol folder.
class ProtocolFiles {
  public:
    ProtocolFiles(std::string folder, std::time_t now);

    const std::string& folder() const { return folder_; }
    const std::string& currentLogName() const { return current_; }
    void SetCurrentLogName(std::string name) { current_ = std::move(name); }

    // Appends one record to the current log; false when it could not be written.
    bool AppendRecord(const Parameter& parameter, std::time_t now);
    bool AppendRecord(const LogRecord& record);

    // The timer step: at 09:12 local time the log moves to the new day and
    // older logs are packed. True when it did so (views should refresh).
    bool Tick(std::time_t now);

    // Packs every log but the current one into its month's archive. Returns
    // the number packed; failures leave the log in place for a later try.
    // Logs whose names an archive cannot hold (too long, or differing only in
    // case from another log or a stored stream) are left and listed in
    // skipped.
    int PackOldLogs(std::string* error = nullptr, std::vector<SkippedLog>* skipped = nullptr);

  private:
    std::string folder_;
    std::string current_;
};

}  // namespace Protocol
