// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QKeyEvent;

// The key a binding is matched against: the letter printed on the key where the
// active layout gives a Latin one (so AZERTY's W is W), else the Latin letter of
// the key's place on a US keyboard, as a virtual-key code would name it (the
// key printed W/Ц under a Cyrillic layout is W). Any other key is Qt's own,
// 0 included: a layout switch or a key without a key symbol has no code.
int BindingKey(const QKeyEvent& event);
