// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/KeyCodes.h"

#include <QChar>
#include <QKeyEvent>

namespace {

// XKB key codes (evdev codes + 8) of the letter rows on a US keyboard; both X11
// and Wayland report these as the native scan code.
constexpr struct {
    unsigned Code;
    int Key;
} kLetterPlaces[] = {
    {24, Qt::Key_Q}, {25, Qt::Key_W}, {26, Qt::Key_E}, {27, Qt::Key_R}, {28, Qt::Key_T},
    {29, Qt::Key_Y}, {30, Qt::Key_U}, {31, Qt::Key_I}, {32, Qt::Key_O}, {33, Qt::Key_P},
    {38, Qt::Key_A}, {39, Qt::Key_S}, {40, Qt::Key_D}, {41, Qt::Key_F}, {42, Qt::Key_G},
    {43, Qt::Key_H}, {44, Qt::Key_J}, {45, Qt::Key_K}, {46, Qt::Key_L}, {52, Qt::Key_Z},
    {53, Qt::Key_X}, {54, Qt::Key_C}, {55, Qt::Key_V}, {56, Qt::Key_B}, {57, Qt::Key_N},
    {58, Qt::Key_M},
};

bool IsNonLatinLetter(int key) {
    // Qt gives a printable key its character's code; keys without one start at
    // Qt::Key_Escape.
    return key > 0x7F && key < Qt::Key_Escape && key <= 0xFFFF &&
           QChar(static_cast<char16_t>(key)).isLetter();
}

} // namespace

int BindingKey(const QKeyEvent& event) {
    const int key = event.key();
    if (!IsNonLatinLetter(key))
        return key;
    for (const auto& place : kLetterPlaces)
        if (place.Code == event.nativeScanCode())
            return place.Key;
    return key;
}
