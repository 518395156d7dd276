#include "SignalsHeld.h"

#include <pthread.h>

namespace zarn {

namespace {

constexpr int kHeldSignals[kHeldSignalCount] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::size_t kHeldCount = kHeldSignalCount;

volatile std::sig_atomic_t g_heldSignalArrived[kHeldCount];

extern "C" void RecordHeldSignal(int signal) {
    for (std::size_t i = 0; i < kHeldCount; ++i)
        if (kHeldSignals[i] == signal)
            g_heldSignalArrived[i] = 1;
}

} // namespace

TSignalsHeld::TSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kHeldSignals)
        sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &m_savedMask);
    for (std::size_t i = 0; i < kHeldCount; ++i) {
        g_heldSignalArrived[i] = 0;
        sigaction(kHeldSignals[i], nullptr, &m_saved[i]);
        m_recording[i] = (m_saved[i].sa_flags & SA_SIGINFO) != 0 || m_saved[i].sa_handler != SIG_IGN;
        if (!m_recording[i])
            continue;
        struct sigaction record {};
        record.sa_handler = RecordHeldSignal;
        record.sa_mask = held;
        record.sa_flags = SA_RESTART;
        sigaction(kHeldSignals[i], &record, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &m_savedFileSize);
}
TSignalsHeld::~TSignalsHeld() {
    sigaction(SIGXFSZ, &m_savedFileSize, nullptr);
    for (std::size_t i = 0; i < kHeldCount; ++i) {
        if (!m_recording[i])
            continue;
        sigaction(kHeldSignals[i], &m_saved[i], nullptr);
        if (g_heldSignalArrived[i] != 0)
            raise(kHeldSignals[i]); // pending here until the mask is restored
    }
    pthread_sigmask(SIG_SETMASK, &m_savedMask, nullptr);
}

} // namespace zarn
