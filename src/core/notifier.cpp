#include "core/notifier.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/output.h"

extern char** environ;

namespace tovlane {

namespace {

// Notification servers read the body as markup, and notify-send reads
// backslash escapes (\074 for "<") before that: escaped for both, a server's
// reason or a settings value shows as written, never as a link or a style.
std::string plainBody(std::string_view reason) {
    std::string body;
    for (char c : visibleText(reason)) {
        if (c == '\\')
            body += "\\\\";
        else if (c == '&')
            body += "&amp;";
        else if (c == '<')
            body += "&lt;";
        else if (c == '>')
            body += "&gt;";
        else
            body += c;
    }
    return body;
}

}  // namespace

bool notifyDesktop(std::string_view reason) {
    std::string body = plainBody(reason);
    // "--": a reason that starts with "--" is no option of notify-send's.
    const char* argv[] = {"notify-send", "--app-name=Tovlane", "--icon=tovlane", "--",
                          "Tovlane",     body.c_str(),         nullptr};
    // What the notifier says of itself (no session bus, say) is not the
    // user's business: a failure falls back to stderr anyway.
    posix_spawn_file_actions_t quiet;
    ::posix_spawn_file_actions_init(&quiet);
    ::posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    int started =
        ::posix_spawnp(&child, argv[0], &quiet, nullptr, const_cast<char* const*>(argv), environ);
    ::posix_spawn_file_actions_destroy(&quiet);
    if (started != 0)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tovlane
