#pragma once

#include <QMetaObject>
#include <QObject>

#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define HARKWELL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HARKWELL_THREAD_SANITIZER 1
#endif
#endif
#ifdef HARKWELL_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace harkwell {

// Tell ThreadSanitizer that what one thread did before releasing an address happens before
// what another does after acquiring it, for hand-overs it cannot see; nothing in other builds.
inline void tsanRelease([[maybe_unused]] const void* address) {
#ifdef HARKWELL_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(address));
#endif
}
inline void tsanAcquire([[maybe_unused]] const void* address) {
#ifdef HARKWELL_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(address));
#endif
}

// Work for another thread's event loop. Qt's event queue is locked inside Qt, which is not built
// with ThreadSanitizer, so the sanitizer would take everything the work captured for a race with
// its writing on the posting thread. Qt moves the work into its event once, on the posting thread,
// before it queues it: that move releases the work's address, and running or dropping the work
// acquires it. The run releases it again, for Qt may destroy the work on the posting thread.
template <typename Work>
class HandedOver {
public:
    explicit HandedOver(Work work) : work_(std::move(work)) {}
    HandedOver(HandedOver&& other) noexcept(std::is_nothrow_move_constructible_v<Work>)
        : work_(std::move(other.work_)) {
        tsanRelease(this);
    }
    HandedOver(const HandedOver& other) : work_(other.work_) { tsanRelease(this); }
    HandedOver& operator=(const HandedOver&) = delete;
    ~HandedOver() { tsanAcquire(this); }

    template <typename... Args>
    decltype(auto) operator()(Args&&... args) {
        tsanAcquire(this);
        const ReleaseOnExit releaseOnExit{this};
        return work_(std::forward<Args>(args)...);
    }

private:
    struct ReleaseOnExit {
        const void* address;
        ~ReleaseOnExit() { tsanRelease(address); }
    };
    Work work_;
};

// Runs work later on the thread of context, through its event loop, unless context is gone by
// then. Safe to call from any thread.
template <typename Work>
void handOff(QObject* context, Work&& work) {
    QMetaObject::invokeMethod(context, HandedOver<std::decay_t<Work>>(std::forward<Work>(work)), Qt::QueuedConnection);
}

} // namespace harkwell
