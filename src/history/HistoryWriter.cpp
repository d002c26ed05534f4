#include "history/HistoryWriter.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <exception>
#include <map>
#include <set>

namespace lanshu::history {

RunWrites::RunWrites(HistoryStore* store, std::optional<std::string> database, std::string unavailable,
                     QString sqlRoot)
    : store_(store),
      database_(std::move(database)),
      unavailable_(std::move(unavailable)),
      sqlRoot_(std::move(sqlRoot)) {}

// Reached only while the run is being recorded, and it ends that: a run's
// failure is told once.
void RunWrites::Fail(RunHandle run, std::string reason, std::vector<WriteEvent>& events) {
  failed_.insert(run);
  WriteEvent e;
  e.type = WriteEvent::Type::kFailed;
  e.run = run;
  e.reason = reason.empty() ? std::string("the history store failed") : std::move(reason);
  events.push_back(std::move(e));
}

std::optional<std::int64_t> RunWrites::IdOf(RunHandle run) const {
  const auto it = ids_.find(run);
  if (it == ids_.end()) return std::nullopt;
  return it->second;
}

bool RunWrites::Apply(const Write& w, std::vector<WriteEvent>& events) {
  if (const auto* begin = std::get_if<BeginWrite>(&w)) {
    if (store_ && database_ && !store_->IsOpen()) store_->Open(*database_, sqlRoot_);
    if (!store_ || !store_->IsOpen()) {
      Fail(begin->run, !unavailable_.empty() ? unavailable_ : store_ ? store_->LastError() : std::string(), events);
      return false;
    }
    // A retry names the run it continues only when that run was stored.
    const std::int64_t continues = Recording(begin->continues) ? *IdOf(begin->continues) : 0;
    try {
      const std::optional<std::int64_t> id =
          begin->goesOn != 0 ? std::optional<std::int64_t>(begin->goesOn)
                             : store_->BeginRun(begin->kind, begin->targets, begin->settings, begin->started,
                                                begin->columns, continues, begin->plan);
      if (!id) {
        Fail(begin->run, store_->LastError(), events);
        return false;
      }
      ids_[begin->run] = *id;
      WriteEvent e;
      e.type = WriteEvent::Type::kBegun;
      e.run = begin->run;
      e.id = *id;
      events.push_back(std::move(e));
      return true;
    } catch (const std::exception& e) {
      Fail(begin->run, e.what(), events);
      return false;
    }
  }
  if (const auto* call = std::get_if<StoreCall>(&w)) {
    if (store_ && database_ && !store_->IsOpen()) store_->Open(*database_, sqlRoot_);
    bool ok = false;
    try {
      ok = store_ && store_->IsOpen() && call->call(*store_, Recording(call->run) ? *IdOf(call->run) : 0);
    } catch (const std::exception&) {
      ok = false;
    }
    if (call->done) call->done->set_value(ok);
    return ok;
  }
  if (const auto* page = std::get_if<PageWrite>(&w)) {
    if (!Recording(page->run)) return true;
    try {
      if (store_->StorePage(*IdOf(page->run), page->page)) return true;
      // Another process holds the target now and stores the page itself.
      if (store_->LastError() == "lease lost") return true;
      Fail(page->run, store_->LastError(), events);
    } catch (const std::exception& e) {
      Fail(page->run, e.what(), events);
    }
    return false;
  }
  const auto& finish = std::get<FinishWrite>(w);
  bool stored = true;
  if (Recording(finish.run)) {
    try {
      const std::int64_t id = *IdOf(finish.run);
      Ending how = finish.how;
      bool mine = true;
      if (finish.whenComplete) {
        const std::optional<QueueProgress> progress = store_->Progress(id);
        mine = progress && progress->Complete();
        const std::optional<std::vector<PageRecord>> pages = mine ? store_->LoadPages(id) : std::nullopt;
        if (pages)
          for (const PageRecord& p : *pages)
            if (p.outcome == Outcome::kBlocked) how = Ending::kBlocked;
      }
      stored = !mine || store_->FinishRun(id, how, finish.finished, finish.reason);
      if (!stored) Fail(finish.run, store_->LastError(), events);
    } catch (const std::exception& e) {
      stored = false;
      Fail(finish.run, e.what(), events);
    }
  }
  WriteEvent e;
  e.type = WriteEvent::Type::kFinished;
  e.run = finish.run;
  events.push_back(std::move(e));
  return stored;
}

std::string UnstoredText(const std::vector<UnstoredRun>& runs, std::chrono::milliseconds waited) {
  std::string text;
  for (const UnstoredRun& run : runs) {
    if (!text.empty()) text += ", ";
    const std::string pages = std::to_string(run.pages) + (run.pages == 1 ? " page" : " pages");
    if (run.id == 0) {
      text += run.kind == RunKind::kRank ? "a rank run" : "a mining run";
      if (run.pages > 0) text += " with " + pages;
    } else if (run.pages > 0) {
      text += pages + (run.ending ? " and the ending of run " : " of run ") + std::to_string(run.id);
    } else {
      text += "the ending of run " + std::to_string(run.id);
    }
  }
  const long long ms = static_cast<long long>(waited.count());
  text += " not stored: the database did not answer within ";
  text += ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
  return text;
}

HistoryWriter::HistoryWriter(std::string database, QString sqlRoot)
    : writes_(std::make_unique<RunWrites>(&store_, std::move(database), std::string(), std::move(sqlRoot))),
      context_(std::make_unique<QObject>()) {
  thread_.reset(QThread::create([this] { Loop(); }));
  thread_->setObjectName(QStringLiteral("history writer"));
  thread_->start();
}

HistoryWriter::~HistoryWriter() {
  Drain(kDrainBudget);
  // Events still posted go with it.
  context_.reset();
}

bool HistoryWriter::Call(std::function<bool(HistoryStore&)> call, std::chrono::milliseconds budget) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (drained_) return false;
  }
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> answer = done->get_future();
  Queue(StoreCall{0, [call = std::move(call)](HistoryStore& store, std::int64_t) { return call(store); }, done});
  if (answer.wait_for(budget) != std::future_status::ready) return false;
  try {
    return answer.get();
  } catch (const std::future_error&) {
    return false;  // given up on at the end
  }
}

void HistoryWriter::Do(std::function<bool(HistoryStore&)> call) {
  Queue(StoreCall{0, [call = std::move(call)](HistoryStore& store, std::int64_t) { return call(store); }, nullptr});
}

void HistoryWriter::Queue(Write w) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (drained_) return;
    if (std::holds_alternative<PageWrite>(w)) ++pagesQueued_;
    queue_.push_back(std::move(w));
    ++queuedCount_;
  }
  wake_.notify_one();
}

std::size_t HistoryWriter::QueuedPages() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return static_cast<std::size_t>(pagesQueued_ - pagesApplied_);
}

std::size_t HistoryWriter::Queued() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return static_cast<std::size_t>(queuedCount_ - appliedCount_);
}

void HistoryWriter::Loop() {
  for (;;) {
    Write w;
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [this] { return stop_ || abandon_ || !queue_.empty(); });
      if (abandon_ || queue_.empty()) break;
      w = std::move(queue_.front());
      queue_.pop_front();
    }
    std::vector<WriteEvent> events;
    const bool stored = writes_->Apply(w, events);
    {
      const std::lock_guard<std::mutex> hold(lock_);
      ++appliedCount_;
      if (std::holds_alternative<PageWrite>(w)) ++pagesApplied_;
      if (abandon_ && !stored) {
        // Broken off because the end gave up on it: told as not stored, not
        // as a failure of the store.
        lost_.push_back(std::move(w));
      } else if (!events.empty()) {
        outbox_.insert(outbox_.end(), std::make_move_iterator(events.begin()), std::make_move_iterator(events.end()));
        if (!posted_) {
          posted_ = true;
          QMetaObject::invokeMethod(context_.get(), [this] { Deliver(); }, Qt::QueuedConnection);
        }
      }
    }
    applied_.notify_all();
  }
  // The connection belongs to this thread.
  store_.Close();
}

void HistoryWriter::Deliver() {
  std::vector<WriteEvent> events;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    events.swap(outbox_);
    posted_ = false;
  }
  for (const WriteEvent& e : events)
    if (onEvent) onEvent(e);
}

bool HistoryWriter::Settle(std::chrono::milliseconds budget) {
  bool done;
  {
    std::unique_lock<std::mutex> hold(lock_);
    const std::uint64_t target = queuedCount_;
    // After the end nothing more is applied: no use waiting.
    applied_.wait_for(hold, budget, [&] { return appliedCount_ >= target || stop_; });
    done = appliedCount_ >= target;
  }
  Deliver();
  return done;
}

std::vector<UnstoredRun> HistoryWriter::Drain(std::chrono::milliseconds budget) {
  bool abandoned;
  {
    std::unique_lock<std::mutex> hold(lock_);
    if (drained_) return {};
    drained_ = true;
    abandoned = !applied_.wait_for(hold, budget, [this] { return appliedCount_ >= queuedCount_; });
    abandon_ = abandoned;
    stop_ = true;
  }
  wake_.notify_all();
  if (abandoned) store_.Interrupt();
  thread_->wait();
  Deliver();
  if (!abandoned) return {};

  // The thread has ended: its state is this thread's to read. A run counts
  // when it was still being recorded: stored and not failed, or to be stored
  // by a write given up on.
  std::set<RunHandle> counted;
  // Claims, leases and file names are no part of what a run stores.
  for (const Write& w : lost_)
    if (!std::holds_alternative<StoreCall>(w)) counted.insert(std::visit([](const auto& x) { return x.run; }, w));
  std::vector<Write> left = std::move(lost_);
  left.insert(left.end(), std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
  lost_.clear();
  queue_.clear();
  for (const Write& w : left)
    if (const auto* begin = std::get_if<BeginWrite>(&w)) counted.insert(begin->run);

  std::vector<UnstoredRun> runs;
  std::map<RunHandle, std::size_t> index;
  for (const Write& w : left) {
    if (std::holds_alternative<StoreCall>(w)) continue;
    const RunHandle run = std::visit([](const auto& x) { return x.run; }, w);
    if (!counted.count(run) && !writes_->Recording(run)) continue;  // told as a failure already
    const auto [it, fresh] = index.emplace(run, runs.size());
    if (fresh) {
      runs.emplace_back();
      runs.back().id = writes_->IdOf(run).value_or(0);
    }
    UnstoredRun& r = runs[it->second];
    if (const auto* begin = std::get_if<BeginWrite>(&w)) r.kind = begin->kind;
    if (std::holds_alternative<PageWrite>(w)) ++r.pages;
    if (std::holds_alternative<FinishWrite>(w)) r.ending = true;
  }
  return runs;
}

}  // namespace lanshu::history
