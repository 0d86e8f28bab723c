// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// A real window over a folder of the test's own, and what the robustness
// suites watch it with.

#include "tests/RealEngineFixture.h"

#include <QFile>
#include <QTcpServer>

#include <sys/fsuid.h>
#include <sys/inotify.h>
#include <unistd.h>

// Tells whether anything opened or read one file since the last look.
class FileWatch {
public:
    explicit FileWatch(const QByteArray& path)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          watch_(fd_ >= 0 ? inotify_add_watch(fd_, path.constData(), IN_OPEN | IN_ACCESS) : -1) {}
    ~FileWatch() {
        if (fd_ >= 0)
            close(fd_);
    }
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    bool Watching() const { return watch_ >= 0; }
    bool Touched() {
        alignas(inotify_event) char buffer[4096];
        bool touched = false;
        while (read(fd_, buffer, sizeof buffer) > 0)
            touched = true;
        return touched;
    }

private:
    int fd_;
    int watch_;
};

// For a scope, the window's thread is refused what an ordinary user is
// refused: root reads every folder, so refusal cannot be seen otherwise. Only
// the calling thread changes.
class WithoutRootsRights {
public:
    WithoutRootsRights() : wasRoot_(geteuid() == 0) {
        if (wasRoot_)
            setfsuid(UnprivilegedUid());
    }
    ~WithoutRootsRights() {
        if (wasRoot_)
            setfsuid(0);
    }
    WithoutRootsRights(const WithoutRootsRights&) = delete;
    WithoutRootsRights& operator=(const WithoutRootsRights&) = delete;

private:
    bool wasRoot_;
};

class OwnFolder : public RealEngine {
protected:
    static constexpr const char* kGood = "zz-good.mpg"; // listed last

    QByteArray StartFolder() const override { return folder.Path(); }
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(QStringLiteral(QEL_TEST_CLIPS "/seq-1.mpg"),
                                QFile::decodeName(folder.PathOf(kGood))));
        RealEngine::SetUp();
    }

    // name: inside the test's folder, subfolders allowed.
    void CopyClip(const char* clip, const QByteArray& name) {
        QFile source(QStringLiteral(QEL_TEST_CLIPS "/") + QLatin1String(clip));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        folder.File(name, source.readAll());
    }
    void Reread() {
        form->FileListBox1->ReadFileNames();
        ASSERT_TRUE(WaitForFolderReads());
    }
    void ShowFolder(const QByteArray& path) {
        form->FileListBox1->ApplyFilePath(path);
        ASSERT_TRUE(WaitForFolderReads());
    }

    bool Idle() const {
        return form->MediaPlayer1->DeviceID() == 0 && form->FileListBox1->isEnabled();
    }
    bool TickRuns(int count = 3, int timeoutMs = 3000) {
        const int before = ticks;
        return WaitFor([&] { return ticks >= before + count; }, timeoutMs);
    }
    // A key still acts: volume down and up reach the device.
    bool KeysAct() {
        const std::size_t before = outputDevice.Sets.size();
        QTest::keyClick(form.get(), Qt::Key_W);
        QTest::keyClick(form.get(), Qt::Key_E);
        return outputDevice.Sets.size() > before;
    }
    // The good file plays after whatever came before, and the window answers.
    // (The test server's null sink holds audio back about two seconds at first,
    // so the position is only seen to leave 0.)
    void ExpectTheGoodFilePlays() {
        if (Playing() != QLatin1String(kGood)) {
            form->Action2->trigger();
            PlayTexts({QString::fromLatin1(kGood)});
        }
        EXPECT_TRUE(WaitFor(
            [&] { return Playing() == QLatin1String(kGood) && form->MediaPlayer1->Position() > 0; },
            8000))
            << "the next file did not play";
        EXPECT_TRUE(TickRuns()) << "the tick stopped";
        EXPECT_TRUE(KeysAct()) << "a key no longer acts";
        form->Action2->trigger();
        EXPECT_TRUE(Idle());
    }

    TempFolder folder;
};
