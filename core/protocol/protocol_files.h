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

std::string EncodeRecord(const LogRecord& record);
// Parses a whole log file. False (with the records before it kept) when the
// bytes end inside a record.
bool DecodeRecords(std::string_view bytes, std::vector<LogRecord>& out);

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
    friend std::unique_ptr<ArchiveFile> OpenArchive(const std::string&, bool, std::string*);
    friend bool PackLogFile(ArchiveFile&, const std::string&, const std::string&, bool,
                            std::string*);
    friend bool ReadLogStream(const ArchiveFile&, const std::string&,
                              const std::function<bool(std::string_view)>&, std::string*);
    ArchiveFile() = default;
    bool Reopen(std::string* error);
    std::string path_;
    void* infile_ = nullptr;  // the compound file being read; null when new
};

// Opens a compound file. A missing file is started empty with create on,
// else fails. An existing file that is not a compound file is never
// replaced: its contents may be days of packed logs.
std::unique_ptr<ArchiveFile> OpenArchive(const std::string& path, bool create,
                                         std::string* error = nullptr);

// Stores the log file as the stream logName (replacing one of that name).
// With remove on, the log file is deleted once the new archive is in place.
bool PackLogFile(ArchiveFile& archive, const std::string& logName, const std::string& logPath,
                 bool remove, std::string* error = nullptr);

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
    int PackOldLogs(std::string* error = nullptr);

  private:
    std::string folder_;
    std::string current_;
};

}  // namespace Protocol
