#include "core/OwnerContext.h"

#include "core/HandOff.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <cassert>
#include <mutex>

namespace harkwell {

struct OwnerContext::Shared {
    std::mutex mutex;
    QObject* context = nullptr; // none once the owner has gone
};

OwnerContext::OwnerContext() : context_(std::make_unique<QObject>()), shared_(std::make_shared<Shared>()) {
    shared_->context = context_.get();
}

OwnerContext::~OwnerContext() {
    assert(context_->thread() == QThread::currentThread());
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->context = nullptr;
    }
    // The context takes the work still queued for it along.
    context_.reset();
}

void OwnerContext::Handle::post(std::function<void()> work) const {
    if (!shared_) {
        return;
    }
    const std::lock_guard lock(shared_->mutex);
    if (shared_->context) {
        handOff(shared_->context, std::move(work));
    }
}

bool OwnerContext::Handle::isAlive() const {
    if (!shared_) {
        return false;
    }
    const std::lock_guard lock(shared_->mutex);
    return shared_->context != nullptr;
}

} // namespace harkwell
