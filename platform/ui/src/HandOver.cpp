#include "ui/HandOver.h"

#include <condition_variable>
#include <mutex>

#include "ui/Host.h"

namespace {

// How long work waits while the user-interface thread is not ready for it.
constexpr unsigned RETRY_MS = 20;

}  // namespace

struct CHandOver::State {
  std::function<bool()> ready;
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;

  // On the user-interface thread: work once ready, unless closed first.
  static void Begin(const std::shared_ptr<State>& state, std::function<void()> work) {
    {
      std::lock_guard lock(state->mutex);
      if (state->closed) return;
    }
    if (state->ready && !state->ready()) {
      Host().Post([state, work = std::move(work)]() mutable { Begin(state, std::move(work)); }, RETRY_MS);
      return;
    }
    work();
  }
};

CHandOver::CHandOver(std::function<bool()> ready) : m_State(std::make_shared<State>()) {
  m_State->ready = std::move(ready);
}

CHandOver::~CHandOver() { Close(); }

bool CHandOver::Run(const std::function<void()>& work) {
  // Both under the state's lock: a job begun is ended before Run returns, a job closed
  // before it began never begins.
  struct Job {
    bool begun = false;
    bool done = false;
  };
  auto job = std::make_shared<Job>();
  {
    std::lock_guard lock(m_State->mutex);
    if (m_State->closed) return false;
  }
  const std::shared_ptr<State> state = m_State;
  Send([state, job, &work] {
    {
      std::lock_guard lock(state->mutex);
      job->begun = true;
    }
    work();
    std::lock_guard lock(state->mutex);
    job->done = true;
    state->changed.notify_all();
  });
  std::unique_lock lock(m_State->mutex);
  m_State->changed.wait(lock, [&] { return job->done || (m_State->closed && !job->begun); });
  return job->done;
}

void CHandOver::Send(std::function<void()> work) {
  const std::shared_ptr<State> state = m_State;
  Host().Post([state, work = std::move(work)]() mutable { State::Begin(state, std::move(work)); }, 0);
}

void CHandOver::Close() {
  std::lock_guard lock(m_State->mutex);
  m_State->closed = true;
  m_State->changed.notify_all();
}
