// The report as HTML pages, one page per hour of data.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/text.h"
#include "protocol/export.h"
#include "protocol/export_rows.h"

namespace fs = std::filesystem;

namespace Protocol {
namespace {

constexpr std::string_view kRowColours[2] = {"\"#ccffff\"", "\"#ffffcc\""};
constexpr std::string_view kFailedColour = "\"#ffbfbf\"";
constexpr std::string_view kHeaderColour = "\"#33cc99\"";

// Appends UTF-8 text to a page in code page 1251, HTML-escaped.
void AppendText(std::string& out, std::string_view text) {
    bool plain = true;
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '&' || c == '<' || c == '>' || c == '"') {
            plain = false;
            break;
        }
    }
    if (plain) {
        out.append(text);
        return;
    }
    std::string escaped;
    escaped.reserve(text.size() + 16);
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    out += Utf8ToCp1251(escaped);
}

// A page's file name as a link: bytes a URL gives another meaning are
// percent-encoded, so the link opens the file of that name.
std::string Href(std::string_view fileName) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : fileName) {
        auto c = static_cast<unsigned char>(ch);
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == '~' || c == '(' || c == ')';
        if (keep) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

void AppendTwoDigits(std::string& out, int v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

struct Page {
    std::int64_t key = 0;  // start of its local hour; see LocalClock
    int hour = -1;         // -1: a page without data
    std::string file;
};

// One page being written under its temporary name.
class PageFile {
  public:
    ~PageFile() {
        if (file_) std::fclose(file_);
    }
    bool Open(const std::string& path) {
        path_ = path;
        file_ = std::fopen(path.c_str(), "wb");
        return file_ != nullptr;
    }
    std::string& buffer() { return buffer_; }
    // Writes the buffer out once it is large.
    bool Spill() { return buffer_.size() < (1u << 20) || Drain(); }
    bool Close() {
        bool ok = Drain();
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        return ok;
    }

  private:
    bool Drain() {
        if (buffer_.empty()) return true;
        bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
        buffer_.clear();
        return ok;
    }
    std::string path_;
    std::FILE* file_ = nullptr;
    std::string buffer_;
};

}  // namespace

ExportResult ExportJob::RunHtml() {
    ExportResult result;
    std::error_code ec;
    if (request_.clearOldPages) {
        for (fs::directory_iterator it(request_.outputFolder, ec), end; !ec && it != end;
             it.increment(ec)) {
            const fs::path& p = it->path();
            std::error_code rm;
            if (it->is_regular_file(rm) && EqualsNoCase(p.extension().string(), ".html"))
                fs::remove(p, rm);
        }
    }
    const std::string name = request_.byFile ? request_.dataFile : DayLogName(request_.from);
    const std::string title = DataFileTitle(name);
    DayFile day(request_.protocolFolder, request_.outputFolder, name, result.warnings);
    if (request_.byFile && !day.Found())
        result.warnings.push_back(name + ": no log file or archive stream of that name");
    ColumnIndex index(columns_);
    LocalClock clock;
    auto progress = [&](int base) {
        return [this, base](int percent) {
            if (hooks_.recordProgress) hooks_.recordProgress(base + percent / 2);
        };
    };

    // The hours are known first: every page links every other.
    std::vector<Page> pages;
    day.ForEachRecord(
        [&](const LogRecord& r) {
            if (Cancelled()) return false;
            if (index.Find(r) < 0) return true;
            LocalClock::Parts t = clock.At(r.time);
            if (pages.empty() || pages.back().key != t.hourStart)
                pages.push_back({t.hourStart, t.hour, {}});
            return true;
        },
        progress(0));
    if (Cancelled()) return result;
    if (pages.empty()) pages.push_back({});
    for (std::size_t i = 0; i < pages.size(); ++i)
        pages[i].file = i == 0 ? title + ".html" : Format("%s(%zu).html", title.c_str(), i);

    std::string head = "<html><head>\n<title>";
    AppendText(head, ExportText::kPageTitle);
    head +=
        "</title>\n<meta http-equiv=Content-Type content=\"text/html; "
        "charset=windows-1251\">\n</head><body>\n";
    std::string table = "<TABLE cellSpacing=\"0\" cellPadding=\"1\" width=\"100%\" border=\"1\">\n";
    table += "<TR>\n";
    for (std::size_t c = 0; c <= columns_.size(); ++c) {
        table += "<TD bgColor=";
        table += kHeaderColour;
        table += Format(" %zu align=\"center\"><STRONG>", c);
        AppendText(table, c == 0 ? std::string(ExportText::kTimeColumn) : columns_[c - 1].title);
        table += "</STRONG></TD>";
    }
    table += "</TR>\n";
    std::string timeout;
    AppendText(timeout, ExportText::kTimeout);

    PendingFiles pending;
    std::vector<std::string> temps;
    for (const Page& p : pages)
        temps.push_back(pending.Add((fs::path(request_.outputFolder) / p.file).string()));

    std::unique_ptr<PageFile> page;
    std::size_t current = 0;
    int rowInPage = 0;
    std::string failure;
    auto open = [&](std::size_t i) {
        page = std::make_unique<PageFile>();
        if (!page->Open(temps[i])) {
            failure = "cannot create " + temps[i];
            return false;
        }
        std::string& out = page->buffer();
        out += head;
        out += "<P>";
        AppendText(out, "Часы:");
        for (std::size_t j = 0; j < pages.size(); ++j) {
            if (pages[j].hour < 0) continue;
            if (j == i) {
                out += "&nbsp;<FONT color=\"#006600\"><STRONG>";
                AppendTwoDigits(out, pages[j].hour);
                out += "</STRONG></FONT>";
            } else {
                out += "&nbsp;<A href=\"";
                AppendText(out, Href(pages[j].file));
                out += "\">";
                AppendTwoDigits(out, pages[j].hour);
                out += "</A>";
            }
        }
        out += "</P>\n";
        out += table;
        rowInPage = 0;
        return true;
    };
    auto close = [&] {
        page->buffer() += "</TABLE>\n</body>\n</html>";
        bool ok = page->Close();
        page.reset();
        if (!ok && failure.empty()) failure = "cannot write " + temps[current];
        return ok;
    };

    if (!open(0)) return Fail(failure);
    RowBuilder rows(columns_, [&](std::int64_t time, const std::vector<Cell>& cells) {
        LocalClock::Parts t = clock.At(time);
        if (t.hourStart != pages[current].key) {
            if (!close()) return false;
            if (++current >= pages.size()) {
                failure = "the data changed while the report was written";
                return false;
            }
            if (!open(current)) return false;
        }
        std::string& out = page->buffer();
        const std::string_view colour = kRowColours[rowInPage++ & 1];
        out += "<TR>\n<TD bgColor=";
        out += colour;
        out += '>';
        AppendTwoDigits(out, t.hour);
        out += ':';
        AppendTwoDigits(out, t.minute);
        out += ':';
        AppendTwoDigits(out, t.second);
        out += "</TD>";
        for (const Cell& cell : cells) {
            out += "<TD bgColor=";
            if (cell.kind == Cell::kFailed) {
                out += kFailedColour;
                out += '>';
                out += timeout;
            } else {
                out += colour;
                out += '>';
                if (cell.kind == Cell::kValue)
                    AppendText(out, cell.text);
                else
                    out += "&nbsp;";
            }
            out += "</TD>";
        }
        out += "</TR>\n";
        if (!page->Spill()) {
            failure = "cannot write " + temps[current];
            return false;
        }
        return true;
    });
    bool ok = day.ForEachRecord(
        [&](const LogRecord& r) {
            if (Cancelled()) return false;
            int column = index.Find(r);
            return column < 0 || rows.Add(column, r);
        },
        progress(50));
    if (Cancelled()) return result;
    ok = ok && rows.Flush();
    if (ok) ok = close();
    if (!ok || current + 1 != pages.size())
        return Fail(failure.empty() ? "the data changed while the report was written" : failure);
    if (hooks_.dayProgress) hooks_.dayProgress(100);
    if (!pending.Commit(&failure)) return Fail(failure);
    result.files = pending.Finals();
    return result;
}

}  // namespace Protocol
