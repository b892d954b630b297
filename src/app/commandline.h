#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QTextStream;

namespace Merchalog::CommandLine {

// Something the command line asks for that runs without any window, as plain console work:
// an option such as --version, or a command word followed by its arguments
// ("merchalog WORD ARGUMENT..."). Adding one is one row of commands() and one handler.
struct Command
{
    QString name;        // "--version", or the command word
    QString shortName;   // "-v", or empty
    QString arguments;   // how --help names the arguments ("カタログ ファイル…"), or empty
    QString description; // one Japanese line for --help
    qsizetype minArguments = 0;
    qsizetype maxArguments = 0; // -1: no limit
    // Does the work, writing its results to out and a one-line reason for a failure to err.
    // Returns the exit status: 0 for success.
    int (*run)(const QStringList &arguments, QTextStream &out, QTextStream &err) = nullptr;
    // Run by the program itself, never by a user: --help leaves it out.
    bool hidden = false;

    bool isOption() const { return name.startsWith(u"--"); }
};

// Every option and command word, in the order --help lists them.
const QList<Command> &commands();

// What the arguments ask for.
struct Request
{
    const Command *command = nullptr; // run this, and open no window
    QStringList arguments;            // the command's arguments
    QString catalogue;                // else: the catalogue to open at start (absolute path), or empty
    QString error;                    // a usage error (one line); nothing else is done
};

// Reads the program's arguments (the program's name first). --help and --version win over
// everything else; a first argument that is a command word runs that command; otherwise at
// most one argument is the catalogue to open, made absolute against the working folder now.
// Arguments after "--" are never options.
Request parse(const QStringList &arguments);

// Runs the request's command, or writes its usage error (status 2).
int run(const Request &request, QTextStream &out, QTextStream &err);
// The same, writing to the process's standard output and standard error.
int run(const Request &request);

// The program's arguments as given, before any application object exists.
QStringList arguments(int argc, char *argv[]);

// Whether the arguments may hold options of Qt's own (-platform, -style ...), which the
// parser knows only once an application for windows has taken them out.
bool mayHoldQtOptions(const QStringList &arguments);

// The Japanese text --help writes.
QString helpText();

} // namespace Merchalog::CommandLine
