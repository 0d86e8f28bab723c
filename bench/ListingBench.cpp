// SPDX-License-Identifier: GPL-3.0-or-later

// Listing a folder into the file list, against a plain readdir and sort of the
// same folder. Folders hold N matching and N other files.

#include "platform/BackgroundWork.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kExtensions[] = {".mpg", ".wmv", ".asf", ".mpeg"};

// One folder per size, made once and removed at exit.
const QByteArray& FolderOf(int count) {
    static std::map<int, std::unique_ptr<QTemporaryDir>> folders;
    static std::map<int, QByteArray> paths;
    auto& folder = folders[count];
    if (!folder) {
        folder = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                 QStringLiteral("/qel-listing-XXXXXX"));
        const QByteArray path = folder->path().toLocal8Bit();
        for (int i = 0; i < count; ++i) {
            // Mixed case and spread names, as a camera or a download folder has.
            const std::string stem = (i % 3 == 0   ? "Clip "
                                      : i % 3 == 1 ? "clip_"
                                                   : "MOV") +
                                     std::to_string((i * 7919) % (count * 10));
            for (const std::string& name :
                 {stem + kExtensions[i % 4], stem + (i % 2 ? ".txt" : ".JPG")}) {
                const std::string file = path.toStdString() + '/' + name;
                const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                if (fd >= 0)
                    ::close(fd);
            }
        }
        paths[count] = path;
    }
    return paths[count];
}

bool Matches(const char* name) {
    const std::size_t length = std::strlen(name);
    for (const char* extension : kExtensions) {
        const std::size_t size = std::strlen(extension);
        if (length > size && ::strcasecmp(name + length - size, extension) == 0)
            return true;
    }
    return false;
}

// The lists read in the background: a read ends when its result is shown.
void Settle() {
    while (BackgroundWork::UnderWay() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void FileListBox(benchmark::State& state) {
    const QByteArray& folder = FolderOf(static_cast<int>(state.range(0)));
    TFileListBox list(QStringLiteral("FileListBox1"), nullptr);
    list.SetMask(QStringLiteral("*.mpg;*.wmv;*.asf;*.mpeg"));
    list.SetFileType(TFileType::ftReadOnly | TFileType::ftNormal);
    // Moving a new list to the folder reads it once; outside the timing, or the
    // first iteration reads it twice, and that weighs most where there are
    // fewest iterations: at 100,000 files it added a sixth.
    list.ApplyFilePath(folder);
    Settle();
    for (auto _ : state) {
        list.ReadFileNames(); // what a change of folder does
        Settle();
        benchmark::DoNotOptimize(list.Count());
    }
    state.counters["files"] = list.Count();
}

// What double clicking a folder costs the user: the folder list moves to it and
// rebuilds its entries, and the file list reads and sorts it. Between iterations,
// outside the timing, the lists step back to an empty folder.
void ChangeOfFolder(benchmark::State& state) {
    const QByteArray& folder = FolderOf(static_cast<int>(state.range(0)));
    const QTemporaryDir empty(QDir::tempPath() + QStringLiteral("/qel-listing-empty-XXXXXX"));
    TFileListBox files(QStringLiteral("FileListBox1"), nullptr);
    files.SetMask(QStringLiteral("*.mpg;*.wmv;*.asf;*.mpeg"));
    files.SetFileType(TFileType::ftReadOnly | TFileType::ftNormal);
    TDirectoryListBox folders(QStringLiteral("DirectoryListBox1"), nullptr);
    folders.SetFileList(&files);
    TDriveComboBox drives(QStringLiteral("DriveComboBox1"), nullptr);
    drives.SetDirList(&folders);
    Settle();
    for (auto _ : state) {
        state.PauseTiming();
        folders.SetDirectory(empty.path().toLocal8Bit());
        Settle();
        state.ResumeTiming();
        folders.SetDirectory(folder);
        Settle();
        benchmark::DoNotOptimize(files.Count());
    }
    state.counters["files"] = files.Count();
}

// The floor: read the names, keep the matching ones, sort them ignoring case.
void PlainListing(benchmark::State& state) {
    const QByteArray& folder = FolderOf(static_cast<int>(state.range(0)));
    std::size_t found = 0;
    for (auto _ : state) {
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.constData());
        while (const dirent* entry = ::readdir(dir))
            if (Matches(entry->d_name))
                names.emplace_back(entry->d_name);
        ::closedir(dir);
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return ::strcasecmp(a.c_str(), b.c_str()) < 0;
        });
        found = names.size();
        benchmark::DoNotOptimize(names.data());
    }
    state.counters["files"] = static_cast<double>(found);
}

// What the kernel alone costs: every name read, nothing kept. Growth beyond
// ten times from 10,000 to 100,000 here is the file system's, not the list's.
void ReaddirOnly(benchmark::State& state) {
    const QByteArray& folder = FolderOf(static_cast<int>(state.range(0)));
    std::size_t read = 0;
    for (auto _ : state) {
        read = 0;
        DIR* dir = ::opendir(folder.constData());
        while (const dirent* entry = ::readdir(dir))
            read += entry->d_name[0] != '.';
        ::closedir(dir);
        benchmark::DoNotOptimize(read);
    }
    state.counters["entries"] = static_cast<double>(read);
}

double Minimum(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}
double Maximum(const std::vector<double>& values) {
    return *std::max_element(values.begin(), values.end());
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    const char* smoke = std::getenv("QEL_BENCH_SMOKE");
    for (int count : {1000, 10000, 100000}) {
        if (smoke && *smoke && count > 1000)
            break;
        benchmark->Arg(count);
    }
    benchmark->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ComputeStatistics("min", Minimum)
        ->ComputeStatistics("max", Maximum);
}

} // namespace

BENCHMARK(FileListBox)->Apply(Sizes);
BENCHMARK(ChangeOfFolder)->Apply(Sizes);
BENCHMARK(PlainListing)->Apply(Sizes);
BENCHMARK(ReaddirOnly)->Apply(Sizes);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
