#include "description/description_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "description/record_layout.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace DescriptionWriter {

namespace {

void SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

void Put32(std::uint8_t* r, std::size_t at, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (std::size_t i = 0; i < 4; ++i)
        r[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

void PutFloat(std::uint8_t* r, std::size_t at, float f) {
    Put32(r, at, static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(f)));
}

// Builds one record in a buffer of its own, so that a refused field leaves
// the output untouched.
class Record {
  public:
    explicit Record(std::size_t size) : bytes_(size, 0) {}

    std::uint8_t* Data() { return bytes_.data(); }

    bool Text(std::size_t at, std::size_t size, std::string_view utf8, std::string_view field,
              std::string* error) {
        std::string cp;
        if (!EncodeFieldText(utf8, size, field, cp, error)) return false;
        std::memcpy(bytes_.data() + at, cp.data(), cp.size());
        return true;
    }

    void AppendTo(std::vector<std::uint8_t>& out) const {
        out.insert(out.end(), bytes_.begin(), bytes_.end());
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

bool EncodeFieldText(std::string_view utf8, std::size_t fieldSize, std::string_view field,
                     std::string& cp1251, std::string* error) {
    if (utf8.find('\0') != std::string_view::npos) {
        SetError(error, std::string(field) + ": the text holds a zero character");
        return false;
    }
    cp1251 = Utf8ToCp1251(utf8);
    if (Cp1251ToUtf8(cp1251) != utf8) {
        SetError(error, std::string(field) + ": \"" + std::string(utf8) +
                            "\" holds a character that code page 1251 cannot represent");
        return false;
    }
    if (cp1251.size() + 1 > fieldSize) {
        SetError(error,
                 Format("%.*s: \"%.*s\" is %zu bytes long, the field holds at most %zu",
                        static_cast<int>(field.size()), field.data(), static_cast<int>(utf8.size()),
                        utf8.data(), cp1251.size(), fieldSize - 1));
        return false;
    }
    return true;
}

bool AppendTableRecord(std::vector<std::uint8_t>& out, const TableFields& f, std::string* error) {
    namespace R = TableRecord;
    Record rec(R::kSize);
    std::uint8_t* r = rec.Data();
    std::string factory = f.forceWrite ? "?" + f.factory : f.factory;
    if (!rec.Text(R::kName, R::kNameSize, f.name, "name", error) ||
        !rec.Text(R::kDescription, R::kDescriptionSize, f.description, "description", error) ||
        !rec.Text(R::kType, R::kTypeSize, f.type, "type", error) ||
        !rec.Text(R::kValue, R::kValueSize, f.value, "initial value", error) ||
        !rec.Text(R::kFactory, R::kFactorySize, factory, "factory value", error) ||
        !rec.Text(R::kError, R::kErrorSize, f.error, "error text", error))
        return false;
    Put32(r, R::kIndex, f.index);
    r[R::kIndexIsAddress] = f.indexIsAddress ? 1 : 0;
    r[R::kNotWritable] = f.notWritable ? 1 : 0;
    r[R::kFlag] = f.flag;
    Put32(r, R::kBindingKind, f.bindingKind);
    r[R::kNeedUpdate] = f.needUpdate ? 1 : 0;
    Put32(r, R::kAttributeKind, f.attributeKind);
    r[R::kAccess] = f.access;
    r[R::kOwner] = f.owner;
    Put32(r, R::kDecimals, f.decimals);
    PutFloat(r, R::kMin, f.minValue);
    PutFloat(r, R::kMax, f.maxValue);
    rec.AppendTo(out);
    return true;
}

bool AppendBranchRecord(std::vector<std::uint8_t>& out, const BranchFields& f, std::string* error) {
    namespace R = TreeRecord;
    Record rec(R::kSize);
    std::uint8_t* r = rec.Data();
    if (!rec.Text(R::kBranchName, R::kBranchNameSize, f.name, "branch name", error)) return false;
    r[R::kKind] = R::kBranch;
    Put32(r, R::kChildCount1, f.count1);
    Put32(r, R::kChildCount2, f.count2);
    Put32(r, R::kChildCount3, f.count3);
    Put32(r, R::kValueA, f.valueA);
    Put32(r, R::kValueB, f.valueB);
    Put32(r, R::kValueC, f.valueC);
    Put32(r, R::kMarked, f.marked ? 1 : 0);
    rec.AppendTo(out);
    return true;
}

bool AppendParameterRecord(std::vector<std::uint8_t>& out, const ParameterRefFields& f,
                           std::string* error) {
    namespace R = TreeRecord;
    Record rec(R::kSize);
    std::uint8_t* r = rec.Data();
    if (!rec.Text(R::kLabel, R::kLabelSize, f.label, "tree label", error)) return false;
    r[R::kKind] = R::kParameter;
    Put32(r, R::kTableIndex, f.tableIndex);
    PutFloat(r, R::kLower, f.lower);
    PutFloat(r, R::kUpper, f.upper);
    r[R::kReadOnly] = f.readOnly ? 1 : 0;
    rec.AppendTo(out);
    return true;
}

bool AppendConnectorRecord(std::vector<std::uint8_t>& out, const ConnectorFields& f,
                           std::string* error) {
    namespace R = TreeRecord;
    Record rec(R::kSize);
    std::uint8_t* r = rec.Data();
    if (!rec.Text(R::kSourceText, R::kSourceTextSize, f.source, "connector source text", error) ||
        !rec.Text(R::kStateText, R::kStateTextSize, f.state, "connector state text", error) ||
        !rec.Text(R::kSelector, R::kSelectorSize, f.selector, "connector selector", error))
        return false;
    r[R::kKind] = R::kConnector;
    Put32(r, R::kFirst, f.first);
    Put32(r, R::kLast, f.last);
    rec.AppendTo(out);
    return true;
}

bool GzipMember(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out,
                std::string* error, std::string_view storedName, int level) {
    constexpr std::uint8_t kFlagName = 0x08;
    constexpr std::uint8_t kOsUnix = 3;
    std::string name;
    if (!storedName.empty() &&
        !EncodeFieldText(storedName, storedName.size() * 2 + 1, "stored file name", name, error))
        return false;

    std::vector<std::uint8_t> result = {0x1F, 0x8B, 8, name.empty() ? std::uint8_t{0} : kFlagName,
                                        0,    0,    0, 0};
    // Extra flags: 2 for the slowest, 4 for the fastest compression.
    result.push_back(level >= 9 ? 2 : level == 1 ? 4 : 0);
    result.push_back(kOsUnix);
    if (!name.empty()) {
        result.insert(result.end(), name.begin(), name.end());
        result.push_back(0);
    }

    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        SetError(error, "zlib: deflateInit2 failed");
        return false;
    }
    // deflateBound gives room for the whole output, so one call finishes it.
    std::size_t start = result.size();
    result.resize(start + deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = result.data() + start;
    z.avail_out = static_cast<uInt>(result.size() - start);
    int rc = deflate(&z, Z_FINISH);
    std::size_t produced = z.total_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        SetError(error, Format("zlib: deflate failed (%d)", rc));
        return false;
    }
    result.resize(start + produced);

    auto crc = static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size())));
    auto isize = static_cast<std::uint32_t>(data.size());  // modulo 2^32, as RFC 1952 says
    for (std::uint32_t v : {crc, isize})
        for (int i = 0; i < 4; ++i)
            result.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    out = std::move(result);
    return true;
}

namespace {

// Checks one token of a tool-tip entry and writes it with '_' for spaces.
bool TooltipToken(std::string_view text, bool isKey, std::string& out, std::string* error) {
    const char* what = isKey ? "tool-tip key" : "tool-tip comment";
    auto refuse = [&](const char* why) {
        SetError(error,
                 Format("%s \"%.*s\": %s", what, static_cast<int>(text.size()), text.data(), why));
        return false;
    };
    if (text.empty()) return refuse("is empty");
    if (text.find('_') != std::string_view::npos)
        return refuse("holds '_', which the reader takes for a space");
    if (text.find("<<") != std::string_view::npos || text.back() == '<')
        return refuse("holds \"<\" where the end mark \"<<\" would be read");
    if (isKey && text.find(':') != std::string_view::npos)
        return refuse("holds ':', which separates the name from the index");
    if (isKey && text.find("\\n") != std::string_view::npos) return refuse("holds a line break");
    for (char c : text) {
        if (c == ' ') {
            out += '_';
        } else if (c == '\n' && !isKey) {
            out += "\\n";
        } else if (static_cast<unsigned char>(c) < 32) {
            return refuse("holds a tab or another control character");
        } else {
            out += c;
        }
    }
    return true;
}

}  // namespace

bool TooltipText(std::span<const TooltipEntry> entries, std::string& cp1251, std::string* error) {
    std::string text;
    for (const TooltipEntry& e : entries) {
        std::string key;
        std::string comment;
        if (!TooltipToken(e.name, true, key, error) ||
            !TooltipToken(e.comment, false, comment, error))
            return false;
        if (e.index >= 0) key += Format(":%d", e.index);
        text += key;
        text += ' ';
        text += comment;
        text += "<<";
    }
    std::string field = "tool-tip text";
    return EncodeFieldText(text, text.size() * 2 + 1, field, cp1251, error);
}

bool TooltipFile(std::span<const TooltipEntry> entries, std::vector<std::uint8_t>& out,
                 std::string* error) {
    std::string text;
    if (!TooltipText(entries, text, error)) return false;
    out.assign(text.begin(), text.end());
    InvertBytes(out);
    return true;
}

void InvertBytes(std::span<std::uint8_t> bytes) {
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(b ^ 0xFF);
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string* error) {
    namespace fs = std::filesystem;
    auto fail = [&](const std::string& what, int err) {
        SetError(error, what + ": " + std::strerror(err));
        return false;
    };
    fs::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) return fail("cannot create the folder of " + path, ec.value());
    }
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return fail("cannot create a temporary file beside " + path, errno);
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temp.c_str());
            return fail("cannot write " + temp, err);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    // mkstemp creates the file readable by its owner only; description files
    // are read by everyone.
    ::fchmod(fd, 0644);
    int syncErr = ::fsync(fd) == 0 ? 0 : errno;
    int closeErr = ::close(fd) == 0 ? 0 : errno;
    if (syncErr != 0 || closeErr != 0) {
        ::unlink(temp.c_str());
        return fail("cannot write " + temp, syncErr != 0 ? syncErr : closeErr);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return fail("cannot rename " + temp + " to " + path, err);
    }
    return true;
}

}  // namespace DescriptionWriter
