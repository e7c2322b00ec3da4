#include "cli/Arguments.h"

#include "database/Texts.h"

namespace Cli {

namespace {

// A negative number is a value or a plain word, never an option: it passes
// the parser behind this mark, which no typed word begins with.
const QChar NumberMark(0xFDD0);

QString Masked(const QString &word)
{
    return word.startsWith(QLatin1Char('-')) && WholeNumber(word) ? NumberMark + word : word;
}

QString Unmasked(const QString &word)
{
    return word.startsWith(NumberMark) ? word.mid(1) : word;
}

QStringList Unmasked(QStringList words)
{
    for (QString &word : words)
        word = Unmasked(word);
    return words;
}

// The option's name in a word that spells it ("--name", "-name", "--name=...").
QString OptionName(const QString &word)
{
    if (!word.startsWith(QLatin1Char('-')))
        return QString();
    return word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1).section(QLatin1Char('='), 0, 0);
}

} // namespace

Arguments::Arguments(const QList<QCommandLineOption> &options, int positional, Words words)
    : help_(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
      positional_(words == Words::SubCommand ? -1 : positional)
{
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (words == Words::SubCommand)
        parser_.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser_.addOptions(options);
    parser_.addOption(help_);
    for (const QCommandLineOption &option : options) {
        if (!option.valueName().isEmpty())
            valueOptions_ += option.names();
    }
}

Arguments::Outcome Arguments::Read(const QStringList &args)
{
    QStringList masked;
    for (const QString &word : args)
        masked << Masked(word);
    // The parser takes the first word for the program's name.
    const bool parsed = parser_.parse(QStringList{QString()} + masked);
    if (parser_.isSet(help_))
        return Outcome::Help;
    if (parsed) {
        const QStringList words = Positional();
        if (words.size() <= positional_ || positional_ < 0)
            return Outcome::Read;
        wrong_ = words.at(positional_);
        return Outcome::Wrong;
    }
    const QStringList unknown = parser_.unknownOptionNames();
    for (const QString &word : args) {
        if (!unknown.isEmpty() && OptionName(word) == unknown.first()) {
            wrong_ = word;
            return Outcome::Wrong;
        }
    }
    // Else an option without its value (only the last word can lack one) or
    // a switch given a value ("--rtf=ja").
    const QString last = args.value(args.size() - 1);
    missingValue_ = !last.contains(QLatin1Char('=')) && valueOptions_.contains(OptionName(last));
    if (missingValue_) {
        wrong_ = last;
        return Outcome::Wrong;
    }
    for (const QString &word : args) {
        const QString name = OptionName(word);
        if (!name.isEmpty() && word.contains(QLatin1Char('=')) && !valueOptions_.contains(name)) {
            wrong_ = word;
            return Outcome::Wrong;
        }
    }
    wrong_ = args.value(0);
    return Outcome::Wrong;
}

QString Arguments::Value(const QCommandLineOption &option) const
{
    return IsSet(option) ? Unmasked(parser_.value(option)) : QString();
}

QStringList Arguments::Values(const QCommandLineOption &option) const
{
    return Unmasked(parser_.values(option));
}

QStringList Arguments::Positional() const
{
    return Unmasked(parser_.positionalArguments());
}

int ShowHelp(Context &context)
{
    context.out << "Aufruf:\n  " << context.usage << "\n\n(braskon-cli --help zeigt alle Befehle und Optionen)\n";
    context.out.flush();
    return 0;
}

int RunSubCommand(const QStringList &args, Context &context, std::initializer_list<SubCommand> subCommands,
                  const char *expected)
{
    Arguments arguments({}, 0, Arguments::Words::SubCommand);
    const Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Arguments::Outcome::Help)
        return ShowHelp(context);
    const QStringList words = arguments.Positional();
    for (const SubCommand &sub : subCommands) {
        if (outcome == Arguments::Outcome::Read && words.value(0) == QLatin1String(sub.name))
            return sub.function(words.mid(1), context);
    }
    context.err << expected << Qt::endl;
    return 2;
}

} // namespace Cli
