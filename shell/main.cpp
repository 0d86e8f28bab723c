#include "shell/Application.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    InitialiseApplication(application);
    return RunApplication(application);
}
