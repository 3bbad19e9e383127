#pragma once
// One modal run of the framework (a dialog, a message box, a file dialog), counted for
// ModalRuns while it lives.

struct ModalRun {
  ModalRun();
  ~ModalRun();
  ModalRun(const ModalRun&) = delete;
  ModalRun& operator=(const ModalRun&) = delete;
};
