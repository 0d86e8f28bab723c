// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>

#include <vector>

// The program's arguments after the toolkit has taken its own, as the bytes the
// shell passed (a file name need not be UTF-8).
void SetCommandLineArguments(std::vector<QByteArray> arguments);
const std::vector<QByteArray>& CommandLineArguments();
