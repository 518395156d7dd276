// zarnkey help [COMMAND]: what `zarnkey --help` or `zarnkey COMMAND --help` prints, by the same road.
#include "cli/Command.h"

namespace zarn {

namespace {

class THelpCommand : public TCommand {
public:
    explicit THelpCommand(std::function<int(const std::vector<std::string>&)> run) : m_run(std::move(run)) {}

    // Added after the other commands, whose names it accepts.
    CLI::App* Add(CLI::App& app) override {
        CLI::App* command =
            app.add_subcommand("help", "print this help, or with COMMAND what `COMMAND --help` prints");
        std::vector<std::string> names;
        for (const CLI::App* other : app.get_subcommands([](const CLI::App*) { return true; }))
            names.push_back(other->get_name());
        command->add_option("command", m_topic, "the command")->check(CLI::IsMember(names));
        SetExitStatuses(*command,
                        {{kExitSuccess, "when the help was printed"}, {kExitUsage, "for a usage error"}});
        return command;
    }

    int Run(std::ostream&, std::ostream&) override {
        std::vector<std::string> args;
        if (!m_topic.empty())
            args.push_back(m_topic);
        args.push_back("--help");
        return m_run(args);
    }

private:
    std::function<int(const std::vector<std::string>&)> m_run;
    std::string m_topic;
};

} // namespace

std::unique_ptr<TCommand> MakeHelpCommand(std::function<int(const std::vector<std::string>&)> run) {
    return std::make_unique<THelpCommand>(std::move(run));
}

} // namespace zarn
