#pragma once
// The options and plain words of one command, read by QCommandLineParser:
// "--name VALUE", "--name=VALUE" and a single dash alike; an option's value
// is the next word as typed, even when it begins with "-"; "--" ends the
// options. "-h" and "--help" ask for the command's help. What is wrong is
// given back as the user typed it, so that each command says so in its own
// words.

#include "cli/Command.h"

#include <QCommandLineParser>
#include <QStringList>

#include <initializer_list>

namespace Cli {

class Arguments {
public:
    // `positional`: how many plain words the command takes at most. With
    // SubCommand, options end at the first plain word: it names a
    // sub-command, and every word after it is the sub-command's.
    enum class Words { Options, SubCommand };
    explicit Arguments(const QList<QCommandLineOption> &options, int positional = 0,
                       Words words = Words::Options);

    enum class Outcome { Read, Help, Wrong };
    Outcome Read(const QStringList &args);

    // After Wrong: the first word that could not be taken, as typed, and
    // whether it is an option whose value is missing.
    const QString &Wrong() const { return wrong_; }
    bool MissingValue() const { return missingValue_; }

    bool IsSet(const QCommandLineOption &option) const { return parser_.isSet(option); }
    QString Value(const QCommandLineOption &option) const;
    QStringList Values(const QCommandLineOption &option) const;
    // The plain words, also after Wrong (what was read of them).
    QStringList Positional() const;

private:
    QCommandLineParser parser_;
    const QCommandLineOption help_;
    int positional_;   // -1: any number
    QStringList valueOptions_;
    QString wrong_;
    bool missingValue_ = false;
};

// The command's lines of the program's --help on standard output; the exit
// status.
int ShowHelp(Context &context);

struct SubCommand {
    const char *name;
    CommandFunction function;
};

// Runs the sub-command that the first word names with the words after it;
// for none or another one `expected` on standard error and status 2.
int RunSubCommand(const QStringList &args, Context &context, std::initializer_list<SubCommand> subCommands,
                  const char *expected);

} // namespace Cli
