// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The main window over the simulated media service, in a folder of files that
// the test names and describes.

#include "media/MediaPlayer.h"
#include "platform/SimulatedMediaService.h"
#include "tests/TestSupport.h"
#include "ui/Controls.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/ImageList.h"
#include "ui/MainForm.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

class PlayerFixture : public ::testing::Test {
protected:
    using Described = std::pair<const char*, SimulatedMediaService::File>;

    explicit PlayerFixture(std::vector<Described> files,
                           MemoryOutputDevice device = {0x4CCC4CCC, true, {}})
        : files_(std::move(files)), device_(std::move(device)),
          filesMade_(MakeFiles(folder, files_)) {
        for (const auto& [name, file] : files_)
            Describe(name, file);
    }

    void Describe(const char* name, const SimulatedMediaService::File& file) {
        media.AddFile(folder.PathOf(name), file);
    }

    int Row(const char* name) const {
        for (int i = 0; i < form.FileListBox1->Count(); ++i)
            if (form.FileListBox1->ItemText(i) == QLatin1String(name))
                return i;
        return -1;
    }

    void Select(std::initializer_list<const char*> names) {
        for (int i = 0; i < form.FileListBox1->Count(); ++i)
            form.FileListBox1->SetSelected(i, false);
        for (const char* name : names)
            form.FileListBox1->SetSelected(Row(name), true);
    }

    QString Panel(int index) const { return form.StatusBar1->PanelText(index); }
    QString OpenCommand(const char* name) const {
        return QStringLiteral("open ") + QString::fromUtf8(folder.PathOf(name));
    }

    // The window as it is with no file open, in the designed size.
    void ExpectIdleLook() const {
        for (TToolButton* button :
             {form.ToolButton2, form.ToolButton4, form.ToolButton5, form.ToolButton6}) {
            EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
            EXPECT_EQ(button->ImageIndex(), TImageList::Blank);
        }
        for (TMenuItem* item :
             {form.P1, form.Pause1, form.Stop1, form.Next1, form.AspectRatio1, form.OriginalSize1})
            EXPECT_FALSE(item->isEnabled()) << item->objectName().toStdString();
        EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
        EXPECT_TRUE(form.DriveComboBox1->isEnabled());
        EXPECT_TRUE(form.DirectoryListBox1->isEnabled());
        EXPECT_TRUE(form.FileListBox1->isEnabled());
        EXPECT_TRUE(form.Image1->isVisible());
        EXPECT_FALSE(form.Panel4->isVisible());
        EXPECT_EQ(form.ProgressBar1->Position(), 0);
        EXPECT_EQ(Panel(0), QString());
        EXPECT_EQ(Panel(1), QString());
        EXPECT_EQ(Panel(2), QStringLiteral(" 400x 300"));
        EXPECT_EQ(Panel(5), QString());
        EXPECT_EQ(form.MediaPlayer1->DeviceID(), 0);
    }

    // One tick of the timer, as its 100 ms signal would run it.
    void Tick() { form.Timer1Timer(form.Timer1); }

    static bool MakeFiles(const TempFolder& folder, const std::vector<Described>& files) {
        for (const auto& described : files)
            folder.File(described.first);
        return true;
    }

    // In this order: the files exist before the window lists the folder.
    std::vector<Described> files_;
    MemoryOutputDevice device_;
    TempFolder folder;
    bool filesMade_;
    MainWindowHarness harness{folder.Path(), device_};
    TForm1& form = harness.Form();
    SimulatedMediaService& media = harness.Media();
    MemoryOutputDevice& device = harness.Device();
    MessageRecorder messages;
};
