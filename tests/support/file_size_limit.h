// Runs a write in a child process whose files may not grow beyond a limit, as on a full disk,
// so a test can see how the write fails without filling a disk or limiting itself.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "platform/error.h"

namespace orba::testing {

// How the child that ran `write` ended: 0 when it raised "File too large", 2 when it raised
// another Error, 3 when it raised none; -1 when the child could not run or did not exit.
template <class Write>
int WriteUnderFileSizeLimit(rlim_t max_bytes, Write&& write) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{max_bytes, max_bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            write();
        } catch (const platform::Error& e) {
            _exit(e.Description().find("File too large") != std::string::npos ? 0 : 2);
        }
        _exit(3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace orba::testing
