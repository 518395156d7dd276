#include "cli/GenRsaCommand.h"

#include "cli/ZarnKeyCommandLine.h"
#include "crypto/RsaKeyGeneration.h"

#include <nlohmann/json.hpp>

#include <csignal>
#include <iostream>
#include <unistd.h>

namespace zarn {

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnInterrupt(int) {
    g_stopRequested = 1;
}

// Makes Ctrl-C a stop request for as long as it lives. The handler is installed for one signal only
// (SA_RESETHAND), so a second Ctrl-C ends the program; the previous handler is restored at the end.
class TInterruptAsStopRequest {
public:
    TInterruptAsStopRequest() {
        g_stopRequested = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &m_previous);
    }
    ~TInterruptAsStopRequest() { sigaction(SIGINT, &m_previous, nullptr); }
    TInterruptAsStopRequest(const TInterruptAsStopRequest&) = delete;
    TInterruptAsStopRequest& operator=(const TInterruptAsStopRequest&) = delete;

private:
    struct sigaction m_previous {};
};

// The key generation's host on the console: the status and runs texts as progress lines, the last
// run's texts kept for the end, and Ctrl-C as the stop button.
class TConsoleHost : public TKeyGenHost {
public:
    TConsoleHost(std::ostream& err, bool terminal) : m_err(err), m_terminal(terminal) {}

    void SetStatusText(const std::string& Text) override {
        m_status = Text;
        Show(Text);
    }
    void SetRunsText(const std::string& Text) override {
        m_runs = Text;
        Show(Text);
    }
    void RepaintNow() override { m_err.flush(); }
    void ShowRunResult(const std::string& ExponentHex, const std::string& ModulusHex,
                       const std::string& PrivateExponentHex) override {
        Exponent = ExponentHex;
        Modulus = ModulusHex;
        PrivateExponent = PrivateExponentHex;
    }
    void ProcessPendingEvents() override {
        if (g_stopRequested != 0 && !m_stopShown) {
            m_stopShown = true;
            SetStatusText("running, please wait (stop pressed)");
        }
    }
    bool IsStopRequested() override { return g_stopRequested != 0; }

    // Ends the progress display with `text` as the last status.
    void Finish(const std::string& text) {
        if (!text.empty())
            SetStatusText(text);
        if (m_terminal)
            m_err << "\n";
        m_err.flush();
    }

    std::string Exponent, Modulus, PrivateExponent;

private:
    void Show(const std::string& text) {
        if (m_terminal)
            m_err << "\r\033[K" << m_runs << (m_runs.empty() ? "" : "  ") << m_status << std::flush;
        else
            m_err << text << "\n";
    }

    std::ostream& m_err;
    bool m_terminal;
    bool m_stopShown = false;
    std::string m_status, m_runs;
};

const char* OutcomeName(TKeyGenOutcome outcome) {
    switch (outcome) {
    case kgValid:
        return "kgValid";
    case kgStopped:
        return "kgStopped";
    case kgMaxRunsReached:
        return "kgMaxRunsReached";
    }
    return "";
}

// The text the key generation window shows in place of the modulus for the outcome, if any.
std::string OutcomeMessage(TKeyGenOutcome outcome) {
    switch (outcome) {
    case kgStopped:
        return "Stopped by user";
    case kgMaxRunsReached:
        return "Max. runs reached, no valid key pair generated";
    case kgValid:
        break;
    }
    return "";
}

void PrintResult(const TKeyGenResult& result, const TConsoleHost& host, bool json, std::ostream& out) {
    const std::int32_t resultingLength = static_cast<std::int32_t>(host.Modulus.size() / 2);
    if (json) {
        nlohmann::ordered_json object;
        object["outcome"] = OutcomeName(result.Outcome);
        object["runs"] = result.Runs;
        object["PublicKeyModulus"] = host.Modulus;
        object["PublicKeyExponent"] = host.Exponent;
        object["PrivateKeyModulus"] = host.Modulus;
        object["PrivateKeyExponent"] = host.PrivateExponent;
        object["ResultingLength"] = resultingLength;
        out << object.dump(2) << "\n";
        return;
    }
    out << "Outcome: " << OutcomeName(result.Outcome) << "\n";
    out << "Runs: " << result.Runs << "\n";
    out << "PublicKeyModulus: " << host.Modulus << "\n";
    out << "PublicKeyExponent: " << host.Exponent << "\n";
    out << "PrivateKeyModulus: " << host.Modulus << "\n";
    out << "PrivateKeyExponent: " << host.PrivateExponent << "\n";
    out << "ResultingLength: " << resultingLength << "\n";
}

} // namespace

CLI::App* AddGenRsaCommand(CLI::App& app, TGenRsaOptions& options) {
    CLI::App* command = app.add_subcommand(
        "genrsa", "generate an RSA key pair (public exponent 65537); Ctrl-C stops after the current run");
    command
        ->add_option("--bytes", options.Bytes,
                     "modulus length in bytes: an even number from " + std::to_string(kMinGenRsaBytes) +
                         " to " + std::to_string(kMaxGenRsaBytes) + " (default 128)")
        ->check(CLI::Validator(
            [](std::string& text) {
                std::int32_t bytes = 0;
                if (CLI::detail::lexical_cast(text, bytes) && bytes >= kMinGenRsaBytes &&
                    bytes <= kMaxGenRsaBytes && bytes % 2 == 0)
                    return std::string();
                return "'" + text + "' is not a length genrsa accepts: an even number from " +
                       std::to_string(kMinGenRsaBytes) + " to " + std::to_string(kMaxGenRsaBytes);
            },
            "EVEN 4..254"));
    command->add_flag("--json", options.Json, "print one JSON object");
    command->footer(
        "Exit status: 0 for a valid key pair, 1 when stopped or when no run of 50 gave one, 2 for a\n"
        "length it does not accept, 3 when the result cannot be written to standard output.");
    return command;
}

int RunGenRsa(const TGenRsaOptions& options, std::ostream& out, std::ostream& err) {
    const bool terminal = &err == &std::cerr && isatty(STDERR_FILENO) != 0;
    TConsoleHost host(err, terminal);
    TKeyGenResult result;
    try {
        TInterruptAsStopRequest interrupt;
        result = GenerateRsaKeyPair(options.Bytes, host);
    } catch (...) {
        host.Finish("");
        throw;
    }
    host.Finish(OutcomeMessage(result.Outcome));
    PrintResult(result, host, options.Json, out);
    return result.Outcome == kgValid ? kExitSuccess : kExitStatusNotZero;
}

} // namespace zarn
