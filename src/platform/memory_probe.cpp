// The kernel copies on our behalf with process_vm_readv/process_vm_writev on
// our own process: an unmapped or protected range gives EFAULT. Where those
// calls are not permitted (some sandboxes refuse them), a pipe does the same
// job: write() from an unreadable buffer and read() into an unwritable one
// fail with EFAULT as well.
#include "platform/memory_probe.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace qotool::platform {

namespace {

constexpr size_t kChunk = 4096;
constexpr size_t kFirstRead = 64;  // most strings are short: read a little first
constexpr size_t kMaxProbes = 8;

size_t PageSize() {
    static const size_t size = [] {
        long n = sysconf(_SC_PAGESIZE);
        return n > 0 ? (size_t)n : (size_t)4096;
    }();
    return size;
}

// Set once the process_vm_* calls turned out to be refused.
std::atomic<bool> g_usePipe{false};

// Our process id, cached (a fork gives the child its own).
std::atomic<pid_t> g_pid{0};

pid_t Self() {
    pid_t pid = g_pid.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const bool forkHandler = [] {
            pthread_atfork(nullptr, nullptr, [] { g_pid.store(0, std::memory_order_relaxed); });
            return true;
        }();
        (void)forkHandler;
        pid = getpid();
        g_pid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

class ProbePipe {
public:
    // Copies n (<= kChunk) bytes from src to dst through the pipe; false
    // when src cannot be read or dst cannot be written.
    bool Copy(void* dst, const void* src, size_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Open()) return false;
        ssize_t written;
        do written = write(fds_[1], src, n);
        while (written < 0 && errno == EINTR);
        if (written <= 0) return false;
        bool ok = (size_t)written == n;
        char sink[kChunk];
        ssize_t got;
        do got = read(fds_[0], ok ? dst : sink, (size_t)written);
        while (got < 0 && errno == EINTR);
        if (got < 0) {  // dst not writable: drain into our own buffer
            ok = false;
            do got = read(fds_[0], sink, (size_t)written);
            while (got < 0 && errno == EINTR);
        }
        return ok && got == written;
    }

private:
    bool Open() {
        if (fds_[0] >= 0) return true;
        return pipe2(fds_, O_CLOEXEC) == 0;
    }
    std::mutex mutex_;
    int fds_[2] = {-1, -1};
};

ProbePipe& Pipe() {
    static ProbePipe* pipe = new ProbePipe;  // lives until exit, on purpose
    return *pipe;
}

// Copies n bytes from remote (unknown memory) to local (ours).
bool CopyIn(void* local, const void* remote, size_t n) {
    if (n == 0) return true;
    if (!g_usePipe.load(std::memory_order_relaxed)) {
        iovec to{local, n};
        iovec from{const_cast<void*>(remote), n};
        ssize_t got = process_vm_readv(Self(), &to, 1, &from, 1, 0);
        if (got >= 0) return (size_t)got == n;
        if (errno == EFAULT) return false;
        g_usePipe.store(true, std::memory_order_relaxed);
    }
    for (size_t done = 0; done < n; done += kChunk) {
        size_t part = std::min(kChunk, n - done);
        if (!Pipe().Copy((char*)local + done, (const char*)remote + done, part)) return false;
    }
    return true;
}

// The page-aligned address at or below p.
uintptr_t PageOf(uintptr_t p) { return p - p % PageSize(); }

// The first chunk to read of a string at p: short, within p's page.
size_t FirstChunk(const char* p) { return std::min(kFirstRead, PageSize() - (uintptr_t)p % PageSize()); }

// ReadableStringLength from `from` on, the string's bytes before it known.
bool LengthFrom(const char* p, size_t from, size_t want, size_t* length) {
    char buf[kChunk];
    uintptr_t at = (uintptr_t)p + from;
    size_t total = from;
    for (;;) {
        size_t toPageEnd = PageSize() - at % PageSize();
        size_t n = std::min({want, toPageEnd, sizeof buf});
        if (at > UINTPTR_MAX - n || !CopyIn(buf, (const void*)at, n)) return false;
        if (const void* zero = memchr(buf, 0, n)) {
            *length = total + (size_t)((const char*)zero - buf);
            return true;
        }
        total += n;
        at += n;
        want = std::min(want * 4, sizeof buf);
    }
}

}  // namespace

bool IsReadable(const void* p, size_t n) {
    if (n == 0) return true;
    uintptr_t first = (uintptr_t)p;
    if (first == 0 || n - 1 > UINTPTR_MAX - first) return false;
    uintptr_t last = first + (n - 1);
    // Access rights are per page: one byte of every page in the range tells.
    char byte;
    for (uintptr_t page = PageOf(first);; page += PageSize()) {
        uintptr_t at = std::max(page, first);
        if (!CopyIn(&byte, (const void*)at, 1)) return false;
        if (PageOf(last) == page) return true;
    }
}

bool ReadableStringLength(const char* p, size_t* length) {
    if (!p) return false;
    return LengthFrom(p, 0, kFirstRead, length);
}

void ProbeStrings(const char* const* strings, size_t count, size_t* lengths, bool* readable) {
    char first[kMaxProbes][kFirstRead];
    iovec to[kMaxProbes], from[kMaxProbes];
    size_t n = 0, total = 0;
    bool together = count <= kMaxProbes && !g_usePipe.load(std::memory_order_relaxed);
    for (size_t i = 0; together && i < count; ++i) {
        if (!strings[i]) continue;
        size_t chunk = FirstChunk(strings[i]);
        to[n] = iovec{first[n], chunk};
        from[n] = iovec{const_cast<char*>(strings[i]), chunk};
        total += chunk;
        ++n;
    }
    // One call reads the start of every string; any failure is sorted out
    // string by string.
    if (together && n > 0 && process_vm_readv(Self(), to, n, from, n, 0) != (ssize_t)total) together = false;
    for (size_t i = 0, k = 0; i < count; ++i) {
        if (!strings[i]) {
            readable[i] = false;
            continue;
        }
        if (!together) {
            readable[i] = ReadableStringLength(strings[i], &lengths[i]);
            continue;
        }
        const size_t chunk = to[k].iov_len;
        if (const void* zero = memchr(first[k], 0, chunk)) {
            lengths[i] = (size_t)((const char*)zero - first[k]);
            readable[i] = true;
        } else {
            readable[i] = LengthFrom(strings[i], chunk, kFirstRead * 4, &lengths[i]);
        }
        ++k;
    }
}

bool TryStoreByte(void* p, char value) {
    if (!p) return false;
    if (!g_usePipe.load(std::memory_order_relaxed)) {
        iovec from{&value, 1};
        iovec to{p, 1};
        ssize_t put = process_vm_writev(Self(), &from, 1, &to, 1, 0);
        if (put >= 0) return put == 1;
        if (errno == EFAULT) return false;
        g_usePipe.store(true, std::memory_order_relaxed);
    }
    return Pipe().Copy(p, &value, 1);
}

bool TryRead(void* to, const void* from, size_t n) {
    if (n == 0) return true;
    if (!from || (uintptr_t)from > UINTPTR_MAX - (n - 1)) return false;
    return CopyIn(to, from, n);
}

bool TryWrite(void* to, const void* from, size_t n) {
    if (n == 0) return true;
    if (!to || (uintptr_t)to > UINTPTR_MAX - (n - 1)) return false;
    if (!g_usePipe.load(std::memory_order_relaxed)) {
        iovec local{const_cast<void*>(from), n};
        iovec remote{to, n};
        ssize_t put = process_vm_writev(Self(), &local, 1, &remote, 1, 0);
        if (put >= 0) return (size_t)put == n;
        if (errno == EFAULT) return false;
        g_usePipe.store(true, std::memory_order_relaxed);
    }
    for (size_t done = 0; done < n; done += kChunk) {
        size_t part = std::min(kChunk, n - done);
        if (!Pipe().Copy((char*)to + done, (const char*)from + done, part)) return false;
    }
    return true;
}

void MakePagesPresent(void* p, size_t size) {
#ifdef MADV_POPULATE_WRITE
    // Asked each time, not kept in a guarded static: qol calls this on its
    // own zero-initialised data before anything there is read.
    const uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    const uintptr_t lo = ((uintptr_t)p + page - 1) & ~(page - 1);
    const uintptr_t hi = ((uintptr_t)p + size) & ~(page - 1);
    if (hi > lo) madvise((void*)lo, hi - lo, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)size;
#endif
}

}  // namespace qotool::platform
