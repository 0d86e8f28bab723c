// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Sockets that a cut of a silent sound server's connections leaves alone: the
// volume's own, whose last request (the user's setting put back at exit) the
// server takes in once it answers again. Any thread.

#include <vector>

struct pa_mainloop_api;

// From now on the descriptors that this loop watches are kept from cuts while
// it watches them. The loop's own interface is changed in place: the loop
// accepts no copy.
void KeepConnections(pa_mainloop_api* api);
// Before the loop is freed, which does not report its watches' ends.
void ForgetConnections(const pa_mainloop_api* api);
bool IsKeptConnection(int fd);
// The descriptors this loop watches, in ascending order.
std::vector<int> KeptConnectionsOf(const pa_mainloop_api* api);
