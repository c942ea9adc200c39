#include "elements/invisible_element.h"

#include "platform/archive.h"

namespace Elements {

namespace {

// Rows whose element names read better to the user under another text.
struct RowReplacement {
    const char* elementName;
    const char* text;
    int image;  // -1: the element's own images
};

constexpr RowReplacement kRowReplacements[] = {
    {"Диапазон №1", "БУИМ типа \"Нагреватель\"", 43},
    {"Диапазон №2", "БУИМ типа \"Холодильник\"", 44},
    {"Блокировки №1", "Блокировка по пропаданию питания", -1},
    {"Блокировки №2", "Блокировка по преходу на новый шаг программы", -1},
    {"Блокировки №3", "Блокировка при запуске программы", -1},
};

constexpr std::uint32_t kBlack = 0;

}  // namespace

void InvisibleElement::Serialize(Archive& ar) {
    if (ar.IsStoring()) {
        ar.WriteText(elementName);
    } else {
        ar.ReadText();
        ClearValues();
    }
    SerializeCountedParameters(ar);
}

void InvisibleElement::SerializeCountedParameters(Archive& ar) {
    if (ar.IsStoring()) {
        ar.WriteI32(static_cast<std::int32_t>(parameters.size()));
        ObjectWithParameters::Serialize(ar);
        return;
    }
    std::int32_t stored = ar.ReadI32();
    if (stored < 0) throw ArchiveError("negative parameter count");
    // A stored list of another length is read whole so the stream stays in step.
    for (std::int32_t i = 0; i < stored; ++i) {
        if (static_cast<std::size_t>(i) < parameters.size()) {
            parameters[static_cast<std::size_t>(i)]->Serialize(ar);
        } else {
            Parameter surplus;
            surplus.Serialize(ar);
        }
    }
}

bool InvisibleElement::SetValue(std::string_view name, const std::string& newValue,
                                bool markChanged) {
    if (name == "Название") {
        elementName = newValue;
        return true;
    }
    return ObjectWithParameters::SetValue(name, newValue, markChanged);
}

ListResult InvisibleElement::CompareAll(ParameterDevice& device) {
    device.LogLine("Сравниваем ветвь '" + elementName + "'", true, kBlack, false);
    return ObjectWithParameters::CompareAll(device);
}

ListResult InvisibleElement::ReadAll(ParameterDevice& device) {
    device.LogLine("Читаем ветвь '" + elementName + "'", true, kBlack, false);
    return ObjectWithParameters::ReadAll(device);
}

ListResult InvisibleElement::WriteAll(ParameterDevice& device, int mode) {
    device.LogLine("Пишем ветвь '" + elementName + "'", true, kBlack, false);
    return ObjectWithParameters::WriteAll(device, mode);
}

RowHandle InvisibleElement::ShowOwnRow(RowSink& view, RowHandle parent) {
    std::string text = elementName;
    int image = Image();
    int selected = SelectedImage();
    for (const RowReplacement& r : kRowReplacements) {
        if (elementName == r.elementName) {
            text = r.text;
            if (r.image >= 0) image = selected = r.image;
            break;
        }
    }
    return view.InsertElementRow(parent, *this, text, image, selected);
}

void InvisibleElement::ShowInTree(RowSink& view, RowHandle parent, int limit, int option) {
    RowHandle row = ShowOwnRow(view, parent);
    ObjectWithParameters::ShowInTree(view, row, limit, option);
}

std::string InvisibleElement::SettingsSummary() const {
    return "Скорость: " + GetValue("bPS") + "\r\n" + "Длина слова данных: " + GetValue("LEn") +
           "\r\n" + "Четность: " + GetValue("PrtY") + "\r\n" +
           "Кол-во стоп-бит: " + GetValue("Sbit") + "\r\n" + "Длина адреса: " + GetValue("A.Len") +
           "\r\n" + "Адрес: " + GetValue("Addr") + "\r\n";
}

}  // namespace Elements
