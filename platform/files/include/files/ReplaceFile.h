#pragma once
// Replacing a file's whole content so that no reader, crash or full disk ever leaves it
// half-written: the new bytes go to a temporary file beside it, reach the disk, and are
// renamed over the old file. A process killed during a save leaves its temporary file;
// the next save in that folder removes it.

#include <initializer_list>
#include <string>
#include <string_view>

// Makes pieces, in order, the content of path. A link is followed and the file it names
// is replaced, unless another user could have planted it (SafePath.h: EPLANTEDLINK). The replaced file keeps its mode, and its owner and group where the
// process may set them; a new file gets the mode the process's umask gives.
// When the folder refuses a new file but the file itself may be written, the file is
// rewritten in place and flushed instead.
// False on any failure, with errno telling why; the old file is then as it was, except
// after a failed rewrite in place, which nothing could have done better.
bool ReplaceFile(const std::string& path, std::initializer_list<std::string_view> pieces);
