// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/MpvMediaService.h"
#include "shell/Application.h"
#include "shell/CommandLine.h"
#include "shell/TerminationSignals.h"

#include <QApplication>

#include <malloc.h>

int main(int argc, char* argv[]) {
    // The engine starts fresh threads for every file, and each new thread could
    // claim a malloc arena of its own: over hours of a play list the process
    // grew in 10 MB steps. Two arenas keep it flat. Set before any thread starts.
    mallopt(M_ARENA_MAX, 2);
    // Buffers of 4 MB and more are mapped on their own and unmapped when freed.
    // Left to itself the allocator raises that bound as big buffers are freed,
    // and then keeps each file's buffers in the heap: resident memory moved in
    // 10 MB steps from file to file.
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    // Before anything else, so that a termination signal at any moment of
    // start-up ends the program through its close path.
    InstallTerminationHandlers();
    MpvMediaService::NameSoundStream();
    QApplication application(argc, argv);
    // What is left once the toolkit has taken its own options, as raw bytes.
    SetCommandLineArguments({argv + 1, argv + argc});
    InitialiseApplication(application);
    return RunApplication(application);
}
