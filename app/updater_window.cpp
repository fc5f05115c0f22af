#include "app/updater_window.h"

#include <system_error>
#include <thread>

#include "platform/fine_timer.h"
#include "platform/http.h"
#include "platform/shell.h"

namespace app {
namespace {

// Nobody waits for these threads; one that cannot start is simply missing
// (no fade-in: the window keeps its opacity; no fade-out: it stays open).
void startDetached(void (*routine)()) {
    try {
        std::thread(routine).detach();
    } catch (const std::system_error&) {
    }
}

}  // namespace

void onCreated(UpdaterWindow& window) {
    startDetached(fadeIn);
    // Blocks the interface thread on purpose: no click can arrive before the
    // addresses are final, and the window first shows with the version set.
    release::readReleasePage(window.releaseInfo);
    platform::setCaption(VERSION_LABEL, window.releaseInfo.latestVersion);
}

void onDownload1Clicked(const UpdaterWindow& window) { platform::openAddress(window.releaseInfo.download1Url); }

void onDownload2Clicked(const UpdaterWindow& window) { platform::openAddress(window.releaseInfo.download2Url); }

bool onCloseRequested() {
    startDetached(fadeOutAndExit);
    return false;
}

void fadeIn() {
    const platform::FineTimer fineTimer;  // 1 ms sleeps, not a default Windows tick of 15.6 ms
    for (int i = 1; i <= FADE_STEPS; ++i) {
        platform::setWindowOpacity(i);
        std::this_thread::sleep_for(FADE_STEP_DELAY);
    }
}

void fadeOutAndExit() {
    const platform::FineTimer fineTimer;
    for (int i = 1; i <= FADE_STEPS; ++i) {
        platform::setWindowOpacity(255 - i);
        std::this_thread::sleep_for(FADE_STEP_DELAY);
    }
    platform::endProgram(0);
}

platform::WindowEvents updaterWindowEvents(UpdaterWindow& window) {
    return {
        .created = [&window] { onCreated(window); },
        .closeRequested = onCloseRequested,
        .clicked =
            [&window](std::string_view control) {
                if (control == BUTTON_2) onDownload1Clicked(window);
                if (control == BUTTON_1) onDownload2Clicked(window);
            },
    };
}

int runUpdaterWindow() {
    // The HTTP library loads while the toolkit starts; the request itself is
    // still sent from onCreated.
    platform::prepareHttp();
    // The window's ReleaseInfo lives until this returns: leaving this scope is
    // the program-end clean-up that releases it.
    UpdaterWindow window;
    return platform::runWindow(UPDATER_WINDOW, updaterWindowEvents(window));
}

}  // namespace app
