#include "common/version.h"

namespace kyr {

const char* projectVersion() {
    return KYR_PROJECT_VERSION;
}

std::string versionText(std::string_view program) {
    std::string text(program);
    text += " (KYR Remote Operation Console) ";
    text += KYR_PROJECT_VERSION;
    text +=
        "\nCopyright (C) 2026 The KYR Remote Operation Console developers.\n"
        "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
        "This is free software: you are free to change and redistribute it.\n"
        "There is NO WARRANTY, to the extent permitted by law.\n";
    return text;
}

}  // namespace kyr
