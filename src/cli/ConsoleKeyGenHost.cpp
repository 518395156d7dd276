#include "ConsoleKeyGenHost.h"

namespace zarn {

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnInterrupt(int) {
    g_stopRequested = 1;
}

} // namespace

TInterruptAsStopRequest::TInterruptAsStopRequest() {
    g_stopRequested = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &m_previous);
}

TInterruptAsStopRequest::~TInterruptAsStopRequest() {
    sigaction(SIGINT, &m_previous, nullptr);
}

bool TInterruptAsStopRequest::StopRequested() {
    return g_stopRequested != 0;
}

void TConsoleHost::SetStatusText(const std::string& Text) {
    m_status = Text;
    Show(Text);
}

void TConsoleHost::SetRunsText(const std::string& Text) {
    m_runs = Text;
    Show(Text);
}

void TConsoleHost::ShowRunResult(const std::string& ExponentHex, const std::string& ModulusHex,
                                 const std::string& PrivateExponentHex) {
    Exponent = ExponentHex;
    Modulus = ModulusHex;
    PrivateExponent = PrivateExponentHex;
}

void TConsoleHost::ProcessPendingEvents() {
    if (IsStopRequested() && !m_stopShown) {
        m_stopShown = true;
        SetStatusText("running, please wait (stop pressed)");
    }
}

void TConsoleHost::Finish(const std::string& text) {
    if (!text.empty())
        SetStatusText(text);
    if (m_terminal)
        m_err << "\n";
    m_err.flush();
}

void TConsoleHost::Show(const std::string& text) {
    if (m_terminal)
        m_err << "\r\033[K" << m_runs << (m_runs.empty() ? "" : "  ") << m_status << std::flush;
    else
        m_err << text << "\n";
}

} // namespace zarn
