#include "support/parallel.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tessera {

void RunWorkers(int workers, const std::function<void(int)>& work) {
    std::vector<std::thread> helpers;
    try {
        for (int w = 1; w < workers; ++w) helpers.emplace_back(work, w);
    } catch (const std::system_error&) {
        // Fewer threads: the work is shared among those that started.
    }
    work(0);
    for (std::thread& helper : helpers) helper.join();
}

void RunParts(int parts, const std::function<void(int)>& part) {
    std::vector<std::thread> helpers;
    for (int k = 1; k < parts; ++k) {
        try {
            helpers.emplace_back(part, k);
        } catch (const std::system_error&) {
            part(k);  // no thread to spare: this part here
        }
    }
    if (parts > 0) part(0);
    for (std::thread& helper : helpers) helper.join();
}

Status RunTasks(size_t count, int threads, const std::function<Status(int, size_t)>& task) {
    std::atomic<size_t> next{0};
    std::mutex refusing;
    size_t refusedTask = count;
    Status refusal = Status::Ok();
    std::atomic<bool> outOfMemory{false};
    auto work = [&](int worker) {
        try {
            for (size_t t = next++; t < count; t = next++) {
                Status done = task(worker, t);
                if (done) continue;
                const std::lock_guard<std::mutex> lock(refusing);
                if (t < refusedTask) {
                    refusedTask = t;
                    refusal = std::move(done);
                }
            }
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    };
    RunWorkers(std::min<int>(threads, static_cast<int>(std::min<size_t>(count, 1 << 20))), work);
    if (outOfMemory) throw std::bad_alloc();
    return refusal;
}

Status RunStrips(int begin, int end, int threads, const std::function<Status(int, int)>& work,
                 Progress* progress, const char* stage, int total,
                 const std::function<void()>& stopped) {
    const int stripCount = end;
    const int wanted = std::min(std::max(threads, 1), std::max(end - begin, 1));
    // Worker w starts with strip w, so that every thread takes part; then each takes the next
    // strip left, so that a thread slowed down by other work takes fewer.
    std::atomic<int> next{begin + wanted};
    std::atomic<int> done{begin};
    std::atomic<bool> failed{false};
    bool outOfMemory = false;
    bool cancelled = false;
    // The refusal of the first strip that could not be read: every strip before it was taken
    // and is finished, so it is the same whatever the threads.
    int refusedStrip = stripCount;
    Status refusal = Status::Ok();
    std::mutex refusing;
    std::once_flag told;
    const auto stop = [&] {
        failed.store(true);
        if (stopped) std::call_once(told, stopped);
    };
    // A worker takes strip `index`, then the strips reserved beyond it (reserved..wanted - 1,
    // those of threads that could not start), then the next strips left: the strips of one
    // worker come in increasing order.
    auto worker = [&](int index, int reserved) {
        int strip = begin + index;
        while (strip < stripCount && !failed.load()) {
            try {
                // The first thread tells the progress: the caller's watcher is not shared.
                if (index == 0 && progress && !progress->Step(stage, done.load(), total)) {
                    {
                        const std::lock_guard<std::mutex> lock(refusing);
                        cancelled = true;
                    }
                    stop();
                    return;
                }
                Status result = work(index, strip);
                if (result) {
                    ++done;
                    strip = reserved < wanted ? begin + reserved++ : next.fetch_add(1);
                    continue;
                }
                {
                    const std::lock_guard<std::mutex> lock(refusing);
                    if (strip < refusedStrip) {
                        refusedStrip = strip;
                        refusal = std::move(result);
                    }
                }
            } catch (const std::exception&) {
                const std::lock_guard<std::mutex> lock(refusing);
                outOfMemory = true;
            }
            stop();
            return;
        }
    };
    std::vector<std::thread> helpers;
    int started = 1;
    for (int index = 1; index < wanted; ++index, ++started) {
        try {
            helpers.emplace_back(worker, index, wanted);
        } catch (const std::exception&) {
            break;
        }
    }
    // Strips meant for threads that could not start are taken by this one.
    worker(0, started);
    for (std::thread& helper : helpers) helper.join();
    if (outOfMemory) throw std::bad_alloc();
    if (cancelled && refusal) return Status::Cancelled();
    return refusal;
}

}  // namespace tessera
