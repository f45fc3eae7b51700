// korvel_beads::detail::make_event_queue — an unbounded first-in-first-out queue with one
// receiving end and any number of sending ends; the receiver waits with a time bound and learns
// that the queue is disconnected once every sending end is gone. Internal to the runner: it carries
// CaptureEvents from the two reader threads to run().
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace korvel_beads::detail {

template <class T>
struct EventQueueState {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<T> items;
  int senders = 1;
  bool receiver_alive = true;
};

template <class T>
class EventSender {
 public:
  explicit EventSender(std::shared_ptr<EventQueueState<T>> state) : state_(std::move(state)) {}
  EventSender(const EventSender& other) : state_(other.state_) {
    if (state_) {
      std::lock_guard lock(state_->mutex);
      ++state_->senders;
    }
  }
  EventSender(EventSender&& other) noexcept = default;
  EventSender& operator=(const EventSender&) = delete;
  EventSender& operator=(EventSender&& other) noexcept {
    if (this != &other) {
      close();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  ~EventSender() { close(); }

  // Queues `item`; false (and the item discarded) when the receiving end is gone.
  bool send(T item) {
    if (!state_) return false;
    {
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver_alive) return false;
      state_->items.push_back(std::move(item));
    }
    state_->ready.notify_one();
    return true;
  }

  // Releases this sending end; the last one to go disconnects the queue.
  void close() noexcept {
    if (!state_) return;
    {
      std::lock_guard lock(state_->mutex);
      --state_->senders;
    }
    state_->ready.notify_one();
    state_.reset();
  }

 private:
  std::shared_ptr<EventQueueState<T>> state_;
};

enum class ReceiveStatus { Received, TimedOut, Disconnected };

template <class T>
struct Received {
  ReceiveStatus status;
  std::optional<T> item;  // set exactly when status is Received
};

template <class T>
class EventReceiver {
 public:
  explicit EventReceiver(std::shared_ptr<EventQueueState<T>> state) : state_(std::move(state)) {}
  EventReceiver(EventReceiver&&) noexcept = default;
  EventReceiver& operator=(EventReceiver&&) = delete;
  EventReceiver(const EventReceiver&) = delete;
  EventReceiver& operator=(const EventReceiver&) = delete;
  ~EventReceiver() {
    if (!state_) return;
    std::deque<T> dropped;
    std::lock_guard lock(state_->mutex);
    state_->receiver_alive = false;
    dropped.swap(state_->items);
  }

  // The next item, waiting at most `timeout`. Items already queued are delivered before the
  // queue reports that it is disconnected.
  Received<T> receive_for(std::chrono::steady_clock::duration timeout) {
    std::unique_lock lock(state_->mutex);
    state_->ready.wait_for(lock, timeout,
                           [&] { return !state_->items.empty() || state_->senders == 0; });
    if (!state_->items.empty()) {
      Received<T> out{ReceiveStatus::Received, std::move(state_->items.front())};
      state_->items.pop_front();
      return out;
    }
    if (state_->senders == 0) return {ReceiveStatus::Disconnected, std::nullopt};
    return {ReceiveStatus::TimedOut, std::nullopt};
  }

 private:
  std::shared_ptr<EventQueueState<T>> state_;
};

// One sending end (copy it for more) and the receiving end.
template <class T>
std::pair<EventSender<T>, EventReceiver<T>> make_event_queue() {
  auto state = std::make_shared<EventQueueState<T>>();
  return {EventSender<T>(state), EventReceiver<T>(state)};
}

}  // namespace korvel_beads::detail
