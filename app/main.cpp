// The updater reads no command line, no settings and no files.
#include "app/updater_window.h"

int main() { return app::runUpdaterWindow(); }
