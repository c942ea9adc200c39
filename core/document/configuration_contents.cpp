#include "document/configuration_contents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/archive.h"
#include "platform/text.h"

namespace Svx {

namespace {

std::string CannotOpen(const std::string& path) {
    return "Не удается открыть файл '" + path + "'.";
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::string DamagedText(const std::string& path, const std::string& detail) {
    return "Файл '" + path + "' поврежден или не является файлом конфигурации (" + detail + ").";
}

bool ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    bytes.clear();
    // Not blocking: opening a pipe nobody writes to would wait for ever.
    Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        error = CannotOpen(path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "Файл '" + path + "' не является обычным файлом.";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
        error = DamagedText(path, Format("%lld байт, а файл конфигурации не бывает больше %zu байт",
                                         static_cast<long long>(st.st_size), kMaxFileBytes));
        return false;
    }
    // One byte more than the limit tells a file that grew meanwhile.
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = CannotOpen(path);
            bytes.clear();
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        if (got == bytes.size() && bytes.size() <= kMaxFileBytes)
            bytes.resize(std::min(bytes.size() * 2, kMaxFileBytes + 1));
    }
    if (got > kMaxFileBytes) {
        error = DamagedText(path, Format("больше %zu байт", kMaxFileBytes));
        bytes.clear();
        return false;
    }
    bytes.resize(got);
    return true;
}

bool ReadContents(const std::string& path, Contents& contents, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFileBytes(path, bytes, error)) return false;
    Archive ar(std::move(bytes));
    return ReadContents(ar, path, contents, error);
}

bool ReadContents(Archive& ar, const std::string& path, Contents& contents, std::string& error) {
    try {
        contents.accessLevel = ar.ReadI32();
        if (contents.accessLevel < 0 || contents.accessLevel > 2)
            throw ArchiveError(Format("access level %d", contents.accessLevel));
        contents.modification = ar.ReadText();
        contents.commonName = ar.ReadText();
        std::int32_t count = ar.ReadI32();
        if (count < 0 || count > kMaxCommonParameters)
            throw ArchiveError("common parameter count " + std::to_string(count));
        for (std::int32_t i = 0; i < count; ++i) {
            auto p = std::make_unique<Parameter>();
            p->Serialize(ar);
            contents.common.push_back(std::move(p));
        }
        contents.tableName = ar.ReadText();
        contents.tableSize = ar.ReadI32();
        if (contents.tableSize < 0)
            throw ArchiveError("table size " + std::to_string(contents.tableSize));
        contents.recordCount = ar.ReadI32();
        contents.recordsStart = ar.Position();
        if (contents.recordCount < 0)
            throw ArchiveError("record count " + std::to_string(contents.recordCount));
        contents.recordsRead = 0;
        while (ar.Size() - ar.Position() >= 4) {
            const std::uint32_t key = ar.ReadU32();
            Parameter p;
            p.Serialize(ar);
            ++contents.recordsRead;
            if (contents.onRecord) contents.onRecord(key, p);
        }
        // A file cut between two records reads to its end without a fault;
        // only the count it announced tells that records are missing.
        if (contents.recordsRead < contents.recordCount)
            throw ArchiveError(
                Format("записей: прочитано %d из %d", contents.recordsRead, contents.recordCount));
        return true;
    } catch (const ArchiveError& e) {
        error = DamagedText(path, e.what());
        return false;
    }
}

}  // namespace Svx
