#include "core/SerialQueue.h"

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
    QMetaObject::invokeMethod(
        context_.get(), [] {}, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    context_.reset();
}

void SerialQueue::async(std::function<void()> work) {
    QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

void SerialQueue::sync(const std::function<void()>& work) {
    assert(!isCurrent());
    QMetaObject::invokeMethod(context_.get(), work, Qt::BlockingQueuedConnection);
}

bool SerialQueue::isCurrent() const { return QThread::currentThread() == thread_.get(); }

} // namespace harkwell
