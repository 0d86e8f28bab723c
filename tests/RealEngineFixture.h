// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The real window with the libmpv service in this process, under the X server.

#include "media/MediaPlayer.h"
#include "platform/FileSystem.h"
#include "platform/MemoryWaveOutVolume.h"
#include "platform/MpvMediaService.h"
#include "platform/SoundServer.h"
#include "tests/E2eSupport.h"
#include "tests/TestSupport.h"
#include "ui/Controls.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"
#include "ui/Unit1.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>

class RealEngine : public ::testing::Test {
protected:
    // The folder the window starts in.
    virtual QByteArray StartFolder() const { return QEL_TEST_CLIPS; }
    // The output device the window steps.
    virtual std::unique_ptr<WaveOutVolume> MakeVolume() {
        return std::make_unique<MemoryWaveOutVolume>(outputDevice);
    }

    void SetUp() override {
        QEL_REQUIRE_DISPLAY();
        ChangeDirectory(StartFolder());
        ResetPlayerState();
        std::unique_ptr<WaveOutVolume> volume = MakeVolume();
        // A real sound server's client is the engine's too.
        auto media = std::make_unique<MpvMediaService>(dynamic_cast<SoundServer*>(volume.get()));
        form = std::make_unique<TForm1>(std::move(media), std::move(volume));
        Form1 = form.get();
        about = std::make_unique<TAboutBox>(form.get());
        AboutBox = about.get();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ASSERT_TRUE(WaitForFolderReads());
        form->activateWindow();
        QTest::qWait(100);
        QObject::connect(form->Timer1, &TTimer::OnTimer, [this] { ++ticks; });
    }
    void TearDown() override {
        AboutBox = nullptr;
        about.reset();
        Form1 = nullptr;
        form.reset();
    }

    void PlayOnly(const char* name) { PlaySelection({name}); }

    void PlaySelection(std::initializer_list<const char*> names) {
        QStringList texts;
        for (const char* name : names)
            texts << QString::fromUtf8(name);
        PlayTexts(texts);
    }

    // Selects the rows shown with these texts, and only them, and plays.
    void PlayTexts(const QStringList& texts) {
        TFileListBox& list = *form->FileListBox1;
        for (int i = 0; i < list.Count(); ++i)
            list.SetSelected(i, texts.contains(list.ItemText(i)));
        ASSERT_EQ(list.SelCount(), static_cast<int>(texts.size())) << texts.join(' ').toStdString();
        form->Action1->trigger();
        ASSERT_TRUE(OpenEnded());
    }

    // Waits, with the event loop running, for the open under way to end.
    bool OpenEnded() const {
        return WaitFor([&] { return form->MediaPlayer1->State() != TMediaState::Opening; },
                       MpvMediaService::kOpenTimeoutMs + 1000);
    }

    // The file open, or opening.
    QString Playing() const {
        return form->MediaPlayer1->State() == TMediaState::Idle
                   ? QString()
                   : form->FileListBox1->ItemText(FileIndex);
    }

    // Waits, with the event loop running, until the condition holds.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QTest::qWait(20);
        }
        return true;
    }

    QImage VideoArea() const {
        const QPoint origin = form->Panel3->mapToGlobal(QPoint(0, 0));
        return Screenshot().copy(QRect(origin, form->Panel3->size()));
    }

    int ticks = 0; // of the window's timer
    CurrentFolderGuard folderGuard;
    MemoryOutputDevice outputDevice;
    MessageRecorder messages;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TAboutBox> about;
};
