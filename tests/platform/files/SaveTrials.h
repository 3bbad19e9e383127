#pragma once
// Saves put through what a lab's machine does to them: killed at random moments. Shared by the tests of
// every writer that replaces a file whole.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace savetest {

// Names in a folder other than ".", "..", and the given one.
inline std::vector<std::string> OtherNames(const std::string& folder, const std::string& except) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && name != except) names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

inline std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// A folder for trials that write a lot: on a memory file system where there is one, so a
// thousand saves take seconds, not minutes (a kill tests the order of the writes, which is
// the same on any file system). Removed with what it holds.
class CTrialFolder {
 public:
  CTrialFolder() {
    struct stat st {};
    std::string pattern = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm/sorrel-trials-XXXXXX"
                                                                            : "/tmp/sorrel-trials-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) m_Path = pattern;
  }
  ~CTrialFolder() {
    for (const std::string& name : OtherNames(m_Path, "")) unlink((m_Path + "/" + name).c_str());
    rmdir(m_Path.c_str());
  }
  CTrialFolder(const CTrialFolder&) = delete;
  CTrialFolder& operator=(const CTrialFolder&) = delete;
  const std::string& Path() const { return m_Path; }

 private:
  std::string m_Path;
};

struct KillOutcome {
  int trials = 0;
  int old = 0;           // the file as it was
  int replaced = 0;      // the file with the new content
  int torn = 0;          // anything else: a mix, empty or missing
  int finished = 0;      // the save had ended before the kill
  int midWrite = 0;      // killed with a temporary file holding part of the new content
  int beforeRename = 0;  // killed with the whole new content in a temporary file
  size_t mostLeftovers = 0;              // most other files in the folder after any trial
  std::chrono::microseconds saveTime{};  // a whole save in a child, the median of a few
  std::chrono::microseconds writeTime{};  // from its temporary file's making to its rename
};

// Each trial writes contents[old] to folder/name, forks a child that calls save(new), so
// the file should become contents[new], and kills the child with SIGKILL. Half the trials
// kill after a delay drawn evenly from the time a whole save takes (measured first) and a
// quarter more; the other half watch for the child's temporary file and kill after a delay
// drawn the same way from the time it stays, so many kills land in the middle of writing.
// Afterwards the file must be one of the two; what is left beside it tells where the kill
// landed. Temporary files are named for their process: ".sorrel-<pid>-<serial>.tmp".
inline KillOutcome KillDuringSaves(const std::string& folder, const std::string& name,
                                   const std::array<std::string, 2>& contents, const std::function<void(int)>& save,
                                   int trials, uint32_t seed) {
  using Clock = std::chrono::steady_clock;
  const std::string path = folder + "/" + name;
  auto put = [&](int which) { std::ofstream(path, std::ios::binary | std::ios::trunc) << contents[which]; };
  auto childSave = [&](int which) {
    const pid_t pid = fork();
    if (pid == 0) {
      save(which);
      _exit(0);
    }
    return pid;
  };
  auto temporaryOf = [&](pid_t pid) {
    std::string tag = Hex(static_cast<unsigned>(pid));
    tag.insert(0, 1, '-').push_back('-');
    for (const std::string& other : OtherNames(folder, name)) {
      if (other.find(tag) != std::string::npos) return other;
    }
    return std::string();
  };
  auto ended = [](pid_t pid, int& status) { return waitpid(pid, &status, WNOHANG) == pid; };

  KillOutcome outcome;
  std::vector<Clock::duration> whole, writing;
  for (int i = 0; i < 7; ++i) {
    put(1 - i % 2);
    const Clock::time_point start = Clock::now();
    const pid_t pid = childSave(i % 2);
    std::optional<Clock::time_point> made, renamed;
    int status = 0;
    while (!ended(pid, status)) {
      const bool there = !temporaryOf(pid).empty();
      if (there && !made) made = Clock::now();
      if (!there && made && !renamed) renamed = Clock::now();
    }
    whole.push_back(Clock::now() - start);
    if (made) writing.push_back(renamed.value_or(Clock::now()) - *made);
    if (ReadText(path) != contents[i % 2]) ++outcome.torn;  // a save that does not save
  }
  auto median = [](std::vector<Clock::duration>& d) {
    std::sort(d.begin(), d.end());
    return std::chrono::duration_cast<std::chrono::microseconds>(d.empty() ? Clock::duration{} : d[d.size() / 2]);
  };
  outcome.saveTime = median(whole);
  outcome.writeTime = median(writing);

  std::mt19937 random(seed);
  for (int t = 0; t < trials; ++t) {
    const int fresh = t % 2;
    const bool inWriting = (t / 2) % 2 == 1;
    put(1 - fresh);
    const auto span = inWriting ? outcome.writeTime : outcome.saveTime;
    const auto delay = std::chrono::microseconds(
        std::uniform_int_distribution<int64_t>(0, std::max<int64_t>(1, span.count() * 5 / 4))(random));
    Clock::time_point from = Clock::now();
    const pid_t pid = childSave(fresh);
    int status = 0;
    bool done = false;
    if (inWriting) {
      // Watched from its start, so no wait for the file can outlast the save.
      while (!(done = ended(pid, status)) && temporaryOf(pid).empty()) {
      }
      from = Clock::now();
    }
    while (!done && Clock::now() < from + delay) {
    }
    if (!done) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    ++outcome.trials;
    outcome.finished += WIFEXITED(status) ? 1 : 0;
    const std::string now = ReadText(path);
    if (now == contents[1 - fresh]) {
      ++outcome.old;
    } else if (now == contents[fresh]) {
      ++outcome.replaced;
    } else {
      ++outcome.torn;
    }
    outcome.mostLeftovers = std::max(outcome.mostLeftovers, OtherNames(folder, name).size());
    struct stat st {};
    const std::string temporary = temporaryOf(pid);
    if (!temporary.empty() && stat((folder + "/" + temporary).c_str(), &st) == 0) {
      if (static_cast<size_t>(st.st_size) < contents[fresh].size()) ++outcome.midWrite;
      if (static_cast<size_t>(st.st_size) == contents[fresh].size()) ++outcome.beforeRename;
    }
  }
  return outcome;
}

// Prints where the kills of a KillDuringSaves landed and checks what a lab relies on: the
// file is always the old or the new one, the kills reached both sides of the rename and the
// middle of the writing, and what killed saves leave is cleared by the next save.
inline void ExpectOldOrNew(const KillOutcome& outcome, const char* what, int trials) {
  std::printf("%s saves killed: %d trials (a whole save %lld us): %d old, %d new, %d torn; %d finished first, "
              "%d killed mid-write, %d with the new file written but not yet renamed; at most %zu other files; "
              "the temporary file lived %lld us\n",
              what, outcome.trials, static_cast<long long>(outcome.saveTime.count()), outcome.old, outcome.replaced,
              outcome.torn, outcome.finished, outcome.midWrite, outcome.beforeRename, outcome.mostLeftovers,
              static_cast<long long>(outcome.writeTime.count()));
  EXPECT_EQ(outcome.trials, trials);
  EXPECT_EQ(outcome.torn, 0);
  EXPECT_GT(outcome.old, 0);
  EXPECT_GT(outcome.replaced, 0);
  EXPECT_GT(outcome.midWrite, 0) << "some kills should land while the file is written";
  EXPECT_LE(outcome.mostLeftovers, 2u) << "temporary files of killed saves are cleared by the next save";
}

}  // namespace savetest
