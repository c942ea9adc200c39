// selvar-descc: the description compiler. Reads the sources of one or more
// modifications (data/<alias>/, see data/README.md) and writes their five
// description files each.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "descc.h"

namespace {

constexpr int kOk = 0;
constexpr int kSourceErrors = 1;
constexpr int kWriteFailed = 2;
constexpr int kUsage = 64;
constexpr int kInternal = 70;

void Usage(std::ostream& os) {
    os << "usage: selvar-descc [--out DIR] [--check] [--dump] [--quiet] [-Werror] "
          "MODIFICATION_DIR...\n"
          "  Compiles the description sources in each MODIFICATION_DIR (modification.txt,\n"
          "  parameters.txt, tree.txt, operative.txt, hidden.txt, comments.txt) into the five\n"
          "  description files of the modification, written into DIR (default: the current\n"
          "  folder).\n"
          "  --check   read and check only; write nothing\n"
          "  --dump    print the expanded parameter table\n"
          "  --quiet   no summary line\n"
          "  -Werror   treat warnings as errors\n"
          "Exit status: 0 success, 1 errors in the sources, 2 a file could not be written,\n"
          "64 wrong command line, 70 internal failure.\n";
}

int Run(int argc, char** argv) {
    std::string outDir = ".";
    bool check = false;
    bool dump = false;
    bool quiet = false;
    bool warningsAreErrors = false;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--out" && i + 1 < argc) {
            outDir = argv[++i];
        } else if (a.rfind("--out=", 0) == 0) {
            outDir = a.substr(6);
        } else if (a == "--check") {
            check = true;
        } else if (a == "--dump") {
            dump = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "-Werror") {
            warningsAreErrors = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return kOk;
        } else if (!a.empty() && a[0] == '-') {
            std::cerr << "selvar-descc: unknown option " << a << '\n';
            Usage(std::cerr);
            return kUsage;
        } else {
            folders.push_back(a);
        }
    }
    if (folders.empty()) {
        Usage(std::cerr);
        return kUsage;
    }
    int status = kOk;
    descc::FileReader reader = descc::DiskReader();
    for (const std::string& folder : folders) {
        descc::Diagnostics diag;
        std::optional<descc::Modification> mod = descc::CompileModification(folder, reader, diag);
        descc::EncodedFiles files;
        bool ok = mod && descc::EncodeModification(*mod, files, diag);
        for (const std::string& m : diag.Messages())
            std::cerr << m << '\n';
        if (ok && warningsAreErrors && diag.WarningCount() > 0) {
            std::cerr << folder << ": warnings treated as errors\n";
            ok = false;
        }
        if (!ok) {
            std::cerr << folder << ": " << diag.ErrorCount() << " error(s)\n";
            status = kSourceErrors;
            continue;
        }
        if (dump) std::cout << descc::DumpTable(*mod);
        if (!check && !descc::WriteModification(*mod, files, outDir, diag)) {
            for (const std::string& m : diag.Messages())
                std::cerr << m << '\n';
            if (status == kOk) status = kWriteFailed;
            continue;
        }
        if (!quiet) {
            descc::Summary s = descc::Summarize(*mod);
            std::cout << mod->description->displayName << " (" << mod->description->alias
                      << "): " << s.parameters << " parameters, " << s.operative
                      << " operative; tree records " << s.treeRecords << " / " << s.operativeRecords
                      << " / " << s.hiddenRecords << "; " << s.comments << " comments"
                      << (check ? " (checked)" : "") << '\n';
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "selvar-descc: internal failure: " << e.what() << '\n';
        return kInternal;
    }
}
