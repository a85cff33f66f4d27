#include "ui/settings_app.h"

int main(int argc, char** argv) {
    return tovlane::runSettingsApp(argc, argv);
}
