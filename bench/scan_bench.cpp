// SPDX-License-Identifier: GPL-3.0-or-later
// Times the library scan (folder list and name index) on a generated tree and
// compares it with `find LIBRARY -type d` on the same tree.
//
//   scan_bench [--folders N] [--files N] [--runs N] [--keep DIR]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/LibraryScan.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A tree of `folders` folders, ten to a parent, with `files` small files spread over them.
void generate(const fs::path& root, int folders, int files) {
    std::vector<fs::path> dirs{root};
    fs::create_directories(root);
    for (int i = 1; i < folders; ++i) {
        const fs::path dir =
            dirs[static_cast<std::size_t>((i - 1) / 10)] / ("Folder " + std::to_string(i));
        fs::create_directory(dir);
        dirs.push_back(dir);
    }
    for (int i = 0; i < files; ++i) {
        const fs::path& dir = dirs[static_cast<std::size_t>(i % folders)];
        std::ofstream(dir / ("Track " + std::to_string(i) + ".mp3")) << "x";
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int folders = 2000, files = 20000, runs = 7;
    std::string keep;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--folders")
            folders = std::atoi(argv[i + 1]);
        else if (flag == "--files")
            files = std::atoi(argv[i + 1]);
        else if (flag == "--runs")
            runs = std::atoi(argv[i + 1]);
        else if (flag == "--keep")
            keep = argv[i + 1];
    }
    char tmpl[] = "/tmp/kestrom-scan-XXXXXX";
    const fs::path base = keep.empty() ? fs::path(::mkdtemp(tmpl)) : fs::path(keep);
    const fs::path root = base / "library";
    if (!fs::exists(root)) generate(root, folders, files);

    std::vector<double> scanTimes, findTimes;
    std::size_t dirCount = 0, names = 0;
    for (int r = 0; r < runs; ++r) {
        auto t0 = Clock::now();
        kestrom::platform::Posix posix;
        kestrom::platform::DirLookup lookup(posix);
        const auto scan = kestrom::engine::scanLibrary(root.string(), lookup);
        scanTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        dirCount = scan.DirCount();
        names = scan.index.size();

        const std::string command = "find '" + root.string() + "' -type d > /dev/null";
        t0 = Clock::now();
        if (std::system(command.c_str()) != 0) return 1;
        findTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::printf("tree: %zu folders, %zu file names\n", dirCount, names);
    std::printf("scan (folders + index): %.1f ms (median of %d)\n", median(scanTimes), runs);
    std::printf("find -type d:           %.1f ms (median of %d)\n", median(findTimes), runs);
    if (keep.empty()) fs::remove_all(base);
    return 0;
}
