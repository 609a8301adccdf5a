// tessera-bandwidth: how fast this machine moves bytes, and how near a batch job comes to that.
//
//   tessera-bandwidth [--mib M] [--dir D] [--lines L --columns C --bands N [--job-seconds S]]
//
// Measures, on 1 and on 2 threads (each thread its own part of the bytes):
//   memory read        summing a buffer of M MiB (default 512) that is already in memory;
//   memory write       filling it;
//   page-cache read    read(2) of a file of M MiB in folder D (default: the temporary folder)
//                      that was just written, so that it is in the page cache, 1 MiB a call;
//   page-cache write   write(2) of M MiB into a new file there, 1 MiB a call, no fsync (the
//                      bytes reach the page cache only).
// Each figure is the best of three passes, in GB/s (10^9 bytes a second).
//
// Given a job (--lines, --columns, --bands: a tessera-batch job on 8-bit bands), prints its
// bandwidth bound: the time to move the bytes the job cannot avoid at the 2-thread rates —
// every band read once from the page cache (N x L x C bytes) and the class raster (.raw, L x C)
// and class bitmap (.bmp, rows padded to 4 bytes, with its 1078-byte header and palette)
// written once into the page cache; the segment numbers and codes stay in registers, so the
// memory rates only show what the page cache costs beyond them. Given --job-seconds (the wall
// time of tessera-batch on that job), prints the job's time as a multiple of its bound.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kCall = size_t{1} << 20;  // bytes a read(2) or write(2)

struct Settings {
    size_t mib = 512;
    std::string dir;
    int64_t lines = 0, columns = 0, bands = 0;
    double jobSeconds = 0;
};

// Runs work(thread, threads) on `threads` threads at once; the seconds from start to last end.
double Timed(int threads, const std::function<void(int, int)>& work) {
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> running;
    for (int t = 1; t < threads; ++t) running.emplace_back(work, t, threads);
    work(0, threads);
    for (std::thread& thread : running) thread.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best rate of three passes moving `bytes`, in GB/s; `prepare` runs before each pass,
// untimed.
double Rate(
    size_t bytes, int threads, const std::function<void(int, int)>& work,
    const std::function<void()>& prepare = [] {}) {
    double best = 1e30;
    for (int pass = 0; pass < 3; ++pass) {
        prepare();
        best = std::min(best, Timed(threads, work));
    }
    return static_cast<double>(bytes) / best / 1e9;
}

// Thread t's share [first, end) of `size` bytes, in whole calls.
void Share(size_t size, int t, int threads, size_t& first, size_t& end) {
    const size_t calls = size / kCall;
    first = calls * static_cast<size_t>(t) / static_cast<size_t>(threads) * kCall;
    end = calls * static_cast<size_t>(t + 1) / static_cast<size_t>(threads) * kCall;
}

volatile uint64_t sink;  // keeps the sums of the read passes

bool WriteAll(int fd, const char* bytes, size_t size, off_t at) {
    while (size > 0) {
        const ssize_t done = ::pwrite(fd, bytes, size, at);
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<size_t>(done);
        at += done;
    }
    return true;
}

bool Parse(int argc, char** argv, Settings& settings) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--mib")
            settings.mib = static_cast<size_t>(std::atoll(value));
        else if (option == "--dir")
            settings.dir = value;
        else if (option == "--lines")
            settings.lines = std::atoll(value);
        else if (option == "--columns")
            settings.columns = std::atoll(value);
        else if (option == "--bands")
            settings.bands = std::atoll(value);
        else if (option == "--job-seconds")
            settings.jobSeconds = std::atof(value);
        else
            return false;
    }
    const bool job = settings.lines > 0 || settings.columns > 0 || settings.bands > 0;
    return argc % 2 == 1 && settings.mib >= 4 &&
           (!job || (settings.lines > 0 && settings.columns > 0 && settings.bands > 0));
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!Parse(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tessera-bandwidth [--mib M] [--dir D] "
                     "[--lines L --columns C --bands N [--job-seconds S]]\n");
        return 2;
    }
    const size_t size = settings.mib << 20;
    std::vector<uint64_t> memory(size / sizeof(uint64_t), 1);  // touched: no page faults timed

    double rates[4][2];  // memory read, memory write, page-cache read, page-cache write
    for (int threads = 1; threads <= 2; ++threads) {
        rates[0][threads - 1] = Rate(size, threads, [&](int t, int n) {
            size_t first, end;
            Share(size, t, n, first, end);
            uint64_t sum = 0;
            for (size_t i = first / 8; i < end / 8; ++i) sum += memory[i];
            sink = sum;
        });
        rates[1][threads - 1] = Rate(size, threads, [&](int t, int n) {
            size_t first, end;
            Share(size, t, n, first, end);
            std::fill(memory.begin() + static_cast<ptrdiff_t>(first / 8),
                      memory.begin() + static_cast<ptrdiff_t>(end / 8),
                      static_cast<uint64_t>(t + 2));
        });
    }

    std::error_code error;
    const std::filesystem::path folder = settings.dir.empty()
                                             ? std::filesystem::temp_directory_path(error)
                                             : std::filesystem::path(settings.dir);
    const std::string path =
        (folder / ("tessera-bandwidth-" + std::to_string(::getpid()))).string();
    // Every write pass into a new file, whose pages the page cache has to find, as the batch
    // tool's results are new files.
    int fd = -1;
    bool failed = false;
    auto create = [&] {
        if (fd >= 0) ::close(fd);
        ::unlink(path.c_str());
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) failed = true;
    };
    const char* bytes = reinterpret_cast<const char*>(memory.data());
    for (int threads = 1; threads <= 2 && !failed; ++threads) {
        rates[3][threads - 1] = Rate(
            size, threads,
            [&](int t, int n) {
                size_t first, end;
                Share(size, t, n, first, end);
                for (size_t at = first; at < end && fd >= 0; at += kCall)
                    if (!WriteAll(fd, bytes + at, kCall, static_cast<off_t>(at))) failed = true;
            },
            create);
    }
    if (fd < 0) {
        std::perror(path.c_str());
        return 1;
    }
    // The file just written is in the page cache.
    std::vector<std::vector<char>> buffers(2, std::vector<char>(kCall));
    for (int threads = 1; threads <= 2; ++threads) {
        rates[2][threads - 1] = Rate(size, threads, [&](int t, int n) {
            size_t first, end;
            Share(size, t, n, first, end);
            for (size_t at = first; at < end; at += kCall)
                if (::pread(fd, buffers[t].data(), kCall, static_cast<off_t>(at)) <= 0)
                    failed = true;
        });
    }
    ::close(fd);
    ::unlink(path.c_str());
    if (failed) {
        std::fprintf(stderr, "tessera-bandwidth: the file in %s could not be written or read\n",
                     folder.string().c_str());
        return 1;
    }

    const char* names[4] = {"memory read", "memory write", "page-cache read", "page-cache write"};
    std::printf("%zu MiB a pass, best of 3, GB/s\n", settings.mib);
    std::printf("  %-18s %9s %9s\n", "", "1 thread", "2 threads");
    for (int k = 0; k < 4; ++k)
        std::printf("  %-18s %9.2f %9.2f\n", names[k], rates[k][0], rates[k][1]);

    if (settings.lines > 0) {
        const int64_t pixels = settings.lines * settings.columns;
        const int64_t read = settings.bands * pixels;
        const int64_t bitmap = 1078 + settings.lines * ((settings.columns + 3) / 4 * 4);
        const int64_t written = pixels + bitmap;
        const double bound = static_cast<double>(read) / (rates[2][1] * 1e9) +
                             static_cast<double>(written) / (rates[3][1] * 1e9);
        std::printf("job: %lld bands of %lld x %lld: %.1f MB read, %.1f MB written\n",
                    static_cast<long long>(settings.bands), static_cast<long long>(settings.lines),
                    static_cast<long long>(settings.columns), static_cast<double>(read) / 1e6,
                    static_cast<double>(written) / 1e6);
        std::printf("  bandwidth bound (2 threads)   %.4f s\n", bound);
        if (settings.jobSeconds > 0)
            std::printf("  job time %.3f s = %.1f x the bound\n", settings.jobSeconds,
                        settings.jobSeconds / bound);
    }
    return 0;
}
