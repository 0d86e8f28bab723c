// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/TestSupport.h"

#include "platform/MemoryWaveOutVolume.h"
#include "shell/CommandLine.h"

#include "platform/BackgroundWork.h"
#include "platform/FileSystem.h"
#include "platform/SimulatedMediaService.h"
#include "ui/MainForm.h"
#include "ui/Unit1.h"

#include <QTest>

#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr unsigned kNobody = 65534;

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(what);
}
} // namespace

TempFolder::TempFolder() {
    Check(dir_.isValid(), "no temporary folder");
    // The unprivileged child must be able to reach into it.
    chmod(Path().constData(), 0755);
}

TempFolder::~TempFolder() {
    // Give back any rights a test took away, so the folder can be removed.
    const std::function<void(const QByteArray&)> open = [&](const QByteArray& path) {
        chmod(path.constData(), 0755);
        if (auto entries = ScanDirectory(path, nullptr, false))
            for (const ScannedEntry& entry : *entries)
                if ((entry.Attributes & 0x10) && !(entry.Attributes & 0x04))
                    open(path + '/' + entry.Name);
    };
    open(Path());
}

QByteArray TempFolder::Path() const {
    return QFile::encodeName(dir_.path());
}

QByteArray TempFolder::PathOf(const QByteArray& name) const {
    return Path() + '/' + name;
}

void TempFolder::File(const QByteArray& name, const QByteArray& content) const {
    const int fd = open(PathOf(name).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    Check(fd >= 0, "cannot create a file");
    Check(write(fd, content.constData(), content.size()) == content.size(), "cannot write");
    close(fd);
}

void TempFolder::Folder(const QByteArray& name) const {
    Check(mkdir(PathOf(name).constData(), 0755) == 0, "cannot create a folder");
}

void TempFolder::Link(const QByteArray& name, const QByteArray& target) const {
    Check(symlink(target.constData(), PathOf(name).constData()) == 0, "cannot create a link");
}

void TempFolder::Fifo(const QByteArray& name) const {
    Check(mkfifo(PathOf(name).constData(), 0644) == 0, "cannot create a FIFO");
}

void TempFolder::Mode(const QByteArray& name, unsigned mode) const {
    Check(chmod(PathOf(name).constData(), mode) == 0, "cannot change a mode");
}

MessageRecorder::MessageRecorder() {
    SetMessageBoxHook([this](const MessageRequest& request) {
        messages_.push_back(request);
        return 1;
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageBoxHook(nullptr);
}

CurrentFolderGuard::CurrentFolderGuard() : saved_(CurrentDirectory()) {}

CurrentFolderGuard::~CurrentFolderGuard() {
    ChangeDirectory(saved_);
}

bool WaitForFolderReads(int timeoutMs) {
    return QTest::qWaitFor([] { return BackgroundWork::UnderWay() == 0; }, timeoutMs);
}

unsigned UnprivilegedUid() {
    return geteuid() == 0 ? kNobody : geteuid();
}

bool RunUnprivileged(const std::function<bool()>& check) {
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(2);
        bool ok = false;
        try {
            ok = check();
        } catch (...) {
            ok = false;
        }
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

MainWindowHarness::MainWindowHarness(const QByteArray& startFolder, MemoryOutputDevice device,
                                     std::vector<QByteArray> arguments)
    : device_(std::move(device)) {
    ResetPlayerState();
    SetCommandLineArguments(std::move(arguments));
    ChangeDirectory(startFolder);
    auto media = std::make_unique<SimulatedMediaService>();
    media_ = media.get();
    form_ =
        std::make_unique<TForm1>(std::move(media), std::make_unique<MemoryWaveOutVolume>(device_));
    Form1 = form_.get();
    aboutBox_ = std::make_unique<TAboutBox>(form_.get());
    AboutBox = aboutBox_.get();
    form_->show();
    Check(QTest::qWaitForWindowExposed(form_.get()), "the window was not shown");
    Check(WaitForFolderReads(), "the start folder was not read");
}

void MainWindowHarness::DestroyWindow() {
    AboutBox = nullptr;
    aboutBox_.reset();
    Form1 = nullptr;
    form_.reset();
}

MainWindowHarness::~MainWindowHarness() {
    DestroyWindow();
}
