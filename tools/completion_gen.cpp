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
    std::string entries, words, withValue;
    for (int entry = 0; entry < tovlane::kEntryCount; ++entry)
        entries += (entry > 0 ? " " : "") + std::to_string(entry);
    words = entries;
    for (const tovlane::OptionRow& row : tovlane::kOptions) {
        if (row.letter != 0)
            words += std::string(" -") + row.letter;
        words += " " + std::string(row.name);
        if (!row.argument.empty())
            withValue += (withValue.empty() ? "" : " | ") + std::string(row.name);
    }
    words += " -";
    const std::string file(tovlane::optionRow(tovlane::Option::File).name);
    const std::string host(tovlane::optionRow(tovlane::Option::Address).name);
    std::ofstream out(argv[1]);
    out << "# bash completion for tovlane, made from its table of options.\n"
           "_tovlane() {\n"
           "    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]} word\n"
           "    # --name=value: bash splits the words at \"=\", so the option stands one further "
           "back.\n"
           "    [ \"$previous\" = = ] && [ \"$COMP_CWORD\" -ge 2 ] && "
           "previous=${COMP_WORDS[COMP_CWORD-2]}\n"
           "    for word in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
           "        if [ \"$word\" = -- ]; then  # no options after --\n"
           "            mapfile -t COMPREPLY < <(compgen -W \""
        << entries
        << "\" -- \"$current\")\n"
           "            return\n"
           "        fi\n"
           "    done\n"
           "    case $previous in\n"
           "        "
        << file
        << ")\n"
           "            compopt -o filenames 2>/dev/null  # names with blanks stay one word\n"
           "            mapfile -t COMPREPLY < <(compgen -f -- \"$current\")\n"
           "            return ;;\n"
           "        "
        << host << ") mapfile -t COMPREPLY < <(compgen -A hostname -- \"$current\"); return ;;\n"
        << "        " << withValue
        << ") return ;;\n"
           "    esac\n"
           "    mapfile -t COMPREPLY < <(compgen -W \""
        << words
        << "\" -- \"$current\")\n"
           "}\n"
           "complete -F _tovlane tovlane\n";
    return out.good() ? 0 : 1;
}
