// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/KeyCodes.h"

#include <QChar>
#include <QGuiApplication>
#include <QKeyEvent>

#include <xkbcommon/xkbcommon-x11.h>

#include <memory>

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

bool IsLatinLetter(int key) {
    return key >= Qt::Key_A && key <= Qt::Key_Z;
}

bool IsNonLatinLetter(int key) {
    // Qt gives a printable key its character's code; keys without one start at
    // Qt::Key_Escape.
    return key > 0x7F && key <= 0xFFFF && QChar(static_cast<char16_t>(key)).isLetter();
}

int LetterAt(quint32 code) {
    for (const auto& place : kLetterPlaces)
        if (place.Code == code)
            return place.Key;
    return 0;
}

// Whether the X keyboard's layout the key was typed in has no Latin letters on
// the letter keys (Greek and Hebrew put punctuation on some of them, as Latin
// layouts such as AZERTY or Dvorak do on others). False where it cannot tell.
bool TypedInANonLatinLayout(const QKeyEvent& event) {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr)
        return false;
    xcb_connection_t* connection = x11->connection();
    if (!xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return false;
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    if (!context)
        return false;
    // Read afresh: the user may have changed the layouts since the last key.
    const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_x11_keymap_new_from_device(context.get(), connection,
                                       xkb_x11_get_core_keyboard_device_id(connection),
                                       XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    if (!keymap)
        return false;
    // The X state carries the layout's index in bits 13 and 14.
    const xkb_layout_index_t layout = (event.nativeModifiers() >> 13) & 3;
    int latin = 0;
    for (const auto& place : kLetterPlaces) {
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap.get(), place.Code);
        const xkb_keysym_t* symbols = nullptr;
        if (layouts > 0 && xkb_keymap_key_get_syms_by_level(keymap.get(), place.Code,
                                                            layout % layouts, 0, &symbols) > 0) {
            const xkb_keysym_t symbol = xkb_keysym_to_upper(symbols[0]);
            latin += symbol >= XKB_KEY_A && symbol <= XKB_KEY_Z;
        }
    }
    return latin == 0;
}

} // namespace

int BindingKey(const QKeyEvent& event) {
    const int key = event.key();
    const int place = LetterAt(event.nativeScanCode());
    if (place == 0 || IsLatinLetter(key))
        return key;
    if (IsNonLatinLetter(key) || TypedInANonLatinLayout(event))
        return place;
    return key;
}
