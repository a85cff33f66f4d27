// Writes tovlane's bash completion from its table of options, so that the
// completion offers exactly the options the program takes.
// Usage: completion-gen OUTPUT-FILE
#include <fstream>
#include <iostream>
#include <string>

#include "core/options.h"
#include "core/settings.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: completion-gen OUTPUT-FILE\n";
        return 2;
    }
    std::string words, withValue;
    for (int entry = 0; entry < tovlane::kEntryCount; ++entry)
        words += std::to_string(entry) + " ";
    for (const tovlane::OptionRow& row : tovlane::kOptions) {
        if (row.letter != 0)
            words += std::string("-") + row.letter + " ";
        words += std::string(row.name) + " ";
        if (!row.argument.empty())
            withValue += (withValue.empty() ? "" : " | ") + std::string(row.name);
    }
    words += "-";
    const std::string file(tovlane::optionRow(tovlane::Option::File).name);
    const std::string host(tovlane::optionRow(tovlane::Option::Address).name);
    std::ofstream out(argv[1]);
    out << "# bash completion for tovlane, made from its table of options.\n"
           "_tovlane() {\n"
           "    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    case $previous in\n"
           "        "
        << file
        << ") mapfile -t COMPREPLY < <(compgen -f -- \"$current\"); return ;;\n"
           "        "
        << host
        << ") mapfile -t COMPREPLY < <(compgen -A hostname -- \"$current\"); return ;;\n"
           "        "
        << withValue
        << ") return ;;\n"
           "    esac\n"
           "    mapfile -t COMPREPLY < <(compgen -W \""
        << words
        << "\" -- \"$current\")\n"
           "}\n"
           "complete -F _tovlane tovlane\n";
    return out.good() ? 0 : 1;
}
