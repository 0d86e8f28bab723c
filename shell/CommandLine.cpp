// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/CommandLine.h"

namespace {
std::vector<QByteArray> arguments;
} // namespace

void SetCommandLineArguments(std::vector<QByteArray> given) {
    arguments = std::move(given);
}

const std::vector<QByteArray>& CommandLineArguments() {
    return arguments;
}
