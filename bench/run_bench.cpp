// SPDX-License-Identifier: GPL-3.0-or-later
// Times a whole run on a generated library and compares it with the floor: one
// listing of the library plus reading and writing the same tags with TagLib
// directly, in one process. See bench/README.md.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
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
// the program never changes a library file in place, it renames new files over them.
void prepare(const fs::path& pristine, const fs::path& run) {
    fs::remove_all(run);
    fs::create_directories(run);
    const std::string command = "cp -al '" + (pristine / "library").string() + "' '" +
                                run.string() + "/' && cp -a '" + (pristine / "work").string() +
                                "' '" + run.string() + "/'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("cannot copy the generated folders");
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
    const pid_t child = ::fork();
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
        else if (flag == "--keep")
            o.keep = value;
    }
    char tmpl[] = "/tmp/kestrom-bench-XXXXXX";
    const fs::path base = o.keep.empty() ? fs::path(::mkdtemp(tmpl)) : fs::path(o.keep);
    const fs::path pristine = base / "pristine";
    if (!fs::exists(pristine / "work")) {
        std::printf("generating %d library files in %d folders, %d work files...\n", o.files,
                    o.folders, o.work);
        generate(pristine, o, o.files, true);
    }
    const fs::path run = base / "run";
    const std::string library = (run / "library").string(), work = (run / "work").string();
    kestrom::taglib::Vbmp3 tags(kestrom::taglib::libraryBesideExecutable());
    const std::string cli =
        fs::path(kestrom::taglib::libraryBesideExecutable()).parent_path() / "kestrom-cli";

    const std::string command = "'" + cli + "' '" + library + "' '" + work + "' > /dev/null";

    std::vector<double> plain, replace, floor, safeFloor, process;
    for (int r = 0; r < o.runs; ++r) {
        prepare(pristine, run);
        plain.push_back(timeIt([&] {
            QuietWindow window(library, work, false);
            kestrom::engine::runTransfer(window, tags);
        }));
        prepare(pristine, run);
        replace.push_back(timeIt([&] {
            QuietWindow window(library, work, true);
            kestrom::engine::runTransfer(window, tags);
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
    std::printf("run without replace:   %8.1f ms (median of %d)\n", median(plain), o.runs);
    std::printf("run with replace:      %8.1f ms\n", median(replace));
    if (!process.empty()) std::printf("kestrom-cli process:   %8.1f ms\n", median(process));
    std::printf("floor (list + TagLib): %8.1f ms\n", median(floor));
    std::printf("floor, writes made safe (copy, sync, rename): %8.1f ms\n", median(safeFloor));
    std::printf("ratio_to_safe_floor: %.2f\n", median(plain) / median(safeFloor));

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
            kestrom::taglib::Vbmp3 childTags(kestrom::taglib::libraryBesideExecutable());
            kestrom::engine::runTransfer(window, childTags);
        });
        std::printf("peak memory, %d library files: %.1f MiB\n", o.memoryFiles, mib);
    }
    if (o.keep.empty()) fs::remove_all(base);
    std::printf("ratio_to_floor: %.2f\n", median(plain) / median(floor));
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
