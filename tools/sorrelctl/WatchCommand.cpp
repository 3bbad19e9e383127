#include <cstdio>

#include "BoardSession.h"
#include "Commands.h"
#include "Terminal.h"

namespace sorrelctl {

namespace {

const char* RunState(sorrel::v1::RunState state) {
  return state == sorrel::v1::RUN_STATE_ACTIVE ? "active" : state == sorrel::v1::RUN_STATE_IDLE ? "idle" : "unknown";
}

}  // namespace

int WatchCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  sorrel::v1::WatchRequest request;
  request.set_frames_every_n(static_cast<uint32_t>(options.Number("--every", 1, 1000000).value_or(1)));
  request.set_max_per_second(static_cast<uint32_t>(options.Number("--per-second", 1, 1000000).value_or(0)));
  const std::optional<int> count = options.Number("--count", 1, 1000000000);
  const auto service = ServiceFor(options);
  if (!service) {
    Say("watch: no board service answers; start one with sorrelctl serve, or give --service SOCKET");
    return 1;
  }
  return RunOnService(*service, options, [&](service::CBoardClient& client) {
    int printed = 0;
    client.Watch(request, [&](const sorrel::v1::StatusUpdate& u) {
      Result("frames %llu (+%llu)  selected %d  entry %d  %s  %.1f fps  power %s  gains %d, %d\n",
             static_cast<unsigned long long>(u.frames_shown()), static_cast<unsigned long long>(u.frames_passed()),
             u.frame(), u.position() + 1, RunState(u.run_state()), u.measured_frame_rate(),
             u.slm_power() ? "on" : "off", u.laser_a_gain(), u.laser_b_gain());
      return !count || ++printed < *count;
    });
    // The stream ends as documented, but the operator should not have to guess why.
    if (!count || printed < *count) Say("watch: the board service ended");
  });
}

}  // namespace sorrelctl
