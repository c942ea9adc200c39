#include "reports/parameter_list.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "description/desc_branch.h"
#include "link/frame.h"
#include "model/parameter.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

// The page is valid HTML whatever the descriptions hold.
std::string EscapeHtml(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Paths and descriptions also shorten a first number to "№...": the row
// stands for every instance of the parameter. Labels and names are shown as
// they are.
std::string Escape(std::string_view text) {
    return ReplaceAll(EscapeHtml(text), "№1", "№...");
}

void Merge(ParameterLine& line, int v) {
    int first = line.firstIndex, last = line.lastIndex;
    if (v < line.firstIndex) line.firstIndex = v;
    if (v > line.lastIndex) line.lastIndex = v;
    for (int d : {std::abs(v - first), std::abs(last - v)})
        if (d != 0 && d < line.indexStep) line.indexStep = d;
}

ParameterLine NewLine(const Parameter& p, const std::string& path) {
    ParameterLine line;
    line.path = path;
    line.name = p.name;
    line.description = p.DisplayDescription();
    line.type = p.type;
    line.attributeKind = p.attributeKind;
    line.firstIndex = line.lastIndex = p.linearIndex;
    line.decimals = p.decimals;
    line.maxValue = p.maxValue;
    line.minValue = p.minValue;
    return line;
}

std::string TypeCell(const std::string& type) {
    std::vector<std::string> labels = Split(type, ':');
    for (std::string& l : labels)
        l = ReplaceAll(l, "_", " ");
    for (const char* named : {"float", "STORED DOT", "DEC dot", "CLK frm", "ASCI", "name"}) {
        if (EqualsNoCase(labels.front(), named)) {
            Parameter probe;
            probe.type = named;
            return probe.TypeDescription();
        }
    }
    std::string cell = "\n\t<ol start=0>\n";
    for (const std::string& l : labels)
        cell += "\t\t<li> " + EscapeHtml(l) + "\n";
    return cell + "\t</ol>";
}

std::string IndexCell(const ParameterLine& line) {
    if (line.firstIndex == line.lastIndex) return "нет индекса";
    long long s = line.indexStep, e = line.lastIndex;
    if (line.name == "A.i.j") {
        s = 2LL * line.indexStep;
        e = static_cast<long long>(line.firstIndex) + line.lastIndex - 1;
    }
    long long second = line.firstIndex + s;
    std::string cell = std::to_string(line.firstIndex) + ", " + std::to_string(second);
    if (second < e) cell += " .. " + std::to_string(e);
    return cell;
}

std::string RangeCell(const ParameterLine& line) {
    if (line.minValue >= line.maxValue) return "нет ограничений";
    if (EqualsNoCase(Split(line.type, ':').front(), "CLK frm") ||
        EqualsNoCase(Split(line.type, ':').front(), "CLK_frm")) {
        auto lo = static_cast<unsigned>(std::max(0.0, line.minValue));
        auto hi = static_cast<unsigned>(std::max(0.0, std::min(line.maxValue, 4294967295.0)));
        return Format("от %02u:%02u до %02u:%02u", lo / 60, lo % 60, hi / 60, hi % 60);
    }
    return "от " + Format("%g", line.minValue) + " до " + Format("%g", line.maxValue);
}

std::string AttributeCell(int kind) {
    if (kind == 1) return "обычн. атрибуты";
    if (kind == 0) return "нет атрибутов";
    return "дерево атр-ов обрезано (кратность индекcов " + std::to_string(kind) + ")";
}

struct Code {
    const char* code;
    const char* text;
};

std::string FloatCell(const std::vector<Code>& codes, const char* heading) {
    std::string cell = "Стандартный 4-х байтовый float (IEEE).";
    if (heading) cell += "<br>" + std::string(heading);
    for (const Code& c : codes) {
        if (*c.code == '\0')
            cell += "<br>\n" + EscapeHtml(c.text);  // a heading inside the list
        else
            cell += "<br>\n<b>" + std::string(c.code) + "</b> - " + EscapeHtml(c.text);
    }
    return cell;
}

std::string OperativeFragment() {
    std::string f =
        "<h4>Список оперативных параметров</h4>\n<table border=1 style=\"font-size=12px\">\n<tr>";
    for (const char* h : {"№", "Команда", "Хеш", "Название (смысл)", "Индексация", "Тип значения",
                          "Возможность записи"})
        f += "<td><strong><b>" + std::string(h) + "</b></strong></td>";
    f += "</tr>\n";
    // The codes both readings share, after their own first one.
    const std::vector<Code> common = {{"0х6", "Данные не готовы"},
                                      {"0х8", "Велика температура свободных концов ТП"},
                                      {"0х9", "Мала температура свободных концов ТП"},
                                      {"0хA", "Вычисленное значение слишком велико"},
                                      {"0хB", "Вычисленное значение слишком мало"},
                                      {"0хC", "Короткое замыкание"},
                                      {"0хD", "Обрыв датчика"},
                                      {"0хE", "Отсутствие связи с АЦП"},
                                      {"0хF", "Некорректный калибровочный коэффициент"}};
    std::vector<Code> measured = {{"0х0", "Значение заведомо неверно"}};
    measured.insert(measured.end(), common.begin(), common.end());
    measured.insert(measured.begin() + 2, {"0х7", "Датчик отключен"});
    std::vector<Code> computed = {{"0х0", "вычисление невозможно"}};
    computed.insert(computed.end(), common.begin(), common.end());
    computed.insert(computed.end(),
                    {{"", "Группа 500000х - ошибки вычисления"},
                     {"0x5000000", "Неверное количество входов"},
                     {"0x5000001", "Отключен вход вычислителя"},
                     {"0x5000002", "Отключен датчик, используемый вычислителем"},
                     {"0x5000003", "Несоответствуют датчик и вычислитель"},
                     {"0x5000004", "Отключен фильтр, используемый вычислителем"},
                     {"0x5000005", "Недопустимый формат данных фильтра RS485"},
                     {"0x5000006", "Мала температура сухого термометра"},
                     {"0x5000007", "Велика температура сухого термометра"},
                     {"0x5000008", "Мала температура влажного термометра"},
                     {"0x5000009", "Велика температура влажного термометра"},
                     {"0x500000A", "Вычислитель отключен"},
                     {"0x500000B", "На входе вычислителя корня отрицательное число"},
                     {"0x500000C", "Неверно задан индекс датчика"},
                     {"0x500000D", "Неверно задан индекс сетевого фильтра"}});
    const std::string a = FloatCell(measured, "Коды исключительной ситуации:");
    const std::string b = FloatCell(computed, "Коды исключительной ситуации:");
    const std::string out = FloatCell({{"0х0", "Значение заведомо неверно"},
                                       {"0х1", "Попытка записать в параметр неверное значение"}},
                                      nullptr);
    const std::string set = FloatCell(
        {{"0х6", "Данные не готовы"},
         {"0x3000001", "у регулятора отсутствует уставка (регулятор не  работает в данный момент)"},
         {"0x3000002", "у регулятора уставка типа «мощность»"}},
        nullptr);
    struct Row {
        const char *command, *hash, *meaning, *indexing;
        std::string type;
    } rows[] = {
        {"rEAd", "8784", "Значение с измерителя", "0,1 (по измерителям)", a},
        {"r.CAL", "CF57", "Значение, подсчитанное вычислителем", "0..7 (по вычеслителям)", b},
        {"rd.rg", "8F43", "Состояние регистратора", "0..7 (по регистраторам)",
         "Стандартный 4-х байтовый float (IEEE). При опросе неработающего (отключенного) канала "
         "выдает 0."},
        {"r.Out", "9946", "Значение на выходе ПС", "0..7 (по ПВС)", out},
        {"Set.P", "33EC", "Значение с уставки регулятора", "0..7 (по регуляторам)", set},
        {"r.St", "2810", "Состояние объекта", "0,1..7 (по объектам)",
         "\n\t<ol start=0>\n\t\t<li> Run\n\t\t<li> Stop\n\t\t<li> Fail\n\t</ol>"},
    };
    int n = 1;
    for (const Row& r : rows) {
        f += "<tr><td>" + std::to_string(n++) + "</td><td>" + r.command + "</td><td>" + r.hash +
             "</td><td>" + r.meaning + "</td><td>" + r.indexing + "</td><td>" + r.type +
             "</td><td>нет</td></tr>\n";
    }
    return f + "</table>\n";
}

void WriteHeaderRow(std::ostream& out) {
    out << "<tr>\n";
    for (const char* h : {"№", "Параметр", "Hash", "Описание", "Тип", "Индексация",
                          "Диапазон значений", "Атрибуты"})
        out << "<td><strong><b>" << h << "</b></strong></td>\n";
    out << "</tr>\n";
}

}  // namespace

void CollectLines(DescBranch& branch, const std::string& path, std::vector<ParameterLine>& lines) {
    bool listed =
        !(branch.elementName == "Времена задержек инспектора" && branch.CheckCommonIndex() == 0);
    if (listed) {
        for (const Parameter* p : branch.parameters) {
            bool merged = false;
            bool alone = p->name == "A.i.j" && p->linearIndex == 1;
            if (!alone) {
                for (ParameterLine& line : lines) {
                    if (!EqualsNoCase(line.name, p->name)) continue;
                    Merge(line, p->linearIndex);
                    merged = true;
                }
            }
            if (!merged) lines.push_back(NewLine(*p, path));
        }
    }
    for (auto& child : branch.branches) {
        bool own =
            !child->branches.empty() || child->parameters.size() != 1 || !child->connectors.empty();
        std::string childPath = path;
        if (own) childPath = path.empty() ? child->elementName : path + " \\ " + child->elementName;
        CollectLines(*child, childPath, lines);
    }
}

void WriteRow(const ParameterLine& line, std::ostream& out, int number) {
    out << "<tr>\n\t<td>" << number << "\t</td>\n";
    const std::string cells[] = {line.name,
                                 Format("%04X", static_cast<unsigned>(hash_name(line.name))),
                                 Escape(line.description),
                                 TypeCell(line.type),
                                 IndexCell(line),
                                 RangeCell(line),
                                 AttributeCell(line.attributeKind)};
    for (std::size_t i = 0; i < 7; ++i) {
        out << "\t<td>" << (i == 0 ? EscapeHtml(cells[i]) : cells[i]) << "\t</td>\n";
        if (i == 6) out << "</tr>\n";
    }
}

std::string ParameterListPage(DescBranch& ordinaryRoot) {
    std::vector<ParameterLine> lines;
    CollectLines(ordinaryRoot, "", lines);
    std::ostringstream out;
    out << "<html>\n<head>\n"
        << "<meta HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">\n"
        << "\t<title>Список параметров прибора Пеллум</title>\n"
        << "</head>\n\n<body>\n"
        << "<h4>Список обычных (неоперативных) параметров"
        << "</h4>\n"
        << "<table border=1 style=\"font-size=12px\">\n";
    std::string previous = "корень";
    int number = 1;
    for (const ParameterLine& line : lines) {
        if (!EqualsNoCase(line.path, previous)) {
            if (!line.path.empty())
                out << "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>" << Escape(line.path)
                    << "</b></td></tr>\n";
            WriteHeaderRow(out);
            previous = line.path;
        }
        WriteRow(line, out, number++);
    }
    out << "</table>\n\n<br>\n" << OperativeFragment() << "</body>\n</html>\n";
    return out.str();
}

std::string ParameterListPath() {
    return (std::filesystem::path(ProgramHome()) / "parlist.html").string();
}

bool WriteParameterList(DescBranch* ordinaryRoot, const std::string& path) {
    if (!ordinaryRoot) {
        ShowMessage("Дерево не определено", "Операция невозможна", MessageIcon::Error,
                    MessageButtons::Ok);
        return false;
    }
    if (!WriteFileAtomically(path, Utf8ToCp1251(ParameterListPage(*ordinaryRoot)))) {
        ShowMessage(Format("Проблемы с открытием файла '%s'\n", path.c_str()), {},
                    MessageIcon::Error, MessageButtons::Ok);
        return false;
    }
    OpenWithDesktop(path);
    return true;
}
