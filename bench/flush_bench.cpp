// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the ways of making a batch of file changes durable: small writes in
// place into existing songs, and new songs written whole, each made durable by
// its own sync, by one sync of the whole file system, or by a write-out of each
// range and one sync; and the folder's sync after the renames, once per file or
// once per batch. See bench/README.md.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int files = 50;
    double mib = 5.0;
    int runs = 3;
    int otherMiB = 200;  // what another program leaves dirty on the same file system
    std::string dir = "/tmp";
    // With a way: one batch of each kind made durable that way, then the
    // program ends at once, leaving everything as it is: what a power loss
    // right after the durability calls would find (see bench/README.md).
    std::string leave;
};

// Every system call the batch makes is counted, so that the table shows what a
// way costs in calls as well as in time.
long g_calls = 0;

int check(int result, const char* what) {
    ++g_calls;
    if (result < 0) throw std::system_error(errno, std::generic_category(), what);
    return result;
}

void writeAll(int fd, const std::string& bytes, off_t offset) {
    ++g_calls;
    if (::pwrite(fd, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size()))
        throw std::system_error(errno, std::generic_category(), "pwrite");
}

void copyAll(int in, int out, off_t outOffset, off_t length) {
    off_t inOffset = 0;
    while (length > 0) {
        const ssize_t n =
            ::copy_file_range(in, &inOffset, out, &outOffset, static_cast<std::size_t>(length), 0);
        ++g_calls;
        if (n <= 0) throw std::system_error(errno, std::generic_category(), "copy_file_range");
        length -= n;
    }
}

// What the storage saw: the process's own accounting (write_bytes: the bytes of
// the pages it dirtied, counted when they are dirtied, so even a write that
// never reaches the disk counts), and the device's (sectors written and cache
// flushes completed, of every process, from /sys/dev/block/M:m/stat; none for a
// file system without a block device of its own, such as btrfs's).
struct Snapshot {
    Clock::time_point time;
    long calls = 0;
    double writeBytes = 0;
    double deviceBytes = -1;
    double deviceFlushes = -1;
};

struct Cost {
    double ms = 0;
    double calls = 0;
    double writeKiB = 0;
    double deviceKiB = -1;
    double flushes = -1;
};

class Meter {
public:
    explicit Meter(const fs::path& dir) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0)
            throw std::system_error(errno, std::generic_category(), dir.string());
        m_deviceStat = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                       std::to_string(minor(st.st_dev)) + "/stat";
    }

    Snapshot now() const {
        Snapshot s;
        std::ifstream io("/proc/self/io");
        for (std::string key; io >> key;) {
            double value = 0;
            io >> value;
            if (key == "write_bytes:") s.writeBytes = value;
        }
        std::ifstream device(m_deviceStat);
        std::vector<double> fields;
        for (double value = 0; device >> value;) fields.push_back(value);
        if (fields.size() >= 7) s.deviceBytes = fields[6] * 512;
        if (fields.size() >= 17) s.deviceFlushes = fields[15];
        s.calls = g_calls;
        s.time = Clock::now();
        return s;
    }

    static Cost between(const Snapshot& a, const Snapshot& b) {
        Cost c;
        c.ms = std::chrono::duration<double, std::milli>(b.time - a.time).count();
        c.calls = static_cast<double>(b.calls - a.calls);
        c.writeKiB = (b.writeBytes - a.writeBytes) / 1024;
        if (a.deviceBytes >= 0) c.deviceKiB = (b.deviceBytes - a.deviceBytes) / 1024;
        if (a.deviceFlushes >= 0) c.flushes = b.deviceFlushes - a.deviceFlushes;
        return c;
    }

private:
    std::string m_deviceStat;
};

enum class Way { None, Fdatasync, Fsync, Syncfs, RangeThenOne, WriteOutThenFdatasync };

const char* wayName(Way way) {
    switch (way) {
        case Way::None: return "no sync (reference)";
        case Way::Fdatasync: return "(a) fdatasync of each file";
        case Way::Fsync: return "(b) fsync of each file";
        case Way::Syncfs: return "(c) one syncfs()";
        case Way::RangeThenOne: return "(d) sync_file_range of each range, one fdatasync";
        case Way::WriteOutThenFdatasync: return "(e) write-out of all started, then (a)";
    }
    return "";
}

// A written range of an open file.
struct Written {
    int fd = -1;
    off_t offset = 0;
    off_t length = 0;
};

// Makes the written ranges durable the given way.
void makeDurable(Way way, const std::vector<Written>& ranges, int anyFd) {
    switch (way) {
        case Way::None: return;
        case Way::Fdatasync:
        case Way::Fsync: {
            int last = -1;
            for (const Written& w : ranges) {
                if (w.fd == last) continue;  // one sync a file, however many ranges
                last = w.fd;
                check(way == Way::Fsync ? ::fsync(w.fd) : ::fdatasync(w.fd), "fsync");
            }
            return;
        }
        case Way::Syncfs: check(::syncfs(anyFd), "syncfs"); return;
        case Way::RangeThenOne:
            for (const Written& w : ranges)
                check(::sync_file_range(w.fd, w.offset, w.length,
                                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                            SYNC_FILE_RANGE_WAIT_AFTER),
                      "sync_file_range");
            check(::fdatasync(ranges.back().fd), "fdatasync");
            return;
        case Way::WriteOutThenFdatasync:
            // Every file's write-out under way before the first wait, so that
            // the device works on all of them at once; then each file's own
            // sync, which waits for its data and writes its metadata.
            for (const Written& w : ranges)
                check(::sync_file_range(w.fd, w.offset, w.length, SYNC_FILE_RANGE_WRITE),
                      "sync_file_range");
            makeDurable(Way::Fdatasync, ranges, anyFd);
            return;
    }
}

std::string numbered(const char* format, int n) {
    char name[64];
    std::snprintf(name, sizeof name, format, n);
    return name;
}

class Bench {
public:
    Bench(Options o, fs::path base) : m_o(std::move(o)), m_base(std::move(base)), m_meter(m_base) {
        m_size = static_cast<off_t>(m_o.mib * 1024 * 1024);
        m_dirFd = check(::open(m_base.c_str(), O_RDONLY | O_DIRECTORY), "open folder");
        const std::string block(1 << 20, '\x5A');
        for (int i = 0; i < m_o.files; ++i) {
            for (const char* format : {"song-%03d.mp3", "new-%03d.mp3"}) {
                const int fd =
                    check(::open((m_base / numbered(format, i)).c_str(), O_WRONLY | O_CREAT, 0644),
                          "create");
                for (off_t at = 0; at < m_size; at += static_cast<off_t>(block.size()))
                    writeAll(fd,
                             block.substr(0, static_cast<std::size_t>(
                                                 std::min<off_t>(m_size - at, 1 << 20))),
                             at);
                ::close(fd);
            }
        }
        settle();
    }
    ~Bench() { ::close(m_dirFd); }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Small writes in place: 1 KiB at the start of each song and 128 bytes
    // appended at its end (its length changes), then made durable.
    Cost inPlace(Way way, bool otherWriter) {
        const std::vector<int> fds = openSongs(O_RDWR);
        prepareOther(otherWriter);
        const std::string tag(1024, 'T'), id3v1(128, '1');
        const Snapshot before = m_meter.now();
        std::vector<Written> ranges;
        for (const int fd : fds) {
            writeAll(fd, tag, 0);
            writeAll(fd, id3v1, m_size);
            ranges.push_back({fd, 0, static_cast<off_t>(tag.size())});
            ranges.push_back({fd, m_size, static_cast<off_t>(id3v1.size())});
        }
        makeDurable(way, ranges, m_dirFd);
        const Cost cost = Meter::between(before, m_meter.now());
        if (m_o.leave.empty())
            for (const int fd : fds)
                if (::ftruncate(fd, m_size) != 0) throw std::runtime_error("ftruncate failed");
        for (const int fd : fds) {
            ::close(fd);
        }
        if (m_o.leave.empty()) settle();
        return cost;
    }

    // New songs written whole beside the old ones (a tag of 4 KiB, the audio
    // copied inside the kernel from another song, the ID3v1 tag), made durable,
    // then renamed over the old ones.
    Cost newFiles(Way way, bool otherWriter) {
        const std::vector<int> sources = openSongs(O_RDONLY);
        prepareOther(otherWriter);
        const std::string tag(4096, 'T'), id3v1(128, '1');
        const Snapshot before = m_meter.now();
        std::vector<Written> ranges;
        std::vector<int> fds;
        for (int i = 0; i < m_o.files; ++i) {
            const int fd =
                check(::open(temporary(i).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644), "create");
            fds.push_back(fd);
            writeAll(fd, tag, 0);
            copyAll(sources[static_cast<std::size_t>(i)], fd, static_cast<off_t>(tag.size()),
                    m_size);
            writeAll(fd, id3v1, static_cast<off_t>(tag.size()) + m_size);
            ranges.push_back({fd, 0, static_cast<off_t>(tag.size() + id3v1.size()) + m_size});
        }
        makeDurable(way, ranges, m_dirFd);
        const Cost cost = Meter::between(before, m_meter.now());
        for (const int fd : fds) ::close(fd);
        for (const int fd : sources) ::close(fd);
        if (!m_o.leave.empty()) return cost;
        renameAll(false);
        settle();
        return cost;
    }

    // The renames of a batch of new songs (made durable beforehand) over the old
    // ones, with the folder synced after each rename or once after all of them.
    Cost renames(bool syncEach, bool otherWriter) {
        for (int i = 0; i < m_o.files; ++i) {
            const int fd =
                check(::open(temporary(i).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644), "create");
            writeAll(fd, std::string(4096, 'T'), 0);
            ::close(fd);
        }
        settle();
        prepareOther(otherWriter);
        const Snapshot before = m_meter.now();
        renameAll(syncEach);
        if (!syncEach) check(::fsync(m_dirFd), "fsync folder");
        const Cost cost = Meter::between(before, m_meter.now());
        settle();
        return cost;
    }

private:
    std::vector<int> openSongs(int flags) const {
        std::vector<int> fds;
        fds.reserve(static_cast<std::size_t>(m_o.files));
        for (int i = 0; i < m_o.files; ++i)
            fds.push_back(
                check(::open((m_base / numbered("song-%03d.mp3", i)).c_str(), flags), "open song"));
        return fds;
    }

    fs::path temporary(int i) const { return m_base / numbered(".new-%03d.tmp", i); }

    void renameAll(bool syncEach) {
        for (int i = 0; i < m_o.files; ++i) {
            check(::rename(temporary(i).c_str(), (m_base / numbered("new-%03d.mp3", i)).c_str()),
                  "rename");
            if (syncEach) check(::fsync(m_dirFd), "fsync folder");
        }
    }

    // Everything dirty reaches the disk before the next measurement starts, so
    // that no measurement pays for the one before it.
    void settle() {
        if (::syncfs(m_dirFd) != 0) throw std::runtime_error("syncfs failed");
        if (!m_other.empty()) {
            fs::remove(m_other);
            m_other.clear();
            if (::syncfs(m_dirFd) != 0) throw std::runtime_error("syncfs failed");
        }
    }

    // Another program's large write on the same file system, finished but not
    // synced, as a download or a copy leaves it: its data waits in the cache.
    void prepareOther(bool otherWriter) {
        if (!otherWriter || m_o.otherMiB <= 0) return;
        m_other = m_base / "other-program.bin";
        const std::string of = "of=" + m_other.string();
        const std::string count = "count=" + std::to_string(m_o.otherMiB);
        const pid_t child = ::fork();
        if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
        if (child == 0) {
            ::execlp("dd", "dd", "if=/dev/zero", of.c_str(), "bs=1M", count.c_str(), "status=none",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("dd of another program's data failed");
    }

    Options m_o;
    fs::path m_base;
    Meter m_meter;
    off_t m_size = 0;
    int m_dirFd = -1;
    fs::path m_other;
};

Cost median(std::vector<Cost> costs) {
    auto pick = [&](double Cost::*field) {
        std::vector<double> v;
        v.reserve(costs.size());
        for (const Cost& c : costs) v.push_back(c.*field);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    Cost m;
    m.ms = pick(&Cost::ms);
    m.calls = pick(&Cost::calls);
    m.writeKiB = pick(&Cost::writeKiB);
    m.deviceKiB = pick(&Cost::deviceKiB);
    m.flushes = pick(&Cost::flushes);
    return m;
}

std::string cell(double value, const char* format) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void row(const std::string& what, const Cost& alone, const Cost& loaded) {
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", what.c_str(),
                cell(alone.ms, "%.0f").c_str(), cell(alone.calls, "%.0f").c_str(),
                cell(alone.writeKiB, "%.0f").c_str(), cell(alone.deviceKiB, "%.0f").c_str(),
                cell(alone.flushes, "%.0f").c_str(), cell(loaded.ms, "%.0f").c_str(),
                cell(loaded.deviceKiB, "%.0f").c_str());
    std::fflush(stdout);
}

int benchmark(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--files")
            o.files = std::max(1, std::atoi(value));
        else if (flag == "--mib")
            o.mib = std::atof(value);
        else if (flag == "--runs")
            o.runs = std::max(1, std::atoi(value));
        else if (flag == "--other-mib")
            o.otherMiB = std::atoi(value);
        else if (flag == "--dir")
            o.dir = value;
        else if (flag == "--leave")
            o.leave = value;
        else
            throw std::runtime_error("unknown option " + flag);
    }
    std::string tmpl = (fs::path(o.dir) / "kestrom-flush-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp in " + o.dir);
    const fs::path base = tmpl;
    if (!o.leave.empty()) {
        const std::pair<std::string_view, Way> named[] = {
            {"none", Way::None},          {"fdatasync", Way::Fdatasync},
            {"fsync", Way::Fsync},        {"syncfs", Way::Syncfs},
            {"range", Way::RangeThenOne}, {"writeout", Way::WriteOutThenFdatasync}};
        const auto* it = std::find_if(std::begin(named), std::end(named),
                                      [&](const auto& n) { return n.first == o.leave; });
        if (it == std::end(named))
            throw std::runtime_error(
                "--leave takes none, fdatasync, fsync, syncfs, range or writeout");
        const Way way = it->second;
        Bench bench(o, base);
        bench.inPlace(way, false);
        bench.newFiles(way, false);
        std::printf(
            "left in %s: song-NNN.mp3 with 1 KiB at 0 and 128 bytes appended, "
            ".new-NNN.tmp new, made durable by %s\n",
            base.c_str(), wayName(way));
        return 0;
    }
    std::printf(
        "%d files of %.1f MiB in %s, median of %d runs; \"loaded\": another program "
        "left %d MiB unsynced on the same file system just before\n\n",
        o.files, o.mib, base.c_str(), o.runs, o.otherMiB);
    {
        Bench bench(o, base);
        const auto measure = [&](const std::function<Cost(bool)>& body) {
            std::vector<Cost> alone, loaded;
            for (int r = 0; r < o.runs; ++r) {
                alone.push_back(body(false));
                loaded.push_back(body(true));
            }
            return std::pair{median(alone), median(loaded)};
        };
        std::printf(
            "| batch, way | ms | calls | write_bytes KiB | device KiB | device flushes "
            "| ms, loaded | device KiB, loaded |\n|---|---|---|---|---|---|---|---|\n");
        for (const bool fresh : {false, true})
            for (const Way way : {Way::None, Way::Fdatasync, Way::Fsync, Way::Syncfs,
                                  Way::RangeThenOne, Way::WriteOutThenFdatasync}) {
                const auto [alone, loaded] = measure([&](bool other) {
                    return fresh ? bench.newFiles(way, other) : bench.inPlace(way, other);
                });
                row(std::string(fresh ? "new files: " : "in place: ") + wayName(way), alone,
                    loaded);
            }
        bench.renames(false, false);  // every old song is then a file of the same size
        for (const bool each : {true, false}) {
            const auto [alone, loaded] =
                measure([&](bool other) { return bench.renames(each, other); });
            row(each ? "renames, folder synced after each" : "renames, folder synced once", alone,
                loaded);
        }
    }
    fs::remove_all(base);
    return 0;
}

}  // namespace

// A failure (a full disk, a folder that cannot be made) ends the run with its reason.
int main(int argc, char** argv) {
    try {
        return benchmark(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "flush_bench: %s\n", e.what());
        return 1;
    }
}
