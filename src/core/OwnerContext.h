#pragma once

#include <functional>
#include <memory>
#include <type_traits>

class QObject;

namespace harkwell {

// The way back to an object for work done elsewhere: work handed in runs on the thread the object
// lives on, and only while the object lives. The object keeps an OwnerContext as a member, made and
// destroyed on its own thread; destroying it drops the work still queued for the object, and every
// later hand-in does nothing. Other threads, and callbacks that may outlive the object, hold a
// Handle, which stays safe to use after the object has gone.
//
// Built on handOff (QMetaObject::invokeMethod) with a context object that lives on the owner's thread; a lock
// keeps a hand-in from racing with the owner's destruction.
class OwnerContext {
    struct Shared;

public:
    // A copyable hand-in point, for any thread.
    class Handle {
    public:
        Handle() = default;

        // Runs work on the owner's thread later, if the owner still lives then.
        void post(std::function<void()> work) const;
        // Whether the owner still lives. On the owner's own thread the answer holds until it
        // returns to its event loop; elsewhere it may be out of date at once, which suits a worker
        // that only wants to skip work nobody waits for any more.
        bool isAlive() const;

        // A callback for other threads: each call posts work with the call's arguments (copied).
        template <typename... Args>
        std::function<void(Args...)> bind(std::type_identity_t<std::function<void(Args...)>> work) const {
            return [handle = *this, work = std::move(work)](Args... args) {
                handle.post([work, args...] { work(args...); });
            };
        }
        // A callback for the owner's own thread: runs work at once while the owner lives, and does
        // nothing once it has gone.
        template <typename... Args>
        std::function<void(Args...)> guard(std::type_identity_t<std::function<void(Args...)>> work) const {
            return [handle = *this, work = std::move(work)](Args... args) {
                if (handle.isAlive()) {
                    work(args...);
                }
            };
        }

    private:
        friend class OwnerContext;
        explicit Handle(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
        std::shared_ptr<Shared> shared_;
    };

    // For an owner that lives on the calling thread.
    OwnerContext();
    ~OwnerContext();
    OwnerContext(const OwnerContext&) = delete;
    OwnerContext& operator=(const OwnerContext&) = delete;

    Handle handle() const { return Handle(shared_); }
    void post(std::function<void()> work) const { handle().post(std::move(work)); }
    template <typename... Args>
    std::function<void(Args...)> bind(std::type_identity_t<std::function<void(Args...)>> work) const {
        return handle().bind<Args...>(std::move(work));
    }
    template <typename... Args>
    std::function<void(Args...)> guard(std::type_identity_t<std::function<void(Args...)>> work) const {
        return handle().guard<Args...>(std::move(work));
    }

private:
    std::unique_ptr<QObject> context_;
    std::shared_ptr<Shared> shared_;
};

} // namespace harkwell
