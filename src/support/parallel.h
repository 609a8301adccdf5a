#pragma once
// Every thread of the core starts here. The rules that keep results independent of the threads
// are stated once:
//  - work is shared by worker number or by part, never by timing: a worker's results go to
//    its own accumulator, added up in worker order or by exact sums, so that 1 thread and 64
//    give the same bytes;
//  - a thread that cannot start (the system refuses one) changes nothing but the speed: its
//    work is taken by the others (RunWorkers, RunTasks, RunStrips) or done on the calling
//    thread (RunParts);
//  - the calling thread is worker 0 and returns only once every thread has ended.
#include <cstddef>
#include <functional>

#include "support/progress.h"
#include "support/status.h"

namespace tessera {

// work(w) for w = 0..workers - 1, each on a thread of its own (w = 0 on the calling thread),
// for work that the workers share among themselves (each takes the next item left): a worker
// whose thread cannot start is simply missing.
void RunWorkers(int workers, const std::function<void(int)>& work);

// part(k) for k = 0..parts - 1, each on a thread of its own where one starts, else on the
// calling thread: for work cut into fixed parts, every one of which must run.
void RunParts(int parts, const std::function<void(int)>& part);

// Runs task(worker, t) for t = 0..count - 1 on up to `threads` threads, each taking the next
// task left; the refusal of the first task refused. Throws std::bad_alloc when a task ran out
// of memory.
Status RunTasks(size_t count, int threads, const std::function<Status(int, size_t)>& task);

// Strips begin..end - 1 of a source of `stripLines` lines a strip on up to `threads`
// threads, as StripSource::ForEachStrip runs them; work(worker, strip index).
Status RunStrips(int begin, int end, int threads, const std::function<Status(int, int)>& work,
                 Progress* progress = nullptr, const char* stage = nullptr, int total = 0,
                 const std::function<void()>& stopped = {});

}  // namespace tessera
