// The atomic writer's guard against signals while its temporary file exists.
#pragma once

#include <csignal>
#include <cstddef>

namespace zarn {

// The termination signals the guard holds: SIGINT, SIGTERM, SIGHUP and SIGQUIT.
constexpr std::size_t kHeldSignalCount = 4;

// While it lives, the termination signals wait and SIGXFSZ is ignored. The signals are blocked in
// this thread; another thread that takes one (the window's process has several) only records it
// in a handler put in place for the time, and it is raised again here at the end. On destruction
// the dispositions are restored first and the mask last, so a held signal acts as the process had
// set it up, once the temporary file is gone.
class TSignalsHeld {
public:
    TSignalsHeld();
    ~TSignalsHeld();
    TSignalsHeld(const TSignalsHeld&) = delete;
    TSignalsHeld& operator=(const TSignalsHeld&) = delete;

private:
    sigset_t m_savedMask{};
    struct sigaction m_saved[kHeldSignalCount] {};
    bool m_recording[kHeldSignalCount]{};
    struct sigaction m_savedFileSize {};
};

} // namespace zarn
