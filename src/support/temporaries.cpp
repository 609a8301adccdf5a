#include "support/temporaries.h"

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

namespace tessera {

namespace {

// The handler reads the records from whichever thread the signal reaches, so every record is
// a preallocated name and an atomic state, and nothing is locked or allocated on the way.
enum RecordState : int {
    kFree = 0,
    kFilling = 1,  // a thread is making the file and writing its name: the handler waits
    kHeld = 2,     // the name is complete and may exist: the handler removes it
};

struct Record {
    std::atomic<int> state{kFree};
    char name[PATH_MAX];
};

// A save writes a handful of files at once; the rest would go unrecorded.
constexpr int kRecords = 64;
Record records[kRecords];

// Set by the handler before it looks at the records: a file made after that would be missed,
// so none is made.
std::atomic<bool> ending{false};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

// SIGINT and SIGTERM are held back in this thread while it fills a record, so the handler
// never runs in the middle of it on this thread (it would wait for itself); another thread's
// handler waits the moment it takes.
class InterruptsHeld {
  public:
    InterruptsHeld() {
        sigset_t interrupts;
        ::sigemptyset(&interrupts);
        ::sigaddset(&interrupts, SIGINT);
        ::sigaddset(&interrupts, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &interrupts, &before_);
    }
    ~InterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

  private:
    sigset_t before_;
};

int CreateUnrecorded(const std::string& pattern, std::string& name) {
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd >= 0) name.assign(buffer.data());
    return fd;
}

// Async-signal-safe: atomics, nanosleep and unlink only.
void RemoveRecordedTemporaries() {
    ending.store(true);
    for (Record& record : records) {
        int state = record.state.load();
        while (state == kFilling) {
            const struct timespec pause { 0, 100000 };
            ::nanosleep(&pause, nullptr);
            state = record.state.load();
        }
        if (state == kHeld) ::unlink(record.name);
    }
}

// A hold of the interrupts (InterruptsHeldBack) in progress, and the signal it held back. The
// handler stores the signal before it looks at `holding`, and a hold raises `holding` before it
// looks at the signal: of the two, at least one sees the other, so that a signal is never lost
// and never acted on in the middle of a hold.
std::atomic<int> holding{0};
std::atomic<int> heldSignal{0};
// A signal held back from a handler of the program's own (or the default action), acted on by
// raising it again once the hold ends.
std::atomic<int> heldForeign{0};

void EndAfter(int signal) {
    RemoveRecordedTemporaries();
    ::_exit(128 + signal);
}

extern "C" void RemoveTemporariesAndEnd(int signal) {
    int none = 0;
    heldSignal.compare_exchange_strong(none, signal);
    if (holding.load() > 0) return;  // the hold ends the program once its renames are done
    EndAfter(signal);
}

extern "C" void HoldForeignSignal(int signal) {
    int none = 0;
    heldForeign.compare_exchange_strong(none, signal);
}

std::mutex holdTurn;
struct sigaction foreignActions[2];
bool foreignHeld[2] = {false, false};
constexpr int kInterrupts[2] = {SIGINT, SIGTERM};

}  // namespace

int CreateRecordedTemporary(const std::string& pattern, std::string& name, int& record) {
    record = -1;
    if (pattern.size() >= sizeof(Record::name)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    name.reserve(pattern.size());  // so that nothing is allocated once the file exists
    const InterruptsHeld held;
    for (int k = 0; k < kRecords && record < 0; ++k) {
        int expected = kFree;
        if (records[k].state.compare_exchange_strong(expected, kFilling)) record = k;
    }
    if (record < 0) return CreateUnrecorded(pattern, name);
    Record& mine = records[record];
    if (ending.load()) {  // the handler has begun and would not see this file
        mine.state.store(kFree);
        record = -1;
        errno = EINTR;
        return -1;
    }
    std::memcpy(mine.name, pattern.c_str(), pattern.size() + 1);
    const int fd = ::mkstemp(mine.name);
    if (fd < 0) {
        const int error = errno;
        mine.state.store(kFree);
        record = -1;
        errno = error;
        return -1;
    }
    name.assign(mine.name);
    mine.state.store(kHeld);
    return fd;
}

void ForgetTemporary(int& record) {
    if (record < 0 || record >= kRecords) return;
    records[record].state.store(kFree);
    record = -1;
}

InterruptsHeldBack::InterruptsHeldBack() {
    holdTurn.lock();
    holding.fetch_add(1);
    // The handler has begun to end the program already: it must not be let go on (its exit
    // would come in the middle of the renames), nor the renames begun.
    if (const int signal = heldSignal.load(); signal != 0) EndAfter(signal);
    for (int k = 0; k < 2; ++k) {
        struct sigaction before {};
        foreignHeld[k] = false;
        if (::sigaction(kInterrupts[k], nullptr, &before) != 0) continue;
        if (before.sa_handler == RemoveTemporariesAndEnd || before.sa_handler == SIG_IGN) continue;
        struct sigaction hold {};
        hold.sa_handler = HoldForeignSignal;
        hold.sa_flags = SA_RESTART;
        ::sigemptyset(&hold.sa_mask);
        foreignActions[k] = before;
        foreignHeld[k] = ::sigaction(kInterrupts[k], &hold, nullptr) == 0;
    }
}

InterruptsHeldBack::~InterruptsHeldBack() {
    for (int k = 0; k < 2; ++k)
        if (foreignHeld[k]) ::sigaction(kInterrupts[k], &foreignActions[k], nullptr);
    holding.fetch_sub(1);
    if (const int signal = heldSignal.load(); signal != 0) EndAfter(signal);
    const int foreign = heldForeign.exchange(0);
    holdTurn.unlock();
    if (foreign != 0) ::raise(foreign);
}

void RemoveTemporariesOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndEnd;
    ::sigemptyset(&action.sa_mask);
    ::sigaddset(&action.sa_mask, SIGINT);
    ::sigaddset(&action.sa_mask, SIGTERM);
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace tessera
