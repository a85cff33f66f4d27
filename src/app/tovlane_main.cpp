#include "core/launcher.h"

int main(int argc, char** argv) {
    return tovlane::runLauncher(argc, argv);
}
