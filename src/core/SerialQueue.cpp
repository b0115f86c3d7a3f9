#include "core/SerialQueue.h"

#include "core/HandOff.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <cassert>

namespace harkwell {

SerialQueue::SerialQueue(const std::string& label) : thread_(std::make_unique<QThread>()) {
    thread_->setObjectName(QString::fromStdString(label));
    context_ = std::make_unique<QObject>();
    context_->moveToThread(thread_.get());
    thread_->start();
}

SerialQueue::~SerialQueue() {
    // Work queued before now still runs; the context then goes with the thread's last event.
    sync([] {});
    thread_->quit();
    thread_->wait();
    context_.reset();
}

void SerialQueue::async(std::function<void()> work) { handOff(context_.get(), std::move(work)); }

void SerialQueue::sync(const std::function<void()>& work) {
    assert(!isCurrent());
    // Qt waits for the work inside itself, unseen by ThreadSanitizer: what the work did is
    // released after it and acquired here.
    QMetaObject::invokeMethod(context_.get(), HandedOver([&work] {
                                  work();
                                  tsanRelease(&work);
                              }),
                              Qt::BlockingQueuedConnection);
    tsanAcquire(&work);
}

bool SerialQueue::isCurrent() const { return QThread::currentThread() == thread_.get(); }

} // namespace harkwell
