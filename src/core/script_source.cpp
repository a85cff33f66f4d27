#include "core/script_source.h"

#include <unistd.h>

#include <climits>
#include <optional>
#include <utility>
#include <vector>

#include "core/command_line.h"
#include "core/messages.h"
#include "core/output.h"
#include "storage/file_io.h"
#include "storage/localized.h"
#include "storage/text_codec.h"
#include "storage/wr_text.h"

namespace tovlane {
namespace {

using Kind = ScriptSource::Kind;

// A script on standard input may be long, but an endless one must end.
constexpr std::size_t kLongestInput = std::size_t{256} << 20;

std::string describe(const ScriptSource& source) {
    switch (source.kind) {
        case Kind::Entry:
            return quoted(source.value);
        case Kind::Text:
            return std::string(optionRow(Option::Script).name);
        case Kind::File:
            return std::string(optionRow(Option::File).name);
        case Kind::Input:
            break;
    }
    return "-";
}

// The file an entry names, if it names one. A name longer than a path can be
// is none: a long script is never widened to test it.
std::optional<std::string> fileNamedBy(const std::string& stored) {
    if (stored.size() >= PATH_MAX)
        return std::nullopt;
    std::string name = decodeFileText(stored);
    return isExistingRegularFile(name) ? std::optional(std::move(name)) : std::nullopt;
}

// Stored text in CP932, as the wire carries it: UTF-8 converted (which never
// takes more bytes), CP932 kept as it is but for bytes CP932 cannot read.
std::string storedInCp932(std::string stored) {
    if (isValidUtf8(stored))
        return encodeCp932(stored);
    repairCp932(stored);
    return stored;
}

// "entry 2", and where the user would edit it when messages may say so:
// "entry 2 (AlarmFile2 in /home/me/.config/tovlane/Tovlane.ini)". Japanese
// says where after the sentence, given as the second of the pair.
std::pair<std::string, std::string> entryNamed(int index, const INIAccess& store,
                                               const ScriptContext& context) {
    if (!context.namesKeys)
        return {entryName(index), ""};
    const std::string_view key = kSettingKeys[entryKey(index)].name;
    const std::string file = store.ReadPath.empty() ? store.FullPath() : store.ReadPath;
    return {localized("{} ({} in {})", "{}", {entryName(index), key, file}),
            localized("", "（{} の {}）", {file, key})};
}

// Why an entry is empty, including that there is no settings file at all:
// the first run after installing ends here.
RunError emptyEntry(int index, const INIAccess& store, const ScriptContext& context) {
    const auto [entry, where] = entryNamed(index, store, context);
    if (!store.ReadPath.empty()) {
        return {Ending::EmptyEntry,
                localized("{} is empty: there is nothing to send",
                          "{} は空なので、送るものがありません{}", {entry, where})};
    }
    return {Ending::EmptyEntry,
            localized("{} is empty: there is nothing to send (there is no settings file {} yet: "
                      "run tovlane alone to open the settings window)",
                      "{} は空なので、送るものがありません（設定ファイル {} はまだありません。"
                      "tovlane で設定画面を開けます）",
                      {entryName(index), store.FullPath()})};
}

RunError nothingToSend(const ScriptSource& source) {
    switch (source.kind) {
        case Kind::File:
            return {Ending::EmptyEntry,
                    localized("the script file {} is empty: there is nothing to send",
                              "スクリプトファイル {} は空なので、送るものがありません",
                              {quoted(source.value)})};
        case Kind::Input:
            return {Ending::EmptyEntry,
                    localized("standard input holds no script: there is nothing to send",
                              "標準入力にスクリプトがないので、送るものがありません")};
        default:
            break;
    }
    return {Ending::EmptyEntry, localized("the script of {} is empty: there is nothing to send",
                                          "{} のスクリプトは空なので、送るものがありません",
                                          {optionRow(Option::Script).name})};
}

// Standard input, read as a script file; a person at a terminal is told
// that it is waiting for them.
Outcome<std::string> scriptFromInput(const ScriptContext& context) {
    if (!context.quiet && ::isatty(STDIN_FILENO) == 1) {
        tell(localized("reading the script from the terminal; end it with Ctrl-D",
                       "端末からスクリプトを読みます。Ctrl-D で終えてください"));
    }
    auto script = WRText::FromStream(STDIN_FILENO, kLongestInput);
    if (!script) {
        return runError(
            {script.error().code,
             localized("cannot read the script from standard input: {}",
                       "標準入力からスクリプトを読めません: {}", {script.error().reason})},
            Ending::UnreadableScript);
    }
    return std::move(*script);
}

}  // namespace

Outcome<ScriptSource> scriptSourceOf(const CommandLine& line) {
    std::vector<ScriptSource> named;  // each one given, a repeated one as often as given
    for (auto [option, kind] :
         {std::pair{Option::Script, Kind::Text}, {Option::File, Kind::File}}) {
        for (int i = 0; i < line.times[static_cast<std::size_t>(option)]; ++i)
            named.push_back({kind, line.value(option)});
    }
    named.insert(named.end(), static_cast<std::size_t>(line.standardInput), {Kind::Input});
    if (line.words.size() > 1 && line.optionSyntax) {
        return badCommandLine(
            "two entries, {} and {}: give one (see tovlane --help)",
            "エントリが {} と {} の 2 つあります。1 つにしてください（使い方は tovlane --help）",
            {quoted(line.words[0]), quoted(line.words[1])});
    }
    if (!line.words.empty() || !line.optionSyntax) {
        // Without options, the words make one number, as they always did.
        named.push_back({Kind::Entry, joinWords(line.words)});
    }
    if (named.empty()) {
        return badCommandLine(
            "nothing names a script to send: give an entry N, --script TEXT, --file PATH or - "
            "(see tovlane --help)",
            "送るスクリプトがありません。エントリ N、--script TEXT、--file PATH、- のどれかを指定"
            "してください（使い方は tovlane --help）");
    }
    if (named.size() > 1) {
        return badCommandLine(
            "two scripts, {} and {}: give one (see tovlane --help)",
            "スクリプトが {} と {} の 2 つあります。1 つにしてください（使い方は tovlane --help）",
            {describe(named[0]), describe(named[1])});
    }
    return named.front();
}

Outcome<std::string> entryScript(Settings& settings, int index, const INIAccess& store,
                                 const ScriptContext& context) {
    // Moved, not copied: a long literal script is held once.
    std::string entry = std::move(settings.values[entryKey(index)]);
    if (entry.empty())
        return emptyEntry(index, store, context);
    auto file = fileNamedBy(entry);
    if (context.explain) {
        const auto [named, where] = entryNamed(index, store, context);
        tell(file ? localized("{} is the script file {}", "{} はスクリプトファイル {} です{}",
                              {named, quoted(*file), where})
                  : localized("{} is the script itself", "{} はスクリプトそのものです{}",
                              {named, where}));
    }
    if (file) {
        WRText reader;
        reader.FileName = *file;
        auto script = reader.RFile();
        if (script)
            return std::move(*script);
        // A name that stops being a regular file between the test and the
        // opening is the script itself, as any other name.
        if (script.error().code != ErrorCode::NotRegularFile) {
            return runError({script.error().code,
                             localized("cannot read the script file {} of {}: {}",
                                       "{1} のスクリプトファイル {0} を読み込めません: {2}",
                                       {quoted(*file), entryName(index), script.error().reason})},
                            Ending::UnreadableScript);
        }
    }
    return storedInCp932(std::move(entry));
}

Outcome<std::string> oneOffScript(const ScriptSource& source, const ScriptContext& context) {
    if (context.explain) {
        tell(source.kind == Kind::Text
                 ? localized("the script is the text of {}", "スクリプトは {} の文字列です",
                             {optionRow(Option::Script).name})
             : source.kind == Kind::File
                 ? localized("the script is the file {} of {}",
                             "スクリプトは {1} のファイル {0} です",
                             {quoted(source.value), optionRow(Option::File).name})
                 : localized("the script is read from standard input",
                             "スクリプトを標準入力から読みます"));
    }
    Outcome<std::string> script = std::string();
    if (source.kind == Kind::Text) {
        script = storedInCp932(source.value);
    } else if (source.kind == Kind::Input) {
        script = scriptFromInput(context);
    } else if (auto file = WRText::ReadFile(source.value); file) {
        script = std::move(*file);
    } else {
        script = runError(
            {file.error().code,
             localized("cannot read the script file {} of {}: {}",
                       "{1} のスクリプトファイル {0} を読み込めません: {2}",
                       {quoted(source.value), optionRow(Option::File).name, file.error().reason})},
            Ending::UnreadableScript);
    }
    if (script && script->empty())
        return nothingToSend(source);
    return script;
}

}  // namespace tovlane
