#include "core/notifier.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

#include "core/output.h"

extern char** environ;

namespace tovlane {

bool notifyDesktop(std::string_view reason) {
    std::string body = visibleText(reason);
    const char* argv[] = {"notify-send", "--app-name=Tovlane", "--icon=tovlane",
                          "Tovlane",     body.c_str(),         nullptr};
    pid_t child = -1;
    if (::posix_spawnp(&child, argv[0], nullptr, nullptr, const_cast<char* const*>(argv),
                       environ) != 0) {
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tovlane
