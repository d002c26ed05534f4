#include "run/Scheduler.h"

#include <QMetaObject>
#include <QObject>
#include <QRunnable>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "hooks/Events.h"

namespace lanshu {

QtScheduler::QtScheduler() : context_(std::make_unique<QObject>()), pool_(std::make_unique<QThreadPool>()) {
  // Page requests of two runs and a batch of redirect links at once.
  pool_->setMaxThreadCount(4);
}

QtScheduler::~QtScheduler() {
  context_.reset();  // nothing more is called back
  pool_->waitForDone();
}

void QtScheduler::After(int ms, std::function<void()> fn) {
  if (ms <= 0) {
    QMetaObject::invokeMethod(context_.get(), std::move(fn), Qt::QueuedConnection);
    return;
  }
  QTimer::singleShot(ms, Qt::PreciseTimer, context_.get(), std::move(fn));
}

void QtScheduler::Background(std::function<void()> work, std::function<void()> then) {
  QObject* context = context_.get();
  pool_->start([work = std::move(work), then = std::move(then), context]() mutable {
    work();
    // Delivered on the scheduler's thread, or dropped with its context.
    QMetaObject::invokeMethod(context, std::move(then), Qt::QueuedConnection);
  });
}

void SteppedScheduler::After(int ms, std::function<void()> fn) {
  tasks_.push_back({Clock::now() + std::chrono::milliseconds(std::max(ms, 0)), next_++, std::move(fn)});
}

void SteppedScheduler::Background(std::function<void()> work, std::function<void()> then) {
  work();
  After(0, std::move(then));
}

void SteppedScheduler::RunWhile(const std::function<bool()>& going) {
  while (going() && !tasks_.empty()) {
    auto first = std::min_element(tasks_.begin(), tasks_.end(), [](const Task& a, const Task& b) {
      return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
    const Clock::time_point now = Clock::now();
    if (first->due > now) {
      // Events while waiting: one of them may ask for something sooner.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(first->due - now).count();
      WaitProcessingEvents(static_cast<int>(std::clamp<long long>(left, 1, 10)));
      continue;
    }
    std::function<void()> fn = std::move(first->fn);
    tasks_.erase(first);
    fn();
  }
}

}  // namespace lanshu
