#include "elements/common_params.h"

#include <sys/utsname.h>

#include "version.h"

namespace Elements {

std::string ProductVersionText() {
    return std::string(SELVAR_PRODUCT_NAME) + " " + SELVAR_VERSION;
}

std::string OperatingSystemText() {
    utsname u{};
    if (uname(&u) != 0 || u.sysname[0] == '\0') return "<неизвестно>";
    return std::string(u.sysname) + " " + u.release + " (" + u.machine + ")";
}

void CommonParams::DeleteParameters() {
    ObjectWithParameters::DeleteParameters();
    ownsParameters = true;
    struct Service {
        const char* name;
        const char* description;
    };
    constexpr Service kService[] = {
        {" ", "Версия"}, {"  ", "Копирайт"}, {"   ", "Операционная система"}};
    for (const Service& s : kService) {
        auto* p = new Parameter;
        p->name = s.name;
        p->description = s.description;
        p->writable = false;
        p->attributeKind = 0;
        AddParameter(p);
    }
    SetValue(" ", ProductVersionText(), false);
    SetValue("  ", SELVAR_COPYRIGHT, false);
    SetValue("   ", OperatingSystemText(), false);
}

}  // namespace Elements
