#include "shell/Application.h"
#include "shell/CommandLine.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // What is left once the toolkit has taken its own options, as raw bytes.
    SetCommandLineArguments({argv + 1, argv + argc});
    InitialiseApplication(application);
    return RunApplication(application);
}
