#pragma once
// Pieces of the Qt host shared between its sources.

#include <QString>
#include <string>

// A Qt name filter for a description and patterns "*.a;*.b".
QString QtNameFilter(const std::string& description, const std::string& patterns);

// Object name of the window HELP_FINDER opens.
inline constexpr const char* HELP_WINDOW_NAME = "SorrelHelpWindow";
