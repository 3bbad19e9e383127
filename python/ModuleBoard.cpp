#include "ModuleBoard.h"

#include <unistd.h>

#include <climits>

#include "CardBoard.h"
#include "ClientBoard.h"
#include "CoreCalls.h"
#include "FrameArrays.h"
#include "SafeEnd.h"
#include "ServiceSocket.h"
#include "pci/Facility.h"

namespace py = pybind11;

namespace sorrelpy {
namespace {

// SBoard_Spec as scripts see it; the field names are the board interface's own.
void BindSpec(py::module_& m) {
  py::class_<SBoard_Spec>(m, "BoardSpec", "What the board reports about itself.")
      .def_property_readonly("BoardName", [](const SBoard_Spec& s) { return std::string(s.BoardName); })
      .def_readonly("MaxFrames", &SBoard_Spec::MaxFrames)
      .def_readonly("Width", &SBoard_Spec::Width)
      .def_readonly("Height", &SBoard_Spec::Height)
      .def_readonly("FrameTime", &SBoard_Spec::FrameTime, "time of one board frame, in 100 ns units")
      .def_readonly("MinFrameRate", &SBoard_Spec::MinFrameRate)
      .def_readonly("MaxFrameRate", &SBoard_Spec::MaxFrameRate)
      .def_property_readonly(
          "shape", [](const SBoard_Spec& s) { return py::make_tuple(s.Height, s.Width); },
          "(Height, Width): the shape of a frame array")
      .def("__repr__", [](const SBoard_Spec& s) {
        return "BoardSpec(BoardName='" + std::string(s.BoardName) + "', Width=" + std::to_string(s.Width) +
               ", Height=" + std::to_string(s.Height) + ", MaxFrames=" + std::to_string(s.MaxFrames) + ")";
      });
}

void BindStatus(py::module_& m) {
  py::class_<SRun_Status>(m, "RunStatus", "The board's run state.")
      .def_readonly("RunFlags", &SRun_Status::RunFlags)
      .def_readonly("LastIndex", &SRun_Status::LastIndex)
      .def_readonly("CurrentIndex", &SRun_Status::CurrentIndex, "the position in the run's frame list shown now")
      .def_property_readonly("running", [](const SRun_Status& s) { return (s.RunFlags & RUN_FLAG_ACTIVE) != 0; })
      .def("__repr__", [](const SRun_Status& s) {
        return "RunStatus(running=" + std::string((s.RunFlags & RUN_FLAG_ACTIVE) ? "True" : "False") +
               ", CurrentIndex=" + std::to_string(s.CurrentIndex) + ", LastIndex=" + std::to_string(s.LastIndex) + ")";
      });
}

uint16_t ModulatorArgument(const py::handle& value) {
  if (py::isinstance<py::str>(value)) {
    const std::string name = TextArgument(value);
    if (name == "amplitude") return 0;
    if (name == "phase") return 1;
    throw py::value_error("modulator_type must be 'amplitude', 'phase', 0 or 1, not '" + name + "'");
  }
  return static_cast<uint16_t>(IntArgument(value, "modulator_type", 0, 1));
}

std::unique_ptr<CModuleBoard> Connect(const py::object& address, const py::object& keepPowerArgument,
                                     const py::object& tlsDir) {
  const bool keepPower = BoolArgument(keepPowerArgument, "keep_power");
  std::string path;
  if (!tlsDir.is_none()) {
    // A service on another machine: "tls://HOST:PORT" (or HOST:PORT) with this machine's files.
    const auto folder = PathArgument(tlsDir);
    if (!folder) throw py::type_error("tls_dir must be the path of this machine's TLS folder");
    if (!py::isinstance<py::str>(address)) throw py::type_error("with tls_dir, address must be 'tls://HOST:PORT'");
    std::string where = address.cast<std::string>();
    if (where.starts_with("tls://")) where.erase(0, 6);
    return std::make_unique<CClientBoard>(where, keepPower, *folder);
  }
  if (py::isinstance<py::str>(address) && address.cast<std::string>().starts_with("tls://")) {
    throw py::value_error("a service on a TCP address is reached with tls_dir, this machine's TLS folder");
  }
  if (address.is_none()) {
    path = service::DefaultSocketPath();
    if (path.empty()) throw scripting::CScriptError("XDG_RUNTIME_DIR is not set; give connect the socket's path");
  } else if (const auto given = PathArgument(address)) {
    path = *given;
  } else {
    throw py::type_error("address must be the path of the board service's socket");
  }
  return std::make_unique<CClientBoard>(path, keepPower);
}

// A local board service that holds the card is the board's holder: the board is reached
// through it.
std::unique_ptr<CModuleBoard> OpenBoard(const py::object& modulatorType, const py::object& trueFrames,
                                        const py::object& keepPowerArgument, const py::object& card) {
  const bool keepPower = BoolArgument(keepPowerArgument, "keep_power");
  // Every open chooses again: None is every card, whatever an open before chose.
  if (!card.is_none() && !py::isinstance<py::str>(card)) {
    throw py::type_error("card must be a PCI address or a slot number, as a str");
  }
  const std::string chosen = card.is_none() ? "" : card.cast<std::string>();
  if (const std::string why = InCore([&] { return pci::ChooseCard(chosen); }); !why.empty()) {
    throw py::value_error("card: " + why);
  }
  if (const std::optional<std::string> service = service::LocalService(!card.is_none())) {
    const std::string& path = *service;
    for (const auto& [name, value] : {std::pair{"modulator_type", &modulatorType}, {"true_frames", &trueFrames}}) {
      if (!value->is_none()) {
        throw scripting::CScriptError(service::OpeningOptionRefused(name, path));
      }
    }
    return std::make_unique<CClientBoard>(path, keepPower);
  }
  StoredSettings settings = InCore([] { return ReadStoredSettings(); });
  if (!modulatorType.is_none()) settings.LC_Type = ModulatorArgument(modulatorType);
  if (!trueFrames.is_none()) settings.TrueFrames = static_cast<uint16_t>(IntArgument(trueFrames, "true_frames", 3, 32767));
  auto board = InCore([&] {
    GuardTerminationSignals();
    return std::make_unique<CCardBoard>(settings, keepPower);
  });
  WarnMessages();
  return board;
}

// Any int passes here; the board checks the range it takes.
scripting::RunParameters ChosenParameters(scripting::RunParameters p, const py::object& rate, const py::object& duty,
                                          const py::object& gainA, const py::object& gainB) {
  if (!rate.is_none()) p.FrameRate = IntArgument(rate, "frame_rate", INT_MIN, INT_MAX);
  if (!duty.is_none()) p.LaserDuty = IntArgument(duty, "laser_duty", INT_MIN, INT_MAX);
  if (!gainA.is_none()) p.LaserAGain = IntArgument(gainA, "laser_a_gain", INT_MIN, INT_MAX);
  if (!gainB.is_none()) p.LaserBGain = IntArgument(gainB, "laser_b_gain", INT_MIN, INT_MAX);
  return p;
}

py::dict ParametersDict(const scripting::RunParameters& p) {
  py::dict d;
  d["frame_rate"] = p.FrameRate;
  d["laser_duty"] = p.LaserDuty;
  d["laser_a_gain"] = p.LaserAGain;
  d["laser_b_gain"] = p.LaserBGain;
  return d;
}

std::vector<int> FrameList(const py::handle& frames) {
  if (py::isinstance<py::str>(frames) || !py::hasattr(frames, "__iter__")) {
    throw py::type_error("frames must be a sequence of frame numbers");
  }
  std::vector<int> list;
  for (const py::handle item : frames) list.push_back(IntArgument(item, "a frame number", INT_MIN, INT_MAX));
  return list;
}

}  // namespace

CModuleBoard::CModuleBoard(bool keepPower) : m_KeepPower(keepPower), m_Owner(getpid()) {}

bool CModuleBoard::Inherited() const { return getpid() != m_Owner; }

void CModuleBoard::CheckOwner() const {
  if (Inherited()) {
    throw scripting::CScriptError("The board was opened by process " + std::to_string(m_Owner) +
                                  ", from which this process was forked; a forked process cannot use it");
  }
}

void BindBoard(py::module_& m) {
  BindSpec(m);
  BindStatus(m);
  py::class_<CModuleBoard>(m, "Board",
                           "The SLM board, opened by open_board() or reached through a board service by connect(). "
                           "Leaving a with block, or the interpreter ending, closes it safely: both laser gains zero, "
                           "the SLM power off unless keep_power was asked; through a service, once its last client "
                           "has left.")
      .def_property_readonly("spec", [](CModuleBoard& b) { return b.Spec(); })
      .def_property_readonly("closed", &CModuleBoard::Closed)
      .def(
          "write_frame",
          [](CModuleBoard& b, const py::handle& n, const py::handle& frame) {
            b.WriteFrame(IntArgument(n, "write_frame: the frame number", INT_MIN, INT_MAX), frame);
          },
          py::arg("n"), py::arg("frame"),
          "Writes a 2-D uint8 array of the board's shape (C- or F-ordered) into frame buffer n.")
      .def(
          "set_phase",
          [](CModuleBoard& b, const py::handle& n, const py::handle& phases, const py::handle& wavelength) {
            const int frame = IntArgument(n, "set_phase: the frame number", INT_MIN, INT_MAX);
            const SBoard_Spec& spec = b.Spec();
            const auto values = CheckedPhases(phases, spec.Width, spec.Height, "set_phase: the phases");
            b.SetPhase(frame, values.data(), WavelengthArgument(wavelength));
          },
          py::arg("n"), py::arg("phases"), py::arg("wavelength") = py::none(),
          "Writes frame buffer n from a 2-D float32 or float64 array of phases in radians of the board's shape: "
          "each wrapped to one wave and taken as the grey level round(phase / 2 pi x 256) mod 256, the "
          "compensation images added when Sorrel applies them, then mapped through the LUT of the wavelength, "
          "LUT_Files/<wavelength>.lut in the working folder (e.g. '633nm'); None: no LUT. A board opened here "
          "takes the stored compensation and the folder the script was in when it opened the board; a board "
          "service takes its host's. Phases that are NaN or infinite, and a wavelength without a LUT file, raise "
          "ValueError.")
      .def(
          "set_run_parameters",
          [](CModuleBoard& b, const py::object& rate, const py::object& duty, const py::object& a, const py::object& g) {
            b.SetRunParameters(ChosenParameters(b.Parameters(), rate, duty, a, g));
            WarnMessages();
          },
          py::arg("frame_rate") = py::none(), py::arg("laser_duty") = py::none(), py::arg("laser_a_gain") = py::none(),
          py::arg("laser_b_gain") = py::none(),
          "Sends the frame rate, laser duty and laser gains; those not given keep their values.")
      .def_property_readonly("run_parameters", [](CModuleBoard& b) { return ParametersDict(b.Parameters()); })
      .def(
          "run",
          [](CModuleBoard& b, const py::handle& frames, bool loop) {
            b.Run(FrameList(frames), loop);
            WarnMessages();
          },
          py::arg("frames"), py::arg("loop") = false, "Runs the frame buffers in this order, once or looped.")
      .def(
          "stop", [](CModuleBoard& b) { b.Stop(); }, "Stops a run.")
      .def(
          "status",
          [](CModuleBoard& b) { return b.Status(); },
          "The run state: running, CurrentIndex, LastIndex, RunFlags.")
      .def(
          "select",
          [](CModuleBoard& b, const py::handle& n) { b.Select(IntArgument(n, "select: the frame number", INT_MIN, INT_MAX)); },
          py::arg("n"), "Shows frame buffer n.")
      .def_property(
          "power", &CModuleBoard::Power,
          [](CModuleBoard& b, const py::handle& on) { b.SetPower(BoolArgument(on, "power")); },
          "The SLM power: True when on.")
      .def_property_readonly("true_frames", &CModuleBoard::TrueFrames)
      .def_property_readonly("image_frames", &CModuleBoard::ImageFrames)
      .def_property_readonly("reached_frame_rate", &CModuleBoard::ReachedFrameRate)
      .def(
          "close",
          [](CModuleBoard& b, const py::object& keepPower) {
            const std::string left =
                b.Close(keepPower.is_none() ? b.KeepPower() : BoolArgument(keepPower, "keep_power"));
            WarnMessages();
            return left;
          },
          py::arg("keep_power") = py::none(),
          "The safe end: any run stopped, both laser gains zero, the SLM power off (or left on with keep_power). "
          "Returns what it left; closing a closed board does nothing.")
      .def("__enter__", [](CModuleBoard& b) -> CModuleBoard& { return b; }, py::return_value_policy::reference)
      .def("__exit__", [](CModuleBoard& b, const py::args&) {
        b.Close(b.KeepPower());
        WarnMessages();
        return false;
      });

  m.def("_end_open_boards", &EndOpenBoards, py::arg("why"), py::call_guard<py::gil_scoped_release>());
  m.def("_open_board", &OpenBoard, py::arg("modulator_type") = py::none(), py::arg("true_frames") = py::none(),
        py::arg("keep_power") = false, py::arg("card") = py::none());
  m.def("_connect", &Connect, py::arg("address") = py::none(), py::arg("keep_power") = false,
        py::arg("tls_dir") = py::none());
}

}  // namespace sorrelpy
