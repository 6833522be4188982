#pragma once
// Opening a file that must be an ordinary file on disk: the configuration, a script, an image.
//
// A named pipe blocks an ordinary open until some writer comes, and a device never ends
// (/dev/zero) or blocks its reads (a terminal); neither can be a configuration, a script or an
// image. open_regular_file therefore looks at the kind of the file first (stat, following
// symbolic links), so that a device is never opened at all, and then opens it without blocking
// (O_NONBLOCK, O_NOCTTY) and checks the opened file once more with fstat, in case the name was
// pointed elsewhere in between. Only a regular file is handed over, for reading raw bytes, with
// O_NONBLOCK cleared again. Anything else (no such file, no permission, a directory, a pipe, a
// device, a socket) gives nothing, exactly like a file that cannot be opened, so each caller
// keeps the message and effect it has for that case.

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

UniqueFile open_regular_file(const std::string& path);
