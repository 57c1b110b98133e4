// SPDX-License-Identifier: GPL-3.0-or-later
// Times a whole run on a generated library and compares it with the floor: one
// listing of the library plus reading and writing the same tags with TagLib
// directly, in one process. See bench/README.md.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "engine/Run.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int folders = 2000;
    int files = 20000;
    int work = 1000;
    int runs = 5;
    int memoryFiles = 100000;
    int songs = 200;  // work files of real size, for the write-path mixes
    double songMiB = 5.0;
    int songRuns = 3;
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

// A library of `files` MP3 files in `folders` folders (ten subfolders to a
// folder), and a work folder of `work` files: one in ten a karaoke name, one in
// twenty without a match, one in five with a text companion. Only the library
// files that work files match are tagged when `tagAll` is false.
void generate(const fs::path& base, const Options& o, int files, bool tagAll) {
    const fs::path library = base / "library";
    std::vector<fs::path> dirs{library};
    fs::create_directories(library);
    for (int i = 1; i < o.folders; ++i) {
        dirs.push_back(dirs[static_cast<std::size_t>((i - 1) / 10)] / numbered("Folder %04d", i));
        fs::create_directory(dirs.back());
    }
    const int stride = std::max(1, files / o.work);
    for (int i = 0; i < files; ++i) {
        writeMp3(dirs[static_cast<std::size_t>(i % o.folders)] / numbered("Track %06d.mp3", i),
                 numbered("曲 %d", i), numbered("歌手 %d", i % 50), tagAll || i % stride == 0);
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
    // cache of a copy just made, and its first sync must not pay for the copy.
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

// Songs of real size. Each of `count` work files (a song of `mib` MiB) matches a
// small tagged file in the library. Padded: every work file has a tag with room
// for the new one, so every write is made in place; else no work file has a tag,
// so every write makes the file anew.
void generateSongs(const fs::path& base, int count, double mib, bool padded) {
    fs::create_directories(base / "library" / "Album");
    fs::create_directories(base / "work");
    const auto frames = static_cast<int>(mib * 1024 * 1024 / 417);
    std::string song;
    for (int f = 0; f < frames; ++f) song += audio().substr(0, 417);
    for (int i = 0; i < count; ++i) {
        const std::string name = numbered("Song %04d.mp3", i);
        writeMp3(base / "library" / "Album" / name, numbered("曲 %d", i), "歌手", true);
        const fs::path path = base / "work" / name;
        std::ofstream(path, std::ios::binary) << song;
        if (!padded) continue;
        TagLib::MPEG::File file(path.c_str(), false);
        file.ID3v2Tag(true)->setTitle("old");  // TagLib pads a new tag with 1 KiB
        file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3);
    }
}

// The rewrite floor: each work file made anew, once, with the library file's tag
// in front of its audio (copied inside the kernel), synced and renamed over it.
void rewriteFloorRun(const fs::path& library, const fs::path& work) {
    for (const auto& entry : fs::directory_iterator(work)) {
        const fs::path& workFile = entry.path();
        TagLib::MPEG::File source((library / "Album" / workFile.filename()).c_str(), false);
        TagLib::ID3v2::Tag tag;
        TagLib::Tag::duplicate(source.tag(), &tag, true);
        const TagLib::ByteVector head = tag.render(TagLib::ID3v2::v3);
        const fs::path temp = work / ("." + workFile.filename().string() + ".tmp");
        const int in = ::open(workFile.c_str(), O_RDONLY);
        const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        struct stat st {};
        ::fstat(in, &st);
        if (::write(out, head.data(), head.size()) != static_cast<ssize_t>(head.size()))
            throw std::runtime_error("write failed");
        for (off_t left = st.st_size; left > 0;) {
            const ssize_t n =
                ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
            if (n <= 0) throw std::runtime_error("copy failed");
            left -= n;
        }
        ::fsync(out);
        ::close(out);
        ::close(in);
        fs::rename(temp, workFile);
    }
}

// What kestrom-cli wrote, from its /proc/<pid>/io: the bytes it handed to write
// calls (wchar; a copy inside the kernel is not among them) and the bytes it made
// the storage layer write (write_bytes: its file data, and on a file system
// without a journal the metadata that its syncs write out).
struct Written {
    double byCalls = 0;
    double toStorage = 0;
};

// fork(), which throws with the reason when no child could be made: a failed
// fork never leads to a wait for pid -1.
pid_t forkChild() {
    const pid_t child = ::fork();
    if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
    return child;
}

Written writtenBy(const std::string& cli, const std::string& library, const std::string& work) {
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
    Written written;
    std::ifstream in("/proc/" + std::to_string(child) + "/io");
    for (std::string key; in >> key;) {
        double value = 0;
        in >> value;
        if (key == "wchar:") written.byCalls = value;
        if (key == "write_bytes:") written.toStorage = value;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return written;
}

// The system calls of a command, from strace -c -f.
long systemCallsOf(const std::string& command) {
    const std::string out = "/tmp/kestrom-bench-strace.txt";
    if (std::system(("strace -c -f -o " + out + " " + command + " 2>/dev/null").c_str()) != 0 &&
        !fs::exists(out))
        return -1;
    std::ifstream in(out);
    std::string line;
    long total = -1;
    while (std::getline(in, line))  // "100.00    0.012345     123   45678   12 total"
        if (line.find(" total") != std::string::npos) {
            std::istringstream fields(line);
            double percent = 0, seconds = 0;
            long usecs = 0;
            fields >> percent >> seconds >> usecs >> total;
        }
    fs::remove(out);
    return total;
}

double timeIt(const std::function<void()>& body) {
    const auto t0 = Clock::now();
    body();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs body in a child process and returns the child's peak resident memory in MiB.
double peakMemoryOf(const std::function<void()>& body) {
    const pid_t child = forkChild();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

static int benchmark(int argc, char** argv) {
    Options o;
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
            o.runs = std::atoi(value);
        else if (flag == "--memory-files")
            o.memoryFiles = std::atoi(value);
        else if (flag == "--songs")
            o.songs = std::atoi(value);
        else if (flag == "--song-mib")
            o.songMiB = std::atof(value);
        else if (flag == "--song-runs")
            o.songRuns = std::atoi(value);
        else if (flag == "--keep")
            o.keep = value;
    }
    char tmpl[] = "/tmp/kestrom-bench-XXXXXX";
    const fs::path base = o.keep.empty() ? fs::path(::mkdtemp(tmpl)) : fs::path(o.keep);
    const fs::path pristine = base / "pristine";
    kestrom::platform::Posix posix;
    const fs::path run = base / "run";
    const std::string library = (run / "library").string(), work = (run / "work").string();
    kestrom::binding::Vbmp3 tags(kestrom::binding::findTagLibrary(posix));
    const std::string cli =
        fs::path(kestrom::binding::findTagLibrary(posix)).parent_path() / "kestrom-cli";
    double smallRatio = 0;
    if (o.files > 0 && !fs::exists(pristine / "work")) {
        std::printf("generating %d library files in %d folders, %d work files...\n", o.files,
                    o.folders, o.work);
        generate(pristine, o, o.files, true);
    }
    const std::string command = "'" + cli + "' '" + library + "' '" + work + "' > /dev/null";
    std::vector<double> plain, replace, floor, safeFloor, process;
    for (int r = 0; o.files > 0 && r < o.runs; ++r) {
        prepare(pristine, run);
        plain.push_back(timeIt([&] {
            QuietWindow window(library, work, false);
            kestrom::engine::runTransfer(window, tags, {}, posix);
        }));
        prepare(pristine, run);
        replace.push_back(timeIt([&] {
            QuietWindow window(library, work, true);
            kestrom::engine::runTransfer(window, tags, {}, posix);
        }));
        prepare(pristine, run);
        floor.push_back(timeIt([&] { floorRun(run / "library", run / "work", false); }));
        prepare(pristine, run);
        safeFloor.push_back(timeIt([&] { floorRun(run / "library", run / "work", true); }));
        if (fs::exists(cli)) {
            prepare(pristine, run);
            process.push_back(timeIt([&] {
                if (std::system(command.c_str()) == -1) std::perror("run_bench: kestrom-cli");
            }));
        }
    }
    if (o.files > 0) {
        std::printf("run without replace:   %8.1f ms (median of %d)\n", median(plain), o.runs);
        std::printf("run with replace:      %8.1f ms\n", median(replace));
        if (!process.empty()) std::printf("kestrom-cli process:   %8.1f ms\n", median(process));
        std::printf("floor (list + TagLib): %8.1f ms\n", median(floor));
        std::printf("floor, writes made safe (copy, sync, rename): %8.1f ms\n", median(safeFloor));
        std::printf("ratio_to_safe_floor: %.2f\n", median(plain) / median(safeFloor));
        smallRatio = median(plain) / median(floor);
        std::printf("ratio_to_floor, small files: %.2f\n", smallRatio);
    }

    // Songs of real size: every write a rewrite, then every write in place.
    double paddedRatio = 0;
    for (const bool padded : {false, true}) {
        if (o.songs <= 0) break;
        const fs::path songs = base / (padded ? "songs-padded" : "songs-untagged");
        if (!fs::exists(songs / "work")) {
            std::printf("generating %d songs of %.1f MiB%s...\n", o.songs, o.songMiB,
                        padded ? " with padded tags" : " without tags");
            generateSongs(songs, o.songs, o.songMiB, padded);
        }
        std::vector<double> whole, floorTimes;
        for (int r = 0; r < o.songRuns; ++r) {
            prepare(songs, run);
            whole.push_back(timeIt([&] {
                QuietWindow window(library, work, false);
                kestrom::engine::runTransfer(window, tags, {}, posix);
            }));
            prepare(songs, run);
            floorTimes.push_back(timeIt([&] {
                if (padded)
                    floorRun(run / "library", run / "work", false);
                else
                    rewriteFloorRun(run / "library", run / "work");
            }));
        }
        prepare(songs, run);
        const Written written = writtenBy(cli, library, work);
        prepare(songs, run);
        const long calls = systemCallsOf(command);
        const double ratio = median(whole) / median(floorTimes);
        std::printf("%s, %d songs of %.1f MiB (median of %d):\n",
                    padded ? "padded mix, every write in place" : "rewrite mix, no tags", o.songs,
                    o.songMiB, o.songRuns);
        std::printf("  whole run:             %8.1f ms\n", median(whole));
        std::printf("  floor (%s): %8.1f ms\n",
                    padded ? "list + TagLib in place, no sync" : "each file written once, synced",
                    median(floorTimes));
        std::printf("  ratio:                 %8.2f\n", ratio);
        std::printf("  system calls per work file (kestrom-cli, strace): %.1f\n",
                    calls < 0 ? -1.0 : static_cast<double>(calls) / o.songs);
        std::printf(
            "  bytes written per work file: %.0f by write calls, %.0f to storage"
            " (the file: %.0f)\n",
            written.byCalls / o.songs, written.toStorage / o.songs, o.songMiB * 1024 * 1024);
        if (padded) {
            paddedRatio = ratio;
            // A second run over files whose tags already hold what it would write.
            std::vector<double> second;
            for (int r = 0; r < o.songRuns; ++r) {
                prepare(songs, run);
                QuietWindow first(library, work, false);
                kestrom::engine::runTransfer(first, tags, {}, posix);
                second.push_back(timeIt([&] {
                    QuietWindow window(library, work, false);
                    kestrom::engine::runTransfer(window, tags, {}, posix);
                }));
            }
            prepare(songs, run);
            writtenBy(cli, library, work);
            const Written again = writtenBy(cli, library, work);
            std::printf(
                "  second run: %.1f ms (%.2f of the first), %.0f bytes written per work file by "
                "write calls, %.0f to storage\n",
                median(second), median(second) / median(whole), again.byCalls / o.songs,
                again.toStorage / o.songs);
        }
    }

    if (o.memoryFiles > 0) {
        const fs::path big = base / "memory";
        if (!fs::exists(big / "work")) {
            Options m = o;
            m.folders = std::max(o.folders, o.memoryFiles / 10);
            std::printf("generating %d library files for the memory measurement...\n",
                        o.memoryFiles);
            generate(big, m, o.memoryFiles, false);
        }
        const double mib = peakMemoryOf([&] {
            QuietWindow window((big / "library").string(), (big / "work").string(), false);
            kestrom::binding::Vbmp3 childTags(kestrom::binding::findTagLibrary(posix));
            kestrom::engine::runTransfer(window, childTags, {}, posix);
        });
        std::printf("peak memory, %d library files: %.1f MiB\n", o.memoryFiles, mib);
    }
    if (o.keep.empty()) fs::remove_all(base);
    std::printf("ratio_to_floor: %.2f\n", o.songs > 0 ? paddedRatio : smallRatio);
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
