// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/CommandLine.h"

namespace {
std::vector<QByteArray>& Arguments() {
    static std::vector<QByteArray> arguments;
    return arguments;
}
} // namespace

void SetCommandLineArguments(std::vector<QByteArray> arguments) {
    Arguments() = std::move(arguments);
}

const std::vector<QByteArray>& CommandLineArguments() {
    return Arguments();
}
