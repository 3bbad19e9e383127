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

// The run as it was frames interrupts before, had it stepped one entry at each.
SRun_Status Back(SRun_Status run, uint64_t frames) {
  const uint64_t entries = uint64_t{run.LastIndex} + 1;
  run.CurrentIndex = static_cast<uint16_t>((run.CurrentIndex + entries - frames % entries) % entries);
  return run;
}

// Whether a run read as before and, frames interrupts later, as after, was one run active
// throughout that stepped one entry at each (a run restarted in step with the old one cannot
// be told from it).
bool Stepped(const SRun_Status& before, const SRun_Status& after, uint64_t frames) {
  return (before.RunFlags & after.RunFlags & RUN_FLAG_ACTIVE) != 0 && before.LastIndex == after.LastIndex &&
         Back(after, frames).CurrentIndex == before.CurrentIndex;
}

CStatusWatch::Sample Sampled(const pci::DisplayInfo& shown, bool given, const SRun_Status& run, double rate) {
  CStatusWatch::Sample s;
  s.frames = shown.Interrupts;
  s.frame = static_cast<int>(shown.Image);
  s.power = shown.Powered != 0;
  s.gainA = static_cast<int>(shown.LaserAGain);
  s.gainB = static_cast<int>(shown.LaserBGain);
  s.rate = rate;
  if (given) {
    s.run = (run.RunFlags & RUN_FLAG_ACTIVE) != 0 ? v1::RUN_STATE_ACTIVE : v1::RUN_STATE_IDLE;
    s.position = run.CurrentIndex;
  } else if (shown.Width != 0) {
    // No reading of the run yet (the window reads it only around a run): the card's run bit.
    s.run = shown.Running != 0 ? v1::RUN_STATE_ACTIVE : v1::RUN_STATE_IDLE;
  }
  return s;
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

// Sleeps while no stream is open; otherwise offers a sample for each interrupt, or one every
// IDLE_LOOK while none comes. A watch that starts again starts from the board as it is now.
void CStatusWatch::Watch() {
  pci::FollowInterrupts();
  std::unique_lock lock(m_Mutex);
  for (;;) {
    bool fresh = false;
    m_Changed.wait(lock, [&] {
      std::erase_if(m_Streams, [](const std::weak_ptr<CStream>& s) { return s.expired(); });
      fresh = fresh || m_Streams.empty();
      return m_Ending || !m_Streams.empty();
    });
    if (m_Ending) return;
    lock.unlock();
    Look(fresh);
    const Clock::time_point now = Clock::now();
    lock.lock();
    for (const Sample& sample : m_Samples) {
      for (const std::weak_ptr<CStream>& s : m_Streams) {
        if (auto stream = s.lock()) stream->Offer(sample, now);
      }
    }
  }
}

void CStatusWatch::Look(bool fresh) {
  m_Shown.clear();
  m_Samples.clear();
  SRun_Status run{};
  bool given = false;
  bool placed = false;  // run read right after the newest interrupt, no routine begun since
  pci::DisplayInfo now{};
  if (m_Card) {
    if (fresh) {
      m_Seen = pci::WaitInterrupt(*m_Card, m_Seen, std::chrono::milliseconds(0));
    } else {
      pci::WaitInterrupt(*m_Card, m_Seen, IDLE_LOOK);
    }
    uint64_t newest = Gather(m_Seen);
    const bool current = m_Board.RunStatusIsCurrent();
    for (int tries = 0; tries < (current ? 3 : 1) && !placed; ++tries) {
      if (tries > 0) newest = Gather(newest);
      given = m_Board.RunStatus(run);
      // Counts an interrupt as its routine begins: equal to the newest record, none ran since.
      pci::ReadDisplay(*m_Card, now, nullptr, 0);
      placed = current && now.Interrupts == newest;
    }
  } else {
    if (!fresh) std::this_thread::sleep_for(IDLE_LOOK);
    given = m_Board.RunStatus(run);
  }

  const bool anchored = !fresh && m_RunAtSeen;
  const SRun_Status before = m_RunAtSeen.value_or(SRun_Status{});
  const uint64_t since = m_Seen;
  if (!m_Shown.empty()) m_Seen = m_Shown.back().Interrupts;
  m_RunAtSeen = placed && given ? std::optional(run) : std::nullopt;
  const double rate = Rate(Clock::now());
  if (m_Shown.empty()) {
    now.Interrupts = m_Seen;
    m_Shown.push_back(now);
  }
  // Where the run was at an earlier interrupt is told only when every interrupt since the last
  // reading is on record with the run bit set and the run stepped one entry at each;
  // otherwise each sample carries this reading.
  const bool stepped = m_RunAtSeen && anchored && m_Shown.size() == m_Seen - since &&
                       std::all_of(m_Shown.begin(), m_Shown.end(), [](const pci::DisplayInfo& r) { return r.Running; }) &&
                       Stepped(before, run, m_Seen - since);
  for (const pci::DisplayInfo& shown : m_Shown) {
    m_Samples.push_back(Sampled(shown, given, stepped ? Back(run, m_Seen - shown.Interrupts) : run, rate));
  }
}

uint64_t CStatusWatch::Gather(uint64_t seen) {
  size_t read = pci::SHOWN_RECORDS;
  while (read == pci::SHOWN_RECORDS) {
    const size_t held = m_Shown.size();
    m_Shown.resize(held + pci::SHOWN_RECORDS);
    uint64_t lost = 0;  // told by the numbers of the records that follow
    read = pci::ShownSince(*m_Card, seen, m_Shown.data() + held, pci::SHOWN_RECORDS, lost);
    m_Shown.resize(held + read);
    if (read != 0) seen = m_Shown.back().Interrupts;
  }
  return seen;
}

double CStatusWatch::Rate(Clock::time_point now) {
  if (m_Counted.empty() || now - m_Counted.back().first >= IDLE_LOOK) m_Counted.emplace_back(now, m_Seen);
  while (now - m_Counted.front().first > std::chrono::seconds(1)) m_Counted.pop_front();
  const auto& [since, counted] = m_Counted.front();
  const double span = std::chrono::duration<double>(now - since).count();
  return m_Seen != counted && span > 0 ? static_cast<double>(m_Seen - counted) / span : 0;
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
