// genrsa's key generation host on the console, and Ctrl-C as its stop button.
#pragma once

#include "crypto/RsaKeyGeneration.h"

#include <csignal>
#include <ostream>
#include <string>

namespace zarn {

// Makes Ctrl-C a stop request for as long as it lives. The handler is installed for one signal only
// (SA_RESETHAND), so a second Ctrl-C ends the program; the previous handler is restored at the end.
class TInterruptAsStopRequest {
public:
    TInterruptAsStopRequest();
    ~TInterruptAsStopRequest();
    TInterruptAsStopRequest(const TInterruptAsStopRequest&) = delete;
    TInterruptAsStopRequest& operator=(const TInterruptAsStopRequest&) = delete;

    // True once Ctrl-C was pressed while a TInterruptAsStopRequest lived.
    static bool StopRequested();

private:
    struct sigaction m_previous {};
};

// The status and runs texts as progress lines on `err` (overwritten in place on a terminal), the
// last run's texts kept for the end, and a Ctrl-C stop request as the stop button.
class TConsoleHost : public TKeyGenHost {
public:
    TConsoleHost(std::ostream& err, bool terminal) : m_err(err), m_terminal(terminal) {}

    void SetStatusText(const std::string& Text) override;
    void SetRunsText(const std::string& Text) override;
    void RepaintNow() override { m_err.flush(); }
    void ShowRunResult(const std::string& ExponentHex, const std::string& ModulusHex,
                       const std::string& PrivateExponentHex) override;
    void ProcessPendingEvents() override;
    bool IsStopRequested() override { return TInterruptAsStopRequest::StopRequested(); }

    // Ends the progress display with `text` as the last status.
    void Finish(const std::string& text);

    std::string Exponent, Modulus, PrivateExponent;

private:
    void Show(const std::string& text);

    std::ostream& m_err;
    bool m_terminal;
    bool m_stopShown = false;
    std::string m_status, m_runs;
};

} // namespace zarn
