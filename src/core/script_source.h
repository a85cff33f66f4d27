#pragma once

#include <string>

#include "core/exit_status.h"
#include "core/options.h"
#include "core/settings.h"

namespace tovlane {

// Where a run's script comes from.
struct ScriptSource {
    enum class Kind { Entry, Text, File, Input };
    Kind kind = Kind::Entry;
    std::string value = {};  // the entry's number as written, the text or the path
};

// The one script a command line names: an entry (without options, the words
// joined as one number, as they always were), --script, --file or "-".
// BadCommandLine, naming what is missing or too much, otherwise.
Outcome<ScriptSource> scriptSourceOf(const CommandLine& line);

// How a script is made: whether to explain each step (-v), and whether a
// message may name the settings' keys, where the user must edit the file
// (-v, --print), and whether to say so when reading from a terminal.
struct ScriptContext {
    bool explain = false;
    bool namesKeys = false;
    bool quiet = false;
};

// The script of entry index, in CP932 as the wire carries it: the contents
// of the file it names, or the entry text itself. EmptyEntry when it is
// empty, UnreadableScript when its file cannot be read.
Outcome<std::string> entryScript(Settings& settings, int index, const INIAccess& store,
                                 const ScriptContext& context);

// The same for --script, --file or "-": the text itself (never a path), the
// file (UnreadableScript when it is missing, no regular file or unreadable),
// or standard input read as a script file. EmptyEntry when there is nothing
// to send.
Outcome<std::string> oneOffScript(const ScriptSource& source, const ScriptContext& context);

}  // namespace tovlane
