#pragma once
// The system speaks to an operator through modal message boxes; a script has nobody to
// answer them. Under the scripted host every message box is answered at once and kept
// here, its text on one line, until the caller takes it: the tool prints it, the module
// raises or warns with it. Nothing ever waits for a person.

#include <string>
#include <vector>

namespace scripting {

struct ScriptMessage {
  std::string Caption;
  std::string Text;  // on one line
};

// Makes the scripted host the process's host, once; later calls keep it.
void UseScriptHost();

// The messages shown since the last call, oldest first.
std::vector<ScriptMessage> TakeMessages();
// Messages a window held back for a caller that is not its operator (the board service's
// client), for the next TakeMessages.
void KeepMessage(const std::string& caption, const std::string& text);

// The texts of messages joined into one line ("; " between them); fallback when there are none.
std::string JoinedTexts(const std::vector<ScriptMessage>& messages, const std::string& fallback = {});

// Every run of blanks and line breaks becomes one blank; leading and trailing ones go.
std::string OneLine(const std::string& text);

}  // namespace scripting
