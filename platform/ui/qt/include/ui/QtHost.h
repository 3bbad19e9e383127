#pragma once
// The Qt host: real windows for the dialog framework. Nothing here names Qt, so the
// program that starts it needs no toolkit headers.

#include <functional>

#define UI_QT_API __attribute__((visibility("default")))

// Creates the application's windowing, makes the Qt host the process's host and runs
// body; returns what body returns. Dialogs run by body are real windows.
UI_QT_API int RunWithQtHost(int argc, char** argv, const std::function<int()>& body);
