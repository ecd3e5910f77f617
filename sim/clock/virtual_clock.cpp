#include "virtual_clock.h"

#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

namespace sim {
namespace {

int64_t realUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::chrono::steady_clock::time_point realPoint(int64_t us) {
    const int64_t left = us - realUs();
    return std::chrono::steady_clock::now() + std::chrono::microseconds(std::max<int64_t>(left, 0));
}

std::atomic<int64_t> g_now{VirtualClock::kStartUs};

// While a run's condition is checked every party is stopped: the firmware's
// locks are not needed to read what they guard, and taking one would wait on
// the clock that is checking.
thread_local bool t_probing = false;

// A party's gate: 0 shut, 1 open, 2 shut with its party asleep in the
// kernel. A plain futex, without the spinning and yielding of
// std::atomic::wait: on two cores a hand-over always finds the other party
// asleep, and every yield is one more trip into the kernel.
constexpr int kShut = 0, kOpen = 1, kAsleep = 2;

void waitAtGate(std::atomic<int>& gate) {
    int seen = kShut;
    if (!gate.compare_exchange_strong(seen, kAsleep, std::memory_order_acquire)) return;
    while (gate.load(std::memory_order_acquire) != kOpen) {
        syscall(SYS_futex, reinterpret_cast<int*>(&gate), FUTEX_WAIT_PRIVATE, kAsleep, nullptr,
                nullptr, 0);
    }
}

// The first of `n` polled descriptors that is ready or shows an error, -2
// for one that is not open, -1 for none.
int readyIndex(const pollfd* f, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (f[i].revents & POLLNVAL) return -2;
        if (f[i].revents & (POLLIN | POLLHUP | POLLERR)) return static_cast<int>(i);
    }
    return -1;
}

void openGate(std::atomic<int>& gate) {
    if (gate.exchange(kOpen, std::memory_order_release) == kAsleep) {
        syscall(SYS_futex, reinterpret_cast<int*>(&gate), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
                0);
    }
}

}  // namespace

// A party run as a fiber: its own stack on the carrier, the thread that
// started it. A thread of its own stands parked beside it as its identity, so
// that pthread_detach() and joining it work as for any thread.
struct Fiber {
    ucontext_t context{};
    void* stack = nullptr;  // nullptr for the carrier's own party
    size_t stackBytes = 0;
    void* (*body)(void*) = nullptr;
    void* arg = nullptr;
    bool started = false;
    sem_t* identityEnd = nullptr;  // posted when the fiber ends; the identity frees it
};

struct Party {
    enum class State { Ready, Running, Sleeping, FdWait, Blocked };
    uint64_t id = 0;
    std::string name;
    pthread_t thread{};
    State state = State::Ready;
    int64_t deadline = kForever;
    std::vector<pollfd> fds;  // what it waits for in FdWait
    bool quiet = false;       // they change only through written()
    // Released at its deadline from a quiet wait: `fds` are kept, idle as
    // the last poll found them.
    bool idleQuiet = false;
    int result = 0;
    const void* lock = nullptr;      // Blocked on this lock
    const Party* joining = nullptr;  // Blocked until this party has left
    // Open once released: the party waits at this gate alone, so that
    // waking it needs neither a condition variable nor the clock's lock.
    std::atomic<int> go{kShut};
    std::unique_ptr<Fiber> fiber;  // run as a fiber on the carrier
};

namespace {
thread_local Party* t_party = nullptr;
}

struct LockState {
    bool held = false;
    Party* owner = nullptr;  // nullptr: free or held by an outsider
    // Waiters in arrival order; an outsider's entry is its grant flag.
    struct Waiter {
        Party* party;
        bool* granted;
    };
    std::deque<Waiter> waiters;
};

struct VirtualClock::State {
    std::mutex m;
    std::condition_variable clockCv;    // the clock's own thread
    std::condition_variable outsideCv;  // outsiders waiting for an instant or a change
    int outsidersWaiting = 0;           // so that a step wakes nobody when nobody waits
    std::condition_variable runCv;      // the caller of run()
    ClockSettings settings;
    std::vector<Party*> parties;  // in the order they joined
    uint64_t nextId = 0;
    int running = 0;
    int holds = 0;         // outside changes being made
    int pendingHolds = 0;  // outside changes waiting for the parties to stop
    std::unordered_map<const void*, LockState> locks;
    std::multiset<int64_t> watchers;  // outsiders' deadlines
    std::multimap<int64_t, std::function<void()>> timed;
    // Pacing: firmware time simBase ran at real time realBase.
    int64_t simBase = VirtualClock::kStartUs;
    int64_t realBase = 0;
    // The run in progress.
    std::mutex runLock;
    bool runActive = false;
    bool runDone = false;
    bool runReached = false;
    int64_t runTarget = 0;
    std::function<bool()> until;
    int64_t wakeRealUs = 0;  // when the clock's thread has to look again (0: when told)
    std::function<void()> firstSettled;
    // Kept between steps so a step allocates nothing.
    std::vector<pollfd> pollSet;
    std::vector<std::pair<Party*, size_t>> pollOwners;  // a party, its first entry
    // Fills pollSet and pollOwners from the parties waiting for descriptors
    // (but the quiet ones while quietClean holds), after `first` entries
    // already there, and polls them all at once.
    void pollWaiting(size_t first);
    // A party that has just polled its own descriptors together with every
    // waiting party's, found its own not ready and waits: the step that
    // follows at once decides on those results, as nothing can have run in
    // between, instead of polling again.
    bool pollFresh = false;
    // The last poll found nothing ready and nothing was written since: quiet
    // descriptors are as that poll left them.
    bool quietClean = false;
    bool waitersQuiet() const {
        for (const Party* p : parties) {
            if (p->state == Party::State::FdWait && !p->quiet) return false;
        }
        return true;
    }

    enum class Step { Released, Idle, Pace };
    Step step(std::unique_lock<std::mutex>& lk);
    void settle(std::unique_lock<std::mutex>& lk);
    void waitReleased(std::unique_lock<std::mutex>& lk, Party* self);  // returns unlocked
    void release(Party* p, int result);
    // Gates of released parties, opened once the clock's lock is let go: a
    // party woken while it is held would at once wait for it, two more
    // switches for every hand-over.
    std::vector<Party*> toOpen;
    void openReleased(std::unique_lock<std::mutex>& lk);
    void finishRun(bool reached);
    void rebase() {
        simBase = g_now.load();
        realBase = realUs();
    }
    bool serial() const { return settings.schedule != Schedule::Parallel; }

    // Schedule::Fibers: the thread the fibers run on (the first party to
    // join), and the parties released to run on it, in the order released.
    struct Carrier {
        bool exists = false;
        pthread_t thread{};
        std::mutex lock;  // guards `ready`
        std::deque<Party*> ready;
        std::atomic<uint32_t> seq{0};  // moves on with every release
        std::atomic<bool> asleep{false};
        Party* starting = nullptr;  // a fiber switched to for the first time
        Party* finished = nullptr;  // ended; its stack goes at the next switch
    } carrier;
    bool startsFiber() const {
        return settings.schedule == Schedule::Fibers && fibersAvailable() && carrier.exists &&
               pthread_equal(pthread_self(), carrier.thread);
    }
    void openParty(Party* p);
    void pushReady(Party* p);
    Party* takeReady();  // blocks the carrier until a fiber is released
    void noteStart(Party* to);
    void switchTo(Party* from, Party* to);
    void carrierWait(Party* self);
    void freeFinished();
    [[noreturn]] void endFiber(Party* self);
    static void fiberMain();
    int startFiber(pthread_t* thread, const char* name, void* (*body)(void*), void* arg);
    void leave(Party* p);
    void pinCallingParty();
    int partyCpu = -1;
    void notifyOutside() {
        if (outsidersWaiting > 0) outsideCv.notify_all();
    }
    template <typename Until>
    void outsideWait(std::unique_lock<std::mutex>& lk, Until until) {
        ++outsidersWaiting;
        outsideCv.wait(lk, until);
        --outsidersWaiting;
    }
    void serveClock();
};

void VirtualClock::State::release(Party* p, int result) {
    p->idleQuiet = result == -1 && p->state == Party::State::FdWait && p->quiet;
    if (!p->idleQuiet) p->fds.clear();
    p->state = Party::State::Running;
    p->result = result;
    p->deadline = kForever;
    p->lock = nullptr;
    ++running;
    toOpen.push_back(p);
}

// Returns with the lock let go.
void VirtualClock::State::openReleased(std::unique_lock<std::mutex>& lk) {
    thread_local std::vector<Party*> batch;
    batch.assign(toOpen.begin(), toOpen.end());
    toOpen.clear();
    lk.unlock();
    for (Party* p : batch) openParty(p);
}

void VirtualClock::State::openParty(Party* p) {
    if (p->fiber) {
        pushReady(p);
    } else {
        openGate(p->go);
    }
}

// From any thread: the carrier runs `p` once the fiber it runs waits.
void VirtualClock::State::pushReady(Party* p) {
    {
        std::lock_guard<std::mutex> l(carrier.lock);
        carrier.ready.push_back(p);
    }
    carrier.seq.fetch_add(1);
    if (carrier.asleep.load()) {
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&carrier.seq), FUTEX_WAKE_PRIVATE, 1,
                nullptr, nullptr, 0);
    }
}

Party* VirtualClock::State::takeReady() {
    for (;;) {
        const uint32_t seen = carrier.seq.load();
        {
            std::lock_guard<std::mutex> l(carrier.lock);
            if (!carrier.ready.empty()) {
                Party* p = carrier.ready.front();
                carrier.ready.pop_front();
                return p;
            }
        }
        // Nothing released: the carrier sleeps until something is (the
        // clock's thread pacing, an outsider's change).
        carrier.asleep.store(true);
        if (carrier.seq.load() == seen) {
            syscall(SYS_futex, reinterpret_cast<uint32_t*>(&carrier.seq), FUTEX_WAIT_PRIVATE, seen,
                    nullptr, nullptr, 0);
        }
        carrier.asleep.store(false);
    }
}

namespace {
VirtualClock::State* g_fiberState = nullptr;  // for a fiber's first frame
}  // namespace

// A fiber switched to for the first time starts in fiberMain(), which
// learns from `carrier.starting` who it is.
void VirtualClock::State::noteStart(Party* to) {
    if (to->fiber->started) return;
    to->fiber->started = true;
    carrier.starting = to;
}

void VirtualClock::State::switchTo(Party* from, Party* to) {
    noteStart(to);
    swapcontext(&from->fiber->context, &to->fiber->context);
    // Back on this party's stack: another fiber released it and waits.
    t_party = from;
    freeFinished();
}

// The calling fiber waits until it is released.
void VirtualClock::State::carrierWait(Party* self) {
    Party* next = takeReady();
    if (next != self) switchTo(self, next);
}

void VirtualClock::State::freeFinished() {
    Party* p = carrier.finished;
    if (p == nullptr) return;
    carrier.finished = nullptr;
    munmap(p->fiber->stack, p->fiber->stackBytes);
    delete p;
}

void VirtualClock::State::endFiber(Party* self) {
    sem_post(self->fiber->identityEnd);  // the identity thread may end, and its joiner go on
    carrier.finished = self;
    Party* next = takeReady();
    noteStart(next);
    setcontext(&next->fiber->context);
    abort();  // setcontext returns only on failure
}

// With the lock held. Only an optimisation: where the CPU may not be used
// the parties run wherever the kernel puts them.
void VirtualClock::State::pinCallingParty() {
    if (!serial()) return;
    if (partyCpu < 0) partyCpu = settings.cpu >= 0 ? settings.cpu : sched_getcpu();
    if (partyCpu < 0 || partyCpu >= CPU_SETSIZE) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(partyCpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

void VirtualClock::State::finishRun(bool reached) {
    runActive = false;
    runDone = true;
    runReached = reached;
    until = nullptr;
    if (settings.paused) rebase();
    runCv.notify_all();
}

// One decision, with every party stopped: who runs next at this instant,
// or how far time moves. Called with the lock held, by the party that just
// started to wait or by the clock's own thread.
VirtualClock::State::Step VirtualClock::State::step(std::unique_lock<std::mutex>& lk) {
    bool fresh = pollFresh;
    pollFresh = false;
    if (running > 0 || holds > 0) return Step::Idle;
    if (firstSettled) {
        fresh = false;
        quietClean = false;
        const std::function<void()> then = std::move(firstSettled);
        firstSettled = nullptr;
        then();
    }
    if (pendingHolds > 0) {
        notifyOutside();
        return Step::Idle;
    }
    if (settings.paused && !runActive) return Step::Idle;
    const bool one = serial();
    bool any = false;

    // Lock hand-overs and new threads, due now.
    for (Party* p : parties) {
        if (p->state == Party::State::Ready) {
            release(p, 0);
            any = true;
            if (one) return Step::Released;
        }
    }
    if (any) return Step::Released;

    // Bytes for a party that waits for them. The poll also pushes what a
    // pseudo-terminal has written across to its other end.
    bool polled = fresh;
    if (!fresh && !(quietClean && waitersQuiet())) {
        pollWaiting(0);
        polled = true;
    }
    const std::vector<pollfd>& fds = pollSet;
    const std::vector<std::pair<Party*, size_t>>& owners = pollOwners;
    for (size_t o = 0; polled && o < owners.size(); ++o) {
        Party* p = owners[o].first;
        const int result = readyIndex(&fds[owners[o].second], p->fds.size());
        if (result == -1) continue;
        release(p, result);
        any = true;
        if (one) return Step::Released;
    }
    if (any) return Step::Released;

    // A party waits for a lock an outsider holds: it is released soon.
    for (Party* p : parties) {
        if (p->state == Party::State::Blocked && p->lock != nullptr) {
            const LockState& l = locks[p->lock];
            if (l.held && l.owner == nullptr) return Step::Idle;
        }
    }

    // Everything due now has run: the run's condition, then time moves.
    const int64_t now = g_now.load();
    if (runActive && until) {
        t_probing = true;
        const bool met = until();
        t_probing = false;
        if (met) {
            finishRun(true);
            if (settings.paused) return Step::Idle;
        }
    }
    int64_t next = kForever;
    for (Party* p : parties) next = std::min(next, p->deadline);
    // An outsider already due has only not woken yet.
    const auto watcher = watchers.upper_bound(now);
    if (watcher != watchers.end()) next = std::min(next, *watcher);
    if (!timed.empty()) next = std::min(next, timed.begin()->first);
    next = std::max(next, now);
    if (runActive && next > runTarget) {
        if (!settings.paused) {
            finishRun(false);
        } else {
            next = runTarget;  // time runs to the end of the run, and stops
        }
    }
    if (next == kForever) return Step::Idle;
    if (settings.paused && !runActive) return Step::Idle;
    if (settings.speed > 0 && next > now) {
        const int64_t due =
            realBase + static_cast<int64_t>(static_cast<double>(next - simBase) / settings.speed);
        const int64_t real = realUs();
        if (real < due) {
            wakeRealUs = due;
            return Step::Pace;
        }
        if (real - due > 20000) {  // fell behind: do not rush to catch up
            simBase = next;
            realBase = real;
        }
    }
    g_now.store(next);
    notifyOutside();

    // Outside changes due now come before the parties.
    if (!timed.empty() && timed.begin()->first <= next) {
        std::function<void()> change = std::move(timed.begin()->second);
        timed.erase(timed.begin());
        quietClean = false;
        ++holds;
        lk.unlock();
        change();
        lk.lock();
        --holds;
        return Step::Released;
    }
    for (Party* p : parties) {
        if (p->deadline <= next &&
            (p->state == Party::State::Sleeping || p->state == Party::State::FdWait)) {
            release(p, -1);
            any = true;
            if (one) return Step::Released;
        }
    }
    if (any) return Step::Released;
    // Only outsiders were due, or the run's end: look again.
    if (runActive && settings.paused && next == runTarget) {
        bool due = false;
        for (Party* p : parties) due = due || p->deadline <= next;
        if (!due) finishRun(false);
    }
    return Step::Idle;
}

void VirtualClock::State::pollWaiting(size_t first) {
    pollSet.resize(first);
    pollOwners.clear();
    const bool loudOnly = quietClean;
    for (Party* p : parties) {
        if (p->state != Party::State::FdWait || (loudOnly && p->quiet)) continue;
        pollOwners.emplace_back(p, pollSet.size());
        pollSet.insert(pollSet.end(), p->fds.begin(), p->fds.end());
    }
    for (pollfd& f : pollSet) f.revents = 0;
    quietClean = pollSet.empty() || poll(pollSet.data(), pollSet.size(), 0) == 0;
}

// Steps until a party runs or nothing more can happen without waiting.
void VirtualClock::State::settle(std::unique_lock<std::mutex>& lk) {
    for (;;) {
        const Step s = step(lk);
        if (s == Step::Released && running == 0 && holds == 0) continue;
        if (s != Step::Released) clockCv.notify_one();
        return;
    }
}

// The calling party waits until it is released, and returns with the
// clock's lock let go: the party that released it may still hold that lock
// on its way to its own wait, and the two need not meet there.
void VirtualClock::State::waitReleased(std::unique_lock<std::mutex>& lk, Party* self) {
    self->go.store(kShut, std::memory_order_relaxed);
    --running;
    settle(lk);
    if (self->fiber && toOpen.size() == 1 && toOpen.front() == self) {
        // Released itself, the only one due: nothing else can be queued
        // while a party runs, so it runs on.
        toOpen.clear();
        lk.unlock();
        return;
    }
    openReleased(lk);
    if (self->fiber) {
        carrierWait(self);
    } else {
        waitAtGate(self->go);
    }
}

void VirtualClock::State::leave(Party* p) {
    std::unique_lock<std::mutex> lk(m);
    parties.erase(std::find(parties.begin(), parties.end(), p));
    for (Party* q : parties) {
        if (q->state == Party::State::Blocked && q->joining == p) {
            q->joining = nullptr;
            if (serial()) {
                q->state = Party::State::Ready;
            } else {
                release(q, 0);
            }
        }
    }
    notifyOutside();
    --running;
    settle(lk);
    openReleased(lk);
}

// The clock's own thread: waits in real time for pacing, and steps when an
// outsider changed something and no party is there to do it.
void VirtualClock::State::serveClock() {
    std::unique_lock<std::mutex> lk(m);
    for (;;) {
        wakeRealUs = 0;
        const Step s = step(lk);
        if (!toOpen.empty()) {
            openReleased(lk);
            lk.lock();
        }
        if (s == Step::Released) continue;
        if (s == Step::Pace && wakeRealUs != 0) {
            clockCv.wait_until(lk, realPoint(wakeRealUs));
        } else {
            clockCv.wait(lk);
        }
    }
}

VirtualClock::VirtualClock() : s_(new State) {
    s_->realBase = realUs();
    // Threads are named by whoever starts them, so a name is there for a
    // debugger as soon as the thread is.
    std::thread clock([s = s_] { s->serveClock(); });
    pthread_setname_np(clock.native_handle(), "sim-clock");
    clock.detach();
}

bool fibersAvailable() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

VirtualClock& clock() {
    // Never destroyed: its thread lives as long as the process.
    static VirtualClock* const instance = new VirtualClock;
    return *instance;
}

int64_t VirtualClock::nowUs() {
    return g_now.load(std::memory_order_acquire);
}

void VirtualClock::configure(const ClockSettings& settings) {
    std::lock_guard<std::mutex> lk(s_->m);
    s_->settings = settings;
    s_->rebase();
    s_->clockCv.notify_one();
}

ClockSettings VirtualClock::settings() const {
    std::lock_guard<std::mutex> lk(s_->m);
    return s_->settings;
}

void VirtualClock::joinCallingThread(const char* name) {
    auto* p = new Party;
    p->name = name;
    p->thread = pthread_self();
    pthread_setname_np(p->thread, name);
    std::lock_guard<std::mutex> lk(s_->m);
    p->id = s_->nextId++;
    p->state = Party::State::Running;
    ++s_->running;
    s_->parties.push_back(p);
    s_->pinCallingParty();
    if (s_->settings.schedule == Schedule::Fibers && fibersAvailable() && !s_->carrier.exists) {
        // The parties this thread starts run on it.
        s_->carrier.exists = true;
        s_->carrier.thread = p->thread;
        p->fiber = std::make_unique<Fiber>();
        g_fiberState = s_;
    }
    t_party = p;
}

bool VirtualClock::isParty() const {
    return t_party != nullptr;
}

bool VirtualClock::partyNameIs(const char* name) const {
    return t_party != nullptr && t_party->name == name;
}

namespace {
struct Start {
    VirtualClock::State* s;
    Party* party;
    void* (*body)(void*);
    void* arg;
};
}  // namespace

namespace {

// A fiber's stack, as large as a thread's by default, with a page below it
// that faults on an overflow.
constexpr size_t kFiberStack = size_t{8} << 20;
constexpr size_t kGuard = 4096;

void* fiberIdentity(void* end) {
    auto* sem = static_cast<sem_t*>(end);
    while (sem_wait(sem) != 0) {
    }
    sem_destroy(sem);
    delete sem;
    return nullptr;
}

}  // namespace

// A fiber's first frame.
void VirtualClock::State::fiberMain() {
    State* const s = g_fiberState;
    Party* const self = s->carrier.starting;
    s->carrier.starting = nullptr;
    t_party = self;
    s->freeFinished();
    self->fiber->body(self->fiber->arg);
    s->leave(self);
    t_party = nullptr;
    s->endFiber(self);
}

int VirtualClock::State::startFiber(pthread_t* thread, const char* name, void* (*body)(void*),
                                    void* arg) {
    auto fiber = std::make_unique<Fiber>();
    void* stack = mmap(nullptr, kFiberStack + kGuard, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) return EAGAIN;
    mprotect(stack, kGuard, PROT_NONE);
    fiber->stack = stack;
    fiber->stackBytes = kFiberStack + kGuard;
    fiber->body = body;
    fiber->arg = arg;
    getcontext(&fiber->context);
    fiber->context.uc_stack.ss_sp = stack;
    fiber->context.uc_stack.ss_size = kFiberStack + kGuard;
    fiber->context.uc_link = nullptr;
    makecontext(&fiber->context, &State::fiberMain, 0);
    auto* end = new sem_t;
    sem_init(end, 0, 0);
    const int err = pthread_create(thread, nullptr, fiberIdentity, end);
    if (err != 0) {
        sem_destroy(end);
        delete end;
        munmap(stack, kFiberStack + kGuard);
        return err;
    }
    pthread_setname_np(*thread, std::string(name).substr(0, 15).c_str());
    fiber->identityEnd = end;
    auto* p = new Party;
    p->name = name;
    p->thread = *thread;
    p->fiber = std::move(fiber);
    std::lock_guard<std::mutex> lk(m);
    p->id = nextId++;
    parties.push_back(p);  // Ready: it runs once its starter waits
    return 0;
}

int VirtualClock::startParty(pthread_t* thread, const char* name, void* (*body)(void*), void* arg) {
    if (s_->startsFiber()) return s_->startFiber(thread, name, body, arg);
    auto* p = new Party;
    p->name = name;
    {
        std::lock_guard<std::mutex> lk(s_->m);
        p->id = s_->nextId++;
        // Serially a new thread runs once its starter waits; side by side at once.
        if (!s_->serial()) {
            p->state = Party::State::Running;
            p->go.store(kOpen, std::memory_order_relaxed);
            ++s_->running;
        }
        s_->parties.push_back(p);
    }
    auto* start = new Start{s_, p, body, arg};
    const int err = pthread_create(
        thread, nullptr,
        [](void* a) -> void* {
            std::unique_ptr<Start> st(static_cast<Start*>(a));
            Party* self = st->party;
            t_party = self;
            {
                std::lock_guard<std::mutex> lk(st->s->m);
                self->thread = pthread_self();
                st->s->pinCallingParty();
            }
            waitAtGate(self->go);
            void* result = st->body(st->arg);
            st->s->leave(self);
            t_party = nullptr;
            delete self;
            return result;
        },
        start);
    if (err == 0) pthread_setname_np(*thread, std::string(name).substr(0, 15).c_str());
    std::lock_guard<std::mutex> lk(s_->m);
    if (err != 0) {
        delete start;
        if (p->state == Party::State::Running) --s_->running;
        s_->parties.erase(std::find(s_->parties.begin(), s_->parties.end(), p));
        delete p;
        return err;
    }
    p->thread = *thread;
    s_->clockCv.notify_one();  // an outsider started it: someone has to let it run
    return 0;
}

void VirtualClock::sleepUntil(int64_t deadline) {
    std::unique_lock<std::mutex> lk(s_->m);
    if (deadline <= g_now.load()) return;
    if (Party* self = t_party) {
        self->state = Party::State::Sleeping;
        self->deadline = deadline;
        s_->waitReleased(lk, self);
        return;
    }
    if (s_->parties.empty() && s_->timed.empty() && !s_->settings.paused &&
        s_->settings.speed == 0) {
        g_now.store(deadline);  // nobody else to wait for (a fuzz target, a tool)
        s_->notifyOutside();
        return;
    }
    auto at = s_->watchers.insert(deadline);
    s_->clockCv.notify_one();
    s_->outsideWait(lk, [deadline] { return g_now.load() >= deadline; });
    s_->watchers.erase(at);
}

int VirtualClock::waitReadable(const int* fds, int count, int64_t deadline, bool quiet) {
    std::vector<pollfd> p(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) p[static_cast<size_t>(i)] = pollfd{fds[i], POLLIN, 0};
    const auto ready = [&p]() {
        return poll(p.data(), p.size(), 0) <= 0 ? -1 : readyIndex(p.data(), p.size());
    };
    const auto finish = [](int r) {
        if (r <= -2) {
            errno = EBADF;
            return -2;
        }
        return r;
    };
    std::unique_lock<std::mutex> lk(s_->m);
    Party* const self = t_party;
    // `polledAll`: the poll just made covered every waiting party too.
    const auto waitAsParty = [&](bool polledAll) {
        self->state = Party::State::FdWait;
        self->fds = p;
        self->quiet = quiet;
        self->deadline = deadline;
        s_->pollFresh = polledAll;
        s_->waitReleased(lk, self);
        return finish(self->result);
    };
    if (self != nullptr && s_->serial()) {
        const auto same = [&p](const std::vector<pollfd>& kept) {
            return std::equal(p.begin(), p.end(), kept.begin(), kept.end(),
                              [](const pollfd& a, const pollfd& b) { return a.fd == b.fd; });
        };
        // Waiting again on the quiet descriptors it was idle on, with
        // nothing written since: they are idle still, and the step polls
        // the others' if they need it.
        const bool idle = quiet && self->idleQuiet && s_->quietClean && same(self->fds);
        self->idleQuiet = false;
        if (idle) return deadline <= g_now.load() ? -1 : waitAsParty(false);
        // One poll for its own descriptors and every waiting party's.
        s_->pollSet.assign(p.begin(), p.end());
        s_->pollWaiting(p.size());
        const int r = readyIndex(s_->pollSet.data(), p.size());
        if (r != -1 || deadline <= g_now.load()) return finish(r);
        return waitAsParty(true);
    }
    int r = ready();
    if (r != -1 || deadline <= g_now.load()) return finish(r);
    if (self != nullptr) return waitAsParty(false);
    // An outsider: looks again at every step of time, and now and then in
    // case another outsider is the writer.
    auto at = s_->watchers.insert(deadline);
    s_->clockCv.notify_one();
    while ((r = ready()) == -1 && g_now.load() < deadline) {
        ++s_->outsidersWaiting;
        s_->outsideCv.wait_for(lk, std::chrono::milliseconds(1));
        --s_->outsidersWaiting;
    }
    s_->watchers.erase(at);
    return finish(r);
}

void VirtualClock::lock(const void* mutex) {
    if (t_probing) return;
    std::unique_lock<std::mutex> lk(s_->m);
    LockState& l = s_->locks[mutex];
    Party* self = t_party;
    if (!l.held) {
        l.held = true;
        l.owner = self;
        return;
    }
    if (self != nullptr) {
        l.waiters.push_back({self, nullptr});
        self->state = Party::State::Blocked;
        self->lock = mutex;
        s_->waitReleased(lk, self);
        return;
    }
    bool granted = false;
    l.waiters.push_back({nullptr, &granted});
    s_->outsideWait(lk, [&granted] { return granted; });
}

void VirtualClock::unlock(const void* mutex) {
    if (t_probing) return;
    std::unique_lock<std::mutex> lk(s_->m);
    LockState& l = s_->locks[mutex];
    if (l.waiters.empty()) {
        l.held = false;
        l.owner = nullptr;
        return;
    }
    const LockState::Waiter next = l.waiters.front();
    l.waiters.pop_front();
    l.owner = next.party;
    if (next.party == nullptr) {
        *next.granted = true;
        s_->notifyOutside();
        return;
    }
    if (s_->serial()) {
        next.party->state = Party::State::Ready;
    } else {
        s_->release(next.party, 0);
    }
    if (t_party == nullptr) s_->clockCv.notify_one();
    s_->openReleased(lk);
}

void VirtualClock::join(pthread_t thread) {
    {
        std::unique_lock<std::mutex> lk(s_->m);
        const auto find = [this, thread]() -> Party* {
            for (Party* p : s_->parties) {
                if (pthread_equal(p->thread, thread)) return p;
            }
            return nullptr;
        };
        if (Party* target = find()) {
            if (Party* self = t_party) {
                self->state = Party::State::Blocked;
                self->joining = target;
                s_->waitReleased(lk, self);
            } else {
                s_->outsideWait(lk, [&find] { return find() == nullptr; });
            }
        }
    }
    pthread_join(thread, nullptr);
}

void VirtualClock::inject(const std::function<void()>& change) {
    std::unique_lock<std::mutex> lk(s_->m);
    ++s_->pendingHolds;
    s_->clockCv.notify_one();
    s_->outsideWait(lk, [this] { return s_->running == 0 && s_->holds == 0; });
    --s_->pendingHolds;
    s_->quietClean = false;
    ++s_->holds;
    lk.unlock();
    change();
    lk.lock();
    --s_->holds;
    s_->clockCv.notify_one();
}

void VirtualClock::at(int64_t at_us, std::function<void()> change) {
    std::lock_guard<std::mutex> lk(s_->m);
    s_->timed.emplace(std::max(at_us, g_now.load()), std::move(change));
    s_->clockCv.notify_one();
}

RunResult VirtualClock::run(int64_t for_us, std::function<bool()> until) {
    std::lock_guard<std::mutex> one(s_->runLock);
    std::unique_lock<std::mutex> lk(s_->m);
    s_->runActive = true;
    s_->runDone = false;
    s_->runReached = false;
    s_->runTarget = g_now.load() + std::max<int64_t>(for_us, 0);
    s_->until = std::move(until);
    s_->rebase();
    s_->clockCv.notify_one();
    s_->runCv.wait(lk, [this] { return s_->runDone; });
    return RunResult{s_->runReached, g_now.load()};
}

void VirtualClock::whenFirstSettled(std::function<void()> then) {
    std::lock_guard<std::mutex> lk(s_->m);
    s_->firstSettled = std::move(then);
}

void VirtualClock::written() {
    std::lock_guard<std::mutex> lk(s_->m);
    s_->quietClean = false;
    // A party steps when it waits; for an outsider the clock's thread does.
    if (t_party == nullptr) s_->clockCv.notify_one();
}

void VirtualClock::poke() {
    std::lock_guard<std::mutex> lk(s_->m);
    s_->quietClean = false;
    s_->clockCv.notify_one();
}

PartyThread::PartyThread(const char* name, std::function<void()> body) : body_(std::move(body)) {
    joinable_ = clock().startParty(
                    &thread_, name,
                    [](void* self) -> void* {
                        static_cast<PartyThread*>(self)->body_();
                        return nullptr;
                    },
                    this) == 0;
}

PartyThread::~PartyThread() {
    join();
}

void PartyThread::join() {
    if (!joinable_) return;
    joinable_ = false;
    clock().join(thread_);
}

}  // namespace sim
