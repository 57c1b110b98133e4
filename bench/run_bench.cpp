// SPDX-License-Identifier: GPL-3.0-or-later
// Times whole runs on generated corpora, side by side with the floor (one listing
// of the library plus reading and writing the same tags with TagLib directly, in
// place, without a sync, in one process), and counts what each run asks of the
// storage: its syncs, the device's flushes and the bytes it writes. See
// bench/README.md.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "engine/Run.h"
#include "vbmp3/Entry.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    // The large mix: a library of `files` files in `folders` folders, `work` small work files.
    int folders = 10000;
    int files = 100000;
    int work = 2000;
    int runs = 5;
    // The re-tag and the real mix: `songs` work files of `songMiB` MiB.
    int songs = 200;
    double songMiB = 5.0;
    // The small mix: `small` work files of `smallKiB` KiB.
    int small = 100;
    double smallKiB = 200;
    // The share of the real and the small mix's work files without a tag.
    int untaggedPercent = 70;
    std::string keep;
};

std::string audio() {
    std::string frame(417, '\0');
    frame[0] = '\xFF', frame[1] = '\xFB', frame[2] = '\x90', frame[3] = '\x44';
    return frame + frame + frame;
}

std::string numbered(const char* format, int n) {
    char name[64];
    std::snprintf(name, sizeof name, format, n);
    return name;
}

void writeMp3(const fs::path& path, const std::string& title, const std::string& artist,
              bool tagged) {
    std::ofstream(path, std::ios::binary) << audio();
    if (!tagged) return;
    TagLib::MPEG::File file(path.c_str(), false);
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->setTitle(TagLib::String(title, TagLib::String::UTF8));
    tag->setArtist(TagLib::String(artist, TagLib::String::UTF8));
    tag->setAlbum("Album");
    tag->setYear(2001);
    tag->setGenre("Pop");
    file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3);
}

// A library of `o.files` tagged MP3 files in `o.folders` folders (ten subfolders
// to a folder), and a work folder of `o.work` small tagged files: one in ten a
// karaoke name, one in twenty without a match, one in five with a text companion.
void generate(const fs::path& base, const Options& o) {
    const fs::path library = base / "library";
    std::vector<fs::path> dirs{library};
    fs::create_directories(library);
    for (int i = 1; i < o.folders; ++i) {
        dirs.push_back(dirs[static_cast<std::size_t>((i - 1) / 10)] / numbered("Folder %04d", i));
        fs::create_directory(dirs.back());
    }
    const int stride = std::max(1, o.files / o.work);
    for (int i = 0; i < o.files; ++i) {
        writeMp3(dirs[static_cast<std::size_t>(i % o.folders)] / numbered("Track %06d.mp3", i),
                 numbered("曲 %d", i), numbered("歌手 %d", i % 50), true);
    }
    fs::create_directories(base / "work");
    for (int i = 0; i < o.work; ++i) {
        const int match = i * stride;
        std::string name = numbered(i % 10 == 1 ? "Track %06d_K.mp3" : "Track %06d.mp3", match);
        if (i % 20 == 0) name = numbered("Missing %06d.mp3", i);
        writeMp3(base / "work" / name, "old", "old", true);
        if (i % 5 == 2)
            std::ofstream(base / "work" / numbered("Track %06d.txt", match)) << "lyrics";
    }
}

// `count` work files of `bytes` bytes of audio, each matching a small tagged file
// in the library. `untaggedPercent` of them (spread evenly) have no tag, so that
// their writes make them anew; the others have a tag with room for the new one,
// so that their writes are made in place.
void generateSongs(const fs::path& base, int count, double bytes, int untaggedPercent) {
    fs::create_directories(base / "library" / "Album");
    fs::create_directories(base / "work");
    const auto frames = static_cast<int>(bytes / 417);
    std::string song;
    for (int f = 0; f < frames; ++f) song += audio().substr(0, 417);
    for (int i = 0; i < count; ++i) {
        const std::string name = numbered("Song %04d.mp3", i);
        writeMp3(base / "library" / "Album" / name, numbered("曲 %d", i), "歌手", true);
        const fs::path path = base / "work" / name;
        std::ofstream(path, std::ios::binary) << song;
        if ((i + 1) * untaggedPercent / 100 > i * untaggedPercent / 100) continue;
        TagLib::MPEG::File file(path.c_str(), false);
        file.ID3v2Tag(true)->setTitle("old");  // TagLib pads a new tag with 1 KiB
        file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3);
    }
}

// A fresh copy of the generated folders for one run. The library is hard-linked:
// the program never writes a library file, it renames work files over them.
void prepare(const fs::path& pristine, const fs::path& run) {
    fs::remove_all(run);
    fs::create_directories(run);
    const std::string command = "cp -al '" + (pristine / "library").string() + "' '" +
                                run.string() + "/' && cp -a '" + (pristine / "work").string() +
                                "' '" + run.string() + "/'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("cannot copy the generated folders");
    // The copies reach the disk first: a work file waits on disk, not in the
    // cache of a copy just made, and the run's first sync must not pay for the copy.
    ::sync();
}

class QuietWindow : public kestrom::engine::RunWindow {
public:
    QuietWindow(std::string library, std::string work, bool replace)
        : m_library(std::move(library)), m_work(std::move(work)), m_replace(replace) {}
    std::string libraryFolderText() override { return m_library; }
    std::string workFolderText() override { return m_work; }
    bool replaceFlag() override { return m_replace; }
    void message(const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    void counterText(const std::string&) override {}
    void finish() override {}
    void showErrorList() override {}

private:
    std::string m_library, m_work;
    bool m_replace;
};

// The real system calls, counting the syncs: those of the run and, through the
// tag library's code linked into this program, those of its writes.
class CountingPosix : public kestrom::platform::Posix {
public:
    int fsync(int fd) override {
        ++syncs;
        return Posix::fsync(fd);
    }
    int fdatasync(int fd) override {
        ++syncs;
        return Posix::fdatasync(fd);
    }
    int flushFiles(std::span<const int> fds) override {
        ++syncs;
        return Posix::flushFiles(fds);
    }
    long syncs = 0;
};

CountingPosix* g_seam = nullptr;  // the seam of the in-process runs' tag library

// The floor: list the library once, then read each matched tag and write it into
// the work file with TagLib, nothing else. With `safely`, each write goes into a
// copy beside the work file that is synced and renamed over it: the least that
// keeps a file whole when the machine stops half-way.
void floorRun(const fs::path& library, const fs::path& work, bool safely) {
    std::unordered_map<std::string, std::string> first;
    std::vector<std::string> folders{library.string()};
    for (std::size_t i = 0; i < folders.size(); ++i) {
        DIR* dir = ::opendir(folders[i].c_str());
        if (dir == nullptr) continue;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name.starts_with('.')) continue;
            const std::string path = folders[i] + "/" + name;
            if (e->d_type == DT_DIR)
                folders.push_back(path);
            else
                first.try_emplace(name, path);
        }
        ::closedir(dir);
    }
    std::vector<fs::path> workFiles;
    for (const auto& entry : fs::directory_iterator(work))
        if (entry.path().extension() == ".mp3") workFiles.push_back(entry.path());
    for (const fs::path& workFile : workFiles) {
        const std::string name = workFile.filename().string();
        std::string wanted = name;
        if (wanted.ends_with("_K.mp3")) wanted = wanted.substr(0, wanted.size() - 6) + ".mp3";
        const auto it = first.find(wanted);
        if (it == first.end()) continue;
        const fs::path target = safely ? work / ("." + name + ".tmp") : workFile;
        if (safely) fs::copy_file(workFile, target);
        {
            TagLib::MPEG::File source(it->second.c_str(), false);
            TagLib::MPEG::File dest(target.c_str(), false);
            TagLib::Tag* tag = dest.ID3v2Tag(true);
            TagLib::Tag::duplicate(source.tag(), tag, true);
            dest.save(TagLib::MPEG::File::ID3v2 | TagLib::MPEG::File::ID3v1,
                      TagLib::File::StripNone, TagLib::ID3v2::v3);
        }
        if (safely) {
            const int fd = ::open(target.c_str(), O_RDONLY);
            ::fsync(fd);
            ::close(fd);
            fs::rename(target, workFile);
        }
    }
}

// fork(), which throws with the reason when no child could be made: a failed
// fork never leads to a wait for pid -1.
pid_t forkChild() {
    const pid_t child = ::fork();
    if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
    return child;
}

// What the disk holding `dir` did, for every process (/sys/dev/block/M:m/stat):
// the bytes it wrote and the cache flushes it completed; -1 where the file
// system has no block device of its own.
struct DeviceCount {
    double bytes = -1;
    double flushes = -1;
};

class Device {
public:
    explicit Device(const fs::path& dir) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0)
            throw std::system_error(errno, std::generic_category(), dir.string());
        m_stat = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                 std::to_string(minor(st.st_dev)) + "/stat";
    }
    DeviceCount now() const {
        std::ifstream device(m_stat);
        std::vector<double> fields;
        for (double value = 0; device >> value;) fields.push_back(value);
        DeviceCount count;
        if (fields.size() >= 17) count = {fields[6] * 512, fields[15]};
        return count;
    }

private:
    std::string m_stat;
};

// One kestrom-cli run: its time, and what it wrote, from its /proc/<pid>/io: the
// bytes it handed to write calls and copied inside the kernel (wchar), and the
// bytes of the pages it dirtied for the storage layer to write (write_bytes: its
// file data in whole pages, and the metadata blocks its changes dirtied); and the
// device's writes and flushes meanwhile (of every process).
struct CliRun {
    double ms = 0;
    double byCalls = 0;
    double toStorage = 0;
    double deviceBytes = -1;
    double flushes = -1;
};

CliRun runCli(const std::string& cli, const std::string& library, const std::string& work,
              const Device& device) {
    CliRun result;
    const DeviceCount before = device.now();
    const auto t0 = Clock::now();
    const pid_t child = forkChild();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execl(cli.c_str(), cli.c_str(), library.c_str(), work.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Read its accounting once it has ended but before it is reaped.
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
    result.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (const DeviceCount after = device.now(); before.flushes >= 0 && after.flushes >= 0) {
        result.deviceBytes = after.bytes - before.bytes;
        result.flushes = after.flushes - before.flushes;
    }
    std::ifstream in("/proc/" + std::to_string(child) + "/io");
    for (std::string key; in >> key;) {
        double value = 0;
        in >> value;
        if (key == "wchar:") result.byCalls = value;
        if (key == "write_bytes:") result.toStorage = value;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    // Status 1 is a file counted NG, as a work file without a match is.
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        std::fprintf(stderr, "run_bench: kestrom-cli ended with status %d\n", status);
    return result;
}

// The system calls of kestrom-cli, by name, from strace -c -f.
std::map<std::string, long> systemCallsOf(const std::string& cli, const std::string& library,
                                          const std::string& work) {
    const std::string out = "/tmp/kestrom-bench-strace.txt";
    const std::string command = "strace -c -f -o " + out + " '" + cli + "' '" + library + "' '" +
                                work + "' > /dev/null 2>&1";
    std::map<std::string, long> calls;
    if (std::system(command.c_str()) == -1 || !fs::exists(out)) return calls;
    std::ifstream in(out);
    // "  12.34    0.012345          12       123        4 fsync" (errors may be missing)
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        if (words.size() < 5 || !std::isdigit(static_cast<unsigned char>(words[0][0]))) continue;
        if (words.back() == "total") continue;  // the sum of the lines above
        calls[words.back()] = std::atol(words[3].c_str());
    }
    fs::remove(out);
    return calls;
}

long syncCallsAmong(const std::map<std::string, long>& calls) {
    long syncs = 0;
    for (const char* name : {"fsync", "fdatasync", "syncfs", "sync_file_range", "sync_file_range2"})
        if (const auto it = calls.find(name); it != calls.end()) syncs += it->second;
    return syncs;
}

double timeIt(const std::function<void()>& body) {
    const auto t0 = Clock::now();
    body();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The script's run (bench/script_floor.py, Debian's python and mutagen): the job
// as a short script does it, in place and without a sync; its time in ms, or -1
// when it cannot run (no mutagen: tools/deps python3-mutagen).
double scriptRun(const std::string& library, const std::string& work) {
    const std::string command = "/usr/bin/python3 '" KESTROM_BENCH_DIR "/script_floor.py' '" +
                                library + "' '" + work + "' > /dev/null 2>&1";
    int status = 0;
    const double ms = timeIt([&] { status = std::system(command.c_str()); });
    return status == 0 ? ms : -1;
}

double median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string spread(const std::vector<double>& v) {
    if (v.empty()) return "-";
    char text[96];
    std::snprintf(text, sizeof text, "%.0f (%.0f-%.0f)", median(v),
                  *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    return text;
}

// Runs body in a child process and returns the child's peak resident memory in MiB.
double peakMemoryOf(const std::function<void()>& body) {
    const pid_t child = forkChild();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// What one mix measured; times in ms, the runs' medians.
struct Figures {
    std::string name;
    int workFiles = 0;
    double goal = 0;
    std::vector<double> inProcess, cli, floor, script;
    double syncsInProcess = 0;  // fsync, fdatasync, syncfs through the seam, per run
    long cliSyncs = -1;         // fsync, fdatasync, syncfs, sync_file_range under strace
    long cliCalls = -1;
    std::string syncCalls;  // kestrom-cli's, by name
    std::vector<double> flushes, toStorage, byCalls, onDevice;
};

struct Bench {
    Options o;
    fs::path run;
    std::string library, work, cli;
    kestrom::binding::Vbmp3* tags = nullptr;
    CountingPosix* posix = nullptr;
    Device* device = nullptr;

    // A whole run in this process; the syncs it made go to `syncs`.
    double inProcess(bool replace, long* syncs = nullptr) {
        const long before = posix->syncs;
        const double ms = timeIt([&] {
            QuietWindow window(library, work, replace);
            kestrom::engine::runTransfer(window, *tags, {}, *posix);
        });
        if (syncs != nullptr) *syncs = posix->syncs - before;
        return ms;
    }

    // The mix's runs, each on fresh copies of `pristine`: in this process,
    // kestrom-cli as a process, the floor; then kestrom-cli once under strace.
    Figures measure(const std::string& name, const fs::path& pristine, int workFiles, double goal) {
        Figures f;
        f.name = name;
        f.workFiles = workFiles;
        f.goal = goal;
        for (int r = 0; r < o.runs; ++r) {
            prepare(pristine, run);
            long syncs = 0;
            f.inProcess.push_back(inProcess(false, &syncs));
            f.syncsInProcess = static_cast<double>(syncs);
            prepare(pristine, run);
            const CliRun c = runCli(cli, library, work, *device);
            f.cli.push_back(c.ms);
            f.flushes.push_back(c.flushes);
            f.toStorage.push_back(c.toStorage / workFiles);
            f.byCalls.push_back(c.byCalls / workFiles);
            f.onDevice.push_back(c.deviceBytes < 0 ? -1 : c.deviceBytes / workFiles);
            prepare(pristine, run);
            f.floor.push_back(timeIt([&] { floorRun(run / "library", run / "work", false); }));
            prepare(pristine, run);
            f.script.push_back(scriptRun(library, work));
        }
        prepare(pristine, run);
        const std::map<std::string, long> calls = systemCallsOf(cli, library, work);
        if (!calls.empty()) {
            f.cliSyncs = syncCallsAmong(calls);
            f.cliCalls = 0;
            for (const auto& [call, count] : calls) f.cliCalls += count;
            for (const char* call : {"fsync", "fdatasync", "syncfs", "sync_file_range"})
                f.syncCalls += std::string(f.syncCalls.empty() ? "" : ", ") + call + " " +
                               std::to_string(calls.contains(call) ? calls.at(call) : 0L);
        }
        print(f);
        return f;
    }

    static void print(const Figures& f) {
        std::printf("%s, %d work files (ms, median (min-max) of %zu):\n", f.name.c_str(),
                    f.workFiles, f.cli.size());
        std::printf("  kestrom-cli:           %s\n", spread(f.cli).c_str());
        std::printf("  in process:            %s\n", spread(f.inProcess).c_str());
        std::printf("  floor:                 %s\n", spread(f.floor).c_str());
        std::printf("  script (mutagen):      %s\n", spread(f.script).c_str());
        std::printf("  ratio kestrom-cli / script: %.2f (goal < %.1f)\n",
                    median(f.cli) / median(f.script), f.goal);
        std::printf("  ratio kestrom-cli / floor: %.2f; in process / floor: %.2f\n",
                    median(f.cli) / median(f.floor), median(f.inProcess) / median(f.floor));
        std::printf("  syncs per run: %.0f in process, %ld kestrom-cli (%s; %ld system calls)\n",
                    f.syncsInProcess, f.cliSyncs, f.syncCalls.c_str(), f.cliCalls);
        std::printf(
            "  during a kestrom-cli run, the device (every process): %.0f flushes, %.0f "
            "bytes written per work file\n",
            median(f.flushes), median(f.onDevice));
        std::printf("  kestrom-cli's bytes per work file: %.0f write_bytes, %.0f wchar\n",
                    median(f.toStorage), median(f.byCalls));
        std::fflush(stdout);
    }
};

void printTable(const std::vector<Figures>& all) {
    std::printf(
        "\n| mix | work files | kestrom-cli ms | script ms | ratio to the script | goal | in "
        "process ms | floor ms | ratio to the floor (cli) | syncs per run (seam / strace) | "
        "device flushes | write_bytes per work file | device bytes per work file |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Figures& f : all)
        std::printf(
            "| %s | %d | %.0f | %.0f | %.2f | < %.1f | %.0f | %.0f | %.2f | %.0f / %ld | %.0f | "
            "%.0f "
            "| %.0f |\n",
            f.name.c_str(), f.workFiles, median(f.cli), median(f.script),
            median(f.cli) / median(f.script), f.goal, median(f.inProcess), median(f.floor),
            median(f.cli) / median(f.floor), f.syncsInProcess, f.cliSyncs, median(f.flushes),
            median(f.toStorage), median(f.onDevice));
}

}  // namespace

static int benchmark(int argc, char** argv) {
    Options o;
    // Flags come in pairs with their values: anything else is a mistake, and
    // a run of every mix takes minutes.
    if (argc % 2 == 0) {
        std::fprintf(stderr,
                     "usage: run_bench [--runs N] [--songs N] [--song-mib M] [--small N] "
                     "[--small-kib K] [--untagged P] [--folders N] [--files N] [--work N] "
                     "[--keep DIR]\n");
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--folders")
            o.folders = std::atoi(value);
        else if (flag == "--files")
            o.files = std::atoi(value);
        else if (flag == "--work")
            o.work = std::atoi(value);
        else if (flag == "--runs")
            o.runs = std::max(1, std::atoi(value));
        else if (flag == "--songs")
            o.songs = std::atoi(value);
        else if (flag == "--song-mib")
            o.songMiB = std::atof(value);
        else if (flag == "--small")
            o.small = std::atoi(value);
        else if (flag == "--small-kib")
            o.smallKiB = std::atof(value);
        else if (flag == "--untagged")
            o.untaggedPercent = std::clamp(std::atoi(value), 0, 100);
        else if (flag == "--keep")
            o.keep = value;
        else {
            std::fprintf(stderr, "run_bench: unknown flag %s\n", flag.c_str());
            return 2;
        }
    }
    char tmpl[] = "/tmp/kestrom-bench-XXXXXX";
    const fs::path base = o.keep.empty() ? fs::path(::mkdtemp(tmpl)) : fs::path(o.keep);
    CountingPosix posix;
    g_seam = &posix;
    // The tag library's own code, linked in, over the counting seam.
    kestrom::binding::Vbmp3 tags(
        [](const char* path, char* record, std::uint32_t size, unsigned char* mpeg) {
            return kestrom::vbmp3::getFileInfoUtf8(*g_seam, path, record, size, mpeg);
        },
        [](const char* path, const char* record, std::uint32_t size, std::int32_t id3v2,
           std::int32_t id3v1, std::int32_t checkOnly) {
            return kestrom::vbmp3::setTagInfoUtf8(*g_seam, path, record, size, id3v2, id3v1,
                                                  checkOnly);
        },
        {[] { return kestrom::vbmp3::beginBatch(*g_seam); }, kestrom::vbmp3::addTagInfoUtf8,
         kestrom::vbmp3::commitBatch, kestrom::vbmp3::endBatch});
    fs::create_directories(base);
    Device device(base);
    Bench bench;
    bench.o = o;
    bench.run = base / "run";
    bench.library = (bench.run / "library").string();
    bench.work = (bench.run / "work").string();
    bench.cli = fs::path(kestrom::binding::findTagLibrary(posix)).parent_path() / "kestrom-cli";
    bench.tags = &tags;
    bench.posix = &posix;
    bench.device = &device;
    if (!fs::exists(bench.cli)) throw std::runtime_error("no kestrom-cli beside the tag library");
    std::vector<Figures> all;

    // Songs of real size, every write in place; then a second run over files whose
    // tags already hold what it would write.
    if (o.songs > 0) {
        const fs::path songs = base / "retag";
        if (!fs::exists(songs / "work")) {
            std::printf("generating %d songs of %.1f MiB with padded tags...\n", o.songs,
                        o.songMiB);
            generateSongs(songs, o.songs, o.songMiB * 1024 * 1024, 0);
        }
        all.push_back(bench.measure("re-tag", songs, o.songs, 0.5));
        std::vector<double> second;
        long secondSyncs = 0;
        CliRun again;
        for (int r = 0; r < o.runs; ++r) {
            prepare(songs, bench.run);
            bench.inProcess(false);
            second.push_back(bench.inProcess(false, &secondSyncs));
        }
        prepare(songs, bench.run);
        runCli(bench.cli, bench.library, bench.work, device);
        again = runCli(bench.cli, bench.library, bench.work, device);
        std::printf(
            "  second run: %s ms in process (%.2f of the first), %ld syncs; kestrom-cli: %.0f "
            "bytes per work file by write calls, %.0f to storage\n",
            spread(second).c_str(), median(second) / median(all.back().inProcess), secondSyncs,
            again.byCalls / o.songs, again.toStorage / o.songs);
    }
    // Songs of real size, and small files, most without a tag: most writes
    // make the file anew.
    const auto untaggedMix = [&](const char* name, int count, double bytes, double goal) {
        if (count <= 0) return;
        const fs::path folder = base / name;
        if (!fs::exists(folder / "work")) {
            std::printf("generating %d files of %.0f KiB, %d%% without a tag...\n", count,
                        bytes / 1024, o.untaggedPercent);
            generateSongs(folder, count, bytes, o.untaggedPercent);
        }
        all.push_back(bench.measure(name, folder, count, goal));
    };
    untaggedMix("real", o.songs, o.songMiB * 1024 * 1024, 1.0);
    untaggedMix("small", o.small, o.smallKiB * 1024, 0.5);

    // A large library, small work files; also with the replace option, against
    // the floor whose writes are made safe, and the peak memory.
    if (o.files > 0) {
        const fs::path large = base / "large";
        if (!fs::exists(large / "work")) {
            std::printf("generating %d library files in %d folders, %d work files...\n", o.files,
                        o.folders, o.work);
            generate(large, o);
        }
        int workFiles = 0;
        for (const auto& entry : fs::directory_iterator(large / "work"))
            if (entry.path().extension() == ".mp3") ++workFiles;
        all.push_back(bench.measure("large", large, workFiles, 0.5));
        std::vector<double> replace, safeFloor;
        long replaceSyncs = 0;
        for (int r = 0; r < o.runs; ++r) {
            prepare(large, bench.run);
            replace.push_back(bench.inProcess(true, &replaceSyncs));
            prepare(large, bench.run);
            safeFloor.push_back(
                timeIt([&] { floorRun(bench.run / "library", bench.run / "work", true); }));
        }
        std::printf("  in process with replace: %s ms, %ld syncs\n", spread(replace).c_str(),
                    replaceSyncs);
        std::printf(
            "  floor with safe writes (copy, fsync, rename each): %s ms; in process / "
            "safe floor: %.2f\n",
            spread(safeFloor).c_str(), median(all.back().inProcess) / median(safeFloor));
        prepare(large, bench.run);
        const double mib = peakMemoryOf([&] { bench.inProcess(false); });
        std::printf("  peak memory of a run, %d library files: %.1f MiB\n", o.files, mib);
    }
    printTable(all);
    fs::remove_all(bench.run);
    if (o.keep.empty()) fs::remove_all(base);
    return 0;
}

// A failure (a full disk, a folder that went away) ends the run with its reason.
int main(int argc, char** argv) {
    try {
        return benchmark(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "run_bench: %s\n", e.what());
        return 1;
    }
}
