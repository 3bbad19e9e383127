#include "StatusWatch.h"

#include <algorithm>

namespace service {

namespace v1 = sorrel::v1;
using Clock = std::chrono::steady_clock;

namespace {

// What a client is told of without a frame passing: the frame only counts while none is
// shown, as it changes with every frame of a run.
bool Changed(const CStatusWatch::Sample& now, const CStatusWatch::Sample& before) {
  return now.run != before.run || now.power != before.power || now.gainA != before.gainA ||
         now.gainB != before.gainB || (now.frames == before.frames && now.frame != before.frame);
}

v1::StatusUpdate Update(const CStatusWatch::Sample& s, uint64_t passed) {
  v1::StatusUpdate u;
  u.set_frames_shown(s.frames);
  u.set_frames_passed(passed);
  u.set_frame(s.frame);
  u.set_position(s.position);
  u.set_run_state(s.run);
  u.set_measured_frame_rate(s.rate);
  u.set_slm_power(s.power);
  u.set_laser_a_gain(s.gainA);
  u.set_laser_b_gain(s.gainB);
  return u;
}

}  // namespace

CStatusWatch::CStatusWatch(CServedBoard& board) : m_Board(board) {
  const std::vector<pci::Location> held = pci::RegisteredCards();
  if (!held.empty()) m_Card = held.front();  // one board per process
  m_Thread = std::thread([this] { Watch(); });
}

CStatusWatch::~CStatusWatch() {
  End();
  m_Thread.join();
}

std::shared_ptr<CStatusWatch::CStream> CStatusWatch::Open(const v1::WatchRequest& request) {
  auto stream = std::make_shared<CStream>(request);
  std::lock_guard lock(m_Mutex);
  if (m_Ending) {
    stream->End();
  } else {
    std::erase_if(m_Streams, [](const std::weak_ptr<CStream>& s) { return s.expired(); });
    m_Streams.push_back(stream);
    m_Changed.notify_all();
  }
  return stream;
}

void CStatusWatch::End() {
  std::lock_guard lock(m_Mutex);
  m_Ending = true;
  for (const std::weak_ptr<CStream>& s : m_Streams) {
    if (auto stream = s.lock()) stream->End();
  }
  m_Streams.clear();
  m_Changed.notify_all();
}

// Sleeps while no stream is open; otherwise offers each interrupt's sample, or one every
// IDLE_LOOK while none comes.
void CStatusWatch::Watch() {
  pci::FollowInterrupts();
  std::unique_lock lock(m_Mutex);
  for (;;) {
    m_Changed.wait(lock, [this] {
      std::erase_if(m_Streams, [](const std::weak_ptr<CStream>& s) { return s.expired(); });
      return m_Ending || !m_Streams.empty();
    });
    if (m_Ending) return;
    lock.unlock();
    const Sample sample = Take();
    const Clock::time_point now = Clock::now();
    lock.lock();
    for (const std::weak_ptr<CStream>& s : m_Streams) {
      if (auto stream = s.lock()) stream->Offer(sample, now);
    }
  }
}

CStatusWatch::Sample CStatusWatch::Take() {
  Sample s;
  pci::DisplayInfo shown{};
  SRun_Status run{};
  bool given = false;
  if (m_Card) {
    m_Seen = pci::WaitInterrupt(*m_Card, m_Seen, IDLE_LOOK);
    // The frame and the run's position read within one period: an interrupt between the two
    // reads would pair a frame with the next period's position.
    given = m_Board.RunStatus(run);
    for (int tries = 0; tries < 3; ++tries) {
      pci::ReadDisplay(*m_Card, shown, nullptr, 0);
      SRun_Status after{};
      given = m_Board.RunStatus(after);
      const bool same = after.CurrentIndex == run.CurrentIndex;
      run = after;
      if (same) break;
    }
  } else {
    std::this_thread::sleep_for(IDLE_LOOK);
    given = m_Board.RunStatus(run);
  }
  s.frames = m_Seen;
  s.frame = static_cast<int>(shown.Image);
  s.power = shown.Powered != 0;
  s.gainA = static_cast<int>(shown.LaserAGain);
  s.gainB = static_cast<int>(shown.LaserBGain);
  if (given) {
    s.run = (run.RunFlags & RUN_FLAG_ACTIVE) != 0 ? v1::RUN_STATE_ACTIVE : v1::RUN_STATE_IDLE;
    s.position = run.CurrentIndex;
  }
  const Clock::time_point now = Clock::now();
  if (m_Counted.empty() || now - m_Counted.back().first >= IDLE_LOOK) m_Counted.emplace_back(now, m_Seen);
  while (now - m_Counted.front().first > std::chrono::seconds(1)) m_Counted.pop_front();
  const auto& [since, counted] = m_Counted.front();
  const double span = std::chrono::duration<double>(now - since).count();
  s.rate = m_Seen != counted && span > 0 ? static_cast<double>(m_Seen - counted) / span : 0;
  return s;
}

CStatusWatch::CStream::CStream(const v1::WatchRequest& request)
    : m_Every(std::max<uint64_t>(request.frames_every_n(), 1)),
      m_Gap(request.max_per_second() == 0 ? std::chrono::nanoseconds(0)
                                          : std::chrono::nanoseconds(1000000000 / request.max_per_second())) {}

void CStatusWatch::CStream::Offer(const Sample& sample, Clock::time_point now) {
  if (m_Sent) {
    const bool due = sample.frames - m_Sent->frames >= m_Every || Changed(sample, *m_Sent);
    // One held back by the rate goes with the next let through.
    if (!due || now - m_SentAt < m_Gap) return;
  }
  const uint64_t passed = m_Sent ? sample.frames - m_Sent->frames : 0;
  m_Sent = sample;
  m_SentAt = now;
  v1::StatusUpdate update = Update(sample, passed);
  std::lock_guard lock(m_Mutex);
  if (m_Held.size() >= HELD_UPDATES) {
    update.set_frames_passed(m_Held.back().frames_passed() + passed);
    m_Held.back() = std::move(update);
  } else {
    m_Held.push_back(std::move(update));
  }
  m_Ready.notify_all();
}

std::optional<v1::StatusUpdate> CStatusWatch::CStream::Next(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_Mutex);
  m_Ready.wait_for(lock, timeout, [this] { return !m_Held.empty() || m_Ended; });
  if (m_Held.empty()) return std::nullopt;
  v1::StatusUpdate update = std::move(m_Held.front());
  m_Held.pop_front();
  return update;
}

bool CStatusWatch::CStream::Ended() {
  std::lock_guard lock(m_Mutex);
  return m_Ended && m_Held.empty();
}

void CStatusWatch::CStream::End() {
  std::lock_guard lock(m_Mutex);
  m_Ended = true;
  m_Ready.notify_all();
}

}  // namespace service
